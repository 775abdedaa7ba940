#include "platform/picture/canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/base/limits.h"
#include "platform/base/runtime_error.h"

namespace platform {
namespace {

// Straight alpha over the back colour, rounded to the nearest.
std::uint8_t over(int top, int alpha, int bottom) {
  return static_cast<std::uint8_t>((top * alpha + bottom * (255 - alpha) + 127) / 255);
}

template <int kBytes>
void paintRows(const RgbaImage& drawn, Color back, int width, int height, std::uint8_t* out,
               std::size_t stride) {
  const int covered = std::min(drawn.width, width);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* next = out + static_cast<std::size_t>(y) * stride;
    int x = 0;
    if (y < drawn.height) {
      const std::uint8_t* source = drawn.pixels.data() + static_cast<size_t>(y) * drawn.width * 4;
      for (; x < covered; ++x, source += 4, next += kBytes) {
        next[0] = over(source[2], source[3], back.blue);
        next[1] = over(source[1], source[3], back.green);
        next[2] = over(source[0], source[3], back.red);
        if constexpr (kBytes == 4) next[3] = 255;
      }
    }
    for (; x < width; ++x, next += kBytes) {
      next[0] = back.blue;
      next[1] = back.green;
      next[2] = back.red;
      if constexpr (kBytes == 4) next[3] = 255;
    }
  }
}

}  // namespace

int twipsToPixels(double twips) {
  constexpr double kLimit = 1 << 30;
  const double pixels = std::floor(twips / kTwipsPerPixel + 0.5);
  return static_cast<int>(std::clamp(pixels, -kLimit, kLimit));
}

int canvasAreaPixels(double twips) {
  return std::max(1, twipsToPixels(twips - kCanvasBorderTwips));
}

int drawnPixels(int start, double twips, int areaLength) {
  const int length = std::max(1, twipsToPixels(twips));
  return std::abs(start + length - areaLength) == 1 ? areaLength - start : length;
}

void checkCanvasSize(int width, int height) {
  if (width > kMaxPictureSide || height > kMaxPictureSide ||
      std::int64_t{width} * height > kMaxPicturePixels) {
    raiseError(kErrCantCreateAutoRedrawImage,
               "Can't create AutoRedraw image: " + std::to_string(width) + " x " +
                   std::to_string(height) + " pixels is over the limit of " +
                   std::to_string(kMaxPictureSide) + " a side and " +
                   std::to_string(kMaxPicturePixels / 1'000'000) + " megapixels");
  }
}

void paintCanvas(const RgbaImage& drawn, Color back, int width, int height, CanvasPixels layout,
                 std::uint8_t* out, std::size_t stride) {
  if (layout == CanvasPixels::kBgrx) {
    paintRows<4>(drawn, back, width, height, out, stride);
  } else {
    paintRows<3>(drawn, back, width, height, out, stride);
  }
}

}  // namespace platform
