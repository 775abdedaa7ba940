// GIF drawing through Qt's GIF reader: the first frame decoded by Qt, placed on its logical
// screen. The picture library itself links no Qt; a program that draws GIFs in process installs
// this decoder explicitly at start (installQtGifDecoder).
#pragma once

#include <cstdint>
#include <span>

#include "platform/picture/gif_layout.h"
#include "platform/picture/picture.h"

namespace platform {

// Makes renderPicture draw GIFs with renderGif. Idempotent; call before the first GIF is drawn.
void installQtGifDecoder();

// The whole screen at exactly width x height; screen pixels outside the first frame and the
// frame's transparent pixels are transparent (alpha 0). Raises 481.
RgbaImage renderGif(std::span<const std::uint8_t> gif, const GifLayout& layout, int width,
                    int height);

// Raises Qt's process-wide image allocation limit (128 MB by default) so that a picture of
// kMaxPicturePixels can be decoded at 32 bits a pixel; never lowers it.
void allowLargestQtImages();

}  // namespace platform
