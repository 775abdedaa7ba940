// quorvane-thumb end to end: a rerun repairs what a power cut lost, the syncs a run makes, and
// runs stopped by signals.
#include "tests/batch/command_fixture.h"

using namespace commandtest;  // NOLINT(google-build-using-namespace)

namespace {

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
