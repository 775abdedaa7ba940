// Where the decoders of PNG, WebP, TIFF and HEIF hand their pixels: rows as the library decoded
// them, with the picture's colour profile, box-averaged to no less than twice the drawn size (as
// a JPEG's 1/8-step scaled decoding does), turned into sRGB when the profile says another colour
// space, and then resampled once, so that a large picture costs one pass over its rows and a few
// rows of memory.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/picture/colour.h"
#include "platform/picture/picture.h"
#include "platform/picture/resample.h"

namespace platform {

// The whole-number factor by which decodedWidth x decodedHeight rows are box-averaged before
// resampling to outWidth x outHeight: the largest that keeps both sides at least twice the drawn
// size, at most 64 (the Lanczos filter takes over beyond), at least 1.
int boxFactor(int decodedWidth, int decodedHeight, int outWidth, int outHeight);

class DecodedRows final {
 public:
  // Rows of decodedWidth pixels (1, 3 or 4 bytes each, as `pixels` says; alpha straight), spanning
  // the whole picture, to be drawn at outWidth x outHeight. `iccProfile` is the picture's
  // embedded colour profile (ICC bytes), empty when it has none.
  DecodedRows(SourcePixels pixels, int decodedWidth, int decodedHeight, int outWidth, int outHeight,
              std::span<const std::uint8_t> iccProfile = {});
  DecodedRows(const DecodedRows&) = delete;
  DecodedRows& operator=(const DecodedRows&) = delete;

  // The next row, top first; rows past decodedHeight are ignored.
  void addRow(const std::uint8_t* row);
  // The same row as one plane a channel: R, G, B and, with alpha, A (straight). A picture's rows
  // all come one way, as rows or as planes.
  void addPlanes(const std::uint8_t* const* planes);
  int rowsAdded() const { return rowsAdded_; }
  // The drawing; raises 481 when rows are missing.
  RgbaImage finish();

 private:
  void emitBand();
  // The row in sRGB, for the resampler: `row` itself when there is no conversion.
  const std::uint8_t* inSrgb(const std::uint8_t* row, int pixels);

  int channels_;
  bool alpha_;
  int width_;
  int height_;
  int factor_;
  // From the rows' colour profile to sRGB; null for sRGB rows (no profile, an sRGB one, or one
  // that cannot be used).
  std::shared_ptr<const ColourConversion> colour_;
  std::vector<std::uint8_t> converted_;    // one row in sRGB
  std::vector<std::uint8_t> rgb_;          // the colours of one RGBA row, converted
  std::vector<std::uint8_t> interleaved_;  // one row of planes, unshrunk
  std::optional<Resampler> resampler_;
  // Without alpha: each column's sum (a channel of a decoded pixel) down the band so far; at most
  // 64 rows of 255. In the rows' order, or one plane's after another when they come as planes.
  std::vector<std::uint16_t> columns_;
  bool planar_ = false;
  std::vector<std::uint32_t> sums_;   // one band's sums per shrunk pixel and channel
  std::vector<std::uint8_t> shrunk_;  // one shrunk row
  int bandRows_ = 0;
  int rowsAdded_ = 0;
};

// One row of `count` planes of `width` bytes into `out`, pixel by pixel (R, G, B, R, G, B...).
void interleavePlanes(const std::uint8_t* const* planes, int count, int width, std::uint8_t* out);

// Raises 481 "Invalid picture (FORMAT: reason)".
[[noreturn]] void raiseDecodeError(const char* format, const std::string& reason);

}  // namespace platform
