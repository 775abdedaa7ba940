#include "batch/runner.h"

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

#include "batch/options.h"
#include "batch/picture_list.h"
#include "batch/thumbnail.h"
#include "platform/base/atomic_file.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/picture.h"

namespace thumb {
namespace {

// Everything written to standard error, one line at a time from any worker.
class Reporter final {
 public:
  explicit Reporter(int total) : total_(total), progress_(::isatty(STDERR_FILENO) == 1) {}

  // One line: the file, then the reason. A file error's description ends with the file's name
  // already ("File not found: a.jpg").
  void failure(const std::string& path, const std::string& reason) {
    const std::lock_guard lock(mutex_);
    ++failed_;
    clearProgress();
    if (reason.ends_with(": " + path)) {
      std::fprintf(stderr, "%s: %s\n", kProgramName, reason.c_str());
    } else {
      std::fprintf(stderr, "%s: %s: %s\n", kProgramName, path.c_str(), reason.c_str());
    }
  }

  void finished(const std::string& path) {
    if (!progress_) return;
    const std::lock_guard lock(mutex_);
    const std::string name = path.substr(path.rfind('/') + 1);
    std::fprintf(stderr, "\r%d/%d %.60s\033[K", ++done_, total_, name.c_str());
    std::fflush(stderr);
  }

  // The closing line; returns the exit status.
  int close() {
    const std::lock_guard lock(mutex_);
    clearProgress();
    if (failed_ == 0) return 0;
    std::fprintf(stderr, "%s: %d of %d pictures failed\n", kProgramName, failed_, total_);
    return 1;
  }

 private:
  void clearProgress() {
    if (progress_) std::fputs("\r\033[K", stderr);
  }

  std::mutex mutex_;
  int total_;
  int done_ = 0;
  int failed_ = 0;
  bool progress_;
};

bool isNewer(const struct stat& a, const struct stat& b) {
  return a.st_mtim.tv_sec != b.st_mtim.tv_sec ? a.st_mtim.tv_sec > b.st_mtim.tv_sec
                                              : a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

// A thumbnail newer than its picture is kept.
bool thumbnailIsCurrent(const std::string& picture, const std::string& thumbnail) {
  struct stat source {};
  struct stat made {};
  return ::stat(picture.c_str(), &source) == 0 && ::stat(thumbnail.c_str(), &made) == 0 &&
         S_ISREG(made.st_mode) && isNewer(made, source);
}

// The processors this process may run on.
int cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// One worker: makes thumbnails until the list is done.
void work(const std::vector<std::string>& pictures, std::atomic<size_t>& next,
          const Options& options, Reporter& reporter) {
  std::optional<ThumbnailMaker> made;
  try {
    made.emplace(options.background);
  } catch (const std::exception& error) {
    reporter.failure("cannot start a worker", error.what());  // the other workers carry on
    return;
  }
  ThumbnailMaker& maker = *made;
  for (size_t i = next++; i < pictures.size(); i = next++) {
    const std::string& path = pictures[i];
    const std::string output = thumbnailPath(path);
    try {
      const platform::JpegBytes jpeg = maker.make(*platform::loadPicture(path), options.size);
      const platform::WriteResult written =
          platform::writeFileAtomically(output, jpeg.data.get(), jpeg.size);
      if (!written.ok()) {
        reporter.failure(path, "cannot write " + output + ": " + std::strerror(written.errnoValue));
      }
    } catch (const platform::RuntimeError& error) {
      reporter.failure(path, error.description());
    } catch (const std::bad_alloc&) {
      reporter.failure(path, platform::errorDescription(platform::kErrOutOfMemory));
    }
    reporter.finished(path);
  }
}

int makeThumbnails(const std::vector<std::string>& pictures, const Options& options,
                   Reporter& reporter) {
  const size_t jobs =
      std::min(pictures.size(), static_cast<size_t>(options.jobs > 0 ? options.jobs : cores()));
  std::atomic<size_t> next{0};
  // No more pictures in memory at once than workers: each holds one.
  std::vector<std::thread> workers;
  try {
    for (size_t i = 1; i < jobs; ++i) {
      workers.emplace_back(work, std::cref(pictures), std::ref(next), std::cref(options),
                           std::ref(reporter));
    }
  } catch (const std::system_error&) {
    // Fewer threads than asked for: the ones running share the list.
  }
  work(pictures, next, options, reporter);
  for (std::thread& worker : workers) worker.join();
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
