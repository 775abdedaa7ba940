// Colour profiles: a picture's pixels turned from the colour space its embedded ICC profile
// describes into sRGB, on Little CMS, before they are resampled. A picture without a profile, or
// with one that is sRGB, is drawn as it is stored and pays nothing.
//
// A profile that cannot be used (cut short, too large, malformed, of another colour space than the
// pixels, or one Little CMS builds no conversion from) is ignored: the picture is drawn as if it
// had none. Never an error.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace platform {

// The decoded pixels a conversion takes: grey, RGB, CMYK with 0 as no ink, or Adobe's inverted
// CMYK (0 is full ink). Its output is always RGB.
enum class ColourPixels { kGrey, kRgb, kCmyk, kCmykInverted };

// Larger embedded profiles are ignored: real ones are a few kilobytes, the largest printer
// profiles a few megabytes.
constexpr std::size_t kMaxProfileBytes = std::size_t{4} << 20;

// A conversion to sRGB, relative colorimetric with black point compensation. Immutable and
// shared: convert() may run on many threads at once.
class ColourConversion final {
 public:
  ~ColourConversion();
  ColourConversion(const ColourConversion&) = delete;
  ColourConversion& operator=(const ColourConversion&) = delete;

  ColourPixels input() const { return input_; }
  // Converts `count` pixels; `out` takes 3 bytes a pixel and may be `in` for RGB.
  void convert(const std::uint8_t* in, std::uint8_t* out, int count) const;

  // An RGB profile of three curves and a matrix only (as Adobe RGB, ProPhoto and Display P3 are),
  // whose curves start at black: applied in float from tables Little CMS fills, within a level of
  // its own transform's colours, several times faster, and built in a fraction of the time.
  struct MatrixShaper;

  // Built by the functions below only: a Little CMS transform (cmsHTRANSFORM), or a matrix-shaper.
  ColourConversion(void* transform, ColourPixels input);
  explicit ColourConversion(std::unique_ptr<const MatrixShaper> shaper);

 private:
  void* transform_ = nullptr;
  std::unique_ptr<const MatrixShaper> shaper_;
  ColourPixels input_;
};

// The conversion from an ICC profile's colour space to sRGB for pixels of `input`; null when the
// profile is none it can use for them, or is sRGB itself. Conversions are kept by profile bytes:
// the photos of one camera or phone share one.
std::shared_ptr<const ColourConversion> colourConversion(std::span<const std::uint8_t> profile,
                                                         ColourPixels input);

// Adobe RGB (1998), built from its definition: for photos whose EXIF says it without a profile.
std::shared_ptr<const ColourConversion> adobeRgbConversion(ColourPixels input);

}  // namespace platform
