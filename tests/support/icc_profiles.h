// Colour profiles for the tests, built with Little CMS from their definitions (no profile files
// needed), the colours Little CMS gives through them, and pictures that carry them: a JPEG's APP2
// markers (split as the test asks), EXIF's Adobe RGB convention, a GIF's ICC extension.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/images.h"
#include "tools/icc_embed.h"

namespace testsupport {

using IccProfile = std::vector<std::uint8_t>;

IccProfile srgbProfile();
IccProfile adobeRgbProfile();   // D65, the 1998 primaries, gamma 563/256
IccProfile proPhotoProfile();   // D50, the ROMM primaries, gamma 1.8
IccProfile displayP3Profile();  // D65, the P3 primaries, sRGB's curve (a parametric one)
// Adobe RGB's primaries with other curves: a 1024-entry table of gamma 2.2, or one whose black is
// lifted a little (0.2 % of white), as a measured display's can be.
IccProfile tabulatedCurveProfile();
IccProfile liftedBlackProfile();
// Adobe RGB's curves and matrix, and an A2B0 table that says ProPhoto's colours instead: colour
// managers draw from the table.
IccProfile matrixAndTableProfile();
IccProfile linearGreyProfile();  // a grey profile with gamma 1.0
// An output-class CMYK profile: plain ink amounts (0 = no ink) drawn as C = 255 - R and so on,
// then darkened by K, slightly warmer than plain subtraction so a test can tell them apart.
IccProfile cmykProfile();
// An abstract profile (Lab to Lab): it describes no picture's colours.
IccProfile abstractProfile();

// Kinds of pixel a profile describes.
enum class IccInput { kGrey, kRgb, kCmyk };

// The sRGB colour Little CMS gives for one pixel (1, 3 or 4 bytes) through the profile, relative
// colorimetric with black point compensation.
Rgb throughProfile(const IccProfile& profile, IccInput input,
                   const std::vector<std::uint8_t>& pixel);
// The same for `count` pixels, packed: 3 bytes a pixel out.
std::vector<std::uint8_t> throughProfile(const IccProfile& profile, IccInput input,
                                         const std::vector<std::uint8_t>& pixels, int count);

// The profile in a JPEG's APP2 markers (split as the test asks) or a GIF's ICC extension.
using tools::gifWithIccProfile;
using tools::withIccProfile;

// An APP1 payload whose EXIF IFD has the given ColorSpace and an interoperability IFD with the
// given index ("R03": Adobe RGB, "R98": sRGB).
std::vector<std::uint8_t> exifWithColourSpace(int colourSpace, const char* interopIndex);

}  // namespace testsupport
