// What a JPEG file says about itself, and its pixels, for the tests' asserts: TurboJPEG reads the
// header and decodes; the marker segments before the first scan are read here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "tests/support/images.h"
#include "tests/support/picture_writers.h"

namespace testsupport {

enum class JpegColour { kOther, kGrey, kYCbCr, kRgb, kCmyk, kYcck };

struct JpegProbe {
  bool valid = false;  // TurboJPEG reads the header
  int width = 0;
  int height = 0;
  Sampling sampling = Sampling::kOther;
  JpegColour colour = JpegColour::kOther;
  // From the marker segments.
  bool jfif = false;                   // an APP0 JFIF header
  int frameMarker = 0;                 // the start of frame: 0xC0 baseline, 0xC2 progressive
  int precision = 0;                   // bits a sample
  std::vector<int> componentSampling;  // per component, horizontal * 16 + vertical
  std::vector<int> lumaTable;          // quantisation table 0 in file (zigzag) order
  std::vector<int> metadataMarkers;    // APPn markers other than the JFIF header: EXIF, ICC...

  bool progressive() const;
};

JpegProbe probeJpeg(std::span<const std::uint8_t> jpeg);
JpegProbe probeJpegFile(const std::filesystem::path& path);

// The pixels, decoded by TurboJPEG at full size; an empty picture when they cannot be.
RgbImage decodeJpeg(std::span<const std::uint8_t> jpeg);
RgbImage decodeJpegFile(const std::filesystem::path& path);

}  // namespace testsupport
