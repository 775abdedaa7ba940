// The GIF module: Qt's GIF reader behind one C entry point.
#include "batch/gif_module.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <string>

#include "platform/base/runtime_error.h"
#include "platform/picture/qt/gif_decode.h"

namespace {

int fail(int number, const std::string& description, char* message, std::size_t messageSize) {
  if (messageSize > 0) {
    const std::size_t length = std::min(description.size(), messageSize - 1);
    std::memcpy(message, description.data(), length);
    message[length] = '\0';
  }
  return number;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int quorvane_render_gif(
    const std::uint8_t* gif, std::size_t size, const platform::GifLayout* layout, int width,
    int height, std::uint8_t* rgba, char* message, std::size_t messageSize) {
  try {
    const platform::RgbaImage image =
        platform::renderGif(std::span<const std::uint8_t>(gif, size), *layout, width, height);
    const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
    if (image.width != width || image.height != height || image.pixels.size() != bytes) {
      return fail(platform::kErrInternal, "GIF drawn at the wrong size", message, messageSize);
    }
    std::memcpy(rgba, image.pixels.data(), bytes);
    return 0;
  } catch (const platform::RuntimeError& error) {
    return fail(error.number(), error.description(), message, messageSize);
  } catch (const std::bad_alloc&) {
    return fail(platform::kErrOutOfMemory, platform::errorDescription(platform::kErrOutOfMemory),
                message, messageSize);
  } catch (...) {
    return fail(platform::kErrInvalidPicture,
                platform::errorDescription(platform::kErrInvalidPicture), message, messageSize);
  }
}
