// The pictures tests write: JPEG through libjpeg with the options the readers must handle, an
// EXIF block with an orientation, and GIF through the project's one GIF writer (tools/).
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <vector>

#include "tests/support/images.h"
#include "tools/gif_writer.h"

namespace testsupport {

// Chroma subsampling of a YCbCr JPEG, or a grey one; kOther only as a probe's answer.
enum class Sampling { k444, k422, k420, kGrey, kOther };
std::ostream& operator<<(std::ostream& out, Sampling sampling);

struct JpegOptions {
  JpegOptions(Sampling sampling_ = Sampling::k420, int quality_ = 90, bool progressive_ = false,
              bool arithmetic_ = false)
      : sampling(sampling_),
        quality(quality_),
        progressive(progressive_),
        arithmetic(arithmetic_) {}
  Sampling sampling;
  int quality;
  bool progressive;
  bool arithmetic;                 // arithmetic coding instead of Huffman
  std::vector<std::uint8_t> app1;  // an APP1 payload ("Exif\0\0..."), written after SOI
  // Progressive with far more scans than any encoder writes: each AC coefficient of each
  // component in scans of its own, refined one bit at a time (over 2000 scans).
  bool everyBitAScan = false;
};

// A JFIF JPEG of the picture (grey: its luma). Encoding a picture in memory cannot fail.
std::vector<std::uint8_t> encodeJpeg(const RgbImage& image, const JpegOptions& options = {});

// A CMYK (or YCCK) JPEG of the colours; `adobe` writes the Adobe marker and inverted values.
std::vector<std::uint8_t> encodeCmykJpeg(const RgbImage& image, bool adobe, bool ycck);

// encodeJpeg into a file; false when it cannot be written.
bool writeJpeg(const std::filesystem::path& path, const RgbImage& image,
               const JpegOptions& options = {});

// An APP1 payload with an EXIF orientation in IFD0 (behind another tag, as cameras write it).
std::vector<std::uint8_t> exifWithOrientation(int orientation, bool bigEndian);

// A GIF palette (tools::IndexedGif::palette) of these colours.
std::vector<std::uint8_t> paletteOf(const std::vector<Rgb>& colours);

// An opaque RGBA frame of the picture, for tools::encodeGif.
tools::GifFrame gifFrameOf(const RgbImage& image);

}  // namespace testsupport
