#include "batch/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <vector>

namespace thumb {
namespace {

// The executable's folder; empty when /proc is not there (in a sandbox that leaves it out).
std::string executableFolder() {
  std::array<char, 4096> path{};
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) return {};
  const std::string exe(path.data(), static_cast<size_t>(length));
  return exe.substr(0, exe.rfind('/'));
}

}  // namespace

LoadedModule loadModule(const std::string& name) {
  const std::string file = QUORVANE_MODULE_PREFIX + name + QUORVANE_MODULE_SUFFIX;
  const std::string folder = executableFolder();
  std::vector<std::string> candidates;
  if (!folder.empty()) {
    candidates.push_back(folder + "/" + file);
    candidates.push_back(folder + "/" QUORVANE_MODULE_DIR_FROM_BIN "/" + file);
  }
  candidates.push_back(QUORVANE_MODULE_DIR_INSTALLED "/" + file);
  LoadedModule module;
  for (const std::string& path : candidates) {
    if (::access(path.c_str(), F_OK) != 0) continue;
    module.handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module.handle == nullptr) module.error = ::dlerror();
    return module;
  }
  module.error = file + " not found beside " +
                 (folder.empty() ? std::string("the program") : folder) +
                 " nor in " QUORVANE_MODULE_DIR_INSTALLED;
  return module;
}

void* moduleEntry(const LoadedModule& module, const char* entry) {
  return module.handle != nullptr ? ::dlsym(module.handle, entry) : nullptr;
}

}  // namespace thumb
