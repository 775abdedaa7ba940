// Plain pictures for the tests, and the statistics their asserts use: mean colours over a
// rectangle and the largest difference between two pictures. No Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/picture/picture.h"

namespace testsupport {

// One colour, 8 bits a channel; built from ints so that a computed value needs no cast.
struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  constexpr Rgb() = default;
  constexpr Rgb(int red, int green, int blue)
      : r(static_cast<std::uint8_t>(red)),
        g(static_cast<std::uint8_t>(green)),
        b(static_cast<std::uint8_t>(blue)) {}
  bool operator==(const Rgb&) const = default;
};

// An RGB picture, 3 bytes a pixel, top row first, rows packed.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
  std::uint8_t* at(int x, int y) { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; }
  const std::uint8_t* at(int x, int y) const {
    return &pixels[(static_cast<size_t>(y) * width + x) * 3];
  }
};

RgbImage makeImage(int width, int height, const std::function<Rgb(int x, int y)>& colourAt);

// Top-left, top-right, bottom-left, bottom-right: red, green, blue, yellow. A mirrored, flipped
// or red-blue swapped picture puts a wrong colour in some quadrant.
inline constexpr Rgb kQuadrantColours[4] = {
    {220, 30, 30}, {30, 200, 40}, {40, 50, 210}, {230, 220, 40}};
// The quadrants split at width / 2 and height / 2.
RgbImage quadrants(int width, int height);

// A pixel of a drawn picture (RGBA, 4 bytes).
const std::uint8_t* pixel(const platform::RgbaImage& image, int x, int y);

// The mean of each channel over the pixels x0 <= x < x1, y0 <= y < y1 (an RGB picture's alpha is
// 255).
struct Mean {
  double r = 0, g = 0, b = 0, a = 0;
};
Mean meanOf(const RgbImage& image, int x0, int y0, int x1, int y1);
Mean meanOf(const RgbImage& image);
Mean meanOf(const platform::RgbaImage& image, int x0, int y0, int x1, int y1);
Mean meanOf(const platform::RgbaImage& image);

// The largest difference in any channel between two lists of pixels, or 256 when their lengths
// differ.
int maxDifference(const std::vector<Rgb>& a, const std::vector<Rgb>& b);

}  // namespace testsupport
