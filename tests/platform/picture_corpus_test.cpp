// The decoder corpus: valid pictures load with their size and draw; broken ones fail cleanly.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "picture_samples.h"
#include "platform/picture/picture.h"
#include "platform/base/runtime_error.h"

namespace platform {
namespace {

const std::filesystem::path kCorpus = QUORVANE_CORPUS_DIR;

struct Entry {
  std::string file;
  std::string expected;  // valid, questionable or invalid
  int width = -1;
  int height = -1;
};

std::vector<Entry> pictureEntries() {
  std::vector<Entry> entries;
  std::ifstream manifest(kCorpus / "manifest.tsv");
  std::string line;
  std::getline(manifest, line);  // column names
  while (std::getline(manifest, line)) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
    if (fields.size() < 3 || (fields[1] != "jpeg" && fields[1] != "gif")) continue;
    Entry entry{fields[0], fields[2]};
    if (fields.size() >= 5 && !fields[3].empty() && !fields[4].empty()) {
      entry.width = std::stoi(fields[3]);
      entry.height = std::stoi(fields[4]);
    }
    entries.push_back(entry);
  }
  return entries;
}

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
  const std::vector<Entry> entries = pictureEntries();
  if (entries.empty()) GTEST_SKIP() << "no decoder corpus at " << kCorpus;
  for (const Entry& entry : entries) {
    SCOPED_TRACE(entry.file + " (" + entry.expected + ")");
    try {
      const auto picture = loadPicture((kCorpus / entry.file).string());
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
  for (const std::string kind : {"Landscape", "Portrait"}) {
    const std::filesystem::path first = kCorpus / "jpeg/exif-orientation" / (kind + "_1.jpg");
    if (!std::filesystem::exists(first)) GTEST_SKIP() << "no decoder corpus at " << kCorpus;
    const auto reference = loadPicture(first.string());
    const auto [w, h] = thumbnailSize(reference->info());
    const RgbaImage expected = renderPicture(*reference, w, h);
    for (int orientation = 0; orientation <= 8; ++orientation) {
      const std::string name = kind + "_" + std::to_string(orientation) + ".jpg";
      const RgbaImage image =
          renderPicture(*loadPicture((kCorpus / "jpeg/exif-orientation" / name).string()), w, h);
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
