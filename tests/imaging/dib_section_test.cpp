// cDIBSection: an in-memory bitmap made, loaded from BMP files, painted and released.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/cDIBSection.h"
#include "platform/base/runtime_error.h"
#include "platform/gdi/gdi.h"
#include "tests/support/bmp_files.h"
#include "tests/support/gdi_surfaces.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/picture_writers.h"
#include "tests/support/runtime_errors.h"
#include "tests/support/temp_folder.h"

namespace {

using platform::BITMAPINFOHEADER;

std::vector<std::uint8_t> tinyJpeg() {
  const testsupport::RgbImage grey = testsupport::makeImage(8, 8, [](int, int) {
    return testsupport::Rgb{128, 128, 128};
  });
  return testsupport::encodeJpeg(grey, {testsupport::Sampling::k420, 75});
}

class DibSection : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = platform::gdiObjectCount(); }
  void TearDown() override {
    EXPECT_EQ(platform::gdiObjectCount(), baseline_) << "graphics objects left behind";
  }
  std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::string file = dir_.file(name);
    testsupport::writeBytes(file, bytes);
    return file;
  }

  testsupport::MsgBoxRecorder boxes_;
  testsupport::TempFolder dir_{"quorvane-dib"};
  std::size_t baseline_ = 0;
};

TEST_F(DibSection, NewObjectIsAllZero) {
  cDIBSection dib;
  EXPECT_EQ(dib.BytesPerScanLine(), 0);
  EXPECT_EQ(dib.dib_width(), 0);
  EXPECT_EQ(dib.dib_height(), 0);
  EXPECT_EQ(dib.dib_channels(), 0);
  EXPECT_EQ(dib.hDC(), 0u);
  EXPECT_EQ(dib.hDib(), 0u);
  EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
  const std::vector<char> zero(sizeof(platform::BITMAPINFO), 0);
  EXPECT_EQ(std::memcmp(&dib.info(), zero.data(), zero.size()), 0) << "biSize included";
}

TEST_F(DibSection, CreateMakesTheRequestedDepth) {
  struct Case {
    int channels, bits, bytesPerLine;
  };
  for (const Case c : {Case{3, 24, 16}, Case{4, 32, 20}, Case{1, 32, 20}}) {
    cDIBSection dib;
    ASSERT_TRUE(dib.Create(5, 2, c.channels));
    const BITMAPINFOHEADER& h = dib.info().bmiHeader;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 5);
    EXPECT_EQ(h.biHeight, 2);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, c.bits);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, static_cast<std::uint32_t>(c.bytesPerLine * 2));
    EXPECT_EQ(h.biXPelsPerMeter, 0);
    EXPECT_EQ(dib.BytesPerScanLine(), c.bytesPerLine);
    EXPECT_EQ(dib.dib_channels(), c.bits / 8);
    EXPECT_NE(dib.hDC(), 0u);
    EXPECT_NE(dib.hDib(), 0u);
    EXPECT_NE(dib.DIBSectionBitsPtr(), nullptr);
    EXPECT_EQ(platform::gdiObjectCount(), baseline_ + 3) << "surface, its default bitmap, the DIB";
  }
}

TEST_F(DibSection, RowLengthOverflowsJustPastTheLargestLong) {
  cDIBSection dib;
  platform::HBITMAP made = 0;
  // The row length fits; the bitmap itself is more than the platform makes.
  EXPECT_FALSE(dib.CreateDIB(0, 715827881, 1, 3, made));
  EXPECT_EQ(made, 0u);
  EXPECT_EQ(dib.BytesPerScanLine(), 2147483644);
  EXPECT_EQ(dib.info().bmiHeader.biSizeImage, 2147483644u);
  EXPECT_FALSE(dib.CreateDIB(0, 536870911, 1, 4, made));
  EXPECT_EQ(dib.BytesPerScanLine(), 2147483644);

  EXPECT_RUNTIME_ERROR(dib.CreateDIB(0, 715827882, 1, 3, made), platform::kErrOverflow);
  EXPECT_RUNTIME_ERROR(dib.BytesPerScanLine(), platform::kErrOverflow);
  EXPECT_EQ(dib.dib_width(), 715827882);
  EXPECT_EQ(dib.dib_channels(), 3);
  EXPECT_RUNTIME_ERROR(dib.CreateDIB(0, 536870912, 1, 4, made), platform::kErrOverflow);
}

