// quorvane-thumb end to end: the built program on folders of pictures the tests make: usage,
// searches, failures, jobs and warnings.
#include "tests/batch/command_fixture.h"

using namespace commandtest;  // NOLINT(google-build-using-namespace)

namespace {

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

}  // namespace
