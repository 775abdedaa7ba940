// Reading a picture's header from any bytes: a JPEG's frame, markers and EXIF orientation, a GIF's
// screen, blocks and first frame's LZW data. Either a picture with a sensible size or error 481.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/picture.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::startQt(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform;
  try {
    const auto picture = loadPictureFromBytes(std::vector<std::uint8_t>(data, data + size));
    const PictureInfo& info = picture->info();
    fuzz::check(info.width >= 1 && info.height >= 1, "a picture has a size");
    // JPEG sides are 16-bit; a GIF's zero-sized screen takes its frame's extent (two 16-bit sums).
    fuzz::check(info.width <= 2 * 65535 && info.height <= 2 * 65535, "sides a file can hold");
    fuzz::check(picture->bytes().size() == size, "the bytes are kept whole");
  } catch (const RuntimeError& error) {
    fuzz::check(error.number() == kErrInvalidPicture || error.number() == kErrOutOfMemory,
                "a bad picture is error 481");
  }
  return 0;
}
