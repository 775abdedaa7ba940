// One format's decoder module: the decoder QUORVANE_FORMAT_DECODER (platform/picture/formats)
// behind the C entry points of format_module.h.
#include "batch/format_module.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <string>

#include "platform/base/runtime_error.h"
#include "platform/picture/formats/formats.h"

namespace {

void say(const std::string& text, char* message, std::size_t messageSize) {
  if (messageSize == 0) return;
  const std::size_t length = std::min(text.size(), messageSize - 1);
  std::memcpy(message, text.data(), length);
  message[length] = '\0';
}

// Runs `work`, turning what it raises into an error number and its description.
template <class Work>
int guarded(Work work, char* message, std::size_t messageSize) {
  try {
    work();
    return 0;
  } catch (const platform::RuntimeError& error) {
    say(error.description(), message, messageSize);
    return error.number();
  } catch (const std::bad_alloc&) {
    say(platform::errorDescription(platform::kErrOutOfMemory), message, messageSize);
    return platform::kErrOutOfMemory;
  } catch (...) {
    say(platform::errorDescription(platform::kErrInvalidPicture), message, messageSize);
    return platform::kErrInvalidPicture;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int quorvane_read_header(
    const std::uint8_t* bytes, std::size_t size, QuorvaneFormatHeader* header, char* message,
    std::size_t messageSize) {
  return guarded(
      [&] {
        const platform::FormatHeader read =
            platform::QUORVANE_FORMAT_DECODER.readHeader(std::span(bytes, size));
        *header = {read.width, read.height, read.orientation};
      },
      message, messageSize);
}

extern "C" __attribute__((visibility("default"))) int quorvane_render(
    const std::uint8_t* bytes, std::size_t size, int width, int height, std::uint8_t* rgba,
    char* message, std::size_t messageSize) {
  return guarded(
      [&] {
        std::string warning;
        const platform::RgbaImage image = platform::QUORVANE_FORMAT_DECODER.render(
            std::span(bytes, size), width, height, warning);
        const std::size_t length = static_cast<std::size_t>(width) * height * 4;
        if (image.width != width || image.height != height || image.pixels.size() != length) {
          platform::raiseError(platform::kErrInternal, "The picture was drawn at the wrong size");
        }
        std::memcpy(rgba, image.pixels.data(), length);
        say(warning, message, messageSize);
      },
      message, messageSize);
}
