// Reading a picture from any bytes and drawing it with its longer side at 1 to 200 pixels (chosen
// by the input), as the preview does: decoding at a 1/8-step scale, Lanczos resampling, EXIF
// orientation, a GIF's first frame on its screen.
#include <algorithm>
#include <cmath>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/gif_layout.h"
#include "platform/picture/picture.h"

namespace {

using namespace platform;

// Drawing costs time in proportion to the pixels decoded. Those limits are tested by the unit
// tests on made pictures; here the work per input stays small so that the fuzzer explores: a JPEG
// of up to 64 megapixels (decoded at 1/8: 1 megapixel), a GIF frame of up to 4 megapixels.
constexpr std::int64_t kMaxJpegPixels = std::int64_t{1} << 26;
constexpr std::int64_t kMaxGifFramePixels = std::int64_t{1} << 22;

bool cheapEnough(const EncodedPicture& picture) {
  const PictureInfo& info = picture.info();
  if (info.format == PictureFormat::kJpeg) {
    return std::int64_t{info.width} * info.height <= kMaxJpegPixels;
  }
  const GifLayout layout = readGifLayout(picture.bytes());
  return std::int64_t{layout.frameWidth} * layout.frameHeight <= kMaxGifFramePixels;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::startQt(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::shared_ptr<const EncodedPicture> picture;
  try {
    picture = loadPictureFromBytes(std::vector<std::uint8_t>(data, data + size));
  } catch (const RuntimeError&) {
    return 0;  // the header target checks the errors
  }
  if (!cheapEnough(*picture)) return 0;
  const PictureInfo& info = picture->info();
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
    if (info.format == PictureFormat::kJpeg) {
      for (std::size_t i = 3; i < image.pixels.size(); i += 4) {
        fuzz::check(image.pixels[i] == 255, "a JPEG is opaque");
      }
    }
  } catch (const RuntimeError& error) {
    fuzz::check(error.number() == kErrInvalidPicture || error.number() == kErrOutOfMemory,
                "a picture that cannot be drawn is error 481");
  }
  return 0;
}
