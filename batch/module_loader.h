// The decoder modules of quorvane-thumb: shared objects loaded on the first picture that needs
// one, so that a run that meets none never loads their libraries. Plain C++.
#pragma once

#include <string>

namespace thumb {

// A loaded module, kept loaded until the program ends; `handle` is null and `error` says why when
// it could not be loaded.
struct LoadedModule {
  void* handle = nullptr;
  std::string error;
};

// Loads the module quorvane-thumb-NAME.so: beside the executable (the build tree), then in the
// library folder it is installed with, found from the executable's folder (a package moved
// elsewhere) or, without /proc, where it was installed.
LoadedModule loadModule(const std::string& name);

// The address of an entry point of a loaded module; null when it has none.
void* moduleEntry(const LoadedModule& module, const char* entry);

}  // namespace thumb
