#include "platform/picture/colour.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/picture/colour_lcms.h"

namespace platform {
namespace {

// The photos of a few cameras and phones in one folder; more only costs a rebuilt conversion. The
// profiles kept as keys take at most kKeptProfileBytes (a printer's CMYK profile can take
// megabytes).
constexpr std::size_t kKeptConversions = 16;
constexpr std::size_t kKeptProfileBytes = std::size_t{8} << 20;

// How far a profile may stray from sRGB and still be taken for it: below what 8-bit output shows
// (the curve compared in sRGB's encoded values, half a level).
constexpr double kSameColorant = 0.002;
constexpr double kSameEncoded = 0.5 / 255;
constexpr int kCurveSamples = 64;

// An RGB profile's colorant and curve tags, red, green and blue.
constexpr cmsTagSignature kColorantTags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                              cmsSigBlueColorantTag};
constexpr cmsTagSignature kCurveTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};

// Little CMS's messages about profiles it rejects are of no use to a person: the picture is simply
// drawn untagged.
void ignoreLcmsMessage(cmsContext, cmsUInt32Number, const char*) {}

cmsUInt32Number inputFormat(ColourPixels input) {
  switch (input) {
    case ColourPixels::kGrey:
      return TYPE_GRAY_8;
    case ColourPixels::kRgb:
      return TYPE_RGB_8;
    case ColourPixels::kCmyk:
      return TYPE_CMYK_8;
    case ColourPixels::kCmykInverted:
      return TYPE_CMYK_8_REV;
  }
  return TYPE_RGB_8;
}

cmsColorSpaceSignature colourSpaceOf(ColourPixels input) {
  switch (input) {
    case ColourPixels::kGrey:
      return cmsSigGrayData;
    case ColourPixels::kRgb:
      return cmsSigRgbData;
    case ColourPixels::kCmyk:
    case ColourPixels::kCmykInverted:
      return cmsSigCmykData;
  }
  return cmsSigRgbData;
}

// Device links, abstract and named-colour profiles describe no picture's colours.
bool describesPixels(cmsHPROFILE profile) {
  const cmsProfileClassSignature deviceClass = cmsGetDeviceClass(profile);
  return deviceClass == cmsSigInputClass || deviceClass == cmsSigDisplayClass ||
         deviceClass == cmsSigOutputClass || deviceClass == cmsSigColorSpaceClass;
}

// sRGB's encoding of linear light (0 to 1).
double srgbEncoded(double light) {
  return light <= 0.0031308 ? 12.92 * light : 1.055 * std::pow(light, 1 / 2.4) - 0.055;
}

// Little CMS draws a profile's pixels from its curves and matrix only when it has no table for the
// relative intent: it looks for D2B1, then A2B1, then A2B0.
bool isCurvesAndMatrixOnly(cmsHPROFILE profile) {
  return cmsGetColorSpace(profile) == cmsSigRgbData && cmsIsMatrixShaper(profile) &&
         !cmsIsTag(profile, cmsSigDToB1Tag) && !cmsIsTag(profile, cmsSigAToB1Tag) &&
         !cmsIsTag(profile, cmsSigAToB0Tag);
}

// sRGB's primaries as Little CMS writes them (adapted to D50).
const std::array<cmsCIEXYZ, 3>& srgbColorants() {
  static const std::array<cmsCIEXYZ, 3> colorants = [] {
    const Profile srgb(cmsCreate_sRGBProfileTHR(lcmsContext()));
    std::array<cmsCIEXYZ, 3> read{};
    for (int c = 0; c < 3; ++c)
      read[c] = *static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb.get(), kColorantTags[c]));
    return read;
  }();
  return colorants;
}

// A curves-and-matrix profile's colorants (XYZ, D50) and curves, red, green and blue, as Little
// CMS reads them. The curves live as long as the profile is open.
struct CurvesAndMatrix {
  std::array<cmsCIEXYZ, 3> colorants;
  std::array<const cmsToneCurve*, 3> curves;
};

// None for a profile that is more than curves and a matrix, or lacks one of them.
std::optional<CurvesAndMatrix> curvesAndMatrixOf(cmsHPROFILE profile) {
  if (!isCurvesAndMatrixOnly(profile)) return std::nullopt;
  CurvesAndMatrix read{};
  for (int c = 0; c < 3; ++c) {
    const auto* colorant = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, kColorantTags[c]));
    read.curves[c] = static_cast<const cmsToneCurve*>(cmsReadTag(profile, kCurveTags[c]));
    if (colorant == nullptr || read.curves[c] == nullptr) return std::nullopt;
    read.colorants[c] = *colorant;
  }
  return read;
}

