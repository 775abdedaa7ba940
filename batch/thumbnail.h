// The window's thumbnail without the window: the same canvas size, the same drawing on the same
// back colour, the same JPEG encoding, so that the bytes are the ones "Create Thumbnail" writes.
// Plain C++ on the Qt-free part of the platform library.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/jpeg_encode.h"
#include "platform/picture.h"

namespace thumb {

// The largest thumbnail size: the window's canvas is at most this many pixels a side.
inline constexpr int kMaxSize = 16384;

// The canvas's colour where the picture leaves it bare: the button face of Qt's default (Fusion)
// palette, which the window's canvas takes as its back colour.
inline constexpr std::uint8_t kBackRed = 239;
inline constexpr std::uint8_t kBackGreen = 239;
inline constexpr std::uint8_t kBackBlue = 239;

// Pixels of the window's canvas for a picture at a thumbnail size.
struct ThumbnailCanvas {
  int width = 0;  // the drawing area, which the thumbnail file holds
  int height = 0;
  int drawnWidth = 0;  // the picture drawn at its top-left corner
  int drawnHeight = 0;
};

// What the window computes for a width x height picture and a size of 1 to kMaxSize: the longer
// side at `size`, the other in proportion, with the window's own twips and single-precision
// steps (so a side can differ by one pixel from plain rounding).
ThumbnailCanvas thumbnailCanvas(int pictureWidth, int pictureHeight, int size);

// Makes thumbnails; keeps its decoder, pixel buffer and encoder between pictures. One per thread.
class ThumbnailMaker final {
 public:
  ThumbnailMaker();

  // The thumbnail file's bytes. Raises platform::RuntimeError: 481 for a picture it cannot draw,
  // 480 for a thumbnail over 100 megapixels (as the window's canvas), 7 when memory runs out.
  platform::JpegBytes make(const platform::EncodedPicture& picture, int size);

 private:
  platform::PictureRenderer renderer_;
  platform::JpegCompressor compressor_;
  std::vector<std::uint8_t> canvas_;  // blue, green, red
};

}  // namespace thumb
