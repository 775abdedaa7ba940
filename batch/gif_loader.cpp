// Loads the GIF module on the first GIF.
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "batch/gif_module.h"
#include "batch/module_loader.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/picture.h"

namespace thumb {
namespace {

using Entry = decltype(&quorvane_render_gif);

struct GifModule {
  Entry entry = nullptr;
  std::string error;  // why it could not be loaded
};

GifModule loadGifModule() {
  const LoadedModule module = loadModule("gif");
  GifModule gif{reinterpret_cast<Entry>(moduleEntry(module, kGifModuleEntry)), module.error};
  if (gif.entry == nullptr && gif.error.empty()) gif.error = "the GIF module has no GIF decoder";
  return gif;
}

std::atomic<bool> gModuleLoaded{false};

platform::RgbaImage renderThroughModule(std::span<const std::uint8_t> gif,
                                        const platform::GifLayout& layout, int width, int height) {
  static std::once_flag once;
  static GifModule module;
  std::call_once(once, [] {
    module = loadGifModule();
    gModuleLoaded.store(module.entry != nullptr);
  });
  if (module.entry == nullptr) {
    platform::raiseError(platform::kErrInvalidPicture, "GIF decoding unavailable: " + module.error);
  }
  platform::RgbaImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<size_t>(width) * height * 4);
  std::array<char, 512> message{};
  const int number = module.entry(gif.data(), gif.size(), &layout, width, height,
                                  image.pixels.data(), message.data(), message.size());
  if (number != 0) platform::raiseError(number, message.data());
  return image;
}

}  // namespace

void useGifModule() { platform::setGifRenderer(renderThroughModule); }

void exitProcess(int status) {
  const bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  std::fflush(stderr);
  if (!flushed && status == 0) status = 1;
  // Qt's GIF reader makes objects on the worker threads that drew GIFs; those threads have ended,
  // and Qt's exit-time teardown of the objects then reads their freed thread data.
  if (gModuleLoaded.load()) std::_Exit(status);
  std::exit(status);
}

}  // namespace thumb
