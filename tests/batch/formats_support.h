// What the tests of the PNG, WebP, TIFF and HEIF readers share: the colours they draw, the pictures
// they write with the formats' own libraries, and what they look for in a drawing.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/base/runtime_error.h"
#include "platform/picture/formats/formats.h"
#include "platform/picture/orientation.h"
#include "platform/picture/picture.h"
#include "tests/batch/command_runner.h"
#include "tests/support/icc_profiles.h"
#include "tests/support/jpeg_probe.h"
#include "tests/support/picture_writers.h"
#include "tests/support/temp_folder.h"
#include "tools/format_writer.h"
#include "tools/gif_writer.h"

namespace formatstest {

namespace fs = std::filesystem;
using platform::RgbaImage;
using tools::SampleImage;

using Rgb = std::array<std::uint8_t, 3>;
using Quad = std::array<Rgb, 4>;  // top left, top right, bottom left, bottom right

constexpr Quad kColours = {{{220, 30, 30}, {30, 200, 60}, {40, 60, 220}, {240, 220, 40}}};
constexpr Quad kOther = {{{250, 250, 250}, {10, 10, 10}, {128, 128, 128}, {200, 100, 0}}};

// The pixel at a fraction of the way across and down.
inline std::array<int, 4> pixelAt(const RgbaImage& image, double fx, double fy) {
  const int x = std::clamp(static_cast<int>(fx * image.width), 0, image.width - 1);
  const int y = std::clamp(static_cast<int>(fy * image.height), 0, image.height - 1);
  const std::uint8_t* p = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

// The four quadrants a picture shows once upright: kColours-like colours of a stored picture put
// through the EXIF orientation, as a 2 x 2 picture would be.
inline Quad uprightQuadrants(const Quad& stored, int orientation) {
  RgbaImage tiny{2, 2, {}};
  for (const Rgb& c : stored) tiny.pixels.insert(tiny.pixels.end(), {c[0], c[1], c[2], 255});
  const RgbaImage upright = platform::orientUpright(tiny, orientation);
  Quad out{};
  for (size_t i = 0; i < 4; ++i) std::copy_n(&upright.pixels[i * 4], 3, out[i].begin());
  return out;
}

// Each quadrant's centre within `tolerance` of its colour (and opaque).
inline void expectQuadrants(const RgbaImage& image, const Quad& colours, int tolerance) {
  const double at[4][2] = {{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}};
  for (size_t q = 0; q < 4; ++q) {
    const std::array<int, 4> p = pixelAt(image, at[q][0], at[q][1]);
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(p[c], colours[q][c], tolerance) << "quadrant " << q << ", channel " << c;
    }
    EXPECT_EQ(p[3], 255) << "quadrant " << q;
  }
}

// The picture read from bytes and drawn at width x height.
inline RgbaImage draw(const std::vector<std::uint8_t>& bytes, int width, int height) {
  return platform::renderPicture(*platform::loadPictureFromBytes(bytes), width, height);
}

// The run-time error number reading and drawing the bytes raises; 0 when none. Its description
// goes to `description`.
inline int errorOf(const std::vector<std::uint8_t>& bytes, std::string* description = nullptr) {
  try {
    const auto picture = platform::loadPictureFromBytes(bytes);
    platform::renderPicture(*picture, 16, 16);
  } catch (const platform::RuntimeError& error) {
    if (description != nullptr) *description = error.description();
    return error.number();
  }
  return 0;
}

// A 16-bit version of the quadrants: each 8-bit value v as v * 257, plus a low byte that must
// not change the 8-bit result.
inline SampleImage sixteenBit(const SampleImage& image) {
  SampleImage out(image.width, image.height, image.channels, 16);
  out.icc = image.icc;
  for (size_t i = 0; i < image.data.size(); ++i) {
    const std::uint16_t v =
        static_cast<std::uint16_t>(image.data[i] * 257 + (image.data[i] < 255 ? 100 : 0));
    std::memcpy(&out.data[i * 2], &v, 2);
  }
  return out;
}

inline SampleImage grey(const SampleImage& rgb) {
  SampleImage out(rgb.width, rgb.height, 1, 8);
  for (size_t i = 0; i < out.data.size(); ++i) out.data[i] = rgb.data[i * 3 + 1];
  return out;
}

// CMYK ink for an RGB picture (no black ink), 8 or 16 bits.
inline SampleImage cmyk(const SampleImage& rgb, int bits) {
  SampleImage out(rgb.width, rgb.height, 4, bits);
  for (int y = 0; y < rgb.height; ++y) {
    for (int x = 0; x < rgb.width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const unsigned ink = 255 - rgb.data[(static_cast<size_t>(y) * rgb.width + x) * 3 + c];
        out.set(x, y, c, bits == 16 ? ink * 257 + (ink < 255 ? 100 : 0) : ink);
      }
      out.set(x, y, 3, 0);
    }
  }
  return out;
}

