#include "platform/base/atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/base/file_io.h"

namespace platform {
namespace {

constexpr std::size_t kNameMax = 255;
constexpr int kCreateAttempts = 100;
constexpr char kNameChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kRandomChars = 10;
// "." before the base name, "." and the random characters, ".tmp" after it.
constexpr std::size_t kTempOverhead = 1 + 1 + kRandomChars + 4;

struct PathParts {
  std::string folder;  // with its trailing '/', empty for the current folder
  std::string base;
};

PathParts splitPath(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {{}, path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

std::uint64_t randomBits() {
  std::uint64_t value = 0;
  if (getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) {
    return value;
  }
  // Without the kernel's generator the names still differ per attempt; O_EXCL settles clashes.
  static std::atomic<std::uint64_t> counter{0};
  return (static_cast<std::uint64_t>(getpid()) << 32) ^
         counter.fetch_add(0x9E3779B97F4A7C15u, std::memory_order_relaxed);
}

// A hidden name beside the target, so that file lists never show a half-written file. A long base
// name is shortened on a UTF-8 character boundary to keep the name within NAME_MAX.
std::string tempPath(const PathParts& parts) {
  std::size_t keep = parts.base.size();
  if (keep > kNameMax - kTempOverhead) {
    keep = kNameMax - kTempOverhead;
    while (keep > 0 && (static_cast<unsigned char>(parts.base[keep]) & 0xC0) == 0x80) --keep;
  }
  std::string name = parts.folder + "." + parts.base.substr(0, keep) + ".";
  std::uint64_t bits = randomBits();
  for (std::size_t i = 0; i < kRandomChars; ++i) {
    name += kNameChars[bits % (sizeof kNameChars - 1)];
    bits /= sizeof kNameChars - 1;
  }
  return name + ".tmp";
}

// The temporary file: closed and removed unless it was renamed over the target.
class PendingFile final {
 public:
  PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() {
    file_.close();
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  // Returns 0 or the errno of the failed creation.
  int create(const PathParts& parts) {
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
      std::string candidate = tempPath(parts);
      // 0644 here; the kernel takes the umask off, as for any newly created file.
      FileDescriptor file(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
      if (file.valid()) {
        file_ = std::move(file);
        path_ = std::move(candidate);
        return 0;
      }
      if (errno != EEXIST) return errno;
    }
    return EEXIST;
  }

  int writeAll(const void* data, std::size_t size) { return writeFully(file_.get(), data, size); }

  // The data reaches the disk before the rename makes it visible under the target's name.
  int syncAndClose() {
    if (::fsync(file_.get()) != 0) return errno;
    return file_.close();
  }

  int renameTo(const std::string& target) {
    if (::rename(path_.c_str(), target.c_str()) != 0) return errno;
    path_.clear();
    return 0;
  }

 private:
  FileDescriptor file_;
  std::string path_;
};

// Makes the rename itself durable; a folder that cannot be synced is not an error.
void syncFolder(const std::string& folder) {
  const FileDescriptor dir(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
}

}  // namespace

WriteResult writeFileAtomically(const std::string& path, const void* data, std::size_t size) {
  if (path.empty()) return {WriteStep::kCreate, ENOENT};
  const PathParts parts = splitPath(path);
  PendingFile temp;
  if (const int error = temp.create(parts)) return {WriteStep::kCreate, error};
  if (const int error = temp.writeAll(data, size)) return {WriteStep::kWrite, error};
  if (const int error = temp.syncAndClose()) return {WriteStep::kWrite, error};
  if (const int error = temp.renameTo(path)) return {WriteStep::kReplace, error};
  syncFolder(parts.folder);
  return {};
}

}  // namespace platform
