// The window's thumbnail without the window: the same canvas size, the same drawing on the same
// back colour, the same JPEG encoding, so that the bytes are the ones "Create Thumbnail" writes
// (for the back colour the window's palette gives its canvas). Plain C++, no Qt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/jpeglib/jpeg_encode.h"
#include "platform/picture/canvas.h"
#include "platform/picture/picture.h"

namespace thumb {

// The canvas's back colour under Qt's default palette (the button face of the Fusion style),
// which the window's canvas takes unless the desktop's palette says otherwise.
inline constexpr platform::Color kDefaultBackColor{239, 239, 239};

// Pixels of the window's canvas for a picture at a thumbnail size.
struct ThumbnailCanvas {
  int width = 0;  // the drawing area, which the thumbnail file holds
  int height = 0;
  int drawnWidth = 0;  // the picture drawn at its top-left corner
  int drawnHeight = 0;
};

// What the window computes for a width x height picture and a size of 1 to kMaxPictureSide: the
// longer side at `size`, the other in proportion, with the window's own twips and single-precision
// steps (so a side can differ by one pixel from plain rounding).
ThumbnailCanvas thumbnailCanvas(int pictureWidth, int pictureHeight, int size);

// Makes thumbnails; keeps its decoder, pixel buffer and encoder between pictures. One per thread.
class ThumbnailMaker final {
 public:
  explicit ThumbnailMaker(platform::Color back = kDefaultBackColor);

  // The thumbnail file's bytes. Raises platform::RuntimeError: 481 for a picture it cannot draw,
  // 480 for a thumbnail over the canvas limits (as the window's canvas), 7 when memory runs out,
  // 51 with the encoder's reason when it fails.
  platform::JpegBytes make(const platform::EncodedPicture& picture, int size);
  // What the decoder had to work around in the last picture, in plain words; empty when sound.
  const std::string& lastWarning() const { return renderer_.lastWarning(); }

 private:
  platform::Color back_;
  platform::PictureRenderer renderer_;
  platform::JpegCompressor compressor_;
  std::vector<std::uint8_t> canvas_;  // blue, green, red
};

}  // namespace thumb
