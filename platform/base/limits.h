// The size limits of every picture and bitmap the program makes, checked before anything is
// allocated: a decoded picture, a canvas, a drawing, a DIB section, a BMP file read.
#pragma once

#include <cstdint>

namespace platform {

// The most pixels of one picture or bitmap (100 megapixels: up to 400 MB at 32 bits a pixel).
inline constexpr std::int64_t kMaxPicturePixels = 100'000'000;

// The longest side of a canvas or a drawing, in pixels (and so of a thumbnail).
inline constexpr int kMaxPictureSide = 16384;

}  // namespace platform
