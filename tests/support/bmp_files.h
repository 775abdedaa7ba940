// Small BMP files built byte by byte for the tests, with the picture each must give: every depth,
// RLE4 and RLE8, bit fields, both row orders, OS/2 1.x and Windows 3, 4 and 5 headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/images.h"

namespace testsupport {

// A colour that differs from its neighbours in every row and column.
Rgb patternColor(int x, int y);

struct BmpSpec {
  std::uint32_t headerSize = 40;  // 12, 40, 108 or 124
  std::int32_t width = 0;
  std::int32_t height = 0;  // negative: top-down
  std::uint16_t bitCount = 24;
  std::uint32_t compression = 0;
  std::int32_t xPelsPerMeter = 2835;
  std::int32_t yPelsPerMeter = 2835;
  std::vector<Rgb> palette = {};
  std::uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  std::vector<std::uint8_t> pixels = {};
};

// The file: file header, info header of the given size, masks, palette, then the pixels as given.
std::vector<std::uint8_t> buildBmp(const BmpSpec& spec);

// One test file and the picture it holds.
struct TestBmp {
  std::string name = {};
  std::vector<std::uint8_t> bytes = {};
  int width = 0;
  int height = 0;  // rows, positive
  int bitCount = 0;
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::vector<Rgb> expected = {};  // top row first
  int tolerance = 0;               // per channel
};

std::vector<Rgb> palettePattern(int count);

// A palette picture of 1, 4 or 8 bits.
TestBmp indexedBmp(const std::string& name, std::uint32_t headerSize, int bitCount, int width,
                   int height);

// A picture of 16, 24 or 32 bits, plain or in bit fields (masks: red, green, blue, alpha); a
// negative height stores it top-down.
TestBmp directBmp(const std::string& name, std::uint32_t headerSize, int bitCount,
                  std::uint32_t compression, const std::uint32_t (&masks)[4], int width,
                  int height);

// RLE8 (or RLE4): runs, a literal, a delta, an early end of line and an early end of bitmap; the
// pixels the stream skips show palette entry 0.
TestBmp runLengthBmp(int bitCount);

// Every kind of file LoadImageA must read, small and with odd widths so rows carry padding.
std::vector<TestBmp> allKinds();

// The kind of that name from allKinds(); an empty one when there is none.
TestBmp kindNamed(const std::string& name);

}  // namespace testsupport
