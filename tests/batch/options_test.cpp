// The command line as users write it, and what is refused.
#include "batch/options.h"

#include <gtest/gtest.h>

#include "batch/picture_list.h"

namespace {

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
        std::pair{std::vector<std::string>{"-r"}, "no picture or folder given"}}) {
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

}  // namespace
