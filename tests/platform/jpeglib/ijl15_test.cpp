// The JPEG library's record: what ijlInit, ijlWrite and ijlFree accept and what they leave on disk.
#include "platform/jpeglib/ijl15.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testsupport::readText;
using testsupport::TempFolder;
using testsupport::writeText;
using Names = std::vector<std::string>;

// A picture of width x height pixels, 3 bytes per pixel, rows padded to 4 bytes, every row
// different; stored bottom row first or top row first.
std::vector<std::uint8_t> patternPixels(int width, int height, bool bottomUp) {
  const int pitch = (width * 3 + 3) & ~3;
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(pitch) * height, 0xEE);
  for (int y = 0; y < height; ++y) {
    const std::size_t row = static_cast<std::size_t>(bottomUp ? height - 1 - y : y) * pitch;
    for (int x = 0; x < width * 3; ++x) bits[row + x] = static_cast<std::uint8_t>(x * 7 + y * 29);
  }
  return bits;
}

// A prepared record for a 3-byte DIB, as the program fills it; the caller frees it.
void prepare(JPEG_CORE_PROPERTIES& r, std::vector<std::uint8_t>& bits, int width, int height,
             const std::string& file) {
  std::memset(&r, 0, sizeof r);
  ASSERT_EQ(ijlInit(&r), IJL_OK);
  r.DIBBytes = bits.data();
  r.DIBWidth = width;
  r.DIBHeight = -height;
  r.DIBChannels = 3;
  r.DIBPadBytes = ((width * 3 + 3) & ~3) - width * 3;
  r.DIBColor = IJL_BGR;
  r.JPGFile = file.c_str();
  r.JPGWidth = width;
  r.JPGHeight = height;
  r.JPGChannels = 3;
  r.JPGColor = IJL_YCBCR;
  r.JPGSubsampling = IJL_411;
  r.jquality = 75;
}

TEST(IjlRecord, OnlyAPreparedRecordIsWrittenOrFreed) {
  EXPECT_EQ(ijlInit(nullptr), IJL_INVALID_JPEG_PROPERTIES);
  EXPECT_EQ(ijlWrite(nullptr, IJL_JFILE_WRITEWHOLEIMAGE), IJL_INVALID_JPEG_PROPERTIES);
  EXPECT_EQ(ijlFree(nullptr), IJL_INVALID_JPEG_PROPERTIES);

  JPEG_CORE_PROPERTIES zeroed;
  std::memset(&zeroed, 0, sizeof zeroed);
  EXPECT_EQ(ijlWrite(&zeroed, IJL_JFILE_WRITEWHOLEIMAGE), IJL_INVALID_JPEG_PROPERTIES);
  EXPECT_EQ(ijlFree(&zeroed), IJL_INVALID_JPEG_PROPERTIES);

  // Two records at once each hold a compressor of their own.
  JPEG_CORE_PROPERTIES a, b;
  std::memset(&a, 0, sizeof a);
  std::memset(&b, 0, sizeof b);
  ASSERT_EQ(ijlInit(&a), IJL_OK);
  ASSERT_EQ(ijlInit(&b), IJL_OK);
  EXPECT_NE(a.jprops.encoder, b.jprops.encoder);
  EXPECT_EQ(ijlFree(&a), IJL_OK);
  EXPECT_EQ(ijlFree(&a), IJL_INVALID_JPEG_PROPERTIES);  // a second free does nothing
  EXPECT_EQ(ijlWrite(&a, IJL_JFILE_WRITEWHOLEIMAGE), IJL_INVALID_JPEG_PROPERTIES);
  EXPECT_EQ(ijlFree(&b), IJL_OK);
}

