#include "batch/durability.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace thumb {

void RunSync::wrote(const std::string& path) {
  if (mode_ != SyncMode::kEnd) return;
  const size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::lock_guard lock(mutex_);
  if (!folders_.insert(folder).second) return;
  platform::FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat status {};
  if (!dir.valid() || ::fstat(dir.get(), &status) != 0) return;
  const auto sameDevice = [&status](const FileSystem& known) {
    return known.device == status.st_dev;
  };
  if (std::any_of(fileSystems_.begin(), fileSystems_.end(), sameDevice)) return;
  fileSystems_.push_back({status.st_dev, std::move(folder), std::move(dir)});
}

std::vector<RunSync::Failure> RunSync::syncAll() {
  std::vector<Failure> failures;
  if (mode_ != SyncMode::kEnd) return failures;
  const std::lock_guard lock(mutex_);
  for (const FileSystem& fileSystem : fileSystems_) {
    if (::syncfs(fileSystem.dir.get()) != 0) failures.push_back({fileSystem.folder, errno});
  }
  return failures;
}

}  // namespace thumb
