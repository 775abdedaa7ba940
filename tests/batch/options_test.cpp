// The command line as users write it, and what is refused.
#include "batch/options.h"

#include <gtest/gtest.h>

#include <fstream>

#include "batch/picture_list.h"
#include "tests/support/temp_folder.h"

namespace {

using Names = std::vector<std::string>;

thumb::Options parsed(const std::vector<std::string>& args) {
  thumb::Options options;
  std::string error;
  EXPECT_TRUE(thumb::parseOptions(args, options, error)) << error;
  return options;
}

TEST(Options, ShortLongGroupedAndAttachedFormsMeanTheSame) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-s", "60", "-j", "3", "-r", "-n", "a"},
        {"-rns60", "-j3", "a"},
        {"--size=60", "--jobs", "3", "--recursive", "--dry-run", "a"},
        {"a", "-nr", "--size", "60", "--jobs=3"}}) {
    const thumb::Options options = parsed(args);
    EXPECT_EQ(options.size, 60);
    EXPECT_EQ(options.jobs, 3);
    EXPECT_TRUE(options.recursive);
    EXPECT_TRUE(options.dryRun);
    EXPECT_FALSE(options.skipExisting);
    EXPECT_EQ(options.operands, std::vector<std::string>{"a"});
  }
  EXPECT_EQ(parsed({"--", "-n", "-"}).operands, (std::vector<std::string>{"-n", "-"}));
  EXPECT_TRUE(parsed({"--skip-existing", "a"}).skipExisting);
  EXPECT_EQ(parsed({"a"}).size, 125);
  EXPECT_EQ(parsed({"-s", "16384", "a"}).size, 16384);
  EXPECT_EQ(parsed({"-j", "1024", "a"}).jobs, 1024);
  EXPECT_EQ(parsed({"-j1", "a"}).jobs, 1);
}

TEST(Options, WhereThumbnailsGoWhichPicturesAndHow) {
  const thumb::Options defaults = parsed({"a"});
  EXPECT_EQ(defaults.sync, thumb::SyncMode::kEnd);
  EXPECT_EQ(defaults.background, thumb::kDefaultBackColor);
  EXPECT_EQ(defaults.outputDir, "");
  EXPECT_EQ(defaults.outputFile, "");
  EXPECT_FALSE(defaults.noEnlarge);

  const thumb::Options listed = parsed({"--files-from=list", "-0", "--no-enlarge", "-oout",
                                        "--background=#A0b1C2", "--sync", "each"});
  EXPECT_EQ(listed.filesFrom, "list");
  EXPECT_TRUE(listed.nullSeparated);
  EXPECT_TRUE(listed.noEnlarge);
  EXPECT_EQ(listed.outputDir, "out");
  EXPECT_EQ(listed.background, (platform::Color{0xA0, 0xB1, 0xC2}));
  EXPECT_EQ(listed.sync, thumb::SyncMode::kEach);
  EXPECT_TRUE(listed.operands.empty());

  const thumb::Options piped = parsed({"--output", "-", "--sync=none", "a"});
  EXPECT_EQ(piped.outputFile, "-");
  EXPECT_EQ(piped.sync, thumb::SyncMode::kNone);
  EXPECT_EQ(piped.operands, Names{"a"});
  EXPECT_EQ(parsed({"--null", "--files-from", "-", "--output-dir=d/e"}).outputDir, "d/e");
  EXPECT_EQ(parsed({"--sync=end", "a"}).sync, thumb::SyncMode::kEnd);
  EXPECT_EQ(parsed({"--background=#000000", "a"}).background, (platform::Color{0, 0, 0}));
  EXPECT_EQ(parsed({"--background=#ffffff", "a"}).background, (platform::Color{255, 255, 255}));
}

