// quorvane-thumb end to end: the built program on folders of pictures the tests make.
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

namespace fs = std::filesystem;
using testsupport::namesIn;
using testsupport::probeJpegFile;
using testsupport::readBytes;
using testsupport::readText;
using Names = std::vector<std::string>;

namespace {

// The thumbnails in a folder, by name.
std::map<std::string, std::vector<std::uint8_t>> thumbnailsIn(const fs::path& folder) {
  std::map<std::string, std::vector<std::uint8_t>> thumbnails;
  for (const std::string& name : namesIn(folder)) {
    if (name.starts_with("thumb_")) thumbnails[name] = readBytes(folder / name);
  }
  return thumbnails;
}

template <typename Map>
Names keysOf(const Map& map) {
  Names keys;
  for (const auto& entry : map) keys.push_back(entry.first);
  return keys;
}

// True for the hidden file a thumbnail is written to before it takes its name.
bool isTemporary(const std::string& name) {
  return name.starts_with(".thumb_") && name.ends_with(".tmp");
}

// The temporary files anywhere below a folder, by their paths in it.
Names temporariesBelow(const fs::path& folder) {
  Names found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    if (isTemporary(entry.path().filename().string())) {
      found.push_back(entry.path().lexically_relative(folder).string());
    }
  }
  return found;
}

