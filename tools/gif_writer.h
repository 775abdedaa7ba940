// A small GIF writer for the sample and test pictures the project makes itself (Qt reads GIF but
// cannot write it). Pixels go through a 6x6x6 colour cube; LZW codes stay 9 bits wide by sending a
// clear code often, which is simple and always valid, if not small.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct GifFrame {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;  // top row first; alpha below 128 is transparent
};

// Frames after the first are animation frames of the same size. Returns the file's bytes.
std::vector<std::uint8_t> encodeGif(const std::vector<GifFrame>& frames, bool interlaced = false);

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace tools