TEST_F(DibSection, ImageSizeOverflowMakesNoBitmap) {
  cDIBSection dib;
  platform::HBITMAP made = 12345;
  EXPECT_RUNTIME_ERROR(dib.CreateDIB(0, 100000, 100000, 3, made), platform::kErrOverflow);
  EXPECT_EQ(made, 12345u) << "the member ends before the handle is stored";
  EXPECT_EQ(dib.info().bmiHeader.biSizeImage, 0u);
  EXPECT_EQ(platform::gdiObjectCount(), baseline_);

  // Inside Create the surface already exists: it stays until the next CleanUp.
  EXPECT_RUNTIME_ERROR(dib.Create(100000, 100000, 3), platform::kErrOverflow);
  EXPECT_NE(dib.hDC(), 0u);
  EXPECT_EQ(dib.hDib(), 0u);
  dib.CleanUp();
  EXPECT_EQ(dib.hDC(), 0u);
}

TEST_F(DibSection, CreateThePlatformRefusesKeepsTheRequestedHeader) {
  cDIBSection dib;
  EXPECT_FALSE(dib.Create(20000, 20000, 3));  // 400 megapixels
  EXPECT_EQ(dib.hDC(), 0u);
  EXPECT_EQ(dib.hDib(), 0u);
  EXPECT_EQ(dib.dib_width(), 20000);
  EXPECT_EQ(dib.dib_height(), 20000);
  EXPECT_EQ(dib.dib_channels(), 3);
}

TEST_F(DibSection, LoadGivesEveryKindOfFileAsBottomUp24BitRows) {
  for (const testsupport::TestBmp& test : testsupport::allKinds()) {
    SCOPED_TRACE(test.name);
    cDIBSection dib;
    ASSERT_TRUE(dib.Load(write(test.name + ".bmp", test.bytes)));
    const BITMAPINFOHEADER& h = dib.info().bmiHeader;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(dib.dib_width(), test.width);
    EXPECT_EQ(dib.dib_height(), test.height);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(h.biXPelsPerMeter, test.xPelsPerMeter);
    EXPECT_EQ(h.biYPelsPerMeter, test.yPelsPerMeter);
    EXPECT_EQ(h.biSizeImage, static_cast<std::uint32_t>(dib.BytesPerScanLine() * test.height));
    EXPECT_EQ(dib.dib_channels(), 3);

    std::vector<testsupport::Rgb> pixels;
    const auto* bits = static_cast<const std::uint8_t*>(dib.DIBSectionBitsPtr());
    for (int y = 0; y < test.height; ++y) {
      const std::uint8_t* row =
          bits + static_cast<std::size_t>(dib.BytesPerScanLine()) * (test.height - 1 - y);
      for (int x = 0; x < test.width; ++x)
        pixels.push_back({row[3 * x + 2], row[3 * x + 1], row[3 * x]});
    }
    EXPECT_LE(testsupport::maxDifference(pixels, test.expected), test.tolerance);
  }
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(DibSection, LoadFailureShowsOneBoxAndLeavesNothing) {
  const std::string missing = dir_.file("missing.bmp");
  const std::string jpeg = write("photo.jpg", tinyJpeg());
  for (const std::string& file : {missing, jpeg, dir_.path().string()}) {
    SCOPED_TRACE(file);
    cDIBSection dib;
    EXPECT_FALSE(dib.Load(file));
    ASSERT_EQ(boxes_.size(), 1u);
    const platform::MsgBoxRequest box = boxes_.take();
    EXPECT_EQ(box.prompt, "Can't load BMP image");
    EXPECT_EQ(box.style, 0);
    EXPECT_EQ(box.title, "Quorvane");
    EXPECT_EQ(dib.hDC(), 0u);
    EXPECT_EQ(dib.hDib(), 0u);
    EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
    EXPECT_EQ(dib.dib_width(), 0);
    EXPECT_EQ(dib.info().bmiHeader.biSize, 40u);
    EXPECT_EQ(platform::gdiObjectCount(), baseline_);
  }
}

TEST_F(DibSection, SecondLoadReleasesTheFirstBitmapAndSurface) {
  const testsupport::TestBmp first = testsupport::kindNamed("pal1");
  const testsupport::TestBmp second = testsupport::kindNamed("os2-rgb24");
  cDIBSection dib;
  ASSERT_TRUE(dib.Load(write("first.bmp", first.bytes)));
  const platform::HDC firstSurface = dib.hDC();
  const platform::HBITMAP firstBitmap = dib.hDib();
  ASSERT_TRUE(dib.Load(write("second.bmp", second.bytes)));
  EXPECT_EQ(dib.dib_width(), second.width);
  EXPECT_NE(dib.hDib(), firstBitmap);
  EXPECT_EQ(platform::DeleteObject(firstBitmap), 0) << "stale";
  EXPECT_EQ(platform::DeleteObject(firstSurface), 0) << "stale";
  EXPECT_EQ(platform::gdiObjectCount(), baseline_ + 3);
  platform::BITMAPINFO query{};
  query.bmiHeader.biSize = 40;
  EXPECT_NE(platform::GetDIBits(dib.hDC(), dib.hDib(), 0, 0, nullptr, &query, 0), 0);
  EXPECT_EQ(query.bmiHeader.biWidth, second.width);
}

TEST_F(DibSection, CleanUpKeepsImageSizeAndResolutionOnly) {
  cDIBSection dib;
  dib.CleanUp();  // on an empty object: releases nothing
  EXPECT_EQ(dib.info().bmiHeader.biSize, 40u);
  const testsupport::TestBmp test =
      testsupport::kindNamed("rgb24");  // 3780 x 1890 pixels per metre
  ASSERT_TRUE(dib.Load(write("picture.bmp", test.bytes)));
  const std::uint32_t sizeImage = dib.info().bmiHeader.biSizeImage;
  for (int i = 0; i < 2; ++i) {
    dib.CleanUp();
    const BITMAPINFOHEADER& h = dib.info().bmiHeader;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 0);
    EXPECT_EQ(h.biHeight, 0);
    EXPECT_EQ(h.biPlanes, 0);
    EXPECT_EQ(h.biBitCount, 0);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(h.biSizeImage, sizeImage);
    EXPECT_EQ(h.biXPelsPerMeter, 3780);
    EXPECT_EQ(h.biYPelsPerMeter, 1890);
    EXPECT_EQ(dib.hDC(), 0u);
    EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
    EXPECT_EQ(platform::gdiObjectCount(), baseline_);
  }
}

