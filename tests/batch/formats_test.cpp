// PNG, WebP, TIFF, HEIC and AVIF: the decoders on pictures the tests write with the formats' own
// libraries (size, orientation, colours, alpha, 16 bits, pyramid levels and embedded thumbnails),
// and their errors on broken files.
#include "tests/batch/formats_support.h"

using namespace formatstest;  // NOLINT(google-build-using-namespace)

namespace {

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

TEST_F(Formats, OrientationsAreApplied) {
  for (const int orientation : {2, 3, 6, 8}) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    const bool swaps = orientation >= 5;
    const Quad expected = uprightQuadrants(kColours, orientation);
    SampleImage stored = tools::quadrants(96, 64, kColours);
    const std::vector<std::uint8_t> tiff = tools::encodeTiff(stored, {.orientation = orientation});
    const std::vector<std::uint8_t> heic = tools::encodeHeif(stored, {.orientation = orientation});
    // PNG's eXIf and WebP's EXIF chunk: the TIFF structure alone, or as a JPEG's APP1 holds it.
    const std::vector<std::uint8_t> app1 = testsupport::exifWithOrientation(orientation, true);
    stored.exif.assign(app1.begin() + 6, app1.end());
    const std::vector<std::uint8_t> png = tools::encodePng(stored);
    stored.exif = app1;
    const std::vector<std::uint8_t> webp = tools::encodeWebp(stored, true);
    for (const auto& [name, bytes] :
         {std::pair{"TIFF", tiff}, {"HEIC", heic}, {"PNG", png}, {"WebP", webp}}) {
      SCOPED_TRACE(name);
      const auto picture = platform::loadPictureFromBytes(bytes);
      EXPECT_EQ(picture->info().width, swaps ? 64 : 96);
      EXPECT_EQ(picture->info().height, swaps ? 96 : 64);
      expectQuadrants(
          platform::renderPicture(*picture, picture->info().width / 2, picture->info().height / 2),
          expected, name == std::string("HEIC") ? 16 : 2);
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

// libheif hands 8-bit pictures over as planes (a grey one as one plane) and deeper ones
// interleaved; colours stored multiplied by alpha are taken back out. Drawn box-averaged (a
// quarter of the size) and not.
TEST_F(Formats, HeifGreyDeepAndPremultipliedPicturesKeepTheirColours) {
  const SampleImage rgb = tools::quadrants(128, 96, kColours);
  Quad greys{};
  for (size_t q = 0; q < 4; ++q) greys[q] = {kColours[q][1], kColours[q][1], kColours[q][1]};
  // The right half at alpha 128, the left half clear.
  SampleImage halfClear = tools::quadrants(128, 96, kColours, 128);
  SampleImage greyHalfClear(128, 96, 2, 8);
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 128; ++x) {
      if (x < 64) halfClear.set(x, y, 3, 0);
      greyHalfClear.set(x, y, 0, 90);
      greyHalfClear.set(x, y, 1, x < 64 ? 0 : 128);
    }
  }
  for (const bool avif : {false, true}) {
    for (const int scale : {4, 1}) {
      SCOPED_TRACE(std::string(avif ? "AVIF" : "HEIC") + " at 1/" + std::to_string(scale));
      const auto drawn = [&](const SampleImage& image, bool premultiplied = false) {
        return draw(tools::encodeHeif(image, {.avif = avif, .premultiplied = premultiplied}),
                    128 / scale, 96 / scale);
      };
      expectQuadrants(drawn(grey(rgb)), greys, 12);
      std::map<std::string, RgbaImage> halves = {{"RGBA", drawn(halfClear)},
                                                 {"RGBA premultiplied", drawn(halfClear, true)},
                                                 {"grey and alpha", drawn(greyHalfClear)}};
      // 10 bits: HEIC only, as libaom stops on a 10-bit picture from libheif's encoder.
      if (!avif) {
        expectQuadrants(drawn(sixteenBit(rgb)), kColours, 16);
        halves.emplace("RGBA 10-bit", drawn(sixteenBit(halfClear)));
      }
      for (const auto& [name, image] : halves) {
        SCOPED_TRACE(name);
        for (const double fy : {0.25, 0.75}) {
          EXPECT_LE(pixelAt(image, 0.2, fy)[3], 8);
          const std::array<int, 4> right = pixelAt(image, 0.8, fy);
          EXPECT_NEAR(right[3], 128, 8);
          const Rgb colour =
              name == "grey and alpha" ? Rgb{90, 90, 90} : kColours[fy < 0.5 ? 1 : 3];
          for (int c = 0; c < 3; ++c) EXPECT_NEAR(right[c], colour[c], 16) << c;
        }
      }
    }
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
      {"TIFF", tools::encodeTiff(image)},
      {"TIFF deflate", tools::encodeTiff(image, {.compression = 8})},
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

// Uncompressed strips are read where they stand in the file: one that the file does not hold
// whole, as its tags say, is an error, not a read past the file's end.
TEST_F(Formats, UncompressedStripsOutsideTheFileAreInvalidPictures) {
  const std::vector<std::uint8_t> tiff = tools::encodeTiff(tools::quadrants(64, 48, kColours));
  ASSERT_EQ(tiff[0], 'I');  // little-endian, as written on this machine
  const auto u32 = [&](size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, &tiff[at], 4);
    return value;
  };
  // Where the last strip's offset (tag 273) and byte count (279) are kept, and their widths
  // (SHORT or LONG).
  std::map<int, std::pair<size_t, size_t>> lastOf;
  for (const std::uint16_t tag : {273, 279}) {
    const size_t entry = tiffEntry(tiff, tag);
    ASSERT_NE(entry, 0u) << tag;
    const size_t width = tiff[entry + 2] == 3 ? 2 : 4;
    const std::uint32_t count = u32(entry + 4);
    const size_t values = count * width <= 4 ? entry + 8 : u32(entry + 8);
    lastOf[tag] = {values + width * (count - 1), width};
  }
  ASSERT_EQ(errorOf(tiff), 0);
  const auto withLast = [&](int tag, std::uint32_t value) {
    std::vector<std::uint8_t> changed = tiff;
    std::memcpy(&changed[lastOf[tag].first], &value, lastOf[tag].second);  // little-endian
    return changed;
  };
  EXPECT_EQ(errorOf(withLast(273, static_cast<std::uint32_t>(tiff.size() - 10))), 481);
  EXPECT_EQ(errorOf(withLast(279, 10)), 481);
}

// Tiles may be larger than a small picture, but one far larger than the whole picture is refused
// before its buffer is made: not hundreds of megabytes for a file of a few kilobytes.
TEST_F(Formats, TilesFarLargerThanThePictureAreInvalidPictures) {
  std::vector<std::uint8_t> tiff =
      tools::encodeTiff(tools::quadrants(64, 48, kColours), {.tiled = true});
  ASSERT_EQ(tiff[0], 'I');  // little-endian, as written on this machine
  ASSERT_EQ(errorOf(tiff), 0);
  setTiffTag(tiff, 322, 8192);  // tiles of 8192 x 8192 pixels, 192 MB each
  setTiffTag(tiff, 323, 8192);
  std::string description;
  EXPECT_EQ(errorOf(tiff, &description), 481);
  EXPECT_NE(description.find("tiles larger than the picture"), std::string::npos) << description;
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
  setTiffTag(tiff, 256, 20000);
  setTiffTag(tiff, 257, 20000);

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

}  // namespace