// The thumbnails anywhere below a folder, by their paths in it, sorted.
Names thumbnailsBelow(const fs::path& folder) {
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
void setModified(const fs::path& path, timespec when) {
  const timespec times[2] = {{0, UTIME_OMIT}, when};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

timespec modified(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mtim;
}

bool operator==(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

constexpr timespec kYear2100{4102444800, 0};

// Waits (at most a minute) until a process has taken `signal` from those waiting for it, so that
// the same signal sent again is a second one rather than merged with the first.
bool waitUntilTaken(pid_t pid, int signal) {
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
int madeWhenInterrupted(const Names& lines, int total) {
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

TEST_F(Command, HelpAndVersionGoToStandardOutput) {
  const CommandResult help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: quorvane-thumb [OPTION]... FILE_OR_FOLDER...", 0), 0u)
      << help.out;
  EXPECT_EQ(help.err, "");
  const CommandResult version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "quorvane-thumb 1.00\n");
}

TEST_F(Command, BadUsageExitsWithTwoAndWritesNothing) {
  batchtest::writeSceneJpeg(dir() / "beach.jpg", 64, 48);
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"-s", "0", "."},
                                               {"-s", "16385", "."},
                                               {"--size=12x", "."},
                                               {"-s"},
                                               {"-j", "0", "."},
                                               {"--frobnicate", "."},
                                               {"-x", "."},
                                               {"--recursive=yes", "."},
                                               {"-j", "1025", "."},
                                               {"--sync=fast", "."},
                                               {"--sync=", "."},
                                               {"--sync"},
                                               {"--background=#12345", "."},
                                               {"--background=112233", "."},
                                               {"--background=#gggggg", "."},
                                               {"--background=#-12345", "."},
                                               {"-0", "."},
                                               {"-o", "", "."},
                                               {"--files-from="},
                                               {"--output=x.jpg", "beach.jpg", "."},
                                               {"--output=x.jpg", "-o", "out", "beach.jpg"}}) {
    const CommandResult result = run(args);
    EXPECT_EQ(result.status, 2) << testing::PrintToString(args);
    EXPECT_NE(result.err.find("Try 'quorvane-thumb --help'"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(namesIn(dir()), Names{"beach.jpg"});
}

TEST_F(Command, SearchesFoldersForEveryJpegAndGifName) {
  makeMixedFolder();
  const CommandResult result = run({"."});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(
      namesIn(dir()),
      (Names{".git", ".hidden.jpg", "TALL.JPG", "beach.jpg", "logo.Gif", "notes.txt", "old.Jfif",
             "photo.jpeg", "scan.JPE", "thumb_TALL.JPG", "thumb_beach.jpg", "thumb_earlier.jpg",
             "thumb_logo.Gif", "thumb_old.Jfif", "thumb_photo.jpeg", "thumb_scan.JPE", "trip"}));
  EXPECT_EQ(namesIn(dir() / "trip"), (Names{".cache", "hill.jpg"}));

  EXPECT_EQ(run({"-r", dir().string()}).status, 0);
  EXPECT_EQ(namesIn(dir() / "trip"), (Names{".cache", "hill.jpg", "thumb_hill.jpg"}));
  EXPECT_EQ(namesIn(dir() / ".git"), Names{"a.jpg"});
  EXPECT_EQ(namesIn(dir() / "trip" / ".cache"), Names{"b.jpg"});
  EXPECT_FALSE(fs::exists(dir() / "thumb_thumb_beach.jpg"));  // thumbnails never feed back in
}

TEST_F(Command, ThumbnailsHaveTheWindowsSizesAndNothingElse) {
  makeMixedFolder();
  for (const auto& [args, beach, tall, logo] :
       {std::tuple{std::vector<std::string>{"."}, std::pair{125, 94}, std::pair{94, 125},
                   std::pair{125, 63}},
        std::tuple{std::vector<std::string>{"-s", "60", "."}, std::pair{60, 45}, std::pair{45, 60},
                   std::pair{60, 30}},
        std::tuple{std::vector<std::string>{"--size=1", "."}, std::pair{1, 1}, std::pair{1, 1},
                   std::pair{1, 1}}}) {
    ASSERT_EQ(run(args).status, 0);
    for (const auto& [name, size] :
         {std::pair{"thumb_beach.jpg", beach}, std::pair{"thumb_TALL.JPG", tall},
          std::pair{"thumb_logo.Gif", logo}}) {
      const testsupport::JpegProbe probe = probeJpegFile(dir() / name);
      SCOPED_TRACE(name);
      EXPECT_TRUE(probe.valid);
      EXPECT_EQ(std::pair(probe.width, probe.height), size);
      EXPECT_EQ(probe.sampling, testsupport::Sampling::k420);
      EXPECT_FALSE(probe.progressive());
      EXPECT_TRUE(probe.metadataMarkers.empty());
    }
  }
}

TEST_F(Command, FilesNamedAreTakenWhateverTheirName) {
  makeMixedFolder();
  const CommandResult result = run({"photo.jpeg", "thumb_earlier.jpg", "./photo.jpeg"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(probeJpegFile(dir() / "thumb_photo.jpeg").width, 125);
  EXPECT_EQ(probeJpegFile(dir() / "thumb_thumb_earlier.jpg").width, 125);
  EXPECT_FALSE(fs::exists(dir() / "thumb_beach.jpg"));
}

TEST_F(Command, DryRunPrintsTheThumbnailsAndWritesNothing) {
  makeMixedFolder();
  const auto before = namesIn(dir());
  const CommandResult result = run({"-rn", "."});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(linesOf(result.out),
            (Names{"./thumb_TALL.JPG", "./thumb_beach.jpg", "./thumb_logo.Gif", "./thumb_old.Jfif",
                   "./thumb_photo.jpeg", "./thumb_scan.JPE", "./trip/thumb_hill.jpg"}));
  EXPECT_EQ(namesIn(dir()), before);
}

TEST_F(Command, SkipExistingRemakesOnlyThumbnailsOlderThanTheirPicture) {
  makeMixedFolder();
  ASSERT_EQ(run({"."}).status, 0);
  // beach.jpg changes after its thumbnail was made.
  const struct timespec later[2] = {{0, UTIME_OMIT}, {4102444800, 0}};  // 2100
  ASSERT_EQ(utimensat(AT_FDCWD, (dir() / "beach.jpg").c_str(), later, 0), 0);
  // Newer than TALL.JPG and shaped as a whole JPEG (its first and last two bytes).
  std::ofstream(dir() / "thumb_TALL.JPG", std::ios::trunc) << "\xFF\xD8kept\xFF\xD9";
  const CommandResult planned = run({"--skip-existing", "-n", "."});
  EXPECT_EQ(linesOf(planned.out), Names{"./thumb_beach.jpg"});
  EXPECT_EQ(run({"--skip-existing", "."}).status, 0);
  EXPECT_EQ(readBytes(dir() / "thumb_TALL.JPG"),
            (std::vector<std::uint8_t>{0xFF, 0xD8, 'k', 'e', 'p', 't', 0xFF, 0xD9}));
  EXPECT_EQ(run({"."}).status, 0);  // without the option, every thumbnail is made
  EXPECT_EQ(probeJpegFile(dir() / "thumb_TALL.JPG").width, 94);
}

TEST_F(Command, ABrokenPictureIsReportedAndTheRestAreMade) {
  batchtest::writeSceneJpeg(dir() / "a.jpg", 200, 150);
  std::ofstream(dir() / "b.jpg") << "\xFF\xD8\xFF\xE0 not really a JPEG";
  batchtest::writeSceneJpeg(dir() / "c.jpg", 200, 150);
  std::ofstream(dir() / "d.gif") << "GIF89a";
  batchtest::writeSceneGif(dir() / "e.gif", 80, 60);
  const CommandResult result = run({"-j", "2", ".", "missing.jpg"});
  EXPECT_EQ(result.status, 1);
  const Names lines = linesOf(result.err);
  ASSERT_EQ(lines.size(), 4u) << result.err;
  const auto linesStartingWith = [&lines](const std::string& start) {
    return std::count_if(lines.begin(), lines.end(),
                         [&start](const std::string& line) { return line.starts_with(start); });
  };
  // One line each, naming the file; the reason is the reader's.
  EXPECT_EQ(linesStartingWith("quorvane-thumb: ./b.jpg: "), 1);
  EXPECT_EQ(linesStartingWith("quorvane-thumb: ./d.gif: "), 1);
  EXPECT_EQ(linesStartingWith("quorvane-thumb: File not found: missing.jpg"), 1);
  EXPECT_EQ(lines.back(), "quorvane-thumb: 3 of 6 pictures failed");
  EXPECT_EQ(namesIn(dir()), (Names{"a.jpg", "b.jpg", "c.jpg", "d.gif", "e.gif", "thumb_a.jpg",
                                   "thumb_c.jpg", "thumb_e.gif"}));
}

TEST_F(Command, AnOutputThatCannotBeWrittenIsReportedAndLeavesNoFile) {
  batchtest::writeSceneJpeg(dir() / "a.jpg", 200, 150);
  batchtest::writeSceneJpeg(dir() / "b.jpg", 200, 150);
  fs::create_directory(dir() / "thumb_a.jpg");
  const CommandResult result = run({"a.jpg", "b.jpg"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(linesOf(result.err),
            (Names{"quorvane-thumb: a.jpg: cannot write thumb_a.jpg: Is a directory",
                   "quorvane-thumb: 1 of 2 pictures failed"}));
  EXPECT_EQ(namesIn(dir()), (Names{"a.jpg", "b.jpg", "thumb_a.jpg", "thumb_b.jpg"}));
  EXPECT_TRUE(fs::is_directory(dir() / "thumb_a.jpg"));
}

TEST_F(Command, AReadOnlyFolderKeepsItsThumbnailsAndSaysSo) {
  batchtest::writeSceneJpeg(dir() / "a.jpg", 200, 150);
  std::ofstream(dir() / "thumb_a.jpg") << "earlier";
  fs::permissions(dir(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const CommandResult result = run({"."}, {.asOrdinaryUser = true});
  fs::permissions(dir(), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(linesOf(result.err).front(),
            "quorvane-thumb: ./a.jpg: cannot write ./thumb_a.jpg: Permission denied");
  EXPECT_EQ(readBytes(dir() / "thumb_a.jpg"),
            (std::vector<std::uint8_t>{'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
  EXPECT_EQ(namesIn(dir()), (Names{"a.jpg", "thumb_a.jpg"}));
}

TEST_F(Command, AFolderThatCannotBeReadIsReportedAndTheRestAreMade) {
  batchtest::writeSceneJpeg(dir() / "a.jpg", 200, 150);
  fs::create_directory(dir() / "locked");
  fs::permissions(dir() / "locked", fs::perms::none);
  const CommandResult result = run({"-r", "."}, {.asOrdinaryUser = true});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(linesOf(result.err).front(), "quorvane-thumb: ./locked: Permission denied");
  EXPECT_TRUE(fs::exists(dir() / "thumb_a.jpg"));
}

TEST_F(Command, ProgressGoesToATerminalOnly) {
  batchtest::writeSceneJpeg(dir() / "a.jpg", 64, 48);
  std::ofstream(dir() / "b.jpg") << "broken";
  const CommandResult shown = run({"-j1", "a.jpg", "b.jpg"}, {.errorsOnTerminal = true});
  EXPECT_EQ(shown.status, 1);
  EXPECT_NE(shown.err.find("\r1/2 a.jpg"), std::string::npos) << shown.err;
  EXPECT_NE(shown.err.find("\r2/2 b.jpg"), std::string::npos) << shown.err;
  EXPECT_NE(shown.err.find("quorvane-thumb: b.jpg: "), std::string::npos) << shown.err;
  const CommandResult hidden = run({"-j1", "a.jpg", "b.jpg"});
  EXPECT_EQ(hidden.err.find("1/2"), std::string::npos) << hidden.err;
}

TEST_F(Command, AnyNumberOfJobsMakesTheSameFiles) {
  for (int i = 0; i < 5; ++i) {
    batchtest::writeSceneJpeg(dir() / ("p" + std::to_string(i) + ".jpg"), 300 + 40 * i, 200, i,
                              i % 2 == 1);
  }
  batchtest::writeSceneGif(dir() / "g.gif", 150, 90, true);
  ASSERT_EQ(run({"-j1", "."}).status, 0);
  const std::map<std::string, std::vector<std::uint8_t>> first = thumbnailsIn(dir());
  ASSERT_EQ(keysOf(first), (Names{"thumb_g.gif", "thumb_p0.jpg", "thumb_p1.jpg", "thumb_p2.jpg",
                                  "thumb_p3.jpg", "thumb_p4.jpg"}));
  ASSERT_EQ(run({"--jobs", "4", "."}).status, 0);
  const std::map<std::string, std::vector<std::uint8_t>> second = thumbnailsIn(dir());
  ASSERT_EQ(keysOf(second), keysOf(first)) << "the runs made different thumbnails";
  for (const auto& [name, bytes] : first) {
    EXPECT_TRUE(second.at(name) == bytes) << name << " differs between -j1 and -j4";
  }
}

TEST_F(Command, JobsUpToTheDocumentedMaximumAreTaken) {
  batchtest::writeSceneJpeg(dir() / "a.jpg", 200, 150);
  batchtest::writeSceneJpeg(dir() / "b.jpg", 150, 200, 2);
  const CommandResult result = run({"-j", "1024", "."});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(thumbnailsBelow(dir()), (Names{"thumb_a.jpg", "thumb_b.jpg"}));
}

// A JPEG cut short (a card pulled out, a download stopped) is still drawn, its missing part grey,
// and named in a warning; only pictures that cannot be drawn fail.
TEST_F(Command, AJpegThatEndsEarlyIsMadeWithAWarning) {
  batchtest::writeSceneJpeg(dir() / "a.jpg", 400, 300);
  const std::vector<std::uint8_t> whole = readBytes(dir() / "a.jpg");
  testsupport::writeBytes(dir() / "cut.jpg",
                          std::span(whole).first(whole.size() / 2));  // past the headers
  const CommandResult warned = run({"."});
  EXPECT_EQ(warned.status, 0);
  EXPECT_EQ(linesOf(warned.err),
            (Names{"quorvane-thumb: ./cut.jpg: warning: ends early; the rest is grey",
                   "quorvane-thumb: 1 of 2 pictures made with a warning"}));
  const testsupport::JpegProbe cut = probeJpegFile(dir() / "thumb_cut.jpg");
  EXPECT_TRUE(cut.valid);
  EXPECT_EQ(std::pair(cut.width, cut.height), std::pair(125, 94));

  std::ofstream(dir() / "broken.jpg") << "\xFF\xD8\xFF\xE0 not really a JPEG";
  const CommandResult failed = run({"-j1", "broken.jpg", "cut.jpg"});
  EXPECT_EQ(failed.status, 1);
  const Names lines = linesOf(failed.err);
  ASSERT_EQ(lines.size(), 3u) << failed.err;
  EXPECT_TRUE(lines[0].starts_with("quorvane-thumb: broken.jpg: ")) << lines[0];
  EXPECT_EQ(lines[1], "quorvane-thumb: cut.jpg: warning: ends early; the rest is grey");
  EXPECT_EQ(lines[2], "quorvane-thumb: 1 of 2 pictures failed, 1 made with a warning");
  EXPECT_FALSE(fs::exists(dir() / "thumb_broken.jpg"));
}

TEST_F(Command, AnOutputFolderKeepsAFoldersTreeAndTakesFilesStraightIn) {
  fs::create_directories(dir() / "PHOTOS" / "2019" / "summer");
  fs::create_directory(dir() / "other");
  batchtest::writeSceneJpeg(dir() / "PHOTOS" / "a.jpg", 200, 150);
  batchtest::writeSceneJpeg(dir() / "PHOTOS" / "2019" / "b.jpg", 150, 200, 2);
  batchtest::writeSceneGif(dir() / "PHOTOS" / "2019" / "summer" / "c.gif", 100, 80);
  batchtest::writeSceneJpeg(dir() / "other" / "d.jpg", 120, 90, 3);

  // Without -r a folder's subfolders are neither searched nor made.
  const CommandResult flat = run({"-o", "out/thumbs", "PHOTOS", "other/d.jpg"});
  EXPECT_EQ(flat.status, 0) << flat.err;
  EXPECT_EQ(thumbnailsBelow(dir() / "out"), (Names{"thumbs/thumb_a.jpg", "thumbs/thumb_d.jpg"}));
  EXPECT_EQ(namesIn(dir() / "out" / "thumbs"), (Names{"thumb_a.jpg", "thumb_d.jpg"}));

  const CommandResult planned = run({"-rn", "-o", "out/thumbs", "PHOTOS"});
  EXPECT_EQ(linesOf(planned.out), (Names{"out/thumbs/thumb_a.jpg", "out/thumbs/2019/thumb_b.jpg",
                                         "out/thumbs/2019/summer/thumb_c.gif"}));
  const CommandResult tree = run({"-r", "--output-dir=out/thumbs/", "PHOTOS", "other/d.jpg"});
  EXPECT_EQ(tree.status, 0) << tree.err;
  EXPECT_EQ(tree.err, "");
  EXPECT_EQ(thumbnailsBelow(dir() / "out" / "thumbs"),
            (Names{"2019/summer/thumb_c.gif", "2019/thumb_b.jpg", "thumb_a.jpg", "thumb_d.jpg"}));
  EXPECT_EQ(thumbnailsBelow(dir() / "PHOTOS"), Names{});
  EXPECT_EQ(thumbnailsBelow(dir() / "other"), Names{});
  EXPECT_EQ(temporariesBelow(dir()), Names{});
  // The same thumbnail as beside the picture.
  const std::vector<std::uint8_t> mirrored = readBytes(dir() / "out/thumbs/2019/thumb_b.jpg");
  ASSERT_EQ(run({"PHOTOS/2019/b.jpg"}).status, 0);
  EXPECT_TRUE(readBytes(dir() / "PHOTOS/2019/thumb_b.jpg") == mirrored);
}

TEST_F(Command, AnOutputFolderThatCannotBeMadeFailsItsPicturesOnly) {
  fs::create_directories(dir() / "PHOTOS" / "2019");
  batchtest::writeSceneJpeg(dir() / "PHOTOS" / "a.jpg", 200, 150);
  batchtest::writeSceneJpeg(dir() / "PHOTOS" / "2019" / "b.jpg", 150, 200, 2);
  fs::create_directory(dir() / "out");
  std::ofstream(dir() / "out" / "2019") << "a file where a folder would go";
  const CommandResult result = run({"-r", "-o", "out", "PHOTOS"});
  EXPECT_EQ(result.status, 1);
  const Names lines = linesOf(result.err);
  ASSERT_EQ(lines.size(), 2u) << result.err;
  EXPECT_TRUE(lines[0].starts_with(
      "quorvane-thumb: PHOTOS/2019/b.jpg: cannot write out/2019/thumb_b.jpg: "))
      << lines[0];
  EXPECT_EQ(lines[1], "quorvane-thumb: 1 of 2 pictures failed");
  EXPECT_EQ(namesIn(dir() / "out"), (Names{"2019", "thumb_a.jpg"}));
  EXPECT_EQ(readText(dir() / "out" / "2019"), "a file where a folder would go");
}

TEST_F(Command, AReadOnlyCollectionGetsItsThumbnailsInAnotherFolder) {
  fs::create_directories(dir() / "PHOTOS" / "2019");
  batchtest::writeSceneJpeg(dir() / "PHOTOS" / "a.jpg", 200, 150);
  batchtest::writeSceneJpeg(dir() / "PHOTOS" / "2019" / "b.jpg", 150, 200, 2);
  const fs::perms writable =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  for (const char* folder : {"PHOTOS/2019", "PHOTOS"}) {
    fs::permissions(dir() / folder, writable, fs::perm_options::remove);
  }
  const CommandResult result =
      run({"-r", "-o", elsewhere_.file("thumbs"), "PHOTOS"}, {.asOrdinaryUser = true});
  for (const char* folder : {"PHOTOS", "PHOTOS/2019"}) {
    fs::permissions(dir() / folder, fs::perms::owner_write, fs::perm_options::add);
  }
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(thumbnailsBelow(elsewhere_.path() / "thumbs"),
            (Names{"2019/thumb_b.jpg", "thumb_a.jpg"}));
  EXPECT_EQ(thumbnailsBelow(dir()), Names{});
}

TEST_F(Command, SkipExistingLooksForTheThumbnailUnderTheOutputFolder) {
  fs::create_directory(dir() / "PHOTOS");
  batchtest::writeSceneJpeg(dir() / "PHOTOS" / "a.jpg", 200, 150);
  batchtest::writeSceneJpeg(dir() / "PHOTOS" / "b.jpg", 150, 200, 2);
  ASSERT_EQ(run({"-o", "out", "PHOTOS"}).status, 0);
  setModified(dir() / "out" / "thumb_a.jpg", kYear2100);
  // b's thumbnail is missing under out; a current one beside the picture does not count.
  fs::remove(dir() / "out" / "thumb_b.jpg");
  std::ofstream(dir() / "PHOTOS" / "thumb_b.jpg") << "\xFF\xD8 beside \xFF\xD9";
  setModified(dir() / "PHOTOS" / "thumb_b.jpg", kYear2100);

  const CommandResult planned = run({"--skip-existing", "-n", "-o", "out", "PHOTOS"});
  EXPECT_EQ(linesOf(planned.out), Names{"out/thumb_b.jpg"});
  EXPECT_EQ(run({"--skip-existing", "-o", "out", "PHOTOS"}).status, 0);
  EXPECT_EQ(namesIn(dir() / "out"), (Names{"thumb_a.jpg", "thumb_b.jpg"}));
  EXPECT_TRUE(modified(dir() / "out" / "thumb_a.jpg") == kYear2100);
  EXPECT_EQ(probeJpegFile(dir() / "out" / "thumb_b.jpg").height, 125);
}

TEST_F(Command, TwoPicturesForOneThumbnailNameUnderAnOutputFolder) {
  fs::create_directory(dir() / "A");
  fs::create_directory(dir() / "B");
  batchtest::writeSceneJpeg(dir() / "A" / "x.jpg", 200, 100);
  batchtest::writeSceneJpeg(dir() / "B" / "x.jpg", 100, 200, 2);
  // Two files, and two folders whose trees both start at the output folder.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-o", "out", "A/x.jpg", "B/x.jpg"}, {"-o", "out", "A", "B"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    fs::remove_all(dir() / "out");
    const CommandResult result = run(args);
    EXPECT_EQ(result.status, 1);
    const Names lines = linesOf(result.err);
    ASSERT_EQ(lines.size(), 2u) << result.err;
    EXPECT_TRUE(lines[0].starts_with("quorvane-thumb: B/x.jpg: ")) << lines[0];
    EXPECT_NE(lines[0].find("out/thumb_x.jpg"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "quorvane-thumb: 1 of 2 pictures failed");
    EXPECT_EQ(namesIn(dir() / "out"), Names{"thumb_x.jpg"});
    const testsupport::JpegProbe kept = probeJpegFile(dir() / "out" / "thumb_x.jpg");
    EXPECT_EQ(std::pair(kept.width, kept.height), std::pair(125, 63));  // A's, not B's
  }
}

TEST_F(Command, OutputWritesTheOnePicturesThumbnailToAnyNameOrStandardOutput) {
  batchtest::writeSceneJpeg(dir() / "a.jpg", 640, 480);
  ASSERT_EQ(run({"a.jpg"}).status, 0);
  const std::vector<std::uint8_t> thumbnail = readBytes(dir() / "thumb_a.jpg");
  fs::remove(dir() / "thumb_a.jpg");

  const CommandResult named = run({"--output=my thumb.jpeg", "a.jpg"});
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_TRUE(readBytes(dir() / "my thumb.jpeg") == thumbnail);
  EXPECT_EQ(namesIn(dir()), (Names{"a.jpg", "my thumb.jpeg"}));

  const CommandResult piped = run({"--output", "-", "a.jpg"});
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.err, "");
  const std::vector<std::uint8_t> out(piped.out.begin(), piped.out.end());
  const testsupport::JpegProbe probe = testsupport::probeJpeg(out);
  EXPECT_TRUE(probe.valid);
  EXPECT_EQ(std::pair(probe.width, probe.height), std::pair(125, 94));
  EXPECT_EQ(testsupport::decodeJpeg(out).width, 125);
  EXPECT_TRUE(out == thumbnail);
  EXPECT_EQ(namesIn(dir()), (Names{"a.jpg", "my thumb.jpeg"}));
}

TEST_F(Command, OutputIsRefusedWithMoreThanOnePicture) {
  batchtest::writeSceneJpeg(dir() / "a.jpg", 64, 48);
  batchtest::writeSceneJpeg(dir() / "b.jpg", 64, 48);
  fs::create_directory(dir() / "PHOTOS");
  batchtest::writeSceneJpeg(dir() / "PHOTOS" / "c.jpg", 64, 48);
  batchtest::writeSceneJpeg(dir() / "PHOTOS" / "d.jpg", 64, 48);
  std::ofstream(elsewhere_.file("list")) << "a.jpg\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--output=x.jpg", "a.jpg", "b.jpg"},
        {"--output=x.jpg", "PHOTOS"},
        {"--output=x.jpg", "-o", "out", "a.jpg"},
        {"--output=x.jpg", "--files-from=" + elsewhere_.file("list"), "b.jpg"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult result = run(args);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    // One line saying why (and, for a misused option, where to read more).
    const Names lines = linesOf(result.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0].starts_with("quorvane-thumb: --output")) << lines[0];
    EXPECT_TRUE(lines.size() == 1 ||
                (lines.size() == 2 && lines[1].starts_with("Try 'quorvane-thumb --help'")))
        << result.err;
  }
  EXPECT_EQ(namesIn(dir()), (Names{"PHOTOS", "a.jpg", "b.jpg"}));
  EXPECT_EQ(namesIn(dir() / "PHOTOS"), (Names{"c.jpg", "d.jpg"}));
}

// Lists as find writes them, from a file or a pipe: any byte but the separator can be in a name.
TEST_F(Command, FilesFromTakesTheNamesOfAListAsGiven) {
  const std::string latin1 = "caf\xE9.jpg";
  for (const std::string& name :
       {std::string("with space.jpg"), std::string("new\nline.jpg"), latin1}) {
    batchtest::writeSceneJpeg(dir() / name, 64, 48);
  }
  std::ofstream(dir() / "notes.txt") << "not a picture";
  const std::string lines = "with space.jpg\n" + latin1 + "\n\nnotes.txt\n";
  const std::string nulls = std::string("with space.jpg\0new\nline.jpg\0", 28) + latin1 +
                            std::string("\0notes.txt\0", 11);
  for (const bool fromStandardInput : {false, true}) {
    for (const bool nullSeparated : {false, true}) {
      SCOPED_TRACE(std::string(fromStandardInput ? "standard input" : "a file") +
                   (nullSeparated ? ", NUL-separated" : ", lines"));
      removeThumbnails();
      const std::string& list = nullSeparated ? nulls : lines;
      std::vector<std::string> args{"--files-from=-"};
      RunOptions options;
      if (fromStandardInput) {
        options.input = list;
      } else {
        testsupport::writeText(elsewhere_.file("list"), list);
        args = {"--files-from", elsewhere_.file("list")};
      }
      if (nullSeparated) args.push_back("-0");
      const CommandResult result = run(args, options);
      EXPECT_EQ(result.status, 1);
      const int total = nullSeparated ? 4 : 3;
      const Names said = linesOf(result.err);
      ASSERT_EQ(said.size(), 2u) << result.err;
      EXPECT_TRUE(said[0].starts_with("quorvane-thumb: notes.txt: ")) << said[0];
      EXPECT_EQ(said[1], "quorvane-thumb: 1 of " + std::to_string(total) + " pictures failed");
      Names expected{"thumb_" + latin1, "thumb_with space.jpg"};
      if (nullSeparated) expected.insert(expected.begin() + 1, "thumb_new\nline.jpg");
      EXPECT_EQ(thumbnailsBelow(dir()), expected);
    }
  }
}

TEST_F(Command, NoEnlargeKeepsASmallPicturesOwnSize) {
  batchtest::writeSceneJpeg(dir() / "tiny.jpg", 16, 16);
  batchtest::writeSceneGif(dir() / "small.gif", 40, 20);
  batchtest::writeSceneJpeg(dir() / "big.jpg", 640, 480);
  for (const auto& [args, tiny, small, big] :
       {std::tuple{std::vector<std::string>{"--no-enlarge", "-s", "125", "."}, std::pair{16, 16},
                   std::pair{40, 20}, std::pair{125, 94}},
        std::tuple{std::vector<std::string>{"-s", "125", "."}, std::pair{125, 125},
                   std::pair{125, 63}, std::pair{125, 94}},
        std::tuple{std::vector<std::string>{"--no-enlarge", "-s", "30", "."}, std::pair{16, 16},
                   std::pair{30, 15}, std::pair{30, 23}}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    ASSERT_EQ(run(args).status, 0);
    for (const auto& [name, size] :
         {std::pair{"thumb_tiny.jpg", tiny}, std::pair{"thumb_small.gif", small},
          std::pair{"thumb_big.jpg", big}}) {
      const testsupport::JpegProbe probe = probeJpegFile(dir() / name);
      EXPECT_EQ(std::pair(probe.width, probe.height), size) << name;
    }
  }
}

TEST_F(Command, BackgroundColoursTheTransparentPartOfAGif) {
  batchtest::writeSceneGif(dir() / "half.gif", 200, 100, true);
  for (const auto& [args, colour] :
       {std::pair{std::vector<std::string>{"--background=#112233", "half.gif"},
                  testsupport::Rgb{0x11, 0x22, 0x33}},
        std::pair{std::vector<std::string>{"--background", "#A0b1C2", "half.gif"},
                  testsupport::Rgb{0xA0, 0xB1, 0xC2}},
        std::pair{std::vector<std::string>{"half.gif"}, testsupport::Rgb{0xEF, 0xEF, 0xEF}}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    ASSERT_EQ(run(args).status, 0);
    const testsupport::RgbImage thumbnail = testsupport::decodeJpegFile(dir() / "thumb_half.gif");
    ASSERT_EQ(std::pair(thumbnail.width, thumbnail.height), std::pair(125, 63));
    // The transparent left half, in the JPEG blocks away from its edge with the picture.
    const testsupport::Mean left = testsupport::meanOf(thumbnail, 0, 0, 48, 63);
    EXPECT_NEAR(left.r, colour.r, 4);
    EXPECT_NEAR(left.g, colour.g, 4);
    EXPECT_NEAR(left.b, colour.b, 4);
    int farthest = 0;  // from the colour, in any channel of any pixel there
    for (int y = 0; y < 63; ++y) {
      for (int x = 0; x < 48; ++x) {
        const std::uint8_t* pixel = thumbnail.at(x, y);
        farthest = std::max({farthest, std::abs(pixel[0] - colour.r), std::abs(pixel[1] - colour.g),
                             std::abs(pixel[2] - colour.b)});
      }
    }
    EXPECT_LE(farthest, 6);  // JPEG rounding
  }
}

// After a power cut, the same command with --skip-existing remakes exactly what was lost: an
// empty or cut-short thumbnail is remade however new it looks, and so is one no newer than its
// picture.
TEST_F(Command, SkipExistingRemakesThumbnailsCutShortOrNoNewerThanTheirPicture) {
  for (const char* name : {"empty", "half", "whole", "same", "newer"}) {
    batchtest::writeSceneJpeg(dir() / (std::string(name) + ".jpg"), 200, 150, name[0]);
  }
  ASSERT_EQ(run({"."}).status, 0);
  const auto made = thumbnailsIn(dir());
  fs::resize_file(dir() / "thumb_empty.jpg", 0);
  fs::resize_file(dir() / "thumb_half.jpg", made.at("thumb_half.jpg").size() / 2);
  for (const char* name : {"thumb_empty.jpg", "thumb_half.jpg", "thumb_whole.jpg"}) {
    setModified(dir() / name, kYear2100);
  }
  // Times to the nanosecond: equal, and one nanosecond newer.
  const timespec edited{1700000000, 123456789};
  const timespec justAfter{edited.tv_sec, edited.tv_nsec + 1};
  setModified(dir() / "same.jpg", edited);
  setModified(dir() / "thumb_same.jpg", edited);
  setModified(dir() / "newer.jpg", edited);
  setModified(dir() / "thumb_newer.jpg", justAfter);
  ASSERT_TRUE(modified(dir() / "thumb_newer.jpg") == justAfter)
      << "the file system keeps no nanoseconds";

  const CommandResult planned = run({"--skip-existing", "-n", "."});
  EXPECT_EQ(linesOf(planned.out),
            (Names{"./thumb_empty.jpg", "./thumb_half.jpg", "./thumb_same.jpg"}));
  ASSERT_EQ(run({"--skip-existing", "."}).status, 0);
  EXPECT_TRUE(thumbnailsIn(dir()) == made);
  EXPECT_TRUE(modified(dir() / "thumb_whole.jpg") == kYear2100);
  EXPECT_TRUE(modified(dir() / "thumb_newer.jpg") == justAfter);
  EXPECT_FALSE(modified(dir() / "thumb_same.jpg") == edited);
}

// Counted through the shim that stands in for slow media: it logs each sync call's name.
TEST_F(Command, ARunSyncsEachFileSystemItWroteToOnce) {
  fs::create_directory(dir() / "trip");
  batchtest::writeSceneJpeg(dir() / "a.jpg", 64, 48);
  batchtest::writeSceneJpeg(dir() / "b.jpg", 64, 48, 2);
  batchtest::writeSceneJpeg(dir() / "trip" / "c.jpg", 64, 48, 3);
  const fs::path log = elsewhere_.path() / "syncs";
  const auto syncsOf = [&](const std::vector<std::string>& args) {
    fs::remove(log);
    const CommandResult result = run(args, loggingSyncs(log));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(thumbnailsBelow(dir()).size(), 3u);
    return linesOf(testsupport::readText(log));
  };
  // Two folders on one file system.
  EXPECT_EQ(syncsOf({"-r", "."}), Names{"syncfs"});
  EXPECT_EQ(syncsOf({"-r", "--sync=end", "."}), Names{"syncfs"});
  EXPECT_EQ(syncsOf({"-r", "--sync=each", "."}), Names(6, "fsync"));  // each file and its folder
  EXPECT_EQ(syncsOf({"-r", "--sync=none", "."}), Names{});

  // Thumbnails under an output folder whose trip/ is on another file system.
  struct stat here {};
  struct stat shared {};
  if (::stat(elsewhere_.path().c_str(), &here) != 0 || ::stat("/dev/shm", &shared) != 0 ||
      here.st_dev == shared.st_dev) {
    GTEST_SKIP() << "no second file system in /dev/shm";
  }
  std::string other = "/dev/shm/quorvane-batch-XXXXXX";
  ASSERT_NE(::mkdtemp(other.data()), nullptr);
  fs::create_directory(elsewhere_.path() / "out");
  fs::create_directory_symlink(other, elsewhere_.path() / "out" / "trip");
  const Names twoFileSystems = syncsOf({"-r", "-o", elsewhere_.file("out"), "."});
  EXPECT_EQ(namesIn(other), Names{"thumb_c.jpg"});
  testsupport::removeAll(other);
  EXPECT_EQ(twoFileSystems, (Names{"syncfs", "syncfs"}));
}

// Signals to a running command over a few hundred pictures.
class Interrupt : public Command {
 protected:
  // What a command that did not do what was expected said, once stopped.
  static std::string stopped(RunningThumb& running) {
    ::kill(running.pid(), SIGKILL);
    const CommandResult result = running.wait();
    return "status " + std::to_string(result.status) + ", signal " + std::to_string(result.signal) +
           ", said: " + result.err;
  }
  static constexpr int kPictures = 300;
  // Copies of one picture: p000.jpg, p001.jpg...
  void makePictures(int width, int height) {
    batchtest::writeSceneJpeg(dir() / "p000.jpg", width, height);
    const std::vector<std::uint8_t> bytes = readBytes(dir() / "p000.jpg");
    for (int i = 1; i < kPictures; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "p%03d.jpg", i);
      ASSERT_TRUE(testsupport::writeBytes(dir() / name, bytes));
    }
  }
};

TEST_F(Interrupt, ASignalStopsTheRunSaysHowManyWereMadeAndLeavesNoTemporaryFile) {
  makePictures(640, 480);
  for (const auto& [signal, status] :
       {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}}) {
    SCOPED_TRACE(::strsignal(signal));
    removeThumbnails();
    RunningThumb running = startThumb({"-j2", "."}, dir());
    ASSERT_TRUE(running.waitForName(
        dir(), [](const std::string& name) { return name.starts_with("thumb_"); }))
        << "no thumbnail made: " << stopped(running);
    ASSERT_EQ(::kill(running.pid(), signal), 0);
    const CommandResult result = running.wait();
    EXPECT_EQ(result.status, status) << "ended by signal " << result.signal;
    const Names made = thumbnailsBelow(dir());
    EXPECT_LT(made.size(), static_cast<size_t>(kPictures)) << "it did not stop";
    EXPECT_EQ(linesOf(result.err),
              Names{"quorvane-thumb: interrupted: " + std::to_string(made.size()) + " of " +
                    std::to_string(kPictures) + " thumbnails made"});
    EXPECT_EQ(temporariesBelow(dir()), Names{});
    for (const std::string& name : made) {
      const testsupport::JpegProbe probe = probeJpegFile(dir() / name);
      EXPECT_TRUE(probe.valid && probe.width == 125 && probe.height == 94) << name;
    }
  }
}

// Each sync made slow, so that a picture is in progress, its temporary file written and not yet
// renamed, when the second Ctrl-C comes: it is removed, not finished.
TEST_F(Interrupt, ASecondSignalStopsAtOnceAndRemovesThePicturesInProgress) {
  makePictures(200, 150);
  RunningThumb running = startThumb({"-j2", "--sync=each", "."}, dir(),
                                    loggingSyncs(elsewhere_.path() / "syncs", 600));
  std::string inProgress;
  ASSERT_TRUE(running.waitForName(dir(),
                                  [&inProgress](const std::string& name) {
                                    if (!isTemporary(name)) return false;
                                    inProgress = name;
                                    return true;
                                  }))
      << "no thumbnail written: " << stopped(running);
  ASSERT_EQ(::kill(running.pid(), SIGINT), 0);
  ASSERT_TRUE(waitUntilTaken(running.pid(), SIGINT));
  ASSERT_EQ(::kill(running.pid(), SIGINT), 0);
  const CommandResult result = running.wait();
  EXPECT_EQ(result.status, 130) << "ended by signal " << result.signal;
  EXPECT_EQ(temporariesBelow(dir()), Names{});
  // ".thumb_p000.jpg.0123456789.tmp": its thumbnail was never finished.
  const std::string thumbnail = inProgress.substr(1, inProgress.size() - 16);
  EXPECT_FALSE(fs::exists(dir() / thumbnail)) << thumbnail;
  const Names lines = linesOf(result.err);
  const int said = madeWhenInterrupted(lines, kPictures);
  EXPECT_GE(said, 0) << result.err;
  EXPECT_LE(said, static_cast<int>(thumbnailsBelow(dir()).size()));
}

}  // namespace
