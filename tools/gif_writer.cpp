#include "tools/gif_writer.h"

#include <fstream>

namespace tools {
namespace {

constexpr int kTransparentIndex = 216;

void put16(std::vector<std::uint8_t>& out, int value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::uint8_t cubeIndex(const std::uint8_t* pixel) {
  if (pixel[3] < 128) return kTransparentIndex;
  const auto level = [](int v) { return (v * 5 + 127) / 255; };
  return static_cast<std::uint8_t>(level(pixel[0]) * 36 + level(pixel[1]) * 6 + level(pixel[2]));
}

// Rows in the order an interlaced GIF stores them.
std::vector<int> rowOrder(int height, bool interlaced) {
  std::vector<int> rows;
  if (!interlaced) {
    for (int y = 0; y < height; ++y) rows.push_back(y);
    return rows;
  }
  for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
    for (int y = start; y < height; y += step) rows.push_back(y);
  }
  return rows;
}

void appendImageData(std::vector<std::uint8_t>& out, const GifFrame& frame, bool interlaced) {
  constexpr int kClear = 256, kEnd = 257, kLiteralsPerClear = 253;
  std::vector<std::uint8_t> packed;
  std::uint32_t bits = 0;
  int bitCount = 0;
  const auto emit = [&](int code) {
    bits |= static_cast<std::uint32_t>(code) << bitCount;
    bitCount += 9;
    while (bitCount >= 8) {
      packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
      bits >>= 8;
      bitCount -= 8;
    }
  };
  int sinceClear = kLiteralsPerClear;
  for (int y : rowOrder(frame.height, interlaced)) {
    for (int x = 0; x < frame.width; ++x) {
      if (sinceClear == kLiteralsPerClear) {
        emit(kClear);
        sinceClear = 0;
      }
      emit(cubeIndex(&frame.rgba[(static_cast<size_t>(y) * frame.width + x) * 4]));
      ++sinceClear;
    }
  }
  emit(kEnd);
  if (bitCount > 0) packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
  out.push_back(8);  // minimum code size
  for (size_t i = 0; i < packed.size(); i += 255) {
    const size_t n = std::min<size_t>(255, packed.size() - i);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), packed.begin() + static_cast<long>(i),
               packed.begin() + static_cast<long>(i + n));
  }
  out.push_back(0);
}

}  // namespace

std::vector<std::uint8_t> encodeGif(const std::vector<GifFrame>& frames, bool interlaced) {
  std::vector<std::uint8_t> out{'G', 'I', 'F', '8', '9', 'a'};
  const GifFrame& first = frames.at(0);
  put16(out, first.width);
  put16(out, first.height);
  out.insert(out.end(), {0xF7, 0, 0});  // global table of 256 colours
  for (int i = 0; i < 256; ++i) {
    const int r = i < 216 ? i / 36 * 51 : 0, g = i < 216 ? i / 6 % 6 * 51 : 0,
              b = i < 216 ? i % 6 * 51 : 0;
    out.insert(out.end(), {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                           static_cast<std::uint8_t>(b)});
  }
  if (frames.size() > 1) {  // loop forever
    out.insert(out.end(), {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3,
                           1, 0, 0, 0});
  }
  for (const GifFrame& frame : frames) {
    out.insert(out.end(),
               {0x21, 0xF9, 4, 0x09, 10, 0, kTransparentIndex, 0});  // 0.1 s, transparency
    out.push_back(0x2C);
    put16(out, 0);
    put16(out, 0);
    put16(out, frame.width);
    put16(out, frame.height);
    out.push_back(interlaced ? 0x40 : 0);
    appendImageData(out, frame, interlaced);
  }
  out.push_back(0x3B);
  return out;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

}  // namespace tools
