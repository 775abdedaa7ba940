// One of the formats after JPEG and GIF (FUZZ_FORMAT: PNG, WebP, TIFF or HEIF), from any bytes:
// its header read (a sensible size and orientation, or error 481), then, for a picture cheap
// enough, drawn with the longer side at 1 to 200 pixels (chosen by the input): the size asked, or
// error 481. Only that format's decoder is installed.
#include <algorithm>
#include <cmath>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/formats/formats.h"
#include "platform/picture/picture.h"

namespace {

using namespace platform;

constexpr PictureFormat kFormat = PictureFormat::FUZZ_FORMAT;
// Drawing costs time in proportion to the pixels decoded; the limits themselves are tested by the
// unit tests. Small pictures keep the fuzzer exploring.
constexpr std::int64_t kMaxDrawnPixels = std::int64_t{1} << 22;

const FormatDecoder& decoder() {
  switch (kFormat) {
    case PictureFormat::kPng:
      return kPngDecoder;
    case PictureFormat::kWebp:
      return kWebpDecoder;
    case PictureFormat::kTiff:
      return kTiffDecoder;
    default:
      return kHeifDecoder;
  }
}

void checkError(const RuntimeError& error) {
  fuzz::check(error.number() == kErrInvalidPicture || error.number() == kErrOutOfMemory,
              "a picture that cannot be read or drawn is error 481");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setFormatDecoder(kFormat, &decoder());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::shared_ptr<const EncodedPicture> picture;
  try {
    picture = loadPictureFromBytes(std::vector<std::uint8_t>(data, data + size));
  } catch (const RuntimeError& error) {
    checkError(error);
    return 0;
  }
  const PictureInfo& info = picture->info();
  if (info.format != kFormat) return 0;  // a JPEG or GIF: their own targets fuzz them
  fuzz::check(info.width >= 1 && info.height >= 1, "a picture has a size");
  fuzz::check(std::int64_t{info.width} * info.height <= kMaxPicturePixels,
              "the pixel limit holds from the header");
  if (std::int64_t{info.width} * info.height > kMaxDrawnPixels) return 0;
  const int longer = 1 + static_cast<int>(fuzz::hashOf(data, size) % 200);
  const bool wide = info.width >= info.height;
  const double ratio = wide ? static_cast<double>(info.height) / info.width
                            : static_cast<double>(info.width) / info.height;
  const int shorter = std::max(1, static_cast<int>(std::lround(longer * ratio)));
  const int width = wide ? longer : shorter;
  const int height = wide ? shorter : longer;
  try {
    const RgbaImage image = renderPicture(*picture, width, height);
    fuzz::check(image.width == width && image.height == height, "drawn at the size asked");
    fuzz::check(image.pixels.size() == static_cast<std::size_t>(width) * height * 4,
                "four bytes a pixel");
  } catch (const RuntimeError& error) {
    checkError(error);
  }
  return 0;
}
