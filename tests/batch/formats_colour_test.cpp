// Colours in the PNG, WebP, TIFF, HEIC and AVIF readers: embedded ICC profiles, a PNG's gAMA and
// cHRM chunks and a HEIF's nclx box, each converted to sRGB as Little CMS would.
#include "tests/batch/formats_support.h"

using namespace formatstest;  // NOLINT(google-build-using-namespace)

namespace {

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

}  // namespace
