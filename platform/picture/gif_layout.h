// The structure of a GIF file up to its first frame, checked without decoding pixels, and the
// first frame alone as a GIF of its own for the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/picture/colour.h"

namespace platform {

struct GifLayout {
  int width = 0;  // the logical screen (a zero side: the first frame's extent)
  int height = 0;
  int frameLeft = 0;  // the first frame on the screen; it may reach past the screen's edges
  int frameTop = 0;
  int frameWidth = 0;
  int frameHeight = 0;
  size_t paletteEnd = 0;    // the header, screen descriptor and global palette end here
  size_t controlBegin = 0;  // the frame's graphic control extension (empty range: none)
  size_t controlEnd = 0;
  size_t frameBegin = 0;  // the image descriptor, then its palette and LZW data
  size_t iccBegin = 0;    // an ICC profile's application extension (empty range: none)
  size_t iccEnd = 0;
};

// Reads the header, screen and blocks up to the first frame and checks that frame's LZW data:
// every code defined, and at least one pixel for each of the frame's. Raises 481 otherwise.
GifLayout readGifLayout(std::span<const std::uint8_t> gif);

// True when LZW data (sub-blocks joined) decodes to at least `pixels` pixels, every code defined.
bool lzwCovers(std::span<const std::uint8_t> data, int minimumCodeSize, std::int64_t pixels);

// The embedded ICC profile ("ICCRGBG1012" extension) whole; empty when there is none.
std::vector<std::uint8_t> gifIccProfile(std::span<const std::uint8_t> gif, const GifLayout& layout);

// The GIF up to its first frame's end with its global palette and that frame's local palette
// turned into sRGB: a colour conversion of every pixel at the cost of at most 512 colours.
std::vector<std::uint8_t> withPalettesInSrgb(std::span<const std::uint8_t> gif,
                                             const GifLayout& layout,
                                             const ColourConversion& colour);

// The first frame alone as a GIF whose screen is exactly the frame.
std::vector<std::uint8_t> firstFrameGif(std::span<const std::uint8_t> gif, const GifLayout& layout);

}  // namespace platform
