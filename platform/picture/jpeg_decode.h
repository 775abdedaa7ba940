// JPEG decoding on libjpeg-turbo's libjpeg API: header facts, and drawing at a size by decoding
// at the smallest sufficient 1/8-step scale and resampling once.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/picture/colour.h"
#include "platform/picture/picture.h"

namespace platform {

struct JpegHeader {
  int width = 0;  // as stored, before the orientation is applied
  int height = 0;
  int orientation = 1;  // EXIF, 1-8
  bool progressive = false;
  // From the embedded ICC profile, or EXIF's Adobe RGB; null for sRGB pixels (no profile, an sRGB
  // one, or one that cannot be used).
  std::shared_ptr<const ColourConversion> colour;
};

// Pixels as libjpeg gives them at a scale: 1 (grey), 3 (RGB) or 4 (CMYK) bytes a pixel.
struct ScaledJpeg {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<std::uint8_t> pixels;
};

// The scale, in eighths (1-8), for drawing a stored width x height picture at outWidth x
// outHeight: the smallest that keeps both sides at least twice the drawn size (8 when none
// does), lowered while the decoded pixels would exceed kMaxPicturePixels. 0 when even 1/8 does.
int chooseJpegScale(int width, int height, int outWidth, int outHeight);

// A side of `length` pixels at scale/8, as libjpeg rounds it.
inline std::int64_t scaledJpegSide(int length, int scale) {
  return (std::int64_t{length} * scale + 7) / 8;
}

// Decodes JPEGs; keeps one libjpeg decompressor for all calls. Not thread-safe.
class JpegDecoder final {
 public:
  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // Raises 481 for anything libjpeg cannot read a header from, or cannot turn into RGB.
  JpegHeader readHeader(std::span<const std::uint8_t> jpeg);
  // The picture in its stored orientation at exactly width x height, its decoded pixels turned into
  // sRGB by `colour` (its header's) before they are resampled. Raises 481.
  RgbaImage render(std::span<const std::uint8_t> jpeg, int width, int height,
                   const ColourConversion* colour = nullptr);
  // The picture at scale/8 with block smoothing off, decoding only the scans that scale uses or
  // all of them.
  ScaledJpeg decodeScaled(std::span<const std::uint8_t> jpeg, int scale, bool onlyUsedScans);
  // The bytes render() reads for a drawing of width x height or smaller: a progressive JPEG whose
  // AC scans that drawing leaves out, most of its bytes, are taken out. They draw exactly as the
  // whole file does at those sizes. Empty when nothing would be left out. Raises 481.
  std::vector<std::uint8_t> usedBytes(std::span<const std::uint8_t> jpeg, int width, int height);
  // Bytes of the file the last decode read (fewer when scans were left out).
  size_t bytesRead() const;
  // What libjpeg had to work around in the last decode, in plain words ("ends early; the rest is
  // grey"); empty when the file was sound.
  std::string warning() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
