#include "batch/runner.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "batch/durability.h"
#include "batch/interruption.h"
#include "batch/options.h"
#include "batch/picture_list.h"
#include "batch/reporter.h"
#include "batch/thumbnail.h"
#include "platform/base/atomic_file.h"
#include "platform/base/file_io.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/picture.h"

namespace thumb {
namespace {

bool isNewer(const struct stat& a, const struct stat& b) {
  return a.st_mtim.tv_sec != b.st_mtim.tv_sec ? a.st_mtim.tv_sec > b.st_mtim.tv_sec
                                              : a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

// True for a file that starts and ends as a JPEG does: what a power cut or a full disk cut short
// does not. (Thumbnails end with their end-of-image marker; nothing follows it.)
bool isWholeJpeg(int fd, off_t size) {
  std::uint8_t head[2] = {};
  std::uint8_t tail[2] = {};
  return size >= 4 && platform::readAt(fd, 0, head, 2) &&
         platform::readAt(fd, static_cast<std::uint64_t>(size) - 2, tail, 2) && head[0] == 0xFF &&
         head[1] == 0xD8 && tail[0] == 0xFF && tail[1] == 0xD9;
}

// A thumbnail newer than its picture, and whole, is kept.
bool thumbnailIsCurrent(const std::string& picture, const std::string& thumbnail) {
  struct stat source {};
  struct stat made {};
  if (::stat(picture.c_str(), &source) != 0) return false;
  const platform::FileDescriptor file(::open(thumbnail.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  return file.valid() && ::fstat(file.get(), &made) == 0 && S_ISREG(made.st_mode) &&
         isNewer(made, source) && isWholeJpeg(file.get(), made.st_size);
}

// The processors this process may run on.
int cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// What the workers share.
struct Batch {
  const std::vector<std::string>& pictures;
  const Options& options;
  Reporter& reporter;
  platform::PendingFiles& pending;
  RunSync& sync;
  const Interruption* interruption = nullptr;
  std::atomic<size_t> next{0};

  // The next picture to make, or none when the list is done or the run was interrupted.
  const std::string* take() {
    if (interruption != nullptr && interruption->requested()) return nullptr;
    const size_t i = next++;
    return i < pictures.size() ? &pictures[i] : nullptr;
  }
};

void makeOne(ThumbnailMaker& maker, const std::string& path, Batch& batch) {
  const std::string output = thumbnailPath(path);
  try {
    const platform::JpegBytes jpeg = maker.make(*platform::loadPicture(path), batch.options.size);
    const platform::WriteResult written = platform::writeFileAtomically(
        output, jpeg.data.get(), jpeg.size, {batch.sync.perFile(), &batch.pending});
    if (!written.ok()) {
      batch.reporter.failure(path,
                             "cannot write " + output + ": " + std::strerror(written.errnoValue));
      return;
    }
    batch.sync.wrote(output);
    batch.reporter.made();
    if (!maker.lastWarning().empty()) batch.reporter.warning(path, maker.lastWarning());
  } catch (const platform::RuntimeError& error) {
    batch.reporter.failure(path, error.description());
  } catch (const std::bad_alloc&) {
    batch.reporter.failure(path, platform::errorDescription(platform::kErrOutOfMemory));
  }
}

void reportSyncFailures(const std::vector<RunSync::Failure>& failures, Reporter& reporter) {
  for (const RunSync::Failure& failure : failures) {
    reporter.problem(failure.folder,
                     std::string("cannot make the thumbnails written here durable: ") +
                         std::strerror(failure.errnoValue));
  }
}

// One worker: makes thumbnails until the list is done.
void work(Batch& batch) {
  std::optional<ThumbnailMaker> made;
  try {
    made.emplace(batch.options.background);
  } catch (const std::exception& error) {
    batch.reporter.failure("cannot start a worker", error.what());  // the others carry on
    return;
  }
  while (const std::string* path = batch.take()) {
    makeOne(*made, *path, batch);
    batch.reporter.finished(*path);
  }
}

int makeThumbnails(const std::vector<std::string>& pictures, const Options& options,
                   Reporter& reporter) {
  platform::PendingFiles pending;
  RunSync sync(options.sync);
  Batch batch{pictures, options, reporter, pending, sync};
  // Before the workers start, so that they inherit the blocked signals.
  const Interruption interruption(pending, [&reporter, &sync](int) {
    reportSyncFailures(sync.syncAll(), reporter);
    reporter.interrupted();
  });
  batch.interruption = &interruption;
  const size_t jobs =
      std::min(pictures.size(), static_cast<size_t>(options.jobs > 0 ? options.jobs : cores()));
  // No more pictures in memory at once than workers: each holds one.
  std::vector<std::thread> workers;
  try {
    for (size_t i = 1; i < jobs; ++i) workers.emplace_back(work, std::ref(batch));
  } catch (const std::system_error&) {
    // Fewer threads than asked for: the ones running share the list.
  }
  work(batch);
  for (std::thread& worker : workers) worker.join();
  reportSyncFailures(sync.syncAll(), reporter);
  if (interruption.requested()) {
    reporter.interrupted();
    return exitStatusFor(interruption.signal());
  }
  return reporter.close();
}

}  // namespace

int runCommand(const std::vector<std::string>& args) {
  Options options;
  std::string error;
  if (!parseOptions(args, options, error)) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgramName,
                 error.c_str(), kProgramName);
    return 2;
  }
  if (options.help) {
    std::fputs(usageText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("%s %s\n", kProgramName, kVersion);
    return 0;
  }
  PictureList list = listPictures(options.operands, options.recursive);
  std::vector<std::string> pictures;
  for (std::string& path : list.pictures) {
    if (!options.skipExisting || !thumbnailIsCurrent(path, thumbnailPath(path))) {
      pictures.push_back(std::move(path));
    }
  }
  Reporter reporter(static_cast<int>(pictures.size() + list.failures.size()));
  for (const ListFailure& failure : list.failures) reporter.failure(failure.path, failure.reason);
  if (options.dryRun) {
    for (const std::string& path : pictures) std::printf("%s\n", thumbnailPath(path).c_str());
    return reporter.close();
  }
  return makeThumbnails(pictures, options, reporter);
}

}  // namespace thumb
