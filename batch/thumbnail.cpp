#include "batch/thumbnail.h"

#include <new>
#include <string>

#include "platform/base/limits.h"
#include "platform/base/runtime_error.h"

namespace thumb {
namespace {

constexpr int kQuality = 75;

using platform::kCanvasBorderTwips;
using platform::kTwipsPerPixel;

// The canvas's Width and Height are Singles; its area is what is left inside the border.
int areaPixels(float twips) { return platform::canvasAreaPixels(double{twips}); }

}  // namespace

ThumbnailCanvas thumbnailCanvas(int pictureWidth, int pictureHeight, int size) {
  // The window holds the picture's size in twips as Singles and compares their ratio as one.
  const float width = static_cast<float>(pictureWidth * kTwipsPerPixel);
  const float height = static_cast<float>(pictureHeight * kTwipsPerPixel);
  const double r = static_cast<double>(width) / height;
  const double s = size;
  ThumbnailCanvas canvas;
  if (static_cast<float>(r) > 1.0f) {
    canvas.width = areaPixels(static_cast<float>(s * kTwipsPerPixel + kCanvasBorderTwips));
    canvas.height = areaPixels(static_cast<float>(s * kTwipsPerPixel / r + kCanvasBorderTwips));
    canvas.drawnWidth = platform::drawnPixels(0, s * kTwipsPerPixel, canvas.width);
    canvas.drawnHeight = platform::drawnPixels(0, s * kTwipsPerPixel / r, canvas.height);
  } else {
    canvas.width = areaPixels(static_cast<float>(s * kTwipsPerPixel * r + kCanvasBorderTwips));
    canvas.height = areaPixels(static_cast<float>(s * kTwipsPerPixel + kCanvasBorderTwips));
    canvas.drawnWidth = platform::drawnPixels(0, s * kTwipsPerPixel * r, canvas.width);
    canvas.drawnHeight = platform::drawnPixels(0, s * kTwipsPerPixel, canvas.height);
  }
  return canvas;
}

ThumbnailMaker::ThumbnailMaker(platform::Color back)
    : back_(back), compressor_(platform::makeJpegCompressor()) {
  if (!compressor_) platform::raiseError(platform::kErrOutOfMemory);
}

platform::JpegBytes ThumbnailMaker::make(const platform::EncodedPicture& picture, int size) {
  if (size < 1 || size > platform::kMaxPictureSide) {
    platform::raiseError(platform::kErrInvalidPropertyValue);
  }
  const platform::PictureInfo& info = picture.info();
  const ThumbnailCanvas canvas = thumbnailCanvas(info.width, info.height, size);
  platform::checkCanvasSize(canvas.width, canvas.height);
  const platform::RgbaImage drawn =
      renderer_.render(picture, canvas.drawnWidth, canvas.drawnHeight);
  try {
    canvas_.resize(static_cast<size_t>(canvas.width) * canvas.height * 3);
  } catch (const std::bad_alloc&) {
    platform::raiseError(platform::kErrOutOfMemory);
  }
  platform::paintCanvas(drawn, back_, canvas.width, canvas.height, platform::CanvasPixels::kBgr,
                        canvas_.data(), static_cast<size_t>(canvas.width) * 3);
  const platform::BgrPixels pixels{
      canvas_.data(), canvas.width, canvas.height, canvas.width * 3, platform::BgrLayout::kBgr,
      false};
  platform::JpegBytes jpeg;
  std::string reason;
  if (!platform::encodeJpeg(compressor_.get(), pixels, kQuality, jpeg, &reason)) {
    platform::raiseError(platform::kErrInternal, "The JPEG encoder failed: " + reason);
  }
  return jpeg;
}

}  // namespace thumb
