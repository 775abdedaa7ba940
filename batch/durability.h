// How quorvane-thumb makes its thumbnails durable. Each one is written whole or not at all (a
// temporary file renamed over its name); by default nothing is synced per file, and the run syncs
// each file system it wrote to once, at its end (also when it is interrupted): a power cut before
// that leaves every thumbnail whole or absent, and a rerun with --skip-existing remakes what was
// lost. Syncing each file costs 10-50 ms on a memory card or a network share.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/base/atomic_file.h"
#include "platform/base/file_io.h"

namespace thumb {

enum class SyncMode {
  kEach,  // each thumbnail synced before its rename, and its folder after
  kEnd,   // each file system written to synced once, when the run ends
  kNone,  // left to the system
};

class RunSync final {
 public:
  explicit RunSync(SyncMode mode) : mode_(mode) {}
  RunSync(const RunSync&) = delete;
  RunSync& operator=(const RunSync&) = delete;

  // How each file is written.
  platform::Durability perFile() const {
    return mode_ == SyncMode::kEach ? platform::Durability::kEachFile : platform::Durability::kNone;
  }
  // Notes the file system of a file just written. Thread-safe.
  void wrote(const std::string& path);
  // A file system whose sync failed: a folder on it and the errno.
  struct Failure {
    std::string folder;
    int errnoValue = 0;
  };
  // With kEnd, syncs every file system noted, once each; returns those that failed (their data
  // may not have reached the disk). Thread-safe; the notes are kept.
  std::vector<Failure> syncAll();

 private:
  SyncMode mode_;
  std::mutex mutex_;
  std::set<std::string> folders_;  // folders already noted
  struct FileSystem {
    dev_t device;
    std::string folder;
    platform::FileDescriptor dir;  // open on the folder, for syncfs
  };
  std::vector<FileSystem> fileSystems_;
};

}  // namespace thumb
