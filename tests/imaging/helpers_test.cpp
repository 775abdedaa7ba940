// SaveDibAsJpeg and its helpers: the record it hands the JPEG library, the file that comes out,
// and the one box each failure shows.
#include "imaging/Helpers.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "imaging/cDIBSection.h"
#include "platform/base/runtime_error.h"
#include "platform/jpeglib/ijl15_testing.h"
#include "tests/support/images.h"
#include "tests/support/jpeg_probe.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/runtime_errors.h"
#include "tests/support/temp_folder.h"

namespace {

using testsupport::kQuadrantColours;
using testsupport::readText;
using testsupport::RgbImage;
using testsupport::Sampling;
using Names = std::vector<std::string>;

// Fills a DIB section (bottom row first in memory) with the test quadrants; a fourth byte gets
// junk.
void drawQuadrants(const cDIBSection& dib) {
  const int width = dib.dib_width(), height = dib.dib_height(), channels = dib.dib_channels();
  auto* bits = static_cast<std::uint8_t*>(dib.DIBSectionBitsPtr());
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bits + static_cast<std::size_t>(height - 1 - y) * dib.BytesPerScanLine();
    for (int x = 0; x < width; ++x) {
      const testsupport::Rgb c =
          kQuadrantColours[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
      std::uint8_t* pixel = row + static_cast<std::size_t>(x) * channels;
      pixel[0] = c.b;
      pixel[1] = c.g;
      pixel[2] = c.r;
      if (channels == 4) pixel[3] = static_cast<std::uint8_t>(x * 37 + y * 11);
    }
  }
}

// Mean colour of each quadrant's inner part (away from the edges that chroma blurs) within a
// quality-75 tolerance.
void expectQuadrants(const RgbImage& d) {
  constexpr int kMargin = 6;
  constexpr double kTolerance = 10;
  for (int q = 0; q < 4; ++q) {
    const int x0 = (q % 2 == 0 ? 0 : d.width / 2) + kMargin;
    const int x1 = (q % 2 == 0 ? d.width / 2 : d.width) - kMargin;
    const int y0 = (q < 2 ? 0 : d.height / 2) + kMargin;
    const int y1 = (q < 2 ? d.height / 2 : d.height) - kMargin;
    ASSERT_TRUE(x0 < x1 && y0 < y1) << "picture too small for the margin";
    const testsupport::Mean mean = testsupport::meanOf(d, x0, y0, x1, y1);
    EXPECT_NEAR(mean.r, kQuadrantColours[q].r, kTolerance) << "quadrant " << q;
    EXPECT_NEAR(mean.g, kQuadrantColours[q].g, kTolerance) << "quadrant " << q;
    EXPECT_NEAR(mean.b, kQuadrantColours[q].b, kTolerance) << "quadrant " << q;
  }
}

// The standard luminance table scaled for quality 75 (factor 50%), in zigzag order.
std::vector<int> quality75LumaTable() {
  constexpr std::array<int, 64> kStandard = {
      16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
      14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
      18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
      49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
  constexpr std::array<int, 64> kZigzag = {
      0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
      41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
      30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
  std::vector<int> table;
  table.reserve(64);
  for (const int natural : kZigzag) table.push_back((kStandard[natural] * 50 + 50) / 100);
  return table;
}

class HelpersTest : public ::testing::Test {
 protected:
  // Exactly one JPEG-library box, carrying this code and message.
  void expectOneBox(int code, const std::string& message) {
    ASSERT_EQ(boxes_.size(), 1u);
    const platform::MsgBoxRequest box = boxes_.take();
    EXPECT_EQ(box.prompt, "IJL ERROR: [" + std::to_string(code) + "] - " + message);
    EXPECT_EQ(box.style, 48);
    EXPECT_EQ(box.title, "Intel(R) JPEG Library");
  }

  testsupport::MsgBoxRecorder boxes_;
  platform::IjlHooks hooks_;
  platform::ScopedIjlHooks scopedHooks_{hooks_};
  testsupport::TempFolder dir_{"quorvane-helpers"};
};

TEST(DibPadBytes, PadsRowsToAMultipleOfFourBytes) {
  EXPECT_EQ(DibPadBytes(125, 3), 1);
  EXPECT_EQ(DibPadBytes(100, 3), 0);
  EXPECT_EQ(DibPadBytes(1, 3), 1);
  EXPECT_EQ(DibPadBytes(2, 3), 2);
  EXPECT_EQ(DibPadBytes(3, 3), 3);
  for (const int width : {0, 1, 5, 125, 536870911}) EXPECT_EQ(DibPadBytes(width, 4), 0) << width;
  EXPECT_EQ(DibPadBytes(0, 0), 0);
}

TEST(DibPadBytes, RaisesOverflowAbove2147483644Bytes) {
  EXPECT_EQ(DibPadBytes(2147483644, 1), 0);
  EXPECT_EQ(DibPadBytes(715827881, 3), 1);  // 2147483643 bytes
  EXPECT_RUNTIME_ERROR(DibPadBytes(2147483645, 1), platform::kErrOverflow);
  EXPECT_RUNTIME_ERROR(DibPadBytes(715827882, 3), platform::kErrOverflow);   // sum
  EXPECT_RUNTIME_ERROR(DibPadBytes(1073741824, 2), platform::kErrOverflow);  // product
  EXPECT_RUNTIME_ERROR(DibPadBytes(-1073741825, 2), platform::kErrOverflow);
}

// The graphics layer will not delete a bitmap selected into a surface: the DIB section's pixels
// stay where the writer reads them, and the thumbnail is still the picture.
TEST_F(HelpersTest, ADibSectionSelectedIntoItsSurfaceOutlivesAnAttemptToDeleteIt) {
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(125, 94, 3));
  drawQuadrants(dib);
  EXPECT_EQ(platform::DeleteObject(dib.hDib()), 0) << "still selected into its surface";
  EXPECT_NE(dib.DIBSectionBitsPtr(), nullptr);
  const std::string file = dir_.file("thumb_kept.jpg");
  EXPECT_TRUE(SaveDibAsJpeg(dib, file));
  const testsupport::RgbImage thumb = testsupport::decodeJpegFile(file);
  ASSERT_EQ(thumb.width, 125);
  EXPECT_GT(testsupport::meanOf(thumb, 5, 5, 25, 25).r, 180) << "the picture, not freed memory";
  platform::BITMAPINFO query{};
  query.bmiHeader.biSize = 40;
  EXPECT_NE(platform::GetDIBits(dib.hDC(), dib.hDib(), 0, 0, nullptr, &query, 0), 0)
      << "the handle is still good";
}

TEST_F(HelpersTest, ReportJpegErrorPutsTheCodeInBrackets) {
  ReportJpegError("Failed to save to JPG", -5);
  expectOneBox(-5, "Failed to save to JPG");
  ReportJpegError("Something", 12);
  expectOneBox(12, "Something");
}

TEST_F(HelpersTest, WritesTheDibUprightAsABaselineQuality75Jpeg) {
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(125, 94, 3));
  drawQuadrants(dib);
  const std::string file = dir_.file("thumb_pattern.jpg");
  EXPECT_TRUE(SaveDibAsJpeg(dib, file));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(hooks_.initCalls, 1);
  EXPECT_EQ(hooks_.writeCalls, 1);
  EXPECT_EQ(hooks_.freeCalls, 1);

  const platform::JPEG_CORE_PROPERTIES& r = hooks_.lastWrite;
  EXPECT_EQ(r.DIBBytes, dib.DIBSectionBitsPtr());
  EXPECT_EQ(r.DIBWidth, 125);
  EXPECT_EQ(r.DIBHeight, -94);
  EXPECT_EQ(r.DIBPadBytes, 1);
  EXPECT_EQ(r.DIBChannels, 3);
  EXPECT_EQ(r.DIBColor, platform::IJL_BGR);
  EXPECT_EQ(r.JPGWidth, 125);
  EXPECT_EQ(r.JPGHeight, 94);
  EXPECT_EQ(r.JPGChannels, 3);
  EXPECT_EQ(r.JPGColor, platform::IJL_YCBCR);
  EXPECT_EQ(r.JPGSubsampling, platform::IJL_411);
  EXPECT_EQ(r.jquality, 75);
  EXPECT_EQ(hooks_.lastFile, file);

  const RgbImage d = testsupport::decodeJpegFile(file);
  ASSERT_EQ(d.width, 125);
  ASSERT_EQ(d.height, 94);
  expectQuadrants(d);

  const testsupport::JpegProbe h = testsupport::probeJpegFile(file);
  EXPECT_TRUE(h.valid);
  EXPECT_EQ(h.width, 125);
  EXPECT_EQ(h.height, 94);
  EXPECT_EQ(h.sampling, Sampling::k420);
  EXPECT_EQ(h.colour, testsupport::JpegColour::kYCbCr);
  EXPECT_TRUE(h.jfif);
  EXPECT_EQ(h.frameMarker, 0xC0);
  EXPECT_EQ(h.precision, 8);
  EXPECT_EQ(h.componentSampling, (std::vector<int>{0x22, 0x11, 0x11}));
  ASSERT_EQ(h.lumaTable.size(), 64u);
  EXPECT_EQ(h.lumaTable[0], 8);
  EXPECT_EQ(h.lumaTable, quality75LumaTable());
}

TEST_F(HelpersTest, WritesA32BitDibInTrueColours) {
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(64, 48, 4));
  drawQuadrants(dib);
  const std::string file = dir_.file("thumb_32.jpg");
  EXPECT_TRUE(SaveDibAsJpeg(dib, file));
  EXPECT_TRUE(boxes_.empty());
  const RgbImage d = testsupport::decodeJpegFile(file);
  ASSERT_EQ(d.width, 64);
  ASSERT_EQ(d.height, 48);
  const testsupport::JpegProbe h = testsupport::probeJpegFile(file);
  EXPECT_EQ(h.sampling, Sampling::k420);
  EXPECT_EQ(h.colour, testsupport::JpegColour::kYCbCr);
  EXPECT_EQ(h.componentSampling, (std::vector<int>{0x22, 0x11, 0x11}));
  expectQuadrants(d);
}

