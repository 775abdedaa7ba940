#include "tests/support/icc_profiles.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace testsupport {
namespace {

struct ProfileCloser {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

IccProfile saved(const Profile& profile) {
  if (!profile) throw std::runtime_error("Little CMS built no profile");
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile.get(), nullptr, &size);
  IccProfile bytes(size);
  if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) {
    throw std::runtime_error("Little CMS saved no profile");
  }
  return bytes;
}

constexpr cmsCIExyY kD65 = {0.3127, 0.3290, 1.0};
constexpr cmsCIExyYTRIPLE kAdobePrimaries = {
    {0.6400, 0.3300, 1.0}, {0.2100, 0.7100, 1.0}, {0.1500, 0.0600, 1.0}};

// An RGB profile of the primaries and one curve for all three channels; takes the curve.
Profile rgbProfileWith(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries,
                       cmsToneCurve* curve) {
  cmsToneCurve* curves[3] = {curve, curve, curve};
  Profile profile(cmsCreateRGBProfile(&white, &primaries, curves));
  cmsFreeToneCurve(curve);
  return profile;
}

IccProfile rgbProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, double gamma) {
  return saved(rgbProfileWith(white, primaries, cmsBuildGamma(nullptr, gamma)));
}

// The A2B0 table of matrixAndTableProfile(): RGB (16 bits) to XYZ through ProPhoto.
int proPhotoToXyz(const cmsUInt16Number in[], cmsUInt16Number out[], void*) {
  static const cmsHPROFILE proPhoto = [] {
    const IccProfile bytes = proPhotoProfile();
    return cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
  }();
  static const cmsHPROFILE xyz = cmsCreateXYZProfile();
  static const cmsHTRANSFORM toXyz =
      cmsCreateTransform(proPhoto, TYPE_RGB_16, xyz, TYPE_XYZ_16, INTENT_RELATIVE_COLORIMETRIC, 0);
  cmsDoTransform(toXyz, in, out, 1);
  return TRUE;
}

// The CLUT of cmykProfile(): ink amounts (16 bits) to Lab.
int cmykToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void*) {
  double rgb[3];
  const double k = in[3] / 65535.0;
  for (int c = 0; c < 3; ++c) rgb[c] = (1 - in[c] / 65535.0) * (1 - k);
  rgb[0] = std::min(1.0, rgb[0] * 1.05);  // warmer than plain subtraction
  static const cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  static const cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  static const cmsHTRANSFORM toLab =
      cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
  cmsCIELab colour;
  cmsDoTransform(toLab, rgb, &colour, 1);
  cmsFloat2LabEncoded(out, &colour);
  return TRUE;
}

}  // namespace

IccProfile srgbProfile() { return saved(Profile(cmsCreate_sRGBProfile())); }

IccProfile adobeRgbProfile() { return rgbProfile(kD65, kAdobePrimaries, 563.0 / 256.0); }

IccProfile proPhotoProfile() {
  return rgbProfile({0.3457, 0.3585, 1.0},
                    {{0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}}, 1.8);
}

IccProfile displayP3Profile() {
  const cmsFloat64Number srgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  return saved(rgbProfileWith(kD65, {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}},
                              cmsBuildParametricToneCurve(nullptr, 4, srgbCurve)));
}

IccProfile tabulatedCurveProfile() {
  std::vector<cmsUInt16Number> table(1024);
  for (size_t i = 0; i < table.size(); ++i) {
    table[i] = static_cast<cmsUInt16Number>(std::lround(
        65535 * std::pow(static_cast<double>(i) / static_cast<double>(table.size() - 1), 2.2)));
  }
  return saved(
      rgbProfileWith(kD65, kAdobePrimaries,
                     cmsBuildTabulatedToneCurve16(
                         nullptr, static_cast<cmsUInt32Number>(table.size()), table.data())));
}

IccProfile liftedBlackProfile() {
  std::vector<cmsUInt16Number> table(256);
  for (size_t i = 0; i < table.size(); ++i) {
    const double light =
        std::pow(static_cast<double>(i) / static_cast<double>(table.size() - 1), 2.2);
    table[i] = static_cast<cmsUInt16Number>(std::lround(65535 * (0.002 + 0.998 * light)));
  }
  return saved(
      rgbProfileWith(kD65, kAdobePrimaries,
                     cmsBuildTabulatedToneCurve16(
                         nullptr, static_cast<cmsUInt32Number>(table.size()), table.data())));
}

