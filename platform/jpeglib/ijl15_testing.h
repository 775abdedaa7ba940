// Test seam of the JPEG library: forces ijlInit or ijlWrite to fail and counts the calls, so that
// the error paths of the callers can be driven. The program itself never installs hooks.
#pragma once

#include <string>

#include "platform/jpeglib/ijl15.h"

namespace platform {

struct IjlHooks {
  int initResult = IJL_OK;   // not IJL_OK: ijlInit returns it at once and leaves the record alone
  int writeResult = IJL_OK;  // not IJL_OK: ijlWrite returns it at once and writes nothing
  int initCalls = 0;
  int writeCalls = 0;
  int freeCalls = 0;
  JPEG_CORE_PROPERTIES lastWrite{};  // the record as the last ijlWrite was given it
  std::string lastFile;              // what its JPGFile pointed at
};

// Installs hooks (nullptr removes them). One thread only: the hooks are not synchronised.
void setIjlHooks(IjlHooks* hooks);

// Installs hooks for the guard's lifetime.
class ScopedIjlHooks final {
 public:
  explicit ScopedIjlHooks(IjlHooks& hooks) { setIjlHooks(&hooks); }
  ~ScopedIjlHooks() { setIjlHooks(nullptr); }
  ScopedIjlHooks(const ScopedIjlHooks&) = delete;
  ScopedIjlHooks& operator=(const ScopedIjlHooks&) = delete;
};

}  // namespace platform
