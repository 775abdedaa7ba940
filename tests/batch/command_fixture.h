// What the end-to-end tests of quorvane-thumb share: the built program run in a fresh folder, and
// what they look for in the folders it wrote to.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <span>
#include <thread>
#include <utility>

#include "tests/batch/command_runner.h"
#include "tests/batch/test_pictures.h"
#include "tests/support/jpeg_probe.h"
#include "tests/support/temp_folder.h"

namespace commandtest {

namespace fs = std::filesystem;
using testsupport::namesIn;
using testsupport::probeJpegFile;
using testsupport::readBytes;
using testsupport::readText;
using Names = std::vector<std::string>;

// The thumbnails in a folder, by name.
inline std::map<std::string, std::vector<std::uint8_t>> thumbnailsIn(const fs::path& folder) {
  std::map<std::string, std::vector<std::uint8_t>> thumbnails;
  for (const std::string& name : namesIn(folder)) {
    if (name.starts_with("thumb_")) thumbnails[name] = readBytes(folder / name);
  }
  return thumbnails;
}

template <typename Map>
inline Names keysOf(const Map& map) {
  Names keys;
  for (const auto& entry : map) keys.push_back(entry.first);
  return keys;
}

// True for the hidden file a thumbnail is written to before it takes its name.
inline bool isTemporary(const std::string& name) {
  return name.starts_with(".thumb_") && name.ends_with(".tmp");
}

// The temporary files anywhere below a folder, by their paths in it.
inline Names temporariesBelow(const fs::path& folder) {
  Names found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    if (isTemporary(entry.path().filename().string())) {
      found.push_back(entry.path().lexically_relative(folder).string());
    }
  }
  return found;
}

// The thumbnails anywhere below a folder, by their paths in it, sorted.
inline Names thumbnailsBelow(const fs::path& folder) {
  Names found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with("thumb_")) {
      found.push_back(entry.path().lexically_relative(folder).string());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Sets a file's modification time.
inline void setModified(const fs::path& path, timespec when) {
  const timespec times[2] = {{0, UTIME_OMIT}, when};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

inline timespec modified(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mtim;
}

inline bool operator==(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

inline constexpr timespec kYear2100{4102444800, 0};

// Waits (at most a minute) until a process has taken `signal` from those waiting for it, so that
// the same signal sent again is a second one rather than merged with the first.
inline bool waitUntilTaken(pid_t pid, int signal) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    bool known = false;
    bool pending = false;
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("ShdPnd:")) {
        known = true;
        pending = ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1) != 0;
      }
    }
    if (!known || !pending) return known;
    std::this_thread::yield();
  }
  return false;
}

// The number of thumbnails an interrupted run's closing line says were made, -1 without it.
inline int madeWhenInterrupted(const Names& lines, int total) {
  const std::string start = "quorvane-thumb: interrupted: ";
  const std::string end = " of " + std::to_string(total) + " thumbnails made";
  if (lines.empty() || !lines.back().starts_with(start) || !lines.back().ends_with(end)) return -1;
  return std::stoi(lines.back().substr(start.size()));
}

class Command : public ::testing::Test {
 protected:
  const fs::path& dir() const { return folder_.path(); }
  CommandResult run(const std::vector<std::string>& args, RunOptions options = {}) {
    return runThumb(args, dir(), std::move(options));
  }
  // A folder of pictures and things a search must leave alone.
  void makeMixedFolder() {
    batchtest::writeSceneJpeg(dir() / "beach.jpg", 640, 480);
    batchtest::writeSceneJpeg(dir() / "TALL.JPG", 300, 400, 2);
    batchtest::writeSceneGif(dir() / "logo.Gif", 200, 100);
    batchtest::writeSceneJpeg(dir() / ".hidden.jpg", 64, 48);
    batchtest::writeSceneJpeg(dir() / "thumb_earlier.jpg", 64, 48);
    batchtest::writeSceneJpeg(dir() / "photo.jpeg", 64, 48);
    batchtest::writeSceneJpeg(dir() / "scan.JPE", 64, 48);
    batchtest::writeSceneJpeg(dir() / "old.Jfif", 64, 48);
    std::ofstream(dir() / "notes.txt") << "not a picture";
    fs::create_directories(dir() / "trip" / ".cache");
    batchtest::writeSceneJpeg(dir() / "trip" / "hill.jpg", 320, 200, 3);
    // Hidden folders hold a program's own files, never the user's pictures.
    fs::create_directory(dir() / ".git");
    batchtest::writeSceneJpeg(dir() / ".git" / "a.jpg", 64, 48);
    batchtest::writeSceneJpeg(dir() / "trip" / ".cache" / "b.jpg", 64, 48);
  }
  // Options that run the command with its sync calls logged to `log`, each taking `delayMs`.
  static RunOptions loggingSyncs(const fs::path& log, int delayMs = 0) {
    // The sanitizers' runtime wants to come first among the libraries; the shim does not harm it.
    std::string sanitizer = "verify_asan_link_order=0";
    if (const char* set = std::getenv("ASAN_OPTIONS"); set != nullptr && *set != '\0') {
      sanitizer = std::string(set) + ":" + sanitizer;
    }
    return {.environment = {"LD_PRELOAD=" QUORVANE_SLOW_SYNC,
                            "QUORVANE_SYNC_DELAY_MS=" + std::to_string(delayMs),
                            "QUORVANE_SYNC_LOG=" + log.string(), "ASAN_OPTIONS=" + sanitizer}};
  }
  void removeThumbnails() {
    for (const std::string& name : thumbnailsBelow(dir())) fs::remove(dir() / name);
  }
  testsupport::TempFolder folder_{"quorvane-batch"};
  testsupport::TempFolder elsewhere_{"quorvane-batch-elsewhere"};  // logs, lists, other outputs
};

}  // namespace commandtest
