#include "batch/thumbnail.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/gdi.h"
#include "platform/runtime_error.h"

namespace thumb {
namespace {

constexpr double kTwipsPerPixel = 15;
constexpr double kCanvasBorder = 55;  // twips the canvas's Width and Height add to its drawing area
constexpr int kQuality = 75;

int twipsToPixels(double twips) {
  return static_cast<int>(std::floor(twips / kTwipsPerPixel + 0.5));
}

// The canvas's Width and Height are Singles; its area is what is left inside the border.
int areaPixels(float twips) { return std::max(1, twipsToPixels(double{twips} - kCanvasBorder)); }

// The drawing at the canvas's top-left corner: one that ends a pixel short of the area's edge, or
// a pixel past it, is taken to that edge, as the window does (the two sizes are rounded from the
// same twips by different routes).
int drawnPixels(double twips, int area) {
  const int drawn = std::max(1, twipsToPixels(twips));
  return std::abs(drawn - area) == 1 ? area : drawn;
}

// Straight alpha over the back colour, rounded as the window's canvas does it.
std::uint8_t over(int top, int alpha, int bottom) {
  return static_cast<std::uint8_t>((top * alpha + bottom * (255 - alpha) + 127) / 255);
}

// The drawing at the top-left of the area, the back colour around it; rows of blue, green, red.
void paintCanvas(const platform::RgbaImage& drawn, const ThumbnailCanvas& canvas,
                 std::vector<std::uint8_t>& out) {
  out.resize(static_cast<size_t>(canvas.width) * canvas.height * 3);
  std::uint8_t* next = out.data();
  const int covered = std::min(drawn.width, canvas.width);
  for (int y = 0; y < canvas.height; ++y) {
    int x = 0;
    if (y < drawn.height) {
      const std::uint8_t* source = drawn.pixels.data() + static_cast<size_t>(y) * drawn.width * 4;
      for (; x < covered; ++x, source += 4, next += 3) {
        next[0] = over(source[2], source[3], kBackBlue);
        next[1] = over(source[1], source[3], kBackGreen);
        next[2] = over(source[0], source[3], kBackRed);
      }
    }
    for (; x < canvas.width; ++x, next += 3) {
      next[0] = kBackBlue;
      next[1] = kBackGreen;
      next[2] = kBackRed;
    }
  }
}

}  // namespace

ThumbnailCanvas thumbnailCanvas(int pictureWidth, int pictureHeight, int size) {
  // The window holds the picture's size in twips as Singles and compares their ratio as one.
  const float width = static_cast<float>(pictureWidth * kTwipsPerPixel);
  const float height = static_cast<float>(pictureHeight * kTwipsPerPixel);
  const double r = static_cast<double>(width) / height;
  const double s = size;
  ThumbnailCanvas canvas;
  if (static_cast<float>(r) > 1.0f) {
    canvas.width = areaPixels(static_cast<float>(s * kTwipsPerPixel + kCanvasBorder));
    canvas.height = areaPixels(static_cast<float>(s * kTwipsPerPixel / r + kCanvasBorder));
    canvas.drawnWidth = drawnPixels(s * kTwipsPerPixel, canvas.width);
    canvas.drawnHeight = drawnPixels(s * kTwipsPerPixel / r, canvas.height);
  } else {
    canvas.width = areaPixels(static_cast<float>(s * kTwipsPerPixel * r + kCanvasBorder));
    canvas.height = areaPixels(static_cast<float>(s * kTwipsPerPixel + kCanvasBorder));
    canvas.drawnWidth = drawnPixels(s * kTwipsPerPixel * r, canvas.width);
    canvas.drawnHeight = drawnPixels(s * kTwipsPerPixel, canvas.height);
  }
  return canvas;
}

ThumbnailMaker::ThumbnailMaker() : compressor_(platform::makeJpegCompressor()) {
  if (!compressor_) platform::raiseError(platform::kErrOutOfMemory);
}

platform::JpegBytes ThumbnailMaker::make(const platform::EncodedPicture& picture, int size) {
  if (size < 1 || size > kMaxSize) platform::raiseError(platform::kErrInvalidPropertyValue);
  const platform::PictureInfo& info = picture.info();
  const ThumbnailCanvas canvas = thumbnailCanvas(info.width, info.height, size);
  if (std::int64_t{canvas.width} * canvas.height > platform::kMaxBitmapPixels) {
    platform::raiseError(
        platform::kErrCantCreateAutoRedrawImage,
        "Can't create AutoRedraw image: a thumbnail of " + std::to_string(canvas.width) + " x " +
            std::to_string(canvas.height) + " pixels is over the limit of " +
            std::to_string(platform::kMaxBitmapPixels / 1'000'000) + " megapixels");
  }
  const platform::RgbaImage drawn =
      renderer_.render(picture, canvas.drawnWidth, canvas.drawnHeight);
  try {
    paintCanvas(drawn, canvas, canvas_);
  } catch (const std::bad_alloc&) {
    platform::raiseError(platform::kErrOutOfMemory);
  }
  const platform::BgrPixels pixels{
      canvas_.data(), canvas.width, canvas.height, canvas.width * 3, platform::BgrLayout::kBgr,
      false};
  platform::JpegBytes jpeg;
  if (!platform::encodeJpeg(compressor_.get(), pixels, kQuality, jpeg)) {
    platform::raiseError(platform::kErrInternal, "The JPEG encoder failed");
  }
  return jpeg;
}

}  // namespace thumb
