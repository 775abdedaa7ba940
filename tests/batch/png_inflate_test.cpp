// Large PNGs, whose image data is inflated on a second thread while libpng unfilters: every
// layout to the exact pixel however the data is cut into chunks, and broken data an error.
#include "platform/picture/formats/png_inflate_ahead.h"
#include "tests/batch/formats_support.h"

using namespace formatstest;  // NOLINT(google-build-using-namespace)

namespace {

// Large enough to be inflated ahead, and noisy enough to fill many of the inflater's blocks.
constexpr int kWidth = 700;
constexpr int kHeight = 500;

unsigned noise(int x, int y, int c) {
  const auto n = static_cast<unsigned>(x * 7919 + y * 104729 + c * 1299709);
  return ((n ^ (n >> 7)) * 2654435761u >> 24) & 0xFF;
}

// Smooth in its top half (long matches), noise in its bottom half (literals).
SampleImage noisy(int channels, int bits) {
  SampleImage image(kWidth, kHeight, channels, bits);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      for (int c = 0; c < channels; ++c) {
        const unsigned v = y < kHeight / 2 ? (x / 3 + y + c * 60) & 0xFF : noise(x, y, c);
        image.set(x, y, c, bits == 16 ? v * 257 + (v < 255 ? 100 : 0) : v);
      }
    }
  }
  return image;
}

// The RGBA a full-size drawing of the 8-bit image shows (a clear pixel has no colour).
std::vector<std::uint8_t> expectedRgba(const SampleImage& image) {
  std::vector<std::uint8_t> rgba;
  rgba.reserve(size_t{4} * kWidth * kHeight);
  for (size_t i = 0; i < size_t{kWidth} * kHeight; ++i) {
    const std::uint8_t* p = &image.data[i * image.channels];
    const bool colour = image.channels >= 3;
    const bool alpha = image.channels == 2 || image.channels == 4;
    const std::uint8_t a = alpha ? p[image.channels - 1] : std::uint8_t{255};
    if (a == 0) {
      rgba.insert(rgba.end(), {0, 0, 0, 0});
    } else {
      rgba.insert(rgba.end(), {p[0], colour ? p[1] : p[0], colour ? p[2] : p[0], a});
    }
  }
  return rgba;
}

struct Chunk {
  std::string type;
  std::vector<std::uint8_t> data;
};

std::vector<Chunk> chunksOf(const std::vector<std::uint8_t>& png) {
  std::vector<Chunk> chunks;
  for (size_t at = 8; at + 12 <= png.size();) {
    const size_t length =
        size_t{png[at]} << 24 | size_t{png[at + 1]} << 16 | size_t{png[at + 2]} << 8 | png[at + 3];
    const std::uint8_t* chunk = &png[at];
    chunks.push_back({std::string(chunk + 4, chunk + 8), {chunk + 8, chunk + 8 + length}});
    at += 12 + length;
  }
  return chunks;
}

void appendChunk(std::vector<std::uint8_t>& png, const std::string& type, const std::uint8_t* data,
                 size_t length) {
  const size_t at = png.size();
  png.resize(at + 12 + length);
  putBigEndian(png, at, static_cast<std::uint32_t>(length));
  std::memcpy(&png[at + 4], type.data(), 4);
  if (length > 0) std::memcpy(&png[at + 8], data, length);
  putBigEndian(png, at + 8 + length, crc32(&png[at + 4], length + 4));
}

// The same PNG with its image data cut into chunks of `size` bytes (an empty chunk between each
// two when `empties`), and `extra` chunks after them.
std::vector<std::uint8_t> rechunked(const std::vector<std::uint8_t>& png, size_t size,
                                    bool empties = false,
                                    const std::vector<std::vector<std::uint8_t>>& extra = {}) {
  std::vector<std::uint8_t> out(png.begin(), png.begin() + 8);
  std::vector<std::uint8_t> data;
  for (const Chunk& chunk : chunksOf(png)) {
    if (chunk.type == "IDAT") {
      data.insert(data.end(), chunk.data.begin(), chunk.data.end());
      continue;
    }
    if (chunk.type == "IEND") {
      for (size_t at = 0; at < data.size(); at += size) {
        appendChunk(out, "IDAT", &data[at], std::min(size, data.size() - at));
        if (empties) appendChunk(out, "IDAT", nullptr, 0);
      }
      for (const auto& bytes : extra) appendChunk(out, "IDAT", bytes.data(), bytes.size());
    }
    appendChunk(out, chunk.type, chunk.data.data(), chunk.data.size());
  }
  return out;
}

