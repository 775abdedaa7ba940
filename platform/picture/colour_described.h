// Colour spaces a file describes by numbers instead of an ICC profile (PNG's gAMA and cHRM, HEIF's
// nclx), turned into a profile that colourConversion() takes as if it were embedded.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/picture/colour.h"

namespace platform {

// A described colour space: the CIE xy chromaticities of its white and primaries, and the curve
// that decodes its values into light.
struct Chromaticities {
  double whiteX, whiteY, redX, redY, greenX, greenY, blueX, blueY;
};
constexpr Chromaticities kSrgbChromaticities = {0.3127, 0.3290, 0.64, 0.33,
                                                0.30,   0.60,   0.15, 0.06};  // BT.709's, D65

// The powers a described curve may have; others describe no usable space.
constexpr double kMinExponent = 0.1;
constexpr double kMaxExponent = 10;

struct TransferCurve {
  enum Kind { kSrgb, kBt709, kPower };  // kBt709: BT.709's and BT.2020's camera curve, inverted
  Kind kind = kSrgb;
  double exponent = 1;  // kPower: light = value ^ exponent
};

// An ICC profile of that space, for pixels of `input` (grey: its white and curve only, RGB), to
// hand to colourConversion() as if it were embedded. Empty when the numbers describe no usable
// space: a chromaticity outside 0 to 1 or on the axis, primaries on one line, or a power outside
// kMinExponent to kMaxExponent.
std::vector<std::uint8_t> describedProfile(const Chromaticities& space, TransferCurve curve,
                                           ColourPixels input);

}  // namespace platform