TEST(IjlWrite, RejectsAnInconsistentRecordBeforeReadingAPixel) {
  struct Case {
    const char* name;
    std::function<void(JPEG_CORE_PROPERTIES&)> change;
    int expected;
    int iotype = IJL_JFILE_WRITEWHOLEIMAGE;
  };
  const std::vector<Case> cases = {
      {"no pixel memory", [](auto& r) { r.DIBBytes = nullptr; }, IJL_INVALID_DIB_BYTES},
      {"no file name", [](auto& r) { r.JPGFile = nullptr; }, IJL_INVALID_FILENAME},
      {"empty file name", [](auto& r) { r.JPGFile = ""; }, IJL_INVALID_FILENAME},
      {"other operation", [](auto&) {}, IJL_UNSUPPORTED_IOTYPE, 7},
      {"2 bytes per pixel", [](auto& r) { r.DIBChannels = 2; }, IJL_UNSUPPORTED_BYTES_PER_PIXEL},
      {"0 bytes per pixel", [](auto& r) { r.DIBChannels = 0; }, IJL_UNSUPPORTED_BYTES_PER_PIXEL},
      {"4-byte order for 3 bytes", [](auto& r) { r.DIBColor = IJL_RGBA_FPX; },
       IJL_UNSUPPORTED_COLOR},
      {"4 bytes, 3-byte order", [](auto& r) { r.DIBChannels = 4; }, IJL_UNSUPPORTED_COLOR},
      {"JPEG colour", [](auto& r) { r.JPGColor = IJL_YCBCRA_FPX; }, IJL_UNSUPPORTED_COLOR},
      {"JPEG channels", [](auto& r) { r.JPGChannels = 1; }, IJL_UNSUPPORTED_COLOR},
      {"sampling", [](auto& r) { r.JPGSubsampling = IJL_4114; }, IJL_UNSUPPORTED_SUBSAMPLING},
      {"quality 101", [](auto& r) { r.jquality = 101; }, IJL_INVALID_QUALITY},
      {"quality -1", [](auto& r) { r.jquality = -1; }, IJL_INVALID_QUALITY},
      {"width 0", [](auto& r) { r.DIBWidth = r.JPGWidth = 0; }, IJL_INVALID_DIB_SIZE},
      {"height 0", [](auto& r) { r.DIBHeight = r.JPGHeight = 0; }, IJL_INVALID_DIB_SIZE},
      {"height INT_MIN", [](auto& r) { r.DIBHeight = INT_MIN; }, IJL_INVALID_DIB_SIZE},
      {"JPEG width", [](auto& r) { r.JPGWidth = 4; }, IJL_INVALID_DIB_SIZE},
      {"JPEG height", [](auto& r) { r.JPGHeight = -4; }, IJL_INVALID_DIB_SIZE},
      {"padding short", [](auto& r) { r.DIBPadBytes = 0; }, IJL_INVALID_DIB_SIZE},
      {"padding long", [](auto& r) { r.DIBPadBytes = 5; }, IJL_INVALID_DIB_SIZE},
      {"side above 65500",
       [](auto& r) {
         r.DIBWidth = r.JPGWidth = 65504;
         r.DIBPadBytes = 0;
       },
       IJL_INVALID_DIB_SIZE},
      {"more than 2 GiB of pixels",
       [](auto& r) {
         r.DIBWidth = r.JPGWidth = 40000;
         r.DIBHeight = -40000;
         r.JPGHeight = 40000;
         r.DIBPadBytes = 0;
       },
       IJL_INVALID_DIB_SIZE},
  };
  TempFolder dir;
  const std::string file = dir.file("out.jpg");
  // A 5 x 4 picture: rows of 15 bytes and 1 byte of padding. The checks must come before the
  // encoder reads these 64 bytes as a larger picture (the sanitizer build sees any such read).
  std::vector<std::uint8_t> bits(64, 0x80);
  for (const Case& c : cases) {
    JPEG_CORE_PROPERTIES r;
    prepare(r, bits, 5, 4, file);
    c.change(r);
    EXPECT_EQ(ijlWrite(&r, c.iotype), c.expected) << c.name;
    ijlFree(&r);
  }
  EXPECT_TRUE(dir.names().empty());
}

TEST(IjlWrite, TopDownAndBottomUpRowsGiveTheSameJpeg) {
  // The encoder is handed the same rows in the same order, so the files are identical; the
  // imaging tests check that the bottom-up picture comes out upright.
  TempFolder dir;
  std::string files[2];
  for (const bool bottomUp : {true, false}) {
    std::vector<std::uint8_t> bits = patternPixels(41, 32, bottomUp);
    const std::string file = dir.file(bottomUp ? "bottom-up.jpg" : "top-down.jpg");
    JPEG_CORE_PROPERTIES r;
    prepare(r, bits, 41, 32, file);
    if (!bottomUp) r.DIBHeight = 32;
    EXPECT_EQ(ijlWrite(&r, IJL_JFILE_WRITEWHOLEIMAGE), IJL_OK);
    ijlFree(&r);
    files[bottomUp ? 0 : 1] = readText(file);
  }
  EXPECT_EQ(files[0].substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(files[0], files[1]);
}

TEST(IjlWrite, FailsWhereNoFileCanBeMadeAndLeavesNothingBehind) {
  TempFolder dir;
  writeText(dir.file("plain"), "not a folder");
  fs::create_directory(dir.file("taken.jpg"));
  std::vector<std::uint8_t> bits = patternPixels(8, 8, true);
  for (const std::string name : {"plain/x.jpg", "missing/x.jpg", "taken.jpg"}) {
    const std::string file = dir.file(name);
    JPEG_CORE_PROPERTIES r;
    prepare(r, bits, 8, 8, file);
    EXPECT_EQ(ijlWrite(&r, IJL_JFILE_WRITEWHOLEIMAGE), IJL_ERR_FILECREATE) << name;
    ijlFree(&r);
  }
  EXPECT_EQ(dir.names(), (Names{"plain", "taken.jpg"}));
  EXPECT_TRUE(fs::is_empty(dir.file("taken.jpg")));
}

TEST(IjlWrite, ReplacesAnEarlierFileOnlyWhenTheWriteSucceeds) {
  TempFolder dir;
  const std::string file = dir.file("thumb.jpg");
  writeText(file, "earlier file");
  std::vector<std::uint8_t> bits = patternPixels(8, 8, true);
  JPEG_CORE_PROPERTIES r;
  prepare(r, bits, 8, 8, file);
  r.DIBPadBytes = 3;
  EXPECT_EQ(ijlWrite(&r, IJL_JFILE_WRITEWHOLEIMAGE), IJL_INVALID_DIB_SIZE);
  EXPECT_EQ(readText(file), "earlier file");
  r.DIBPadBytes = 0;
  EXPECT_EQ(ijlWrite(&r, IJL_JFILE_WRITEWHOLEIMAGE), IJL_OK);
  ijlFree(&r);
  EXPECT_EQ(readText(file).substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(dir.names(), Names{"thumb.jpg"});
}

}  // namespace
}  // namespace platform
