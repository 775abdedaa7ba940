// Writers of PNG, WebP, TIFF and HEIF/AVIF pictures for the tests and the fuzzers' seeds, on the
// formats' libraries (PNG with libspng, which the decoder does not use; libheif encodes with x265
// and libaom). Plain C++.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tools {

// Pixels to write, rows packed: `channels` samples a pixel (1 grey, 2 grey and alpha, 3 RGB,
// 4 RGBA or, for a CMYK TIFF, CMYK), 8 or 16 bits a sample (16: host-endian), straight alpha.
struct SampleImage {
  int width = 0;
  int height = 0;
  int channels = 3;
  int bits = 8;
  std::vector<std::uint8_t> data;
  // An ICC colour profile every writer embeds (PNG's iCCP, WebP's ICCP, TIFF's tag, HEIF's
  // "prof"); none when empty.
  std::vector<std::uint8_t> icc;
  // An EXIF block the PNG (eXIf) and WebP (EXIF) writers embed as it is; none when empty.
  std::vector<std::uint8_t> exif;
  // PNG's gAMA (the power that encoded light, times 100000), cHRM (x and y of white, red, green
  // and blue, times 100000) and sRGB chunks; none when 0, all 0, or false.
  std::uint32_t pngGamma = 0;
  std::array<std::uint32_t, 8> pngChromaticities{};
  bool pngSrgb = false;

  SampleImage() = default;
  SampleImage(int w, int h, int c, int b);
  // Sample c of pixel (x, y); `value` up to 255 or 65535.
  void set(int x, int y, int c, unsigned value);
};

// An 8-bit RGB (or RGBA, with `alpha` for every pixel) picture of four flat quadrants: top left,
// top right, bottom left, bottom right, in that order.
SampleImage quadrants(int width, int height,
                      const std::array<std::array<std::uint8_t, 3>, 4>& colours, int alpha = -1);

std::vector<std::uint8_t> encodePng(const SampleImage& image, bool interlaced = false);
// A palette PNG: one byte a pixel indexing `palette` (RGBA; entries with alpha below 255 go into
// a tRNS chunk).
std::vector<std::uint8_t> encodePalettePng(int width, int height,
                                           const std::vector<std::uint8_t>& indices,
                                           const std::vector<std::array<std::uint8_t, 4>>& palette);

// 8-bit RGB or RGBA.
std::vector<std::uint8_t> encodeWebp(const SampleImage& image, bool lossless = false,
                                     float quality = 90);

struct TiffOptions {
  int compression = 1;  // COMPRESSION_*: 1 none, 5 LZW, 7 JPEG, 8 deflate
  bool tiled = false;
  int orientation = 1;
  bool cmyk = false;  // four channels of ink
  // Reduced-resolution versions of the picture, after it in the file or in its SubIFDs.
  std::vector<SampleImage> levels;
  bool levelsInSubIfds = false;
  bool secondPage = false;  // a different second page after the levels
};
std::vector<std::uint8_t> encodeTiff(const SampleImage& image, const TiffOptions& options = {});

struct HeifOptions {
  bool avif = false;
  int orientation = 1;  // as EXIF's; written as rotation and mirroring
  // An embedded thumbnail: this picture scaled to fit a square of thumbnailBox pixels (it must
  // be larger).
  const SampleImage* thumbnail = nullptr;
  int thumbnailBox = 0;
  int quality = 90;
  // An nclx colour box of these primaries, transfer and matrix codes and range; when the
  // primaries are 0, libheif writes AVIF's with primaries and transfer unspecified and HEIC's none.
  int nclxPrimaries = 0;
  int nclxTransfer = 0;
  int nclxMatrix = 6;  // BT.601
  bool nclxFullRange = true;
  // The chroma subsampling coded, "422" or "444"; the encoder's 4:2:0 when null. HEVC only:
  // libheif 1.15 hands AV1's encoder the wrong one.
  const char* chroma = nullptr;
  // Colours stored multiplied by alpha, and the image marked so.
  bool premultiplied = false;
};
// Grey or RGB, with or without alpha; 8-bit, or 16-bit written as 10 bits.
std::vector<std::uint8_t> encodeHeif(const SampleImage& image, const HeifOptions& options = {});

}  // namespace tools
