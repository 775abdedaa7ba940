// Every BMP file of the shared decoder corpus: the valid ones load at their size with the pixels
// Qt's own decoder sees, the invalid ones are refused, the questionable ones either way, cleanly.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "tests/platform/gdi_test_util.h"

namespace platform {
namespace {

struct Entry {
  std::string file;
  std::string expected;  // valid, questionable or invalid
  int width = 0;         // 0 where unknown
  int height = 0;
};

std::vector<Entry> bmpEntries(const std::filesystem::path& corpus) {
  std::vector<Entry> entries;
  std::ifstream manifest(corpus / "manifest.tsv");
  std::string line;
  while (std::getline(manifest, line)) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
    fields.resize(5);
    if (fields[1] != "bmp") continue;
    entries.push_back({fields[0], fields[2], fields[3].empty() ? 0 : std::stoi(fields[3]),
                       fields[4].empty() ? 0 : std::stoi(fields[4])});
  }
  return entries;
}

std::vector<bmptest::Rgb> qtPixels(const std::string& file) {
  const QImage image = QImage(QString::fromStdString(file), "bmp").convertToFormat(QImage::Format_RGB32);
  std::vector<bmptest::Rgb> pixels;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);
      pixels.push_back({static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
                        static_cast<std::uint8_t>(qBlue(c))});
    }
  return pixels;
}

int bitCount(HGDIOBJ bitmap) {
  const HDC dc = CreateCompatibleDC(0);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  GetDIBits(dc, bitmap, 0, 0, nullptr, &info, DIB_RGB_COLORS);
  DeleteObject(dc);
  return info.bmiHeader.biBitCount;
}

TEST(BmpCorpus, EveryFileLoadsOrIsRefusedAsTheManifestSays) {
  const std::filesystem::path corpus = QUORVANE_CORPUS_DIR;
  if (!std::filesystem::exists(corpus / "manifest.tsv")) GTEST_SKIP() << "no corpus at " << corpus;
  const std::vector<Entry> entries = bmpEntries(corpus);
  ASSERT_FALSE(entries.empty());
  int valid = 0;
  for (const Entry& entry : entries) {
    SCOPED_TRACE(entry.file);
    const std::string file = (corpus / entry.file).string();
    const HGDIOBJ bitmap =
        LoadImageA(0, file.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    if (entry.expected == "invalid") {
      EXPECT_EQ(bitmap, 0u);
    } else if (entry.expected == "valid") {
      ++valid;
      ASSERT_NE(bitmap, 0u);
      const bmptest::Picture picture = bmptest::readBack(bitmap);
      EXPECT_EQ(picture.width, entry.width);
      EXPECT_EQ(picture.height, entry.height);
      // Qt widens 5- and 6-bit channels by a plain shift (31 gives 248); ours reach 255.
      const int tolerance = bitCount(bitmap) == 16 ? 8 : 1;
      EXPECT_LE(bmptest::maxDifference(picture.pixels, qtPixels(file)), tolerance);
    } else if (bitmap != 0 && entry.width != 0) {
      const bmptest::Picture picture = bmptest::readBack(bitmap);
      EXPECT_EQ(picture.width, entry.width);
      EXPECT_EQ(picture.height, entry.height);
    }
    if (bitmap != 0) {
      EXPECT_EQ(DeleteObject(bitmap), 1);
    }
  }
  EXPECT_GT(valid, 20);
}

}  // namespace
}  // namespace platform
