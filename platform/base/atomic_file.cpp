#include "platform/base/atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <utility>

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

WriteTracer& tracerSlot() {
  static WriteTracer slot;
  return slot;
}

void trace(WriteEvent event) {
  if (tracerSlot()) tracerSlot()(event);
}

// Makes the rename itself durable; a folder that cannot be synced is not an error.
void syncFolder(const std::string& folder) {
  const FileDescriptor dir(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
  trace(WriteEvent::kSyncFolder);
}

}  // namespace

// The temporary file: closed and removed unless it was renamed over the target. Registered with
// the program's pending files, if given, from its creation to its rename.
class PendingFile final {
 public:
  explicit PendingFile(PendingFiles* pending) : pending_(pending) {}
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() {
    file_.close();
    if (path_.empty()) return;
    if (pending_ == nullptr) {
      ::unlink(path_.c_str());
      return;
    }
    const std::lock_guard lock(pending_->mutex_);
    if (pending_->paths_.erase(path_) != 0) ::unlink(path_.c_str());
  }

  // Returns 0 or the errno of the failed creation.
  int create(const PathParts& parts) {
    std::unique_lock<std::mutex> lock;
    if (pending_ != nullptr) {
      lock = std::unique_lock(pending_->mutex_);
      if (pending_->closed_) return ECANCELED;
    }
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
      std::string candidate = tempPath(parts);
      // The kernel takes the umask off, as for any newly created file.
      FileDescriptor file(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
      if (file.valid()) {
        file_ = std::move(file);
        path_ = std::move(candidate);
        if (pending_ != nullptr) pending_->paths_.insert(path_);
        if (lock.owns_lock()) lock.unlock();
        trace(WriteEvent::kCreateTemporary);
        return 0;
      }
      if (errno != EEXIST) return errno;
    }
    return EEXIST;
  }

  int writeAll(const void* data, std::size_t size) { return writeFully(file_.get(), data, size); }

  // A file that replaces another keeps its permission bits.
  int keepModeOf(const std::string& target) {
    struct stat status {};
    if (::stat(target.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
    return ::fchmod(file_.get(), status.st_mode & 07777) != 0 ? errno : 0;
  }

  int sync() {
    if (::fsync(file_.get()) != 0) return errno;
    trace(WriteEvent::kSyncData);
    return 0;
  }

  int close() { return file_.close(); }

  int renameTo(const std::string& target) {
    std::unique_lock<std::mutex> lock;
    if (pending_ != nullptr) lock = std::unique_lock(pending_->mutex_);
    if (::rename(path_.c_str(), target.c_str()) != 0) return errno;
    if (pending_ != nullptr) pending_->paths_.erase(path_);
    path_.clear();
    if (lock.owns_lock()) lock.unlock();
    trace(WriteEvent::kRename);
    return 0;
  }

 private:
  PendingFiles* pending_;
  FileDescriptor file_;
  std::string path_;
};

void PendingFiles::removeAll() {
  const std::lock_guard lock(mutex_);
  closed_ = true;
  for (const std::string& path : paths_) ::unlink(path.c_str());
  paths_.clear();
}

void setWriteTracer(WriteTracer tracer) { tracerSlot() = std::move(tracer); }

WriteResult writeFileAtomically(const std::string& path, const void* data, std::size_t size,
                                const WriteOptions& options) {
  if (path.empty()) return {WriteStep::kCreate, ENOENT};
  const PathParts parts = splitPath(path);
  PendingFile temp(options.pending);
  if (const int error = temp.create(parts)) return {WriteStep::kCreate, error};
  if (const int error = temp.writeAll(data, size)) return {WriteStep::kWrite, error};
  if (const int error = temp.keepModeOf(path)) return {WriteStep::kWrite, error};
  const bool durable = options.durability == Durability::kEachFile;
  // The data reaches the disk before the rename makes it visible under the target's name.
  if (durable) {
    if (const int error = temp.sync()) return {WriteStep::kWrite, error};
  }
  if (const int error = temp.close()) return {WriteStep::kWrite, error};
  if (const int error = temp.renameTo(path)) return {WriteStep::kReplace, error};
  if (durable) syncFolder(parts.folder);
  return {};
}

}  // namespace platform
