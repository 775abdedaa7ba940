// The decoder corpus: valid pictures load with their size and draw; broken ones fail cleanly.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "platform/base/runtime_error.h"
#include "platform/picture/picture.h"
#include "tests/support/corpus.h"

namespace platform {
namespace {

using testsupport::CorpusEntry;

// The drawn size for a thumbnail of 125 pixels on the longer side.
std::pair<int, int> thumbnailSize(const PictureInfo& info) {
  const double ratio = static_cast<double>(info.width) / info.height;
  const auto side = [](double pixels) {
    return std::max(1, static_cast<int>(std::floor(pixels + 0.5)));
  };
  return ratio > 1 ? std::pair{125, side(125 / ratio)} : std::pair{side(125 * ratio), 125};
}

// The photos named <Landscape|Portrait>_<orientation>.jpg are stored turned by their orientation.
int orientationInName(const std::string& file) {
  if (file.find("exif-orientation/") == std::string::npos) return 1;
  return file[file.size() - 5] - '0';
}

TEST(PictureCorpus, EveryPictureLoadsAndDrawsOrFailsCleanly) {
  SKIP_WITHOUT_CORPUS();
  const std::vector<CorpusEntry> entries = testsupport::corpusEntries({"jpeg", "gif"});
  ASSERT_FALSE(entries.empty());
  for (const CorpusEntry& entry : entries) {
    SCOPED_TRACE(entry.file + " (" + entry.expected + ")");
    try {
      const auto picture = loadPicture((testsupport::corpusDir() / entry.file).string());
      const PictureInfo& info = picture->info();
      if (entry.width >= 0 && entry.expected == "valid") {
        const int orientation = orientationInName(entry.file);
        const bool swap = orientation >= 5 && orientation <= 8;
        EXPECT_EQ(info.width, swap ? entry.height : entry.width);
        EXPECT_EQ(info.height, swap ? entry.width : entry.height);
      }
      const auto [w, h] = thumbnailSize(info);
      const RgbaImage image = renderPicture(*picture, w, h);
      EXPECT_EQ(image.width, w);
      EXPECT_EQ(image.height, h);
      EXPECT_NE(entry.expected, "invalid") << "drawn";
    } catch (const RuntimeError& error) {
      EXPECT_NE(entry.expected, "valid")
          << "error " << error.number() << ": " << error.description();
    }
  }
}

TEST(PictureCorpus, ExifPhotosAllDrawUpright) {
  SKIP_WITHOUT_CORPUS();
  const std::filesystem::path photos = testsupport::corpusDir() / "jpeg/exif-orientation";
  for (const std::string kind : {"Landscape", "Portrait"}) {
    const std::filesystem::path first = photos / (kind + "_1.jpg");
    ASSERT_TRUE(std::filesystem::exists(first)) << first;
    const auto reference = loadPicture(first.string());
    const auto [w, h] = thumbnailSize(reference->info());
    const RgbaImage expected = renderPicture(*reference, w, h);
    for (int orientation = 0; orientation <= 8; ++orientation) {
      const std::string name = kind + "_" + std::to_string(orientation) + ".jpg";
      const RgbaImage image = renderPicture(*loadPicture((photos / name).string()), w, h);
      ASSERT_EQ(image.pixels.size(), expected.pixels.size()) << name;
      double difference = 0;
      for (size_t i = 0; i < image.pixels.size(); ++i)
        difference += std::abs(image.pixels[i] - expected.pixels[i]);
      EXPECT_LT(difference / image.pixels.size(), 4.0) << name;
    }
  }
}

}  // namespace
}  // namespace platform
