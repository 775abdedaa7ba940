// PNG, WebP, TIFF, HEIC and AVIF: the decoders on pictures the tests write with the formats' own
// libraries (size, orientation, colours, alpha, 16 bits, pyramid levels and embedded thumbnails),
// their errors on broken files, and quorvane-thumb on a folder of every format.
#include "platform/picture/formats/formats.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "platform/base/runtime_error.h"
#include "platform/picture/orientation.h"
#include "platform/picture/picture.h"
#include "tests/batch/command_runner.h"
#include "tools/format_writer.h"
#include "tools/gif_writer.h"

namespace fs = std::filesystem;
using platform::RgbaImage;
using tools::SampleImage;

namespace {

using Rgb = std::array<std::uint8_t, 3>;
using Quad = std::array<Rgb, 4>;  // top left, top right, bottom left, bottom right

constexpr Quad kColours = {{{220, 30, 30}, {30, 200, 60}, {40, 60, 220}, {240, 220, 40}}};
constexpr Quad kOther = {{{250, 250, 250}, {10, 10, 10}, {128, 128, 128}, {200, 100, 0}}};

// --- Helpers (self-contained; candidates for tests/support) ---

// The pixel at a fraction of the way across and down.
std::array<int, 4> pixelAt(const RgbaImage& image, double fx, double fy) {
  const int x = std::clamp(static_cast<int>(fx * image.width), 0, image.width - 1);
  const int y = std::clamp(static_cast<int>(fy * image.height), 0, image.height - 1);
  const std::uint8_t* p = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

// The four quadrants a picture shows once upright: kColours-like colours of a stored picture put
// through the EXIF orientation, as a 2 x 2 picture would be.
Quad uprightQuadrants(const Quad& stored, int orientation) {
  RgbaImage tiny{2, 2, {}};
  for (const Rgb& c : stored) tiny.pixels.insert(tiny.pixels.end(), {c[0], c[1], c[2], 255});
  const RgbaImage upright = platform::orientUpright(tiny, orientation);
  Quad out{};
  for (size_t i = 0; i < 4; ++i) std::copy_n(&upright.pixels[i * 4], 3, out[i].begin());
  return out;
}

// Each quadrant's centre within `tolerance` of its colour (and opaque).
void expectQuadrants(const RgbaImage& image, const Quad& colours, int tolerance) {
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
RgbaImage draw(const std::vector<std::uint8_t>& bytes, int width, int height) {
  return platform::renderPicture(*platform::loadPictureFromBytes(bytes), width, height);
}

// The run-time error number reading and drawing the bytes raises; 0 when none. Its description
// goes to `description`.
int errorOf(const std::vector<std::uint8_t>& bytes, std::string* description = nullptr) {
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
SampleImage sixteenBit(const SampleImage& image) {
  SampleImage out(image.width, image.height, image.channels, 16);
  for (size_t i = 0; i < image.data.size(); ++i) {
    const std::uint16_t v =
        static_cast<std::uint16_t>(image.data[i] * 257 + (image.data[i] < 255 ? 100 : 0));
    std::memcpy(&out.data[i * 2], &v, 2);
  }
  return out;
}

SampleImage grey(const SampleImage& rgb) {
  SampleImage out(rgb.width, rgb.height, 1, 8);
  for (size_t i = 0; i < out.data.size(); ++i) out.data[i] = rgb.data[i * 3 + 1];
  return out;
}

// CMYK ink for an RGB picture (no black ink), 8 or 16 bits.
SampleImage cmyk(const SampleImage& rgb, int bits) {
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
SampleImage leftHalfClear(const Quad& colours, int width, int height) {
  SampleImage image = tools::quadrants(width, height, colours, 255);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width / 2; ++x) image.set(x, y, 3, 0);
  }
  return image;
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::uint32_t crc32(const std::uint8_t* data, size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void putBigEndian(std::vector<std::uint8_t>& bytes, size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// The JPEG file's pixels as RGBA (opaque).
RgbaImage readJpeg(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<std::uint8_t> jpeg((std::istreambuf_iterator<char>(file)), {});
  RgbaImage image;
  std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
  int sampling = 0, colourspace = 0;
  if (jpeg.empty() || tjDecompressHeader3(decoder.get(), jpeg.data(), jpeg.size(), &image.width,
                                          &image.height, &sampling, &colourspace) != 0) {
    return {};
  }
  image.pixels.resize(static_cast<size_t>(image.width) * image.height * 4);
  tjDecompress2(decoder.get(), jpeg.data(), jpeg.size(), image.pixels.data(), image.width, 0,
                image.height, TJPF_RGBA, 0);
  return image;
}

// --- The decoders in this process ---

class Formats : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { platform::installFormatDecoders(); }
};

struct Case {
  const char* name;
  std::function<std::vector<std::uint8_t>(const SampleImage&)> write;
  int tolerance;  // lossy formats need more
};

std::vector<Case> opaqueCases() {
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

TEST_F(Formats, EveryKindIsDrawnAtItsSizeWithItsColours) {
  for (const Case& c : opaqueCases()) {
    for (const auto& [width, height] : {std::pair{96, 64}, std::pair{64, 96}}) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(width) + "x" +
                   std::to_string(height));
      const auto picture =
          platform::loadPictureFromBytes(c.write(tools::quadrants(width, height, kColours)));
      EXPECT_EQ(picture->info().width, width);
      EXPECT_EQ(picture->info().height, height);
      // Smaller (a box average first), about the same, and larger than the picture.
      for (const int scale : {4, 1}) {
        const RgbaImage image = platform::renderPicture(*picture, width / scale, height / scale);
        ASSERT_EQ(image.width, width / scale);
        ASSERT_EQ(image.height, height / scale);
        expectQuadrants(image, kColours, c.tolerance);
      }
      expectQuadrants(platform::renderPicture(*picture, width * 2, height * 2), kColours,
                      c.tolerance);
    }
  }
}

TEST_F(Formats, GreyAndPalettePicturesKeepTheirColours) {
  const SampleImage rgb = tools::quadrants(40, 30, kColours);
  const SampleImage g = grey(rgb);
  Quad greys{};
  for (size_t q = 0; q < 4; ++q) greys[q] = {kColours[q][1], kColours[q][1], kColours[q][1]};
  expectQuadrants(draw(tools::encodePng(g), 20, 15), greys, 2);
  expectQuadrants(draw(tools::encodePng(sixteenBit(g)), 20, 15), greys, 2);
  expectQuadrants(draw(tools::encodeTiff(g), 20, 15), greys, 2);

  std::vector<std::uint8_t> indices(size_t{40} * 30);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x)
      indices[y * 40 + x] = static_cast<std::uint8_t>((y >= 15) * 2 + (x >= 20));
  }
  std::vector<std::array<std::uint8_t, 4>> palette;
  for (const Rgb& c : kColours) palette.push_back({c[0], c[1], c[2], 255});
  expectQuadrants(draw(tools::encodePalettePng(40, 30, indices, palette), 20, 15), kColours, 2);
}

TEST_F(Formats, AlphaStaysStraightAndTransparentPixelsStayClear) {
  const SampleImage rgba = leftHalfClear(kColours, 64, 48);
  SampleImage greyAlpha(64, 48, 2, 8);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      greyAlpha.set(x, y, 0, 90);
      greyAlpha.set(x, y, 1, x < 32 ? 0 : 255);
    }
  }
  std::vector<std::uint8_t> indices(size_t{64} * 48);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x)
      indices[y * 64 + x] =
          static_cast<std::uint8_t>(x < 32 ? 0 : 1 + (y >= 24) * 2 + (x >= 32 + 16) * 0);
  }
  const std::map<std::string, std::vector<std::uint8_t>> files = {
      {"PNG", tools::encodePng(rgba)},
      {"PNG 16-bit", tools::encodePng(sixteenBit(rgba))},
      {"WebP lossless", tools::encodeWebp(rgba, true)},
      {"WebP lossy", tools::encodeWebp(rgba)},
      {"TIFF", tools::encodeTiff(rgba)},
      {"TIFF 16-bit", tools::encodeTiff(sixteenBit(rgba))},
      {"HEIC", tools::encodeHeif(rgba)},
      {"AVIF", tools::encodeHeif(rgba, {.avif = true})},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const RgbaImage image = draw(bytes, 32, 24);
    for (const double fy : {0.25, 0.75}) {
      EXPECT_LE(pixelAt(image, 0.2, fy)[3], 8);  // clear
      const std::array<int, 4> right = pixelAt(image, 0.8, fy);
      EXPECT_GE(right[3], 247);
      const Rgb& colour = kColours[fy < 0.5 ? 1 : 3];
      // Straight alpha: the colour beside clear pixels is not darkened.
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(right[c], colour[c], 16) << c;
    }
  }
  const RgbaImage ga = draw(tools::encodePng(greyAlpha), 32, 24);
  EXPECT_EQ(pixelAt(ga, 0.2, 0.5)[3], 0);
  EXPECT_EQ(pixelAt(ga, 0.8, 0.5), (std::array<int, 4>{90, 90, 90, 255}));
  const RgbaImage indexed = draw(
      tools::encodePalettePng(
          64, 48, indices, {{0, 0, 0, 0}, {30, 200, 60, 255}, {0, 0, 0, 0}, {240, 220, 40, 255}}),
      32, 24);
  EXPECT_EQ(pixelAt(indexed, 0.2, 0.25)[3], 0);
  EXPECT_EQ(pixelAt(indexed, 0.8, 0.25), (std::array<int, 4>{30, 200, 60, 255}));
}

