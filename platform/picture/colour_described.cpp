#include "platform/picture/colour_described.h"

#include <lcms2.h>

#include <algorithm>
#include <memory>

#include "platform/picture/colour_lcms.h"

namespace platform {
namespace {

// Where an ICC header holds its creation time, and the header's size.
constexpr std::size_t kIccCreatedAt = 24;
constexpr std::size_t kIccCreatedBytes = 12;
constexpr std::size_t kIccHeaderBytes = 128;

struct ToneCurveFree {
  void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};
using ToneCurve = std::unique_ptr<cmsToneCurve, ToneCurveFree>;

ToneCurve toneCurveOf(TransferCurve curve) {
  // Little CMS's type 4: (a x + b) ^ g from d up, c x below.
  static constexpr cmsFloat64Number kSrgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92,
                                                     0.04045};
  static constexpr cmsFloat64Number kBt709Curve[5] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5,
                                                      0.081};
  switch (curve.kind) {
    case TransferCurve::kSrgb:
      return ToneCurve(cmsBuildParametricToneCurve(lcmsContext(), 4, kSrgbCurve));
    case TransferCurve::kBt709:
      return ToneCurve(cmsBuildParametricToneCurve(lcmsContext(), 4, kBt709Curve));
    case TransferCurve::kPower:
      if (!(curve.exponent >= kMinExponent && curve.exponent <= kMaxExponent)) return nullptr;
      return ToneCurve(cmsBuildGamma(lcmsContext(), curve.exponent));
  }
  return nullptr;
}

bool isChromaticity(double x, double y) { return x >= 0 && x <= 1 && y > 0 && y <= 1; }

}  // namespace

Profile describedSpace(const Chromaticities& space, TransferCurve curve, ColourPixels input) {
  if (!isChromaticity(space.whiteX, space.whiteY) || !isChromaticity(space.redX, space.redY) ||
      !isChromaticity(space.greenX, space.greenY) || !isChromaticity(space.blueX, space.blueY)) {
    return nullptr;
  }
  const ToneCurve tone = toneCurveOf(curve);
  if (!tone) return nullptr;
  const cmsCIExyY white = {space.whiteX, space.whiteY, 1.0};
  const cmsCIExyYTRIPLE primaries = {{space.redX, space.redY, 1.0},
                                     {space.greenX, space.greenY, 1.0},
                                     {space.blueX, space.blueY, 1.0}};
  cmsToneCurve* curves[3] = {tone.get(), tone.get(), tone.get()};
  // Little CMS builds no RGB profile from primaries on one line (a matrix it cannot invert).
  switch (input) {
    case ColourPixels::kGrey:
      return Profile(cmsCreateGrayProfileTHR(lcmsContext(), &white, tone.get()));
    case ColourPixels::kRgb:
      return Profile(cmsCreateRGBProfileTHR(lcmsContext(), &white, &primaries, curves));
    default:
      return nullptr;
  }
}

std::vector<std::uint8_t> describedProfile(const Chromaticities& space, TransferCurve curve,
                                           ColourPixels input) {
  const Profile profile = describedSpace(space, curve, input);
  cmsUInt32Number size = 0;
  if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size)) return {};
  std::vector<std::uint8_t> bytes(size);
  if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size) || size < kIccHeaderBytes) return {};
  // The header's creation time cleared: one description, one kept conversion.
  std::fill_n(bytes.begin() + kIccCreatedAt, kIccCreatedBytes, 0);
  return bytes;
}

}  // namespace platform
