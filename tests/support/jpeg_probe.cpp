#include "tests/support/jpeg_probe.h"

#include <turbojpeg.h>

#include <algorithm>
#include <memory>

#include "tests/support/temp_folder.h"

namespace testsupport {
namespace {

using Decompressor = std::unique_ptr<void, int (*)(tjhandle)>;

Sampling samplingOf(int subsampling) {
  switch (subsampling) {
    case TJSAMP_444:
      return Sampling::k444;
    case TJSAMP_422:
      return Sampling::k422;
    case TJSAMP_420:
      return Sampling::k420;
    case TJSAMP_GRAY:
      return Sampling::kGrey;
    default:
      return Sampling::kOther;
  }
}

JpegColour colourOf(int colourspace) {
  switch (colourspace) {
    case TJCS_GRAY:
      return JpegColour::kGrey;
    case TJCS_YCbCr:
      return JpegColour::kYCbCr;
    case TJCS_RGB:
      return JpegColour::kRgb;
    case TJCS_CMYK:
      return JpegColour::kCmyk;
    case TJCS_YCCK:
      return JpegColour::kYcck;
    default:
      return JpegColour::kOther;
  }
}

bool isStartOfFrame(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The marker segments from SOI to the first scan.
void readSegments(std::span<const std::uint8_t> jpeg, JpegProbe& probe) {
  const auto at = [&](size_t i) { return static_cast<int>(jpeg[i]); };
  if (jpeg.size() < 4 || at(0) != 0xFF || at(1) != 0xD8) return;
  size_t pos = 2;
  while (pos + 4 <= jpeg.size() && at(pos) == 0xFF && at(pos + 1) != 0xDA) {
    const int marker = at(pos + 1);
    const size_t body = pos + 4;
    const size_t end = pos + 2 + static_cast<size_t>(at(pos + 2) << 8 | at(pos + 3));
    if (end > jpeg.size() || end < body) break;
    if (marker >= 0xE0 && marker <= 0xEF) {
      static constexpr std::uint8_t kJfif[] = {'J', 'F', 'I', 'F', 0};
      const bool jfif = marker == 0xE0 && end - body >= 5 &&
                        std::equal(kJfif, kJfif + 5, jpeg.begin() + static_cast<long>(body));
      if (jfif) {
        probe.jfif = true;
      } else {
        probe.metadataMarkers.push_back(marker);
      }
    } else if (isStartOfFrame(marker) && end - body >= 6) {
      probe.frameMarker = marker;
      probe.precision = at(body);
      for (size_t c = 0; c < static_cast<size_t>(at(body + 5)) && body + 8 + 3 * c <= end; ++c) {
        probe.componentSampling.push_back(at(body + 7 + 3 * c));
      }
    } else if (marker == 0xDB) {
      for (size_t p = body; p < end;) {
        const int precisionAndId = at(p++);
        const size_t size = (precisionAndId >> 4) != 0 ? 128 : 64;
        if ((precisionAndId & 15) == 0 && size == 64 && p + 64 <= end) {
          probe.lumaTable.clear();
          for (size_t k = 0; k < 64; ++k) probe.lumaTable.push_back(at(p + k));
        }
        p += size;
      }
    }
    pos = end;
  }
}

}  // namespace

bool JpegProbe::progressive() const {
  return frameMarker == 0xC2 || frameMarker == 0xC6 || frameMarker == 0xCA || frameMarker == 0xCE;
}

JpegProbe probeJpeg(std::span<const std::uint8_t> jpeg) {
  JpegProbe probe;
  const Decompressor tj(tjInitDecompress(), &tjDestroy);
  int subsampling = -1;
  int colourspace = -1;
  probe.valid = tjDecompressHeader3(tj.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                                    &probe.width, &probe.height, &subsampling, &colourspace) == 0;
  if (probe.valid) {
    probe.sampling = samplingOf(subsampling);
    probe.colour = colourOf(colourspace);
  }
  readSegments(jpeg, probe);
  return probe;
}

JpegProbe probeJpegFile(const std::filesystem::path& path) { return probeJpeg(readBytes(path)); }

RgbImage decodeJpeg(std::span<const std::uint8_t> jpeg) {
  const Decompressor tj(tjInitDecompress(), &tjDestroy);
  RgbImage image;
  int subsampling = 0;
  int colourspace = 0;
  if (tjDecompressHeader3(tj.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                          &image.width, &image.height, &subsampling, &colourspace) != 0) {
    return {};
  }
  image.pixels.resize(static_cast<size_t>(image.width) * image.height * 3);
  if (tjDecompress2(tj.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                    image.pixels.data(), image.width, 0, image.height, TJPF_RGB, 0) != 0) {
    return {};
  }
  return image;
}

RgbImage decodeJpegFile(const std::filesystem::path& path) { return decodeJpeg(readBytes(path)); }

}  // namespace testsupport