// True for a curves-and-matrix profile whose primaries and curves are sRGB's, under whatever name:
// converting through it would change nothing but rounding.
bool isSrgb(const CurvesAndMatrix& profile) {
  const std::array<cmsCIEXYZ, 3>& srgb = srgbColorants();
  for (int c = 0; c < 3; ++c) {
    const cmsCIEXYZ& colorant = profile.colorants[c];
    if (std::abs(colorant.X - srgb[c].X) > kSameColorant ||
        std::abs(colorant.Y - srgb[c].Y) > kSameColorant ||
        std::abs(colorant.Z - srgb[c].Z) > kSameColorant) {
      return false;
    }
    for (int i = 0; i <= kCurveSamples; ++i) {
      const double value = static_cast<double>(i) / kCurveSamples;
      const double mapped =
          cmsEvalToneCurveFloat(profile.curves[c], static_cast<cmsFloat32Number>(value));
      if (!std::isfinite(mapped) ||
          std::abs(srgbEncoded(std::clamp(mapped, 0.0, 1.0)) - value) > kSameEncoded) {
        return false;
      }
    }
  }
  return true;
}

// A 3 x 3 matrix, rows first.
using Matrix = std::array<double, 9>;

Matrix columnsOf(const std::array<cmsCIEXYZ, 3>& colorants) {
  return {colorants[0].X, colorants[1].X, colorants[2].X, colorants[0].Y, colorants[1].Y,
          colorants[2].Y, colorants[0].Z, colorants[1].Z, colorants[2].Z};
}

Matrix times(const Matrix& a, const Matrix& b) {
  Matrix product{};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      for (int k = 0; k < 3; ++k) product[row * 3 + column] += a[row * 3 + k] * b[k * 3 + column];
    }
  }
  return product;
}

Matrix inverse(const Matrix& m) {
  const double cofactors[9] = {
      m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
      m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
      m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
  const double determinant = m[0] * cofactors[0] + m[1] * cofactors[3] + m[2] * cofactors[6];
  Matrix result{};
  for (int i = 0; i < 9; ++i) result[i] = cofactors[i] / determinant;
  return result;
}

}  // namespace

cmsContext lcmsContext() {
  static const cmsContext context = [] {
    const cmsContext created = cmsCreateContext(nullptr, nullptr);
    cmsSetLogErrorHandlerTHR(created, ignoreLcmsMessage);
    return created;
  }();
  return context;
}

struct ColourConversion::MatrixShaper {
  // Linear light of each 8-bit input value, per channel.
  std::array<std::array<float, 256>, 3> linear;
  // The profile's linear RGB to sRGB's, through XYZ (D50): the profile's colorants, then the
  // inverse of sRGB's.
  std::array<float, 9> matrix;
  // sRGB's encoding of linear light in kEncodedSteps steps from 0 to 1, rounded to 8 bits.
  static constexpr int kEncodedSteps = 16383;
  using Encoding = std::array<std::uint8_t, kEncodedSteps + 1>;
  const Encoding& encoded = srgbEncoding();

  static const Encoding& srgbEncoding() {
    static const Encoding table = [] {
      Encoding built{};
      for (int step = 0; step <= kEncodedSteps; ++step) {
        const double light = static_cast<double>(step) / kEncodedSteps;
        built[step] = static_cast<std::uint8_t>(std::lround(srgbEncoded(light) * 255));
      }
      return built;
    }();
    return table;
  }

  void convert(const std::uint8_t* in, std::uint8_t* out, int count) const {
    const auto encode = [this](float value) {
      const float clamped = std::clamp(value, 0.0f, 1.0f);
      // Never negative, so adding a half and truncating rounds to the nearest step.
      const float halfAbove = clamped * kEncodedSteps + 0.5f;
      return encoded[static_cast<int>(halfAbove)];
    };
    for (int i = 0; i < count; ++i, in += 3, out += 3) {
      const float r = linear[0][in[0]];
      const float g = linear[1][in[1]];
      const float b = linear[2][in[2]];
      out[0] = encode(matrix[0] * r + matrix[1] * g + matrix[2] * b);
      out[1] = encode(matrix[3] * r + matrix[4] * g + matrix[5] * b);
      out[2] = encode(matrix[6] * r + matrix[7] * g + matrix[8] * b);
    }
  }
};

namespace {

// The float conversion of a curves-and-matrix profile; none when its curves do not start at black
// (black point compensation would then move every colour) or its matrix is degenerate.
std::unique_ptr<const ColourConversion::MatrixShaper> matrixShaperOf(
    const CurvesAndMatrix& profile) {
  auto shaper = std::make_unique<ColourConversion::MatrixShaper>();
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) {
      const float value =
          cmsEvalToneCurveFloat(profile.curves[c], static_cast<cmsFloat32Number>(v / 255.0));
      if (!std::isfinite(value)) return nullptr;
      shaper->linear[c][v] = std::clamp(value, 0.0f, 1.0f);
    }
    // A black above zero: black point compensation would move every colour.
    if (shaper->linear[c][0] != 0.0f) return nullptr;
  }
  const Matrix toSrgb = times(inverse(columnsOf(srgbColorants())), columnsOf(profile.colorants));
  for (int i = 0; i < 9; ++i) {
    if (!std::isfinite(toSrgb[i])) return nullptr;
    shaper->matrix[i] = static_cast<float>(toSrgb[i]);
  }
  return shaper;
}

