// The one GIF writer of the project, for the sample and test pictures it makes itself (Qt reads
// GIF but cannot write it). LZW data stays uncompressed: a clear code comes before the code width
// would grow, which is simple and always valid, if not small.
//
// Two ways in: frames of palette indices placed on a logical screen (what the GIF tests need to
// build exact files), or RGBA frames that go through a 6x6x6 colour cube (what a drawn picture
// needs).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

// One image of a GIF: palette indices, top row first, placed at (left, top) on the screen.
struct IndexedFrame {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> indices;  // width * height
  bool interlaced = false;
  int transparentIndex = -1;  // -1: none
  int delay = 0;              // hundredths of a second before the next frame
  int disposal = 0;           // what happens to the frame after its delay (0 to 3)
};

// A whole file: the logical screen, the global palette and the frames. Frames with no
// transparency, delay or disposal get no graphic control extension.
struct IndexedGif {
  int screenWidth = 0;
  int screenHeight = 0;
  std::vector<std::uint8_t> palette;  // red, green, blue for up to 256 colours; the rest black
  std::vector<IndexedFrame> frames;
  bool loop = false;  // an animation that repeats for ever
};

std::vector<std::uint8_t> encodeIndexedGif(const IndexedGif& gif);

// Data as GIF stores it after an image's code size or an extension's header: sub-blocks of at
// most 255 bytes, each after its length, then an empty one.
void appendSubBlocks(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& data);

// LZW data for palette indices with the given minimum code size (2 to 8), uncompressed.
std::vector<std::uint8_t> lzwUncompressed(const std::vector<std::uint8_t>& indices, int codeSize);

struct GifFrame {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;  // top row first; alpha below 128 is transparent
};

// RGBA frames through the colour cube. Frames after the first are animation frames of the same
// size, shown 0.1 s each, looping. Returns the file's bytes.
std::vector<std::uint8_t> encodeGif(const std::vector<GifFrame>& frames, bool interlaced = false);

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace tools