TEST_F(HelpersTest, InitFailureShowsOneBoxAndNeitherWritesNorFrees) {
  hooks_.initResult = platform::IJL_MEMORY_ERROR;
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(8, 8, 3));
  EXPECT_FALSE(SaveDibAsJpeg(dib, dir_.file("x.jpg")));
  expectOneBox(platform::IJL_MEMORY_ERROR, "Failed to initialise the IJL library");
  EXPECT_EQ(hooks_.writeCalls, 0);
  EXPECT_EQ(hooks_.freeCalls, 0);
  EXPECT_TRUE(dir_.names().empty());
}

TEST_F(HelpersTest, WriteFailureShowsOneBoxAndFreesOnce) {
  hooks_.writeResult = platform::IJL_ERR_FILEWRITE;
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(8, 8, 3));
  EXPECT_FALSE(SaveDibAsJpeg(dib, dir_.file("x.jpg")));
  expectOneBox(platform::IJL_ERR_FILEWRITE, "Failed to save to JPG");
  EXPECT_EQ(hooks_.writeCalls, 1);
  EXPECT_EQ(hooks_.freeCalls, 1);
}

TEST_F(HelpersTest, ADibWithoutPixelMemoryIsNeverRead) {
  const std::string file = dir_.file("thumb.jpg");
  testsupport::writeText(file, "earlier thumbnail");
  cDIBSection empty;      // as after a file that was not read
  cDIBSection sizedOnly;  // the size of a bitmap that could not be made
  EXPECT_FALSE(sizedOnly.Create(5, 0, 3));
  for (const cDIBSection* dib : {&empty, &sizedOnly}) {
    ASSERT_EQ(dib->DIBSectionBitsPtr(), nullptr);
    EXPECT_FALSE(SaveDibAsJpeg(*dib, file));
    expectOneBox(platform::IJL_INVALID_DIB_BYTES, "Failed to save to JPG");
  }
  EXPECT_EQ(hooks_.freeCalls, 2);
  EXPECT_EQ(readText(file), "earlier thumbnail");
  EXPECT_EQ(dir_.names(), Names{"thumb.jpg"});
}

