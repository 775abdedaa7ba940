// Finds and loads the GIF module on the first GIF.
#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "batch/gif_module.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/picture.h"

namespace thumb {
namespace {

using Entry = decltype(&quorvane_render_gif);

// The executable's folder; empty when /proc is not there (in a sandbox that leaves it out).
std::string executableFolder() {
  std::array<char, 4096> path{};
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) return {};
  const std::string exe(path.data(), static_cast<size_t>(length));
  return exe.substr(0, exe.rfind('/'));
}

struct Module {
  Entry entry = nullptr;
  std::string error;  // why it could not be loaded
};

// Beside the executable (the build tree), then the library folder it is installed with, found
// from the executable's folder (a package moved elsewhere) or, without /proc, where it was
// installed. Kept loaded until the program ends.
Module loadModule() {
  const std::string folder = executableFolder();
  std::vector<std::string> candidates;
  if (!folder.empty()) {
    candidates.push_back(folder + "/" QUORVANE_GIF_MODULE);
    candidates.push_back(folder + "/" QUORVANE_GIF_MODULE_FROM_BIN "/" QUORVANE_GIF_MODULE);
  }
  candidates.push_back(QUORVANE_GIF_MODULE_INSTALLED);
  Module module;
  for (const std::string& path : candidates) {
    if (::access(path.c_str(), F_OK) != 0) continue;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      module.error = ::dlerror();
      return module;
    }
    module.entry = reinterpret_cast<Entry>(::dlsym(handle, kGifModuleEntry));
    if (module.entry == nullptr) module.error = path + " has no GIF decoder";
    return module;
  }
  module.error = std::string(QUORVANE_GIF_MODULE) + " not found beside " +
                 (folder.empty() ? std::string("the program") : folder) + " nor at " +
                 QUORVANE_GIF_MODULE_INSTALLED;
  return module;
}

std::atomic<bool> gModuleLoaded{false};

platform::RgbaImage renderThroughModule(std::span<const std::uint8_t> gif,
                                        const platform::GifLayout& layout, int width, int height) {
  static std::once_flag once;
  static Module module;
  std::call_once(once, [] {
    module = loadModule();
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
