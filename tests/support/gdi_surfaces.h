// Graphics-layer surfaces for the tests: DIB headers, a surface with a DIB section selected into
// it, and a bitmap's pixels read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/gdi/gdi.h"
#include "tests/support/images.h"

namespace testsupport {

platform::BITMAPINFO dibHeader(std::int32_t width, std::int32_t height, std::uint16_t bits);

// A surface with a DIB section of 24 or 32 bits selected into it, all released when it goes.
struct Canvas {
  platform::HDC dc = 0;
  platform::HBITMAP dib = 0;
  platform::HGDIOBJ previous = 0;
  std::uint8_t* bits = nullptr;
  int width, height, bytes;
  std::size_t stride;
  bool topDown;

  // A negative height makes the rows top-down.
  Canvas(int w, int h, int bitCount);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  std::uint8_t* at(int x, int y) {  // y from the top
    return bits + stride * static_cast<std::size_t>(topDown ? y : height - 1 - y) + x * bytes;
  }
  // A pattern that differs in every pixel and channel.
  void fill(std::uint8_t seed);
};

struct BitmapPixels {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;  // top row first
};

// The bitmap's pixels as a 24-bit bottom-up copy gives them, turned top row first; nothing when
// the copy fails.
BitmapPixels readBack(platform::HBITMAP bitmap);

}  // namespace testsupport