std::shared_ptr<const ColourConversion> conversionFrom(cmsHPROFILE profile, ColourPixels input) {
  if (cmsGetColorSpace(profile) != colourSpaceOf(input) || !describesPixels(profile)) {
    return nullptr;
  }
  if (const std::optional<CurvesAndMatrix> shape = curvesAndMatrixOf(profile)) {
    if (isSrgb(*shape)) return nullptr;
    if (auto shaper = matrixShaperOf(*shape)) {
      return std::make_shared<const ColourConversion>(std::move(shaper));
    }
  }
  const Profile srgb(cmsCreate_sRGBProfileTHR(lcmsContext()));
  if (!srgb) return nullptr;
  // No cache of the last pixel: the transform is shared between threads.
  const cmsHTRANSFORM transform = cmsCreateTransformTHR(
      lcmsContext(), profile, inputFormat(input), srgb.get(), TYPE_RGB_8,
      INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE);
  if (transform == nullptr) return nullptr;
  try {
    return std::make_shared<const ColourConversion>(transform, input);
  } catch (...) {
    cmsDeleteTransform(transform);
    throw;
  }
}

struct KeptConversion {
  ColourPixels input;
  std::vector<std::uint8_t> profile;
  std::shared_ptr<const ColourConversion> conversion;  // null: the profile is of no use
};

}  // namespace

ColourConversion::ColourConversion(void* transform, ColourPixels input)
    : transform_(transform), input_(input) {}

ColourConversion::ColourConversion(std::unique_ptr<const MatrixShaper> shaper)
    : shaper_(std::move(shaper)), input_(ColourPixels::kRgb) {}

ColourConversion::~ColourConversion() {
  if (transform_ != nullptr) cmsDeleteTransform(transform_);
}

void ColourConversion::convert(const std::uint8_t* in, std::uint8_t* out, int count) const {
  if (count <= 0) return;
  if (shaper_) {
    shaper_->convert(in, out, count);
  } else {
    cmsDoTransform(transform_, in, out, static_cast<cmsUInt32Number>(count));
  }
}

std::shared_ptr<const ColourConversion> colourConversion(std::span<const std::uint8_t> profile,
                                                         ColourPixels input) {
  if (profile.empty() || profile.size() > kMaxProfileBytes) return nullptr;
  static std::mutex mutex;
  static std::list<KeptConversion> kept;  // the most recently used first
  // The kept conversion of the profile, moved to the front; none when it is not kept.
  const auto lookUp = [&]() -> const KeptConversion* {
    const auto found = std::find_if(kept.begin(), kept.end(), [&](const KeptConversion& entry) {
      return entry.input == input &&
             std::equal(entry.profile.begin(), entry.profile.end(), profile.begin(), profile.end());
    });
    if (found == kept.end()) return nullptr;
    kept.splice(kept.begin(), kept, found);
    return &kept.front();
  };
  {
    const std::lock_guard<std::mutex> lock(mutex);
    if (const KeptConversion* found = lookUp()) return found->conversion;
  }
  // Built without the lock: a large CMYK profile's table takes a while, and other pictures'
  // conversions need not wait for it. Two threads may build the same one at once; one is kept.
  std::shared_ptr<const ColourConversion> conversion;
  if (const Profile opened(cmsOpenProfileFromMemTHR(lcmsContext(), profile.data(),
                                                    static_cast<cmsUInt32Number>(profile.size())));
      opened) {
    conversion = conversionFrom(opened.get(), input);
  }
  const std::lock_guard<std::mutex> lock(mutex);
  if (const KeptConversion* found = lookUp()) return found->conversion;
  kept.push_front({input, {profile.begin(), profile.end()}, conversion});
  std::size_t bytes = 0;
  for (const KeptConversion& entry : kept) bytes += entry.profile.size();
  while (kept.size() > kKeptConversions || (kept.size() > 1 && bytes > kKeptProfileBytes)) {
    bytes -= kept.back().profile.size();
    kept.pop_back();
  }
  return conversion;
}

std::shared_ptr<const ColourConversion> adobeRgbConversion(ColourPixels input) {
  if (input != ColourPixels::kRgb) return nullptr;
  static const std::shared_ptr<const ColourConversion> conversion = [] {
    // D65 white, the 1998 primaries, and a pure power curve of 563/256.
    constexpr Chromaticities kAdobeRgb = {0.3127, 0.3290, 0.6400, 0.3300,
                                          0.2100, 0.7100, 0.1500, 0.0600};
    const Profile adobe =
        describedSpace(kAdobeRgb, {TransferCurve::kPower, 563.0 / 256.0}, ColourPixels::kRgb);
    return adobe ? conversionFrom(adobe.get(), ColourPixels::kRgb) : nullptr;
  }();
  return conversion;
}

}  // namespace platform