TEST_F(Formats, TiffAndHeifOrientationsAreApplied) {
  const SampleImage stored = tools::quadrants(96, 64, kColours);
  for (const int orientation : {2, 3, 6, 8}) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    const bool swaps = orientation >= 5;
    const Quad expected = uprightQuadrants(kColours, orientation);
    for (const auto& [name, bytes] :
         {std::pair{"TIFF", tools::encodeTiff(stored, {.orientation = orientation})},
          std::pair{"HEIC", tools::encodeHeif(stored, {.orientation = orientation})}}) {
      SCOPED_TRACE(name);
      const auto picture = platform::loadPictureFromBytes(bytes);
      EXPECT_EQ(picture->info().width, swaps ? 64 : 96);
      EXPECT_EQ(picture->info().height, swaps ? 96 : 64);
      expectQuadrants(
          platform::renderPicture(*picture, picture->info().width / 2, picture->info().height / 2),
          expected, name == std::string("TIFF") ? 2 : 16);
    }
  }
}

TEST_F(Formats, HeifDrawsFromItsThumbnailOnlyWhenItIsTwiceTheDrawnSize) {
  // The thumbnail (128 x 96) has other colours, so the drawing tells which image was decoded.
  const SampleImage thumbnail = tools::quadrants(256, 192, kOther);
  for (const int orientation : {1, 6}) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    const auto picture = platform::loadPictureFromBytes(tools::encodeHeif(
        tools::quadrants(320, 240, kColours),
        {.orientation = orientation, .thumbnail = &thumbnail, .thumbnailBox = 128}));
    const bool swaps = orientation >= 5;
    const int w = swaps ? 240 : 320;
    const int h = swaps ? 320 : 240;
    ASSERT_EQ(picture->info().width, w);
    ASSERT_EQ(picture->info().height, h);
    const auto size = [&](int longer) {
      return swaps ? std::pair{longer * 3 / 4, longer} : std::pair{longer, longer * 3 / 4};
    };
    const auto [smallW, smallH] = size(64);  // the thumbnail's 128 is twice 64
    expectQuadrants(platform::renderPicture(*picture, smallW, smallH),
                    uprightQuadrants(kOther, orientation), 16);
    const auto [largeW, largeH] = size(65);
    expectQuadrants(platform::renderPicture(*picture, largeW, largeH),
                    uprightQuadrants(kColours, orientation), 16);
  }
}

