#include "batch/reporter.h"

#include <unistd.h>

#include <cstdio>

#include "batch/runner.h"

namespace thumb {

Reporter::Reporter(int total) : total_(total), progress_(::isatty(STDERR_FILENO) == 1) {}

void Reporter::failure(const std::string& path, const std::string& problem) {
  const std::lock_guard lock(mutex_);
  ++failed_;
  line(path, problem);
}

void Reporter::problem(const std::string& where, const std::string& problem) {
  const std::lock_guard lock(mutex_);
  ++problems_;
  line(where, problem);
}

void Reporter::warning(const std::string& path, const std::string& problem) {
  const std::lock_guard lock(mutex_);
  ++warned_;
  line(path, "warning: " + problem);
}

void Reporter::made() {
  const std::lock_guard lock(mutex_);
  ++made_;
}

void Reporter::finished(const std::string& path) {
  if (!progress_) return;
  const std::lock_guard lock(mutex_);
  const std::string name = path.substr(path.rfind('/') + 1);
  std::fprintf(stderr, "\r%d/%d %.60s\033[K", ++done_, total_, name.c_str());
  std::fflush(stderr);
}

int Reporter::close() {
  const std::lock_guard lock(mutex_);
  clearProgress();
  if (failed_ > 0 && warned_ > 0) {
    std::fprintf(stderr, "%s: %d of %d pictures failed, %d made with a warning\n", kProgramName,
                 failed_, total_, warned_);
  } else if (failed_ > 0) {
    std::fprintf(stderr, "%s: %d of %d pictures failed\n", kProgramName, failed_, total_);
  } else if (warned_ > 0) {
    std::fprintf(stderr, "%s: %d of %d pictures made with a warning\n", kProgramName, warned_,
                 total_);
  }
  return failed_ > 0 || problems_ > 0 ? 1 : 0;
}

void Reporter::interrupted() {
  const std::lock_guard lock(mutex_);
  clearProgress();
  std::fprintf(stderr, "%s: interrupted: %d of %d thumbnails made\n", kProgramName, made_, total_);
}

void Reporter::line(const std::string& path, const std::string& text) {
  clearProgress();
  if (text.ends_with(": " + path)) {
    std::fprintf(stderr, "%s: %s\n", kProgramName, text.c_str());
  } else {
    std::fprintf(stderr, "%s: %s: %s\n", kProgramName, path.c_str(), text.c_str());
  }
}

void Reporter::clearProgress() {
  if (progress_) std::fputs("\r\033[K", stderr);
}

}  // namespace thumb
