// Every BMP file of the shared decoder corpus: the valid ones load at their size with the pixels
// Qt's own decoder sees, the invalid ones are refused, the questionable ones either way, cleanly.
#include <gtest/gtest.h>

#include <QImage>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "tests/support/corpus.h"
#include "tests/support/gdi_surfaces.h"

namespace platform {
namespace {

std::vector<testsupport::Rgb> qtPixels(const std::string& file) {
  const QImage image =
      QImage(QString::fromStdString(file), "bmp").convertToFormat(QImage::Format_RGB32);
  std::vector<testsupport::Rgb> pixels;
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
  SKIP_WITHOUT_CORPUS();
  const std::vector<testsupport::CorpusEntry> entries = testsupport::corpusEntries({"bmp"});
  ASSERT_FALSE(entries.empty());
  int valid = 0;
  for (const testsupport::CorpusEntry& entry : entries) {
    SCOPED_TRACE(entry.file);
    const std::string file = (testsupport::corpusDir() / entry.file).string();
    const HGDIOBJ bitmap =
        LoadImageA(0, file.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    if (entry.expected == "invalid") {
      EXPECT_EQ(bitmap, 0u);
    } else if (entry.expected == "valid") {
      ++valid;
      ASSERT_NE(bitmap, 0u);
      const testsupport::BitmapPixels picture = testsupport::readBack(bitmap);
      EXPECT_EQ(picture.width, entry.width);
      EXPECT_EQ(picture.height, entry.height);
      // Qt widens 5- and 6-bit channels by a plain shift (31 gives 248); ours reach 255.
      const int tolerance = bitCount(bitmap) == 16 ? 8 : 1;
      EXPECT_LE(testsupport::maxDifference(picture.pixels, qtPixels(file)), tolerance);
    } else if (bitmap != 0 && entry.width > 0) {
      const testsupport::BitmapPixels picture = testsupport::readBack(bitmap);
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
