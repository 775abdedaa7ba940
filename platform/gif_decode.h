// GIF drawing: the first frame decoded by Qt's GIF reader, placed on its logical screen.
#pragma once

#include <cstdint>
#include <span>

#include "platform/gif_layout.h"
#include "platform/picture.h"

namespace platform {

// The whole screen at exactly width x height; screen pixels outside the first frame and the
// frame's transparent pixels are transparent (alpha 0). Raises 481.
RgbaImage renderGif(std::span<const std::uint8_t> gif, const GifLayout& layout, int width,
                    int height);

}  // namespace platform