void expectExactPixels(const std::vector<std::uint8_t>& png,
                       const std::vector<std::uint8_t>& rgba) {
  const RgbaImage image = draw(png, kWidth, kHeight);
  ASSERT_EQ(image.width, kWidth);
  ASSERT_EQ(image.height, kHeight);
  ASSERT_EQ(image.pixels.size(), rgba.size());
  const auto got = std::mismatch(image.pixels.begin(), image.pixels.end(), rgba.begin()).first;
  if (got == image.pixels.end()) return;
  const size_t at = static_cast<size_t>(got - image.pixels.begin()) / 4 * 4;
  ADD_FAILURE() << "first difference at pixel " << at / 4 << ": " << int{image.pixels[at]} << ","
                << int{image.pixels[at + 1]} << "," << int{image.pixels[at + 2]} << ","
                << int{image.pixels[at + 3]} << " against " << int{rgba[at]} << ","
                << int{rgba[at + 1]} << "," << int{rgba[at + 2]} << "," << int{rgba[at + 3]};
}

TEST_F(Formats, LargePngsAreDecodedToTheExactPixelHoweverTheirDataIsCut) {
  const SampleImage rgb = noisy(3, 8);
  const std::vector<std::uint8_t> rgbPixels = expectedRgba(rgb);
  const std::vector<std::uint8_t> rgbPng = tools::encodePng(rgb);
  ASSERT_NE(platform::InflatedAhead::start(rgbPng), nullptr);

  const SampleImage greyImage = noisy(1, 8);
  const SampleImage rgba = noisy(4, 8);
  std::vector<std::uint8_t> indices(size_t{kWidth} * kHeight);
  std::vector<std::array<std::uint8_t, 4>> palette;
  std::vector<std::uint8_t> palettePixels;
  for (unsigned i = 0; i < 256; ++i) {
    palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                       static_cast<std::uint8_t>(i * 5), 255});
  }
  for (size_t i = 0; i < indices.size(); ++i) {
    indices[i] = static_cast<std::uint8_t>(
        noise(static_cast<int>(i % kWidth), static_cast<int>(i / kWidth), 0));
    palettePixels.insert(palettePixels.end(), palette[indices[i]].begin(),
                         palette[indices[i]].end());
  }
  const std::map<std::string, std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>>
      cases = {
          {"RGB", {rgbPng, rgbPixels}},
          {"RGB interlaced", {tools::encodePng(rgb, true), rgbPixels}},
          {"RGB 16-bit", {tools::encodePng(noisy(3, 16)), rgbPixels}},
          {"RGBA", {tools::encodePng(rgba), expectedRgba(rgba)}},
          {"grey", {tools::encodePng(greyImage), expectedRgba(greyImage)}},
          {"palette", {tools::encodePalettePng(kWidth, kHeight, indices, palette), palettePixels}},
      };
  for (const auto& [name, test] : cases) {
    SCOPED_TRACE(name);
    expectExactPixels(test.first, test.second);
  }

  // The image data in one chunk, in chunks of a byte (the stream's header split) or a few bytes
  // with empty ones between, in chunks that end across the inflater's blocks, and followed by data
  // after the stream's end (which libpng passes over).
  for (const size_t size : {size_t{1} << 30, size_t{1}, size_t{3}, size_t{65536 + 7}}) {
    SCOPED_TRACE(size);
    expectExactPixels(rechunked(rgbPng, size, size == 3), rgbPixels);
  }
  expectExactPixels(rechunked(rgbPng, 8192, false, {{1, 2, 3, 4, 5}}), rgbPixels);
}