TEST_F(Formats, TiffDrawsFromTheSmallestLevelTwiceTheDrawnSizeAndOnlyItsFirstPage) {
  const Quad third = {{{0, 0, 255}, {0, 0, 255}, {255, 0, 0}, {255, 0, 0}}};
  for (const bool subIfds : {false, true}) {
    SCOPED_TRACE(subIfds ? "SubIFDs" : "levels after the page");
    const std::vector<std::uint8_t> bytes = tools::encodeTiff(
        tools::quadrants(320, 240, kColours),
        {.levels = {tools::quadrants(160, 120, kOther), tools::quadrants(80, 60, third)},
         .levelsInSubIfds = subIfds,
         .secondPage = true});
    const auto picture = platform::loadPictureFromBytes(bytes);
    EXPECT_EQ(picture->info().width, 320);
    expectQuadrants(platform::renderPicture(*picture, 40, 30), third, 2);
    expectQuadrants(platform::renderPicture(*picture, 41, 30), kOther, 2);
    expectQuadrants(platform::renderPicture(*picture, 80, 60), kOther, 2);
    expectQuadrants(platform::renderPicture(*picture, 81, 60), kColours, 2);
  }
}

// Broken files: each is error 481, when read or when drawn, and nothing worse.
TEST_F(Formats, BrokenFilesAreInvalidPictures) {
  const SampleImage image = tools::quadrants(64, 48, kColours);
  const std::map<std::string, std::vector<std::uint8_t>> sound = {
      {"PNG", tools::encodePng(image)},
      {"PNG interlaced", tools::encodePng(image, true)},
      {"WebP", tools::encodeWebp(image)},
      {"WebP lossless", tools::encodeWebp(image, true)},
      {"TIFF", tools::encodeTiff(image, {.compression = 8})},
      {"TIFF JPEG", tools::encodeTiff(image, {.compression = 7})},
      {"HEIC", tools::encodeHeif(image)},
      {"AVIF", tools::encodeHeif(image, {.avif = true})},
  };
  for (const auto& [name, bytes] : sound) {
    SCOPED_TRACE(name);
    ASSERT_EQ(errorOf(bytes), 0);
    for (const size_t kept : {bytes.size() * 3 / 4, bytes.size() / 2, size_t{40}, size_t{13}}) {
      EXPECT_EQ(errorOf({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept)}), 481)
          << kept << " bytes kept";
    }
    // The right first bytes, then noise.
    std::vector<std::uint8_t> noisy = bytes;
    for (size_t i = 16; i < noisy.size(); ++i) noisy[i] = static_cast<std::uint8_t>(i * 131 + 7);
    const int noise = errorOf(noisy);
    EXPECT_TRUE(noise == 481) << noise;
  }
  EXPECT_EQ(errorOf({0x89, 'P', 'N', 'G', 'x', 'y', 'z'}), 481);
  EXPECT_EQ(errorOf({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'}), 481);
  EXPECT_EQ(errorOf({'I', 'I', 42, 0, 255, 255, 255, 255}), 481);
  EXPECT_EQ(errorOf({0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c'}), 481);
}

// A header that declares more than the pixel limit fails before any pixel is decoded.
TEST_F(Formats, HugeDeclaredSizesAreRefusedFromTheHeader) {
  const SampleImage image = tools::quadrants(64, 48, kColours);
  std::vector<std::uint8_t> png = tools::encodePng(image);
  putBigEndian(png, 16, 20000);
  putBigEndian(png, 20, 20000);
  putBigEndian(png, 29, crc32(&png[12], 17));

  std::vector<std::uint8_t> webp = tools::encodeWebp(image, true);
  ASSERT_EQ(std::string(webp.begin() + 12, webp.begin() + 16), "VP8L");
  std::uint32_t bits = 0;
  std::memcpy(&bits, &webp[21], 4);
  bits = (bits & ~0x0FFFFFFFu) | 16383u | (16383u << 14);  // 16384 x 16384
  std::memcpy(&webp[21], &bits, 4);

  std::vector<std::uint8_t> tiff = tools::encodeTiff(image);
  std::uint32_t ifd = 0;
  std::memcpy(&ifd, &tiff[4], 4);
  std::uint16_t entries = 0;
  std::memcpy(&entries, &tiff[ifd], 2);
  for (std::uint16_t i = 0; i < entries; ++i) {
    std::uint8_t* entry = &tiff[ifd + 2 + 12 * i];
    std::uint16_t tag = 0;
    std::memcpy(&tag, entry, 2);
    if (tag != 256 && tag != 257) continue;
    const std::uint16_t type = 4;
    const std::uint32_t value = 20000;
    std::memcpy(entry + 2, &type, 2);
    std::memcpy(entry + 8, &value, 4);
  }

  // Square and a whole number of coding blocks, so that no crop box sets the size instead.
  std::vector<std::uint8_t> heif = tools::encodeHeif(tools::quadrants(64, 64, kColours));
  const char ispe[] = "ispe";
  const auto box = std::search(heif.begin(), heif.end(), ispe, ispe + 4);
  ASSERT_NE(box, heif.end());
  const size_t at = static_cast<size_t>(box - heif.begin()) + 8;
  putBigEndian(heif, at, 20000);
  putBigEndian(heif, at + 4, 20000);

  for (const auto& [name, bytes] : {std::pair{"PNG", png}, std::pair{"WebP", webp},
                                    std::pair{"TIFF", tiff}, std::pair{"HEIF", heif}}) {
    SCOPED_TRACE(name);
    try {
      platform::loadPictureFromBytes(bytes);
      ADD_FAILURE() << "read";
    } catch (const platform::RuntimeError& error) {
      EXPECT_EQ(error.number(), 481);
      EXPECT_NE(error.description().find("too large"), std::string::npos) << error.description();
    }
  }
}

// --- quorvane-thumb on every format ---

class FormatsCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvane-formats-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(FormatsCommand, MakesThumbNameDotJpgOfEveryFormatInAFolderSearch) {
  const SampleImage landscape = tools::quadrants(400, 300, kColours);
  const SampleImage portrait = tools::quadrants(300, 400, kColours);
  writeFile(dir_ / "a.png", tools::encodePng(landscape));
  writeFile(dir_ / "b.WEBP", tools::encodeWebp(portrait));
  writeFile(dir_ / "c.tif", tools::encodeTiff(landscape, {.compression = 7}));
  writeFile(dir_ / "d.TIFF", tools::encodeTiff(portrait, {.compression = 5}));
  writeFile(dir_ / "IMG_0001.HEIC", tools::encodeHeif(landscape, {.orientation = 6}));
  writeFile(dir_ / "f.heif", tools::encodeHeif(portrait));
  writeFile(dir_ / "g.Avif", tools::encodeHeif(landscape, {.avif = true}));
  tools::writeFile((dir_ / "h.gif").string(),
                   tools::encodeGif({{4, 4, std::vector<std::uint8_t>(64, 200)}}));
  writeFile(dir_ / "thumb_old.png.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
  fs::create_directory(dir_ / "sub");
  writeFile(dir_ / "sub" / "i.png", tools::encodePng(portrait, true));

  const CommandResult result = runThumb({"-r", "."}, dir_);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const std::map<std::string, std::pair<int, int>> sizes = {
      {"thumb_a.png.jpg", {125, 94}},         {"thumb_b.WEBP.jpg", {94, 125}},
      {"thumb_c.tif.jpg", {125, 94}},         {"thumb_d.TIFF.jpg", {94, 125}},
      {"thumb_IMG_0001.HEIC.jpg", {94, 125}}, {"thumb_f.heif.jpg", {94, 125}},
      {"thumb_g.Avif.jpg", {125, 94}},        {"sub/thumb_i.png.jpg", {94, 125}},
  };
  for (const auto& [name, size] : sizes) {
    SCOPED_TRACE(name);
    const RgbaImage thumbnail = readJpeg(dir_ / name);
    EXPECT_EQ(std::pair(thumbnail.width, thumbnail.height), size);
    expectQuadrants(
        thumbnail,
        name.find("HEIC") != std::string::npos ? uprightQuadrants(kColours, 6) : kColours, 20);
  }
  EXPECT_TRUE(fs::exists(dir_ / "thumb_h.gif"));
  EXPECT_FALSE(fs::exists(dir_ / "thumb_thumb_old.png.jpg"));
  EXPECT_FALSE(fs::exists(dir_ / "thumb_thumb_old.png.jpg.jpg"));

  const CommandResult planned = runThumb({"-n", "a.png", "g.Avif", "h.gif"}, dir_);
  EXPECT_EQ(linesOf(planned.out),
            (std::vector<std::string>{"thumb_a.png.jpg", "thumb_g.Avif.jpg", "thumb_h.gif"}));
}

TEST_F(FormatsCommand, TransparentPixelsShowTheBackground) {
  writeFile(dir_ / "clear.png", tools::encodePng(leftHalfClear(kColours, 200, 150)));
  writeFile(dir_ / "clear.webp", tools::encodeWebp(leftHalfClear(kColours, 200, 150), true));
  const CommandResult result = runThumb({"--background=#ff00ff", "clear.png", "clear.webp"}, dir_);
  ASSERT_EQ(result.status, 0) << result.err;
  for (const char* name : {"thumb_clear.png.jpg", "thumb_clear.webp.jpg"}) {
    SCOPED_TRACE(name);
    const RgbaImage thumbnail = readJpeg(dir_ / name);
    const std::array<int, 4> left = pixelAt(thumbnail, 0.2, 0.5);
    EXPECT_NEAR(left[0], 255, 12);
    EXPECT_NEAR(left[1], 0, 12);
    EXPECT_NEAR(left[2], 255, 12);
    EXPECT_NEAR(pixelAt(thumbnail, 0.8, 0.25)[1], kColours[1][1], 20);
  }
}

TEST_F(FormatsCommand, EachBrokenFileIsOneFailureLineNamingIt) {
  const SampleImage image = tools::quadrants(64, 48, kColours);
  const std::vector<std::uint8_t> png = tools::encodePng(image);
  writeFile(dir_ / "cut.png",
            {png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2)});
  const std::vector<std::uint8_t> heic = tools::encodeHeif(image);
  writeFile(dir_ / "cut.heic",
            {heic.begin(), heic.begin() + static_cast<std::ptrdiff_t>(heic.size() / 2)});
  writeFile(dir_ / "text.webp", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'});
  std::vector<std::uint8_t> huge = tools::encodePng(image);
  putBigEndian(huge, 16, 30000);
  putBigEndian(huge, 20, 30000);
  putBigEndian(huge, 29, crc32(&huge[12], 17));
  writeFile(dir_ / "huge.png", huge);
  writeFile(dir_ / "fine.tif", tools::encodeTiff(image));

  const CommandResult result = runThumb({"-j2", "."}, dir_);
  EXPECT_EQ(result.status, 1);
  std::vector<std::string> lines = linesOf(result.err);
  ASSERT_EQ(lines.size(), 5u) << result.err;
  EXPECT_EQ(lines.back(), "quorvane-thumb: 4 of 5 pictures failed");
  lines.pop_back();
  std::sort(lines.begin(), lines.end());  // in the order the two workers finished
  EXPECT_EQ(lines[0].rfind("quorvane-thumb: ./cut.heic: ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("quorvane-thumb: ./cut.png: ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2],
            "quorvane-thumb: ./huge.png: Picture too large to draw: 30000 x 30000 "
            "pixels (the limit is 100 megapixels)");
  EXPECT_EQ(lines[3].rfind("quorvane-thumb: ./text.webp: Invalid picture", 0), 0u) << lines[3];
  EXPECT_TRUE(fs::exists(dir_ / "thumb_fine.tif.jpg"));
}

// libheif stops the process on this file (an assertion the HEIF fuzzer found): the command
// decodes HEIF in a child process, so it is one failure line and the run goes on.
TEST_F(FormatsCommand, AHeifThatStopsItsDecoderIsOneFailureLine) {
  fs::copy_file(fs::path(QUORVANE_SOURCE_DIR) / "tests/fuzz/regressions/fuzz_heif" /
                    "crash-5c031bcba521cce45a9c56a01a66a2942b95f1ad",
                dir_ / "stops.heic");
  writeFile(dir_ / "fine.heic", tools::encodeHeif(tools::quadrants(64, 48, kColours)));
  const CommandResult result = runThumb({"-j1", "stops.heic", "fine.heic"}, dir_);
  EXPECT_EQ(result.status, 1);
  const std::vector<std::string> lines = linesOf(result.err);
  ASSERT_EQ(lines.size(), 2u) << result.err;
  EXPECT_EQ(lines[0].rfind("quorvane-thumb: stops.heic: Invalid picture (HEIF: its decoder stopped "
                           "on it: ",
                           0),
            0u)
      << lines[0];
  EXPECT_NE(lines[0].find("Assertion"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "quorvane-thumb: 1 of 2 pictures failed");
  EXPECT_EQ(readJpeg(dir_ / "thumb_fine.heic.jpg").width, 125);
}

}  // namespace
