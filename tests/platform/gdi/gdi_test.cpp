#include "platform/gdi/gdi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/support/gdi_surfaces.h"

namespace platform {
namespace {

using testsupport::Canvas;
using testsupport::dibHeader;

TEST(GdiHandles, SurfaceHoldsADefaultBitmapThatGoesWithIt) {
  const std::size_t before = gdiObjectCount();
  const HDC dc = CreateCompatibleDC(0);
  ASSERT_NE(dc, 0u);
  EXPECT_EQ(gdiObjectCount(), before + 2);
  const BITMAPINFO info = dibHeader(4, 3, 24);
  const HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, nullptr, 0, 0);
  const HGDIOBJ defaultBitmap = SelectObject(dc, dib);
  ASSERT_NE(defaultBitmap, 0u);

  BITMAPINFO query{};
  query.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  ASSERT_NE(GetDIBits(dc, defaultBitmap, 0, 0, nullptr, &query, DIB_RGB_COLORS), 0);
  EXPECT_EQ(query.bmiHeader.biWidth, 1);
  EXPECT_EQ(query.bmiHeader.biHeight, 1);

  EXPECT_EQ(DeleteObject(defaultBitmap), 0) << "belongs to its surface";
  EXPECT_EQ(DeleteObject(dib), 0) << "still selected";
  EXPECT_EQ(DeleteObject(dc), 1);
  EXPECT_EQ(DeleteObject(defaultBitmap), 0) << "went with the surface";
  EXPECT_EQ(DeleteObject(dib), 1) << "free once its surface is gone";
  EXPECT_EQ(gdiObjectCount(), before);
}

TEST(GdiHandles, StaleForeignAndMadeUpHandlesFailSafely) {
  const HDC dc = CreateCompatibleDC(0);
  const BITMAPINFO info = dibHeader(2, 2, 32);
  const HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, nullptr, 0, 0);
  ASSERT_NE(dib, 0u);
  BITMAPINFO query{};
  query.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);

  // The wrong kind in each place.
  EXPECT_EQ(SelectObject(dib, dib), 0u);
  EXPECT_EQ(SelectObject(dc, dc), 0u);
  EXPECT_EQ(GetDIBits(dib, dib, 0, 0, nullptr, &query, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(dc, dc, 0, 0, nullptr, &query, DIB_RGB_COLORS), 0);
  EXPECT_EQ(BitBlt(dib, 0, 0, 1, 1, dc, 0, 0, SRCCOPY), 0);
  // Numbers that were never handles, or a handle with its generation or kind altered.
  for (HGDIOBJ bogus : {HGDIOBJ{0}, HGDIOBJ{1}, ~HGDIOBJ{0}, dc ^ (HGDIOBJ{1} << 32),
                        dc ^ (HGDIOBJ{3} << 56), dib + 1000}) {
    EXPECT_EQ(SelectObject(bogus, dib), 0u) << bogus;
    EXPECT_EQ(SelectObject(dc, bogus), 0u) << bogus;
    EXPECT_EQ(DeleteObject(bogus), 0) << bogus;
    EXPECT_EQ(GetDIBits(dc, bogus, 0, 0, nullptr, &query, DIB_RGB_COLORS), 0) << bogus;
    EXPECT_EQ(BitBlt(bogus, 0, 0, 1, 1, dc, 0, 0, SRCCOPY), 0) << bogus;
  }

  // A deleted handle stays dead, even when its slot is reused.
  EXPECT_EQ(DeleteObject(dib), 1);
  const HBITMAP reused = CreateDIBSection(dc, &info, DIB_RGB_COLORS, nullptr, 0, 0);
  EXPECT_NE(reused, dib);
  EXPECT_EQ(SelectObject(dc, dib), 0u);
  EXPECT_EQ(DeleteObject(dib), 0);
  EXPECT_EQ(GetDIBits(dc, dib, 0, 0, nullptr, &query, DIB_RGB_COLORS), 0);
  EXPECT_EQ(DeleteObject(reused), 1);
  EXPECT_EQ(DeleteObject(dc), 1);
  EXPECT_EQ(DeleteObject(dc), 0);
  EXPECT_EQ(SelectObject(dc, reused), 0u);
}

TEST(GdiHandles, ABitmapIsSelectedIntoOneSurfaceAtATime) {
  const HDC first = CreateCompatibleDC(0);
  const HDC second = CreateCompatibleDC(0);
  const BITMAPINFO info = dibHeader(2, 2, 24);
  const HBITMAP dib = CreateDIBSection(first, &info, DIB_RGB_COLORS, nullptr, 0, 0);
  const HGDIOBJ firstDefault = SelectObject(first, dib);
  ASSERT_NE(firstDefault, 0u);
  EXPECT_EQ(SelectObject(first, dib), dib);
  EXPECT_EQ(SelectObject(second, dib), 0u);
  EXPECT_EQ(DeleteObject(first), 1);  // lets go of the bitmap
  const HGDIOBJ secondDefault = SelectObject(second, dib);
  EXPECT_NE(secondDefault, 0u);
  EXPECT_EQ(SelectObject(second, secondDefault), dib);
  EXPECT_EQ(DeleteObject(dib), 1);
  EXPECT_EQ(DeleteObject(second), 1);
}

