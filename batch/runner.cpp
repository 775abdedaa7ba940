#include "batch/runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "batch/durability.h"
#include "batch/interruption.h"
#include "batch/isolated.h"
#include "batch/options.h"
#include "batch/picture_list.h"
#include "batch/reporter.h"
#include "batch/thumbnail.h"
#include "platform/base/atomic_file.h"
#include "platform/base/file_io.h"
#include "platform/base/processors.h"
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

// What the workers share.
struct Batch {
  const std::vector<Job>& jobs;
  const Options& options;
  Reporter& reporter;
  platform::PendingFiles& pending;
  RunSync& sync;
  const Interruption* interruption = nullptr;
  std::atomic<size_t> next{0};

  // The next picture to make, or none when the list is done or the run was interrupted.
  const Job* take() {
    if (interruption != nullptr && interruption->requested()) return nullptr;
    const size_t i = next++;
    return i < jobs.size() ? &jobs[i] : nullptr;
  }
};

// Writes a thumbnail whole or not at all, making its folder first when it goes under -o; "-" is
// standard output. Returns 0 or the errno of what failed.
int writeThumbnail(const std::string& output, const platform::JpegBytes& jpeg, Batch& batch) {
  if (output == "-") return platform::writeFully(STDOUT_FILENO, jpeg.data.get(), jpeg.size);
  if (!batch.options.outputDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(output).parent_path(), error);
    if (error) return error.value();
  }
  const platform::WriteResult written = platform::writeFileAtomically(
      output, jpeg.data.get(), jpeg.size, {batch.sync.perFile(), &batch.pending});
  if (written.ok()) batch.sync.wrote(output);
  return written.errnoValue;
}

// The size to draw a picture at: the thumbnail size, or with --no-enlarge the picture's own
// longer side when that is smaller.
int sizeFor(const platform::PictureInfo& info, const Options& options) {
  if (!options.noEnlarge) return options.size;
  return std::min(options.size, std::max(info.width, info.height));
}

void makeOne(ThumbnailMaker& maker, const Job& job, Batch& batch) {
  const std::string& path = job.picture;
  try {
    std::shared_ptr<const platform::EncodedPicture> picture = platform::loadPicture(path);
    const int size = sizeFor(picture->info(), batch.options);
    // Only what the drawing reads is held while it is drawn: of a large progressive photo, its
    // DC scans, a twentieth of the file.
    const ThumbnailCanvas canvas =
        thumbnailCanvas(picture->info().width, picture->info().height, size);
    picture =
        platform::keepBytesForDrawing(std::move(picture), canvas.drawnWidth, canvas.drawnHeight);
    const platform::JpegBytes jpeg = maker.make(*picture, size);
    if (const int error = writeThumbnail(job.thumbnail, jpeg, batch)) {
      batch.reporter.failure(path, "cannot write " + job.thumbnail + ": " + std::strerror(error));
      return;
    }
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
    const WorkingScope working;
    made.emplace(batch.options.background);
  } catch (const std::exception& error) {
    batch.reporter.failure("cannot start a worker", error.what());  // the others carry on
    return;
  }
  while (const Job* job = batch.take()) {
    // A picture at a time, so that another worker's decoder child starts between two.
    const WorkingScope working;
    makeOne(*made, *job, batch);
    batch.reporter.finished(job->picture);
  }
}

int makeThumbnails(const std::vector<Job>& jobs, const Options& options, Reporter& reporter) {
  platform::PendingFiles pending;
  RunSync sync(options.sync);
  Batch batch{jobs, options, reporter, pending, sync};
  // Before the workers start, so that they inherit the blocked signals.
  const Interruption interruption(pending, [&reporter, &sync](int) {
    reportSyncFailures(sync.syncAll(), reporter);
    reporter.interrupted();
  });
  batch.interruption = &interruption;
  const size_t workerCount =
      std::min(jobs.size(),
               static_cast<size_t>(options.jobs > 0 ? options.jobs : platform::processorCount()));
  // No more pictures in memory at once than workers: each holds one.
  std::vector<std::thread> workers;
  try {
    for (size_t i = 1; i < workerCount; ++i) workers.emplace_back(work, std::ref(batch));
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

// Reads the list --files-from names, whole. False with the reason when it cannot be read.
bool readList(const std::string& file, bool nullSeparated, std::vector<std::string>& entries,
              std::string& error) {
  platform::FileDescriptor opened;
  int fd = STDIN_FILENO;
  if (file != "-") {
    opened = platform::FileDescriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!opened.valid()) {
      error = "cannot read the list " + file + ": " + std::strerror(errno);
      return false;
    }
    fd = opened.get();
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = platform::readFully(fd, buffer, sizeof buffer);
    if (got < 0) {
      error = "cannot read the list " + file + ": " + std::strerror(errno);
      return false;
    }
    text.append(buffer, static_cast<size_t>(got));
    if (static_cast<size_t>(got) < sizeof buffer) break;
  }
  entries = splitList(text, nullSeparated);
  return true;
}

// The pictures to make and where their thumbnails go, less those --skip-existing leaves out.
// False for bad usage, with the reason.
bool planJobs(const Options& options, PictureList& list, std::string& error) {
  std::vector<std::string> operands = options.operands;
  if (!options.filesFrom.empty()) {
    std::vector<std::string> entries;
    if (!readList(options.filesFrom, options.nullSeparated, entries, error)) return false;
    operands.insert(operands.end(), entries.begin(), entries.end());
  }
  list = listPictures(operands, options.recursive, options.outputDir);
  if (!options.outputFile.empty()) {
    if (list.jobs.size() != 1 || !list.failures.empty()) {
      error = "--output takes exactly one picture; " + options.operands.front() + " gives " +
              std::to_string(list.jobs.size());
      return false;
    }
    list.jobs.front().thumbnail = options.outputFile;
  }
  if (options.skipExisting) {
    std::erase_if(list.jobs, [](const Job& job) {
      return job.thumbnail != "-" && thumbnailIsCurrent(job.picture, job.thumbnail);
    });
  }
  return true;
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
  PictureList list;
  if (!planJobs(options, list, error)) {
    std::fprintf(stderr, "%s: %s\n", kProgramName, error.c_str());
    return 2;
  }
  Reporter reporter(static_cast<int>(list.jobs.size() + list.failures.size()));
  for (const ListFailure& failure : list.failures) reporter.failure(failure.path, failure.reason);
  if (options.dryRun) {
    for (const Job& job : list.jobs) std::printf("%s\n", job.thumbnail.c_str());
    return reporter.close();
  }
  return makeThumbnails(list.jobs, options, reporter);
}

}  // namespace thumb
