// Colour profiles: pictures drawn in sRGB whatever profile their pixels were stored in, and
// drawn exactly as untagged when the profile is sRGB, unusable or absent.
#include <gtest/gtest.h>

#include <string>

#include "platform/picture/colour.h"
#include "platform/picture/exif.h"
#include "platform/picture/picture.h"
#include "tests/support/icc_profiles.h"
#include "tests/support/images.h"
#include "tests/support/picture_writers.h"
#include "tools/gif_writer.h"

namespace platform {
namespace {

using testsupport::IccInput;
using testsupport::IccProfile;
using testsupport::Rgb;
using testsupport::withIccProfile;

constexpr int kSide = 32;

RgbaImage draw(const std::vector<std::uint8_t>& bytes) {
  return renderPicture(*loadPictureFromBytes(bytes), kSide / 2, kSide / 2);
}

Rgb centre(const RgbaImage& image) {
  const std::uint8_t* p = testsupport::pixel(image, image.width / 2, image.height / 2);
  return {p[0], p[1], p[2]};
}

std::vector<std::uint8_t> flatJpeg(Rgb colour,
                                   testsupport::Sampling sampling = testsupport::Sampling::k444) {
  return testsupport::encodeJpeg(
      testsupport::makeImage(kSide, kSide, [colour](int, int) { return colour; }), {sampling, 95});
}

void expectNear(Rgb actual, Rgb expected, int tolerance, const std::string& what) {
  EXPECT_NEAR(actual.r, expected.r, tolerance) << what;
  EXPECT_NEAR(actual.g, expected.g, tolerance) << what;
  EXPECT_NEAR(actual.b, expected.b, tolerance) << what;
}

bool differsBy(Rgb a, Rgb b, int amount) {
  return std::abs(a.r - b.r) > amount || std::abs(a.g - b.g) > amount ||
         std::abs(a.b - b.b) > amount;
}

TEST(ColourProfile, WideGamutRgbIsDrawnAsLittleCmsConvertsIt) {
  const struct {
    const char* name;
    IccProfile profile;
  } profiles[] = {{"Adobe RGB", testsupport::adobeRgbProfile()},
                  {"ProPhoto RGB", testsupport::proPhotoProfile()}};
  for (const auto& [name, profile] : profiles) {
    for (const Rgb colour : {Rgb{255, 0, 0}, Rgb{180, 120, 60}, Rgb{40, 160, 200}}) {
      const std::vector<std::uint8_t> jpeg = flatJpeg(colour);
      // What the file's pixels decode to, then through the profile as Little CMS does it.
      const Rgb stored = centre(draw(jpeg));
      const Rgb expected =
          testsupport::throughProfile(profile, IccInput::kRgb, {stored.r, stored.g, stored.b});
      const Rgb drawn = centre(draw(withIccProfile(jpeg, profile)));
      const std::string what = std::string(name) + " " + std::to_string(colour.r) + "," +
                               std::to_string(colour.g) + "," + std::to_string(colour.b);
      expectNear(drawn, expected, 1, what);
      if (differsBy(expected, stored, 6)) {
        EXPECT_TRUE(differsBy(drawn, stored, 3)) << what << " drawn as if untagged";
      }
    }
  }
}

TEST(ColourProfile, ProgressiveAndSubsampledPicturesAreConvertedToo) {
  const IccProfile profile = testsupport::proPhotoProfile();
  const Rgb colour{150, 90, 70};
  for (const bool progressive : {false, true}) {
    const std::vector<std::uint8_t> jpeg = testsupport::encodeJpeg(
        testsupport::makeImage(400, 300, [colour](int, int) { return colour; }),
        {testsupport::Sampling::k420, 95, progressive});
    const auto untagged = loadPictureFromBytes(jpeg);
    const Rgb stored = centre(renderPicture(*untagged, 40, 30));
    const Rgb drawn =
        centre(renderPicture(*loadPictureFromBytes(withIccProfile(jpeg, profile)), 40, 30));
    expectNear(drawn,
               testsupport::throughProfile(profile, IccInput::kRgb, {stored.r, stored.g, stored.b}),
               1, progressive ? "progressive" : "baseline");
  }
}

TEST(ColourProfile, AProfileSplitOverMarkersIsReadWhole) {
  const IccProfile profile = testsupport::adobeRgbProfile();
  const std::vector<std::uint8_t> jpeg = flatJpeg({180, 120, 60});
  const RgbaImage whole = draw(withIccProfile(jpeg, profile, 1));
  EXPECT_EQ(draw(withIccProfile(jpeg, profile, 2)).pixels, whole.pixels);
  EXPECT_EQ(draw(withIccProfile(jpeg, profile, 5)).pixels, whole.pixels);
  // Markers in any order are put back in sequence.
  EXPECT_EQ(draw(withIccProfile(jpeg, profile, 3, {3, 1, 2})).pixels, whole.pixels);
}

TEST(ColourProfile, UnusableProfilesAreIgnored) {
  const std::vector<std::uint8_t> jpeg = flatJpeg({180, 120, 60});
  const RgbaImage untagged = draw(jpeg);
  const IccProfile adobe = testsupport::adobeRgbProfile();
  IccProfile garbage(600);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 37);
  IccProfile wrongSize = adobe;
  wrongSize[3] = 0x10;  // the header says the profile is shorter than it is
  IccProfile oversized = adobe;
  oversized.resize(kMaxProfileBytes + 1);
  const struct {
    const char* what;
    std::vector<std::uint8_t> file;
  } cases[] = {
      {"cut short", withIccProfile(jpeg, IccProfile(adobe.begin(), adobe.begin() + 200))},
      {"garbage", withIccProfile(jpeg, garbage)},
      {"length field too short", withIccProfile(jpeg, wrongSize)},
      {"over the size limit", withIccProfile(jpeg, oversized, 70)},
      {"a grey profile on RGB pixels", withIccProfile(jpeg, testsupport::linearGreyProfile())},
      {"a CMYK profile on RGB pixels", withIccProfile(jpeg, testsupport::cmykProfile())},
      {"an abstract profile", withIccProfile(jpeg, testsupport::abstractProfile())},
      {"a marker missing", withIccProfile(jpeg, adobe, 3, {1, 3})},
      {"a marker twice", withIccProfile(jpeg, adobe, 2, {1, 2, 2})},
      {"sRGB itself", withIccProfile(jpeg, testsupport::srgbProfile())},
  };
  for (const auto& [what, file] : cases) {
    const auto picture = loadPictureFromBytes(file);
    EXPECT_EQ(renderPicture(*picture, kSide / 2, kSide / 2).pixels, untagged.pixels) << what;
  }
}

TEST(ColourProfile, GreyPicturesTakeAGreyProfile) {
  const std::vector<std::uint8_t> jpeg = flatJpeg({100, 100, 100}, testsupport::Sampling::kGrey);
  const Rgb stored = centre(draw(jpeg));
  const IccProfile linear = testsupport::linearGreyProfile();
  const Rgb drawn = centre(draw(withIccProfile(jpeg, linear)));
  const Rgb expected = testsupport::throughProfile(linear, IccInput::kGrey, {stored.r});
  expectNear(drawn, expected, 1, "linear grey");
  EXPECT_GT(drawn.r, stored.r + 30) << "a linear grey of 100 is a light sRGB grey";
  // An RGB profile says nothing about grey pixels.
  EXPECT_EQ(draw(withIccProfile(jpeg, testsupport::adobeRgbProfile())).pixels, draw(jpeg).pixels);
}

TEST(ColourProfile, CmykPicturesGoThroughTheirProfileInvertedOrNot) {
  const IccProfile profile = testsupport::cmykProfile();
  const Rgb colour{200, 120, 80};
  const auto image = testsupport::makeImage(kSide, kSide, [colour](int, int) { return colour; });
  // encodeCmykJpeg's ink amounts for the colour.
  const int k = 255 - 200;
  const std::vector<std::uint8_t> ink = {0, static_cast<std::uint8_t>((255 - 120 - k) * 255 / 200),
                                         static_cast<std::uint8_t>((255 - 80 - k) * 255 / 200),
                                         static_cast<std::uint8_t>(k)};
  const Rgb expected = testsupport::throughProfile(profile, IccInput::kCmyk, ink);
  for (const bool adobe : {false, true}) {
    for (const bool ycck : {false, true}) {
      if (ycck && !adobe) continue;  // only the Adobe marker says a file is YCCK
      const std::vector<std::uint8_t> jpeg = testsupport::encodeCmykJpeg(image, adobe, ycck);
      const std::string what = std::string(adobe ? "Adobe " : "") + (ycck ? "YCCK" : "CMYK");
      // JPEG moves each ink by a step or two; the profile's CLUT can amplify that a little.
      expectNear(centre(draw(withIccProfile(jpeg, profile))), expected, 6, what);
      // Without a profile, the plain conversion, which the profile's warmer red tells apart.
      EXPECT_TRUE(differsBy(centre(draw(jpeg)), expected, 6)) << what;
    }
  }
}

TEST(ColourProfile, ExifSaysAdobeRgbOnlyWithUncalibratedAndR03) {
  EXPECT_TRUE(exifSaysAdobeRgb(testsupport::exifWithColourSpace(0xFFFF, "R03")));
  EXPECT_FALSE(exifSaysAdobeRgb(testsupport::exifWithColourSpace(1, "R03")));
  EXPECT_FALSE(exifSaysAdobeRgb(testsupport::exifWithColourSpace(0xFFFF, "R98")));
  const std::vector<std::uint8_t> good = testsupport::exifWithColourSpace(0xFFFF, "R03");
  for (size_t cut = 0; cut + 4 < good.size(); ++cut) {  // the last 4: the next IFD's offset
    EXPECT_FALSE(exifSaysAdobeRgb(std::span(good).first(cut))) << cut;
  }

  const Rgb colour{180, 120, 60};
  const auto image = testsupport::makeImage(kSide, kSide, [colour](int, int) { return colour; });
  testsupport::JpegOptions options(testsupport::Sampling::k444, 95);
  options.app1 = good;
  const std::vector<std::uint8_t> exifAdobe = testsupport::encodeJpeg(image, options);
  const RgbaImage viaProfile =
      draw(withIccProfile(flatJpeg(colour), testsupport::adobeRgbProfile()));
  expectNear(centre(draw(exifAdobe)), centre(viaProfile), 1, "EXIF Adobe RGB");
  // An embedded profile says more than the EXIF convention.
  expectNear(centre(draw(withIccProfile(exifAdobe, testsupport::proPhotoProfile()))),
             centre(draw(withIccProfile(flatJpeg(colour), testsupport::proPhotoProfile()))), 1,
             "profile over EXIF");
  options.app1 = testsupport::exifWithColourSpace(1, "R98");
  EXPECT_EQ(draw(testsupport::encodeJpeg(image, options)).pixels, draw(flatJpeg(colour)).pixels);
}

TEST(ColourProfile, GifPalettesAreConverted) {
  const Rgb colour{180, 120, 60};
  tools::IndexedGif spec{kSide, kSide, testsupport::paletteOf({{0, 0, 0}, colour}), {}};
  tools::IndexedFrame frame{0, 0, kSide, kSide, std::vector<std::uint8_t>(kSide * kSide, 1)};
  spec.frames.push_back(frame);
  const std::vector<std::uint8_t> gif = tools::encodeIndexedGif(spec);
  const IccProfile profile = testsupport::proPhotoProfile();
  const Rgb expected =
      testsupport::throughProfile(profile, IccInput::kRgb, {colour.r, colour.g, colour.b});
  expectNear(centre(draw(testsupport::gifWithIccProfile(gif, profile))), expected, 0, "GIF");
  EXPECT_EQ(draw(testsupport::gifWithIccProfile(gif, testsupport::linearGreyProfile())).pixels,
            draw(gif).pixels);

  // The same palette as the frame's own (local) one, with no global palette.
  const size_t paletteEnd = 13 + (size_t{3} << ((gif[10] & 7) + 1));
  ASSERT_EQ(gif[paletteEnd], 0x2C);  // the frame's descriptor right after the palette
  std::vector<std::uint8_t> local(gif.begin(), gif.begin() + 13);
  local[10] = static_cast<std::uint8_t>(gif[10] & 0x70);  // no global palette
  local.insert(local.end(), gif.begin() + static_cast<std::ptrdiff_t>(paletteEnd),
               gif.begin() + static_cast<std::ptrdiff_t>(paletteEnd + 9));
  local.push_back(static_cast<std::uint8_t>(0x80 | (gif[10] & 7)));  // a local palette
  local.insert(local.end(), gif.begin() + 13,
               gif.begin() + static_cast<std::ptrdiff_t>(paletteEnd));
  local.insert(local.end(), gif.begin() + static_cast<std::ptrdiff_t>(paletteEnd + 10), gif.end());
  expectNear(centre(draw(local)), colour, 0, "GIF with a local palette, untagged");
  expectNear(centre(draw(testsupport::gifWithIccProfile(local, profile))), expected, 0,
             "GIF with a local palette");
}

// Curves-and-matrix profiles are converted by a float matrix-shaper of its own, the rest by Little
// CMS's transform: either way, the colours Little CMS's transform gives, over the whole cube.
TEST(ColourProfile, MatrixShaperConversionsAgreeWithLittleCms) {
  std::vector<std::uint8_t> cube;
  for (int r = 0; r <= 255; r += 15) {
    for (int g = 0; g <= 255; g += 15) {
      for (int b = 0; b <= 255; b += 15)
        cube.insert(cube.end(), {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                 static_cast<std::uint8_t>(b)});
    }
  }
  const int count = static_cast<int>(cube.size() / 3);
  const struct {
    const char* name;
    IccProfile profile;
  } profiles[] = {{"Adobe RGB", testsupport::adobeRgbProfile()},
                  {"ProPhoto RGB", testsupport::proPhotoProfile()},
                  {"Display P3", testsupport::displayP3Profile()},
                  {"a tabulated curve", testsupport::tabulatedCurveProfile()},
                  {"a lifted black", testsupport::liftedBlackProfile()},
                  {"a matrix and a table", testsupport::matrixAndTableProfile()}};
  for (const auto& [name, profile] : profiles) {
    const auto conversion = colourConversion(profile, ColourPixels::kRgb);
    ASSERT_NE(conversion, nullptr) << name;
    std::vector<std::uint8_t> ours(cube.size());
    conversion->convert(cube.data(), ours.data(), count);
    const std::vector<std::uint8_t> theirs =
        testsupport::throughProfile(profile, IccInput::kRgb, cube, count);
    int worst = 0;
    for (size_t i = 0; i < ours.size(); ++i) worst = std::max(worst, std::abs(ours[i] - theirs[i]));
    EXPECT_LE(worst, 1) << name;
    // In place, as the decoder converts its rows.
    std::vector<std::uint8_t> inPlace = cube;
    conversion->convert(inPlace.data(), inPlace.data(), count);
    EXPECT_EQ(inPlace, ours) << name;
  }
}

TEST(ColourProfile, OneConversionServesEveryPictureWithTheSameProfile) {
  const IccProfile profile = testsupport::adobeRgbProfile();
  const auto first = colourConversion(profile, ColourPixels::kRgb);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(colourConversion(IccProfile(profile), ColourPixels::kRgb), first);
  EXPECT_EQ(colourConversion(profile, ColourPixels::kGrey), nullptr);
  EXPECT_EQ(colourConversion(testsupport::srgbProfile(), ColourPixels::kRgb), nullptr);
}

}  // namespace
}  // namespace platform