TEST(Options, RefusalsSayWhy) {
  for (const auto& [args, reason] :
       {std::pair{std::vector<std::string>{"-s", "-5", "a"}, "invalid size '-5'"},
        std::pair{std::vector<std::string>{"-s", " 60", "a"}, "invalid size ' 60'"},
        std::pair{std::vector<std::string>{"-j", "two", "a"}, "invalid number of jobs 'two'"},
        std::pair{std::vector<std::string>{"-nq", "a"}, "invalid option -- 'q'"},
        std::pair{std::vector<std::string>{"a", "-j"}, "option requires an argument -- 'j'"},
        std::pair{std::vector<std::string>{"--size"}, "option '--size' needs a value"},
        std::pair{std::vector<std::string>{"--dry-run=1", "a"}, "unrecognized option"},
        std::pair{std::vector<std::string>{"-r"}, "no picture or folder given"},
        std::pair{std::vector<std::string>{"-j", "1025", "a"}, "invalid number of jobs '1025'"},
        std::pair{std::vector<std::string>{"-j0", "a"}, "invalid number of jobs '0'"},
        std::pair{std::vector<std::string>{"--sync=", "a"}, "invalid sync mode ''"},
        std::pair{std::vector<std::string>{"--sync", "always", "a"}, "invalid sync mode 'always'"},
        std::pair{std::vector<std::string>{"--background=#12345", "a"},
                  "invalid background colour '#12345'"},
        std::pair{std::vector<std::string>{"--background=#1234567", "a"},
                  "invalid background colour '#1234567'"},
        std::pair{std::vector<std::string>{"--background=112233", "a"},
                  "invalid background colour '112233'"},
        std::pair{std::vector<std::string>{"--background=#gggggg", "a"},
                  "invalid background colour '#gggggg'"},
        std::pair{std::vector<std::string>{"--background=#-12345", "a"},
                  "invalid background colour '#-12345'"},
        std::pair{std::vector<std::string>{"--background=#+12345", "a"},
                  "invalid background colour '#+12345'"},
        std::pair{std::vector<std::string>{"--background=#12 345", "a"},
                  "invalid background colour '#12 345'"},
        std::pair{std::vector<std::string>{"-0", "a"}, "--null goes with --files-from"},
        std::pair{std::vector<std::string>{"--files-from="}, "an empty name is not a file"},
        std::pair{std::vector<std::string>{"-o", "", "a"}, "an empty name is not a file"},
        std::pair{std::vector<std::string>{"--output=x", "a", "b"},
                  "--output takes exactly one picture"},
        std::pair{std::vector<std::string>{"--output=x", "--files-from=list"},
                  "--output takes exactly one picture"},
        std::pair{std::vector<std::string>{"--output=x", "-o", "d", "a"},
                  "--output and --output-dir cannot go together"}}) {
    thumb::Options options;
    std::string error;
    EXPECT_FALSE(thumb::parseOptions(args, options, error));
    EXPECT_EQ(error.rfind(reason, 0), 0u) << error;
  }
}

TEST(PictureList, TakesEveryPictureNameButThumbnailsAndHiddenFiles) {
  for (const char* name :
       {"a.jpg", "B.JPG", "c.Gif", "thumbnail.jpg", "x.thumb_.jpg", "a.jpeg", "A.JPE", "b.jfif",
        "c.JFIF", "a.png", "b.WebP", "c.tif", "d.TIFF", "IMG_0001.HEIC", "e.heif", "f.Avif"}) {
    EXPECT_TRUE(thumb::isListedPicture(name)) << name;
  }
  for (const char* name : {".a.jpg", "thumb_a.jpg", "thumb_a.png.jpg", ".a.png", "jpg", "png",
                           "a.jpg.txt", "a.jfi", "a.jp", "a.pngx", "a.ti", "a.heics"}) {
    EXPECT_FALSE(thumb::isListedPicture(name)) << name;
  }
  EXPECT_EQ(thumb::thumbnailPath("a.jpg"), "thumb_a.jpg");
  EXPECT_EQ(thumb::thumbnailPath("/p/q.r/a b.GIF"), "/p/q.r/thumb_a b.GIF");
  // The other formats' thumbnails say they are JPEGs, and never take a JPEG's name.
  EXPECT_EQ(thumb::thumbnailPath("IMG_0001.HEIC"), "thumb_IMG_0001.HEIC.jpg");
  EXPECT_EQ(thumb::thumbnailPath("/p/photo.png"), "/p/thumb_photo.png.jpg");
  EXPECT_EQ(thumb::thumbnailPath("/p/photo.jpg"), "/p/thumb_photo.jpg");
  EXPECT_EQ(thumb::thumbnailPath("scan.TIF"), "thumb_scan.TIF.jpg");
  EXPECT_EQ(thumb::thumbnailPath("notes.txt"), "thumb_notes.txt");  // a file named as given
}