IccProfile matrixAndTableProfile() {
  const Profile profile =
      rgbProfileWith(kD65, kAdobePrimaries, cmsBuildGamma(nullptr, 563.0 / 256.0));
  cmsSetProfileVersion(profile.get(), 2.1);  // a table of its own (lut16), as v2 profiles have
  cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 3, 3);
  cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 17, 3, 3, nullptr);
  cmsStageSampleCLut16bit(clut, proPhotoToXyz, nullptr, 0);
  cmsPipelineInsertStage(pipeline, cmsAT_END, clut);
  cmsWriteTag(profile.get(), cmsSigAToB0Tag, pipeline);
  cmsPipelineFree(pipeline);
  return saved(profile);
}

IccProfile linearGreyProfile() {
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.0);
  const Profile profile(cmsCreateGrayProfile(cmsD50_xyY(), curve));
  cmsFreeToneCurve(curve);
  return saved(profile);
}

IccProfile cmykProfile() {
  const Profile profile(cmsCreateProfilePlaceholder(nullptr));
  cmsSetProfileVersion(profile.get(), 2.1);
  cmsSetDeviceClass(profile.get(), cmsSigOutputClass);
  cmsSetColorSpace(profile.get(), cmsSigCmykData);
  cmsSetPCS(profile.get(), cmsSigLabData);
  cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
  cmsStageSampleCLut16bit(clut, cmykToLab, nullptr, 0);
  cmsPipelineInsertStage(pipeline, cmsAT_END, clut);
  cmsWriteTag(profile.get(), cmsSigAToB0Tag, pipeline);
  cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsPipelineFree(pipeline);
  return saved(profile);
}

IccProfile abstractProfile() {
  return saved(Profile(cmsCreateBCHSWabstractProfile(17, 10, 0, 0, 0, 0, 0)));
}

std::vector<std::uint8_t> throughProfile(const IccProfile& profile, IccInput input,
                                         const std::vector<std::uint8_t>& pixels, int count) {
  const Profile from(
      cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size())));
  const Profile srgb(cmsCreate_sRGBProfile());
  const cmsUInt32Number format = input == IccInput::kGrey  ? TYPE_GRAY_8
                                 : input == IccInput::kRgb ? TYPE_RGB_8
                                                           : TYPE_CMYK_8;
  const cmsHTRANSFORM transform =
      cmsCreateTransform(from.get(), format, srgb.get(), TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                         cmsFLAGS_BLACKPOINTCOMPENSATION);
  if (transform == nullptr) throw std::runtime_error("Little CMS built no transform");
  std::vector<std::uint8_t> out(static_cast<size_t>(count) * 3);
  cmsDoTransform(transform, pixels.data(), out.data(), static_cast<cmsUInt32Number>(count));
  cmsDeleteTransform(transform);
  return out;
}

Rgb throughProfile(const IccProfile& profile, IccInput input,
                   const std::vector<std::uint8_t>& pixel) {
  const std::vector<std::uint8_t> out = throughProfile(profile, input, pixel, 1);
  return {out[0], out[1], out[2]};
}

std::vector<std::uint8_t> exifWithColourSpace(int colourSpace, const char* interopIndex) {
  // Little-endian: IFD0 at 8 holds only the EXIF IFD's pointer; the EXIF IFD at 26 holds
  // ColorSpace and the interoperability IFD's pointer; that IFD at 56 holds the index.
  const auto u16 = [](std::vector<std::uint8_t>& out, unsigned value) {
    out.insert(out.end(),
               {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
  };
  const auto u32 = [&u16](std::vector<std::uint8_t>& out, std::uint32_t value) {
    u16(out, value & 0xFFFF);
    u16(out, value >> 16);
  };
  std::vector<std::uint8_t> out = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I'};
  std::vector<std::uint8_t> tiff;
  u16(tiff, 42);
  u32(tiff, 8);
  u16(tiff, 1);  // IFD0
  u16(tiff, 0x8769);
  u16(tiff, 4);
  u32(tiff, 1);
  u32(tiff, 26);
  u32(tiff, 0);
  u16(tiff, 2);  // the EXIF IFD, at 26 counting from 'II'
  u16(tiff, 0xA001);
  u16(tiff, 3);
  u32(tiff, 1);
  u16(tiff, static_cast<unsigned>(colourSpace));
  u16(tiff, 0);
  u16(tiff, 0xA005);
  u16(tiff, 4);
  u32(tiff, 1);
  u32(tiff, 56);
  u32(tiff, 0);
  u16(tiff, 1);  // the interoperability IFD, at 56
  u16(tiff, 0x0001);
  u16(tiff, 2);
  u32(tiff, 4);
  for (int i = 0; i < 4; ++i) tiff.push_back(static_cast<std::uint8_t>(interopIndex[i]));
  u32(tiff, 0);
  out.insert(out.end(), tiff.begin(), tiff.end());
  return out;
}

}  // namespace testsupport