TEST_F(Formats, BrokenDataInLargePngsIsAnInvalidPicture) {
  constexpr size_t kChunk = 8192;
  const std::vector<std::uint8_t> png = rechunked(tools::encodePng(noisy(3, 8)), kChunk);
  const std::vector<Chunk> chunks = chunksOf(png);
  const auto dataChunks = static_cast<size_t>(
      std::count_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.type == "IDAT"; }));
  ASSERT_GT(dataChunks, 20u);
  // Where data chunk k begins: the chunks before the data are the file's first.
  size_t firstData = 8;
  for (size_t i = 0; chunks[i].type != "IDAT"; ++i) firstData += 12 + chunks[i].data.size();
  const auto chunkAt = [&](size_t k) { return firstData + k * (kChunk + 12); };
  // Data chunk k's CRC made right again after its bytes were changed.
  const auto fixCrc = [&](std::vector<std::uint8_t>& bytes, size_t k) {
    putBigEndian(bytes, chunkAt(k) + 8 + kChunk, crc32(&bytes[chunkAt(k) + 4], kChunk + 4));
  };

  const auto expectInvalid = [](const std::vector<std::uint8_t>& bytes, const char* says) {
    std::string description;
    EXPECT_EQ(errorOf(bytes, &description), 481);
    EXPECT_NE(description.find(says), std::string::npos) << description;
  };
  {
    SCOPED_TRACE("cut short");
    // After a data chunk's header, inside a chunk, halfway, and before the last one's CRC.
    for (const size_t kept : {chunkAt(0) + 8, chunkAt(1) + 100, png.size() / 2, png.size() - 16}) {
      SCOPED_TRACE(kept);
      expectInvalid({png.begin(), png.begin() + static_cast<std::ptrdiff_t>(kept)}, "");
    }
  }
  {
    SCOPED_TRACE("noise in the data, CRCs right");
    std::vector<std::uint8_t> noisyData = png;
    const size_t at = chunkAt(3);
    for (size_t i = 0; i < kChunk; ++i) noisyData[at + 8 + i] = static_cast<std::uint8_t>(i * 131);
    fixCrc(noisyData, 3);
    expectInvalid(noisyData, "");
  }
  {
    SCOPED_TRACE("a data chunk's CRC wrong");
    std::vector<std::uint8_t> badCrc = png;
    badCrc[chunkAt(2) + 100] ^= 1;
    expectInvalid(badCrc, "CRC");
  }
  {
    SCOPED_TRACE("the header's CRC wrong");
    std::vector<std::uint8_t> badHeader = png;
    badHeader[8 + 8 + 13] ^= 1;
    expectInvalid(badHeader, "CRC");
  }
  {
    SCOPED_TRACE("a stream header that is not zlib's");
    std::vector<std::uint8_t> badStream = png;
    badStream[chunkAt(0) + 9] ^= 1;
    fixCrc(badStream, 0);
    expectInvalid(badStream, "header check");
  }
  {
    // The rows repeat at a distance of more than 256 bytes, the window the header now declares.
    SCOPED_TRACE("a window smaller than the data's distances");
    std::vector<std::uint8_t> smallWindow = png;
    const size_t at = chunkAt(0) + 8;
    smallWindow[at] = 0x08;
    smallWindow[at + 1] &= 0xE0;
    smallWindow[at + 1] +=
        static_cast<std::uint8_t>((31 - (0x0800 + smallWindow[at + 1]) % 31) % 31);
    fixCrc(smallWindow, 0);
    expectInvalid(smallWindow, "IDAT: invalid");
  }
  {
    SCOPED_TRACE("the stream ends before the rows do");
    std::vector<std::uint8_t> early = png;
    early.erase(early.begin() + static_cast<std::ptrdiff_t>(chunkAt(5)), early.end() - 12);
    expectInvalid(early, "");
  }
}

}  // namespace