TEST_F(HelpersTest, AnOverflowLeavesWithoutABoxButFreesTheRecord) {
  cDIBSection dib;
  // The header keeps the size even though the row length overflowed.
  EXPECT_RUNTIME_ERROR(dib.Create(715827882, 1, 3), platform::kErrOverflow);
  ASSERT_EQ(dib.dib_width(), 715827882);
  EXPECT_RUNTIME_ERROR(SaveDibAsJpeg(dib, dir_.file("x.jpg")), platform::kErrOverflow);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(hooks_.writeCalls, 0);
  EXPECT_EQ(hooks_.freeCalls, 1);
}

TEST_F(HelpersTest, AnUncreatableFileShowsOneBoxAndLeavesNoFile) {
  testsupport::writeText(dir_.file("plain"), "not a folder");
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(8, 8, 3));
  EXPECT_FALSE(SaveDibAsJpeg(dib, dir_.file("plain/thumb_x.jpg")));
  expectOneBox(platform::IJL_ERR_FILECREATE, "Failed to save to JPG");
  EXPECT_EQ(dir_.names(), Names{"plain"});
}

TEST_F(HelpersTest, ANameWithOddCharactersIsWrittenIntact) {
  const std::string name = "thumb_a b 'single' \"double\" \xF0\x9F\x98\x80\nline.jpg";
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(16, 16, 3));
  drawQuadrants(dib);
  EXPECT_TRUE(SaveDibAsJpeg(dib, dir_.file(name)));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(dir_.names(), Names{name});
  EXPECT_EQ(testsupport::decodeJpegFile(dir_.file(name)).width, 16);
}

}  // namespace
