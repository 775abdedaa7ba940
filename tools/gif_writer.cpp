#include "tools/gif_writer.h"

#include <algorithm>
#include <fstream>
#include <utility>

namespace tools {
namespace {

constexpr int kCubeTransparentIndex = 216;

void put16(std::vector<std::uint8_t>& out, int value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
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

void appendFrame(std::vector<std::uint8_t>& out, const IndexedFrame& frame) {
  if (frame.transparentIndex >= 0 || frame.delay != 0 || frame.disposal != 0) {
    const int packed = (frame.disposal & 7) << 2 | (frame.transparentIndex >= 0 ? 1 : 0);
    out.insert(out.end(), {0x21, 0xF9, 4, static_cast<std::uint8_t>(packed)});
    put16(out, frame.delay);
    out.push_back(static_cast<std::uint8_t>(std::max(frame.transparentIndex, 0)));
    out.push_back(0);
  }
  out.push_back(0x2C);
  put16(out, frame.left);
  put16(out, frame.top);
  put16(out, frame.width);
  put16(out, frame.height);
  out.push_back(frame.interlaced ? 0x40 : 0x00);
  std::vector<std::uint8_t> ordered;
  for (int y : rowOrder(frame.height, frame.interlaced)) {
    ordered.insert(ordered.end(),
                   frame.indices.begin() + static_cast<std::ptrdiff_t>(y) * frame.width,
                   frame.indices.begin() + static_cast<std::ptrdiff_t>(y + 1) * frame.width);
  }
  out.push_back(8);  // minimum code size
  appendSubBlocks(out, lzwUncompressed(ordered, 8));
}

std::uint8_t cubeIndex(const std::uint8_t* pixel) {
  if (pixel[3] < 128) return kCubeTransparentIndex;
  const auto level = [](int v) { return (v * 5 + 127) / 255; };
  return static_cast<std::uint8_t>(level(pixel[0]) * 36 + level(pixel[1]) * 6 + level(pixel[2]));
}

}  // namespace

void appendSubBlocks(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& data) {
  for (size_t pos = 0; pos < data.size(); pos += 255) {
    const size_t length = std::min<size_t>(255, data.size() - pos);
    out.push_back(static_cast<std::uint8_t>(length));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
               data.begin() + static_cast<std::ptrdiff_t>(pos + length));
  }
  out.push_back(0);
}

std::vector<std::uint8_t> lzwUncompressed(const std::vector<std::uint8_t>& indices, int codeSize) {
  const int clear = 1 << codeSize;
  const int width = codeSize + 1;
  // Each literal after the first adds a table entry; clear one entry before the code width would
  // grow, as some decoders widen it one entry early.
  const int literalsPerClear = std::max(1, (1 << width) - clear - 3);
  std::vector<std::uint8_t> out;
  std::uint32_t bits = 0;
  int count = 0;
  const auto emit = [&](int code) {
    bits |= static_cast<std::uint32_t>(code) << count;
    count += width;
    while (count >= 8) {
      out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
      bits >>= 8;
      count -= 8;
    }
  };
  for (size_t i = 0; i < indices.size(); ++i) {
    if (i % literalsPerClear == 0) emit(clear);
    emit(indices[i]);
  }
  emit(clear + 1);
  if (count > 0) out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
  return out;
}

std::vector<std::uint8_t> encodeIndexedGif(const IndexedGif& gif) {
  std::vector<std::uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
  put16(out, gif.screenWidth);
  put16(out, gif.screenHeight);
  out.insert(out.end(), {0xF7, 0, 0});  // global palette of 256 colours
  std::vector<std::uint8_t> palette = gif.palette;
  palette.resize(256 * 3, 0);
  out.insert(out.end(), palette.begin(), palette.end());
  if (gif.loop) {
    out.insert(out.end(), {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3,
                           1, 0, 0, 0});
  }
  for (const IndexedFrame& frame : gif.frames) appendFrame(out, frame);
  out.push_back(0x3B);
  return out;
}

std::vector<std::uint8_t> encodeGif(const std::vector<GifFrame>& frames, bool interlaced) {
  IndexedGif gif{frames.at(0).width, frames.at(0).height, {}, {}, frames.size() > 1};
  for (int i = 0; i < 216; ++i) {
    gif.palette.insert(gif.palette.end(), {static_cast<std::uint8_t>(i / 36 * 51),
                                           static_cast<std::uint8_t>(i / 6 % 6 * 51),
                                           static_cast<std::uint8_t>(i % 6 * 51)});
  }
  for (const GifFrame& frame : frames) {
    // Shown 0.1 s, then the background restored; pixels off the cube are transparent.
    IndexedFrame indexed{0,  0, frame.width, frame.height, {}, interlaced, kCubeTransparentIndex,
                         10, 2};
    for (size_t i = 0; i + 3 < frame.rgba.size(); i += 4) {
      indexed.indices.push_back(cubeIndex(&frame.rgba[i]));
    }
    gif.frames.push_back(std::move(indexed));
  }
  return encodeIndexedGif(gif);
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

}  // namespace tools