// The quadrants with the left half transparent (alpha 0, colour kept).
inline SampleImage leftHalfClear(const Quad& colours, int width, int height) {
  SampleImage image = tools::quadrants(width, height, colours, 255);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width / 2; ++x) image.set(x, y, 3, 0);
  }
  return image;
}

inline std::uint32_t crc32(const std::uint8_t* data, size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline void putBigEndian(std::vector<std::uint8_t>& bytes, size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// Where tag `tag`'s entry is in a little-endian TIFF's first directory; 0 when it has none.
inline size_t tiffEntry(const std::vector<std::uint8_t>& tiff, std::uint16_t tag) {
  std::uint32_t ifd = 0;
  std::memcpy(&ifd, &tiff[4], 4);
  std::uint16_t entries = 0;
  std::memcpy(&entries, &tiff[ifd], 2);
  for (std::uint16_t i = 0; i < entries; ++i) {
    const size_t entry = ifd + 2 + 12 * static_cast<size_t>(i);
    std::uint16_t entryTag = 0;
    std::memcpy(&entryTag, &tiff[entry], 2);
    if (entryTag == tag) return entry;
  }
  return 0;
}

// Sets tag `tag` of a little-endian TIFF's first directory to one LONG `value`.
inline void setTiffTag(std::vector<std::uint8_t>& tiff, std::uint16_t tag, std::uint32_t value) {
  const size_t entry = tiffEntry(tiff, tag);
  ASSERT_NE(entry, 0u) << "no tag " << tag;
  const std::uint16_t type = 4;
  const std::uint32_t count = 1;
  std::memcpy(&tiff[entry + 2], &type, 2);
  std::memcpy(&tiff[entry + 4], &count, 4);
  std::memcpy(&tiff[entry + 8], &value, 4);
}

// The JPEG file's pixels as RGBA (opaque); empty when it is no JPEG.
inline RgbaImage readJpeg(const fs::path& path) {
  const testsupport::RgbImage rgb = testsupport::decodeJpegFile(path);
  RgbaImage image{rgb.width, rgb.height, {}};
  image.pixels.reserve(rgb.pixels.size() / 3 * 4);
  for (size_t i = 0; i + 2 < rgb.pixels.size(); i += 3) {
    image.pixels.insert(image.pixels.end(),
                        {rgb.pixels[i], rgb.pixels[i + 1], rgb.pixels[i + 2], 255});
  }
  return image;
}

// The readers, installed once for a suite.
class Formats : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { platform::installFormatDecoders(); }
};

// A kind of opaque picture and its writer.
struct Case {
  const char* name;
  std::function<std::vector<std::uint8_t>(const SampleImage&)> write;
  int tolerance;  // lossy formats need more
};

// Every kind of opaque picture the readers take.
inline std::vector<Case> opaqueCases() {
  using tools::TiffOptions;
  return {
      {"PNG", [](const SampleImage& i) { return tools::encodePng(i); }, 2},
      {"PNG interlaced", [](const SampleImage& i) { return tools::encodePng(i, true); }, 2},
      {"PNG 16-bit", [](const SampleImage& i) { return tools::encodePng(sixteenBit(i)); }, 0},
      {"PNG 16-bit interlaced",
       [](const SampleImage& i) { return tools::encodePng(sixteenBit(i), true); }, 0},
      {"WebP lossy", [](const SampleImage& i) { return tools::encodeWebp(i); }, 14},
      {"WebP lossless", [](const SampleImage& i) { return tools::encodeWebp(i, true); }, 2},
      {"TIFF", [](const SampleImage& i) { return tools::encodeTiff(i); }, 2},
      {"TIFF LZW tiled",
       [](const SampleImage& i) { return tools::encodeTiff(i, {.compression = 5, .tiled = true}); },
       2},
      {"TIFF JPEG", [](const SampleImage& i) { return tools::encodeTiff(i, {.compression = 7}); },
       14},
      {"TIFF JPEG tiled",
       [](const SampleImage& i) { return tools::encodeTiff(i, {.compression = 7, .tiled = true}); },
       14},
      {"TIFF 16-bit deflate",
       [](const SampleImage& i) { return tools::encodeTiff(sixteenBit(i), {.compression = 8}); },
       0},
      {"TIFF CMYK",
       [](const SampleImage& i) { return tools::encodeTiff(cmyk(i, 8), {.cmyk = true}); }, 2},
      {"TIFF CMYK 16-bit tiled",
       [](const SampleImage& i) {
         return tools::encodeTiff(cmyk(i, 16), {.tiled = true, .cmyk = true});
       },
       0},
      {"HEIC", [](const SampleImage& i) { return tools::encodeHeif(i); }, 16},
      {"AVIF", [](const SampleImage& i) { return tools::encodeHeif(i, {.avif = true}); }, 16},
  };
}

}  // namespace formatstest