TEST_F(DibSection, PaintPictureCopiesTheWholeBitmapByDefault) {
  cDIBSection dib;
  ASSERT_TRUE(dib.Create(3, 2, 3));
  auto* bits = static_cast<std::uint8_t*>(dib.DIBSectionBitsPtr());
  for (int i = 0; i < dib.BytesPerScanLine() * 2; ++i) bits[i] = static_cast<std::uint8_t>(i + 1);
  const auto blueAt = [](testsupport::Canvas& canvas, int x, int y) { return canvas.at(x, y)[0]; };

  testsupport::Canvas dest(5, 4, 24);
  dib.PaintPicture(dest.dc);
  EXPECT_EQ(blueAt(dest, 0, 0), bits[dib.BytesPerScanLine()]) << "top row: the second in memory";
  EXPECT_EQ(blueAt(dest, 2, 1), bits[6]);
  EXPECT_EQ(blueAt(dest, 3, 0), 0);
  EXPECT_EQ(blueAt(dest, 0, 2), 0);

  testsupport::Canvas untouched(5, 4, 24);
  dib.PaintPicture(untouched.dc, 0, 0, 0);  // a width of 0 copies nothing
  dib.PaintPicture(untouched.dc, 0, 0, -1, 0);
  EXPECT_EQ(blueAt(untouched, 0, 0), 0);
  dib.PaintPicture(untouched.dc, 4, 3, -1, -1, 1, 1);
  EXPECT_EQ(blueAt(untouched, 4, 3), bits[3]) << "source (1, 1): the bottom row in memory";
}

TEST_F(DibSection, DestructionReleasesEverything) {
  {
    cDIBSection dib;
    ASSERT_TRUE(dib.Create(8, 8, 4));
  }
  EXPECT_EQ(platform::gdiObjectCount(), baseline_);
}

}  // namespace
