// Whole-or-nothing file writing: the bytes go to a fresh temporary file in the target's folder,
// which is renamed over the target. A reader sees the old file or the new one, never a part; on
// failure the temporary file is removed and an earlier file is left as it was. Plain C++ and
// POSIX, no toolkit types.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <set>
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

// The temporary files a program is writing, so that one that is interrupted can remove them all.
// Thread-safe: a temporary file is created and renamed under its lock, so removeAll() sees each
// either pending or gone.
class PendingFiles final {
 public:
  PendingFiles() = default;
  PendingFiles(const PendingFiles&) = delete;
  PendingFiles& operator=(const PendingFiles&) = delete;

  // Removes every pending temporary file; from then on no write may create one (they fail with
  // ECANCELED). Safe to call from a thread that then ends the process.
  void removeAll();

 private:
  friend class PendingFile;
  std::mutex mutex_;
  std::set<std::string> paths_;
  bool closed_ = false;
};

// How a write is made durable.
enum class Durability {
  kEachFile,  // the data is synced before the rename and the folder after it (a power cut leaves
              // the old file or the whole new one)
  kNone,      // no sync: the caller makes its writes durable later (syncfs), or not at all
};

struct WriteOptions {
  Durability durability = Durability::kEachFile;
  PendingFiles* pending = nullptr;  // where the temporary file is registered, if anywhere
};

// Writes size bytes from data to path (bytes passed to the file system unchanged). A new file
// gets mode 0666 less the process's umask, as any file a program creates; a file that replaces
// another keeps that file's permission bits. A missing folder, a folder that is not writable or a
// target that is a folder makes the call fail; it then leaves no file behind.
WriteResult writeFileAtomically(const std::string& path, const void* data, std::size_t size,
                                const WriteOptions& options = {});

// What writeFileAtomically does to the file system, in order, for tests of its durability.
enum class WriteEvent { kCreateTemporary, kSyncData, kRename, kSyncFolder };
using WriteTracer = std::function<void(WriteEvent)>;
// Installs a tracer (empty: none). Tests only; not synchronised with writes in flight.
void setWriteTracer(WriteTracer tracer);

}  // namespace platform