// The pictures of a list, and where their thumbnails go, as "picture -> thumbnail" with the
// folder's own path left out.
Names jobsOf(const thumb::PictureList& list, const std::string& root) {
  Names jobs;
  for (const thumb::Job& job : list.jobs) {
    const std::string picture =
        job.picture.starts_with(root) ? job.picture.substr(root.size()) : job.picture;
    jobs.push_back(picture + " -> " + job.thumbnail);
  }
  return jobs;
}

TEST(PictureList, AnOutputFolderKeepsAFoldersTreeAndTakesFilesStraightIn) {
  const testsupport::TempFolder folder("quorvane-list");
  const std::string root = folder.path().string() + "/";
  for (const char* name : {"PHOTOS/2019/summer/", "PHOTOS/.git/", "other/"}) {
    std::filesystem::create_directories(root + name);
  }
  for (const char* name : {"PHOTOS/a.jpg", "PHOTOS/2019/b.JPEG", "PHOTOS/2019/summer/c.gif",
                           "PHOTOS/.git/d.jpg", "PHOTOS/.e.jpg", "other/x.jpg", "other/a.jpg"}) {
    std::ofstream(root + name) << "";
  }
  for (const char* output : {"out", "out/"}) {
    SCOPED_TRACE(output);
    const thumb::PictureList list =
        thumb::listPictures({root + "PHOTOS", root + "other/x.jpg"}, true, output);
    EXPECT_EQ(jobsOf(list, root), (Names{"PHOTOS/a.jpg -> out/thumb_a.jpg",
                                         "PHOTOS/2019/b.JPEG -> out/2019/thumb_b.JPEG",
                                         "PHOTOS/2019/summer/c.gif -> out/2019/summer/thumb_c.gif",
                                         "other/x.jpg -> out/thumb_x.jpg"}));
    EXPECT_TRUE(list.failures.empty());
  }
  // Without an output folder: beside each picture; without -r: the folder's own pictures.
  EXPECT_EQ(jobsOf(thumb::listPictures({root + "PHOTOS/"}, false), root),
            Names{"PHOTOS/a.jpg -> " + root + "PHOTOS/thumb_a.jpg"});

  // Two pictures for one thumbnail: the first keeps it, the second fails.
  const thumb::PictureList clash =
      thumb::listPictures({root + "PHOTOS", root + "other/a.jpg"}, false, "out");
  EXPECT_EQ(jobsOf(clash, root), Names{"PHOTOS/a.jpg -> out/thumb_a.jpg"});
  ASSERT_EQ(clash.failures.size(), 1u);
  EXPECT_EQ(clash.failures[0].path, root + "other/a.jpg");
}

TEST(PictureList, AListIsSplitIntoLinesOrNulTerminatedNames) {
  using namespace std::string_literals;
  EXPECT_EQ(thumb::splitList("a.jpg\nb c.jpg\n\ncaf\xE9.jpg", false),
            (Names{"a.jpg", "b c.jpg", "caf\xE9.jpg"}));
  EXPECT_EQ(thumb::splitList("a\nb.jpg\0\0 c.jpg\0"s, true), (Names{"a\nb.jpg", " c.jpg"}));
  EXPECT_EQ(thumb::splitList("a.jpg\0b.jpg"s, true), (Names{"a.jpg", "b.jpg"}));
  EXPECT_EQ(thumb::splitList("a.jpg\0b.jpg\n"s, false).size(), 1u);  // a NUL alone ends nothing
  EXPECT_TRUE(thumb::splitList("", false).empty());
  EXPECT_TRUE(thumb::splitList("\n\n", false).empty());
}

}  // namespace
