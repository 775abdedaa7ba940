// quorvane-thumb end to end: where thumbnails go (-o, --output), which pictures (--files-from),
// at what size and on what colour.
#include "tests/batch/command_fixture.h"

using namespace commandtest;  // NOLINT(google-build-using-namespace)

namespace {

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

}  // namespace