TEST(GdiHandles, ThreadsMakeUseAndReleaseObjectsTogether) {
  const std::size_t before = gdiObjectCount();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&failures] {
      for (int i = 0; i < 300; ++i) {
        Canvas canvas(3, 2, 32);
        if (canvas.dc == 0 || canvas.dib == 0 || canvas.previous == 0) ++failures;
        canvas.fill(static_cast<std::uint8_t>(i));
        if (BitBlt(canvas.dc, 1, 0, 2, 2, canvas.dc, 0, 0, SRCCOPY) == 0) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(gdiObjectCount(), before);
}

TEST(CreateDIBSection, LaysOutPaddedRowsInTheHeadersOrder) {
  Canvas bottomUp(5, 2, 24);
  ASSERT_NE(bottomUp.bits, nullptr);
  BITMAPINFO query{};
  query.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  ASSERT_NE(GetDIBits(bottomUp.dc, bottomUp.dib, 0, 0, nullptr, &query, DIB_RGB_COLORS), 0);
  EXPECT_EQ(query.bmiHeader.biSizeImage, 32u) << "rows of 15 bytes padded to 16";
  EXPECT_EQ(std::vector<std::uint8_t>(bottomUp.bits, bottomUp.bits + 32),
            std::vector<std::uint8_t>(32, 0));

  // The bottom row comes first in memory for a positive height, last for a negative one.
  for (int height : {2, -2}) {
    Canvas canvas(3, height, 32);
    canvas.fill(0);
    std::vector<std::uint8_t> rows(2 * 3 * 4);
    BITMAPINFO copy = dibHeader(3, 2, 32);
    ASSERT_EQ(GetDIBits(canvas.dc, canvas.dib, 0, 2, rows.data(), &copy, DIB_RGB_COLORS), 2);
    EXPECT_EQ(std::memcmp(rows.data(), canvas.at(0, 1), 12), 0) << height;
    EXPECT_EQ(std::memcmp(rows.data() + 12, canvas.at(0, 0), 12), 0) << height;
  }
}

TEST(CreateDIBSection, RefusesWhatItCannotMake) {
  const auto refused = [](BITMAPINFO info, std::uint32_t usage = DIB_RGB_COLORS) {
    void* bits = &info;
    const HBITMAP dib = CreateDIBSection(0, &info, usage, &bits, 0, 0);
    if (dib != 0) DeleteObject(dib);
    return dib == 0 && bits == nullptr;
  };
  EXPECT_TRUE(refused(dibHeader(4, 4, 8)));
  EXPECT_TRUE(refused(dibHeader(4, 4, 16)));
  EXPECT_TRUE(refused(dibHeader(0, 4, 24)));
  EXPECT_TRUE(refused(dibHeader(-4, 4, 24)));
  EXPECT_TRUE(refused(dibHeader(4, 0, 24)));
  EXPECT_TRUE(refused(dibHeader(4, INT_MIN, 24)));
  EXPECT_TRUE(refused(dibHeader(1, static_cast<std::int32_t>(kMaxPicturePixels + 1), 24)));
  EXPECT_TRUE(refused(dibHeader(INT_MAX, INT_MAX, 32)));
  EXPECT_TRUE(refused(dibHeader(INT_MAX, INT_MIN + 1, 32)));
  EXPECT_TRUE(refused(dibHeader(4, 4, 24), 1));
  BITMAPINFO compressed = dibHeader(4, 4, 24);
  compressed.bmiHeader.biCompression = 1;
  EXPECT_TRUE(refused(compressed));
  BITMAPINFO planes = dibHeader(4, 4, 24);
  planes.bmiHeader.biPlanes = 2;
  EXPECT_TRUE(refused(planes));
  BITMAPINFO shortHeader = dibHeader(4, 4, 24);
  shortHeader.bmiHeader.biSize = 12;
  EXPECT_TRUE(refused(shortHeader));
  void* bits = &bits;
  EXPECT_EQ(CreateDIBSection(0, nullptr, DIB_RGB_COLORS, &bits, 0, 0), 0u);
  EXPECT_EQ(bits, nullptr);
}

TEST(GetDIBits, QueryFillsTheFortyByteHeaderOnly) {
  const HDC dc = CreateCompatibleDC(0);
  BITMAPINFO info = dibHeader(7, -3, 32);
  info.bmiHeader.biXPelsPerMeter = 1000;
  info.bmiHeader.biYPelsPerMeter = 2000;
  const HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, nullptr, 0, 0);

  BITMAPINFO query{};
  std::memset(&query, 0xAA, sizeof query);
  query.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  query.bmiHeader.biBitCount = 0;
  ASSERT_NE(GetDIBits(dc, dib, 0, 0, nullptr, &query, DIB_RGB_COLORS), 0);
  const BITMAPINFOHEADER& h = query.bmiHeader;
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 7);
  EXPECT_EQ(h.biHeight, 3);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 32);
  EXPECT_EQ(h.biCompression, BI_RGB);
  EXPECT_EQ(h.biSizeImage, 7u * 4 * 3);
  EXPECT_EQ(h.biXPelsPerMeter, 1000);
  EXPECT_EQ(h.biYPelsPerMeter, 2000);
  EXPECT_EQ(h.biClrUsed, 0u);
  EXPECT_EQ(h.biClrImportant, 0u);
  EXPECT_EQ(query.bmiColors[0].rgbBlue, 0xAA) << "nothing beyond the header";
  EXPECT_EQ(query.bmiColors[0].rgbReserved, 0xAA);

  // A size query at a given depth; a short header or no surface fails.
  BITMAPINFO sized = dibHeader(0, 0, 24);
  ASSERT_NE(GetDIBits(dc, dib, 0, 0, nullptr, &sized, DIB_RGB_COLORS), 0);
  EXPECT_EQ(sized.bmiHeader.biSizeImage, 24u * 3);
  sized.bmiHeader.biSize = 12;
  EXPECT_EQ(GetDIBits(dc, dib, 0, 0, nullptr, &sized, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(0, dib, 0, 0, nullptr, &query, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(dc, dib, 0, 0, nullptr, nullptr, DIB_RGB_COLORS), 0);
  DeleteObject(dib);
  DeleteObject(dc);
}

TEST(GetDIBits, CopyConvertsAndNeverWritesMoreRowsThanThereAre) {
  Canvas canvas(3, 4, 24);  // rows of 9 bytes padded to 12
  canvas.fill(10);
  const auto copy = [&](std::uint32_t start, std::uint32_t lines, BITMAPINFO info,
                        std::vector<std::uint8_t>& out) {
    return GetDIBits(canvas.dc, canvas.dib, start, lines, out.data(), &info, DIB_RGB_COLORS);
  };

  // To 32 bits: blue, green, red and a zero byte; the header's size follows the format.
  std::vector<std::uint8_t> wide(4 * 12, 0xEE);
  BITMAPINFO info32 = dibHeader(3, 4, 32);
  ASSERT_EQ(GetDIBits(canvas.dc, canvas.dib, 0, 4, wide.data(), &info32, DIB_RGB_COLORS), 4);
  EXPECT_EQ(info32.bmiHeader.biSizeImage, 48u);
  EXPECT_EQ(std::memcmp(wide.data() + 4, canvas.at(1, 3), 3), 0);
  EXPECT_EQ(wide[7], 0);

  // Rows from 1 up: only three exist, and the guard row after them stays untouched.
  std::vector<std::uint8_t> rows(5 * 12, 0xEE);
  EXPECT_EQ(copy(1, 10, dibHeader(3, 5, 24), rows), 3);
  EXPECT_EQ(std::memcmp(rows.data(), canvas.at(0, 2), 9), 0);
  EXPECT_EQ(std::memcmp(rows.data() + 24, canvas.at(0, 0), 9), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(rows.begin() + 36, rows.end()),
            std::vector<std::uint8_t>(24, 0xEE));
  // No more rows than the header describes either.
  std::vector<std::uint8_t> two(2 * 12, 0);
  EXPECT_EQ(copy(0, 4, dibHeader(3, 2, 24), two), 2);
  // Top-down target: the highest copied row first.
  EXPECT_EQ(copy(0, 4, dibHeader(3, -4, 24), rows), 4);
  EXPECT_EQ(std::memcmp(rows.data(), canvas.at(0, 0), 9), 0);
  // A narrower header takes the left part of each row.
  std::vector<std::uint8_t> narrow(4 * 4, 0);
  EXPECT_EQ(copy(0, 4, dibHeader(1, 4, 24), narrow), 4);
  EXPECT_EQ(std::memcmp(narrow.data() + 12, canvas.at(0, 0), 3), 0);

  for (std::uint32_t start : {4u, 1000u, UINT32_MAX})
    EXPECT_EQ(copy(start, 1, dibHeader(3, 4, 24), rows), 0);
  EXPECT_EQ(copy(0, 0, dibHeader(3, 4, 24), rows), 0);
  EXPECT_EQ(copy(0, 4, dibHeader(3, 4, 16), rows), 0);
  EXPECT_EQ(copy(0, 4, dibHeader(0, 4, 24), rows), 0);
  BITMAPINFO rle = dibHeader(3, 4, 24);
  rle.bmiHeader.biCompression = 1;
  EXPECT_EQ(copy(0, 4, rle, rows), 0);
}

}  // namespace
}  // namespace platform
