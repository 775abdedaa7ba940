// PNG, WebP, TIFF, HEIC and AVIF: the decoders on pictures the tests write with the formats' own
// libraries (size, orientation, colours, alpha, 16 bits, pyramid levels and embedded thumbnails),
// and their errors on broken files.
#include "tests/batch/formats_support.h"

using namespace formatstest;  // NOLINT(google-build-using-namespace)

namespace {

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

// Each quadrant of `tagged` as Little CMS converts the same quadrant of `plain` through `profile`,
// its transparency kept.
void expectConvertedQuadrants(const RgbaImage& plain, const RgbaImage& tagged,
                              const testsupport::IccProfile& profile) {
  for (const auto& [fx, fy] : {std::pair{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}}) {
    const std::array<int, 4> p = pixelAt(plain, fx, fy);
    const testsupport::Rgb expected = testsupport::throughProfile(
        profile, testsupport::IccInput::kRgb,
        {static_cast<std::uint8_t>(p[0]), static_cast<std::uint8_t>(p[1]),
         static_cast<std::uint8_t>(p[2])});
    const std::array<int, 4> t = pixelAt(tagged, fx, fy);
    EXPECT_NEAR(t[0], expected.r, 2) << fx << "," << fy;
    EXPECT_NEAR(t[1], expected.g, 2) << fx << "," << fy;
    EXPECT_NEAR(t[2], expected.b, 2) << fx << "," << fy;
    EXPECT_EQ(t[3], p[3]) << fx << "," << fy;
  }
}

// Every kind's embedded profile: its colours come out as Little CMS converts the untagged
// drawing's, transparency kept.
TEST_F(Formats, EmbeddedProfilesAreConvertedToSrgb) {
  const testsupport::IccProfile profile = testsupport::proPhotoProfile();
  for (const Case& c : opaqueCases()) {
    if (std::string(c.name).find("CMYK") != std::string::npos) continue;  // RGB says nothing of ink
    SCOPED_TRACE(c.name);
    SampleImage image = tools::quadrants(96, 64, kColours);
    const RgbaImage plain = draw(c.write(image), 48, 32);
    image.icc = profile;
    expectConvertedQuadrants(plain, draw(c.write(image), 48, 32), profile);
  }
  SampleImage clear = leftHalfClear(kColours, 96, 64);
  const RgbaImage plain = draw(tools::encodePng(clear), 48, 32);
  clear.icc = profile;
  expectConvertedQuadrants(plain, draw(tools::encodePng(clear), 48, 32), profile);
  // A grey picture with a linear grey profile is lighter in sRGB; an RGB profile leaves it be.
  SampleImage flatGrey(32, 32, 1, 8);
  std::fill(flatGrey.data.begin(), flatGrey.data.end(), 100);
  flatGrey.icc = testsupport::linearGreyProfile();
  EXPECT_EQ(pixelAt(draw(tools::encodePng(flatGrey), 16, 16), 0.5, 0.5)[0],
            testsupport::throughProfile(flatGrey.icc, testsupport::IccInput::kGrey, {100}).r);
  flatGrey.icc = profile;
  EXPECT_EQ(pixelAt(draw(tools::encodePng(flatGrey), 16, 16), 0.5, 0.5)[0], 100);
}

// A flat picture of one value, grey or RGB, with the given PNG colour chunks.
SampleImage flatPicture(int channels, std::uint8_t value, std::uint32_t gamma,
                        const std::array<std::uint32_t, 8>& chromaticities = {}) {
  SampleImage image(32, 32, channels, 8);
  std::fill(image.data.begin(), image.data.end(), value);
  image.pngGamma = gamma;
  image.pngChromaticities = chromaticities;
  return image;
}

// Without an iCCP or sRGB chunk, gAMA and cHRM say a PNG's colours (cHRM alone: sRGB's curve;
// gAMA alone: sRGB's primaries). Values that describe no colour space leave it untagged.
TEST_F(Formats, PngGammaAndChromaticitiesSayItsColours) {
  constexpr std::uint32_t kLinear = 100000;
  constexpr std::array<std::uint32_t, 8> kSrgb = {31270, 32900, 64000, 33000,
                                                  30000, 60000, 15000, 6000};
  // Stored linear, mid-grey is lighter in sRGB.
  const int lighter = testsupport::throughProfile(testsupport::linearGreyProfile(),
                                                  testsupport::IccInput::kGrey, {128})
                          .r;
  ASSERT_NEAR(lighter, 188, 1);
  SampleImage withSrgbChunk = flatPicture(3, 128, kLinear);
  withSrgbChunk.pngSrgb = true;
  SampleImage withProfile = flatPicture(3, 128, kLinear, kSrgb);
  withProfile.icc = testsupport::srgbProfile();
  const std::array<std::uint32_t, 8> onOneLine = {31270, 32900, 64000, 33000,
                                                  64000, 33000, 15000, 6000};
  const std::pair<const char*, std::pair<SampleImage, int>> cases[] = {
      {"grey, gAMA", {flatPicture(1, 128, kLinear), lighter}},
      {"RGB, gAMA", {flatPicture(3, 128, kLinear), lighter}},
      {"RGB, gAMA and sRGB's cHRM", {flatPicture(3, 128, kLinear, kSrgb), lighter}},
      {"an sRGB chunk", {withSrgbChunk, 128}},
      {"an iCCP chunk", {withProfile, 128}},
      {"a power of 200", {flatPicture(3, 128, 500), 128}},
      {"primaries on one line", {flatPicture(3, 128, kLinear, onOneLine), 128}},
  };
  for (const auto& [name, pictureAndGrey] : cases) {
    SCOPED_TRACE(name);
    const std::array<int, 4> drawn =
        pixelAt(draw(tools::encodePng(pictureAndGrey.first), 16, 16), 0.5, 0.5);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(drawn[c], pictureAndGrey.second) << c;
  }
  // gAMA 1/2.2, as sRGB pictures are written, is sRGB's curve: a dark grey stays as it is (a bare
  // power of 2.2 would make 20 into 12); 1/1.8 is a power, and makes it 26.
  for (const auto& [gamma, dark] : {std::pair{45455u, 20}, {45000u, 20}, {55556u, 26}}) {
    const std::array<int, 4> drawn =
        pixelAt(draw(tools::encodePng(flatPicture(3, 20, gamma, kSrgb)), 16, 16), 0.5, 0.5);
    EXPECT_NEAR(drawn[0], dark, 1) << gamma;
  }

  // Wide primaries: ProPhoto's (gamma 1.8), Display P3's (sRGB's curve, no gAMA).
  SampleImage image = tools::quadrants(64, 64, kColours);
  const RgbaImage plain = draw(tools::encodePng(image), 32, 32);
  image.pngGamma = 55556;
  image.pngChromaticities = {34570, 35850, 73470, 26530, 15960, 84040, 3660, 1};
  expectConvertedQuadrants(plain, draw(tools::encodePng(image), 32, 32),
                           testsupport::proPhotoProfile());
  image.pngGamma = 0;
  image.pngChromaticities = {31270, 32900, 68000, 32000, 26500, 69000, 15000, 6000};
  expectConvertedQuadrants(plain, draw(tools::encodePng(image), 32, 32),
                           testsupport::displayP3Profile());
}

// Without a profile, a HEIC's or AVIF's nclx box says its colours by primaries and transfer
// codes. sRGB's, unspecified ones and HDR curves (PQ, HLG) leave the drawing as it is.
TEST_F(Formats, HeifNclxBoxSaysItsColours) {
  const SampleImage image = tools::quadrants(64, 64, kColours);
  SampleImage grey(64, 64, 3, 8);
  std::fill(grey.data.begin(), grey.data.end(), 128);
  for (const bool avif : {false, true}) {
    SCOPED_TRACE(avif ? "AVIF" : "HEIC");
    const auto drawn = [avif](const SampleImage& picture, int primaries, int transfer) {
      return draw(
          tools::encodeHeif(picture,
                            {.avif = avif, .nclxPrimaries = primaries, .nclxTransfer = transfer}),
          32, 32);
    };
    const RgbaImage plain = draw(tools::encodeHeif(image, {.avif = avif}), 32, 32);
    expectConvertedQuadrants(plain, drawn(image, 12, 13), testsupport::displayP3Profile());
    for (const auto& [primaries, transfer] :
         {std::pair{1, 13}, {2, 2}, {1, 2}, {12, 16}, {9, 18}}) {
      EXPECT_TRUE(drawn(image, primaries, transfer).pixels == plain.pixels)
          << primaries << "/" << transfer;
    }
    // Mid-grey (any primaries) through BT.709's curve is 0.261 of white, 140 in sRGB; linear, 188;
    // a power of 2.8, 106.
    for (const auto& [transfer, expected] : {std::pair{1, 140}, {14, 140}, {8, 188}, {5, 106}}) {
      const std::array<int, 4> p = pixelAt(drawn(grey, 9, transfer), 0.5, 0.5);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c], expected, 2) << transfer << ", " << c;
    }
  }
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

}  // namespace
