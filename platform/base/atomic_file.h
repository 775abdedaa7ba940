// Whole-or-nothing file writing: the bytes go to a fresh temporary file in the target's folder,
// which is synced and then renamed over the target. A reader sees the old file or the new one,
// never a part; on failure the temporary file is removed and an earlier file is left as it was.
// Plain C++ and POSIX, no toolkit types.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The step at which a write failed.
enum class WriteStep {
  kNone,     // nothing failed
  kCreate,   // the temporary file could not be created in the target's folder
  kWrite,    // writing, syncing or closing the temporary file failed
  kReplace,  // the temporary file could not be renamed over the target
};

struct WriteResult {
  WriteStep failedStep = WriteStep::kNone;
  int errnoValue = 0;  // errno of the failed step, 0 on success
  bool ok() const { return failedStep == WriteStep::kNone; }
};

// Writes size bytes from data to path (UTF-8 bytes, passed to the file system unchanged). The new
// file gets mode 0644 less the process's umask. A missing folder, a folder that is not writable or
// a target that is a folder makes the call fail; it then leaves no file behind.
WriteResult writeFileAtomically(const std::string& path, const void* data, std::size_t size);

}  // namespace platform
