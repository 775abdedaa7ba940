// Reading bitmaps back through the graphics layer, for the tests.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/gdi/gdi.h"
#include "tests/platform/bmp_test_files.h"

namespace bmptest {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;  // top row first
};

// The bitmap's pixels as a 24-bit bottom-up copy gives them, turned top row first.
inline Picture readBack(platform::HBITMAP bitmap) {
  Picture picture;
  const platform::HDC dc = platform::CreateCompatibleDC(0);
  platform::BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(platform::BITMAPINFOHEADER);
  if (dc != 0 && platform::GetDIBits(dc, bitmap, 0, 0, nullptr, &info, 0) != 0) {
    picture.width = info.bmiHeader.biWidth;
    picture.height = info.bmiHeader.biHeight;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = platform::BI_RGB;
    const std::size_t stride = (static_cast<std::size_t>(picture.width) * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(picture.height));
    const int copied = platform::GetDIBits(dc, bitmap, 0, static_cast<std::uint32_t>(picture.height),
                                           rows.data(), &info, 0);
    if (copied == picture.height) {
      for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* row = rows.data() + stride * static_cast<std::size_t>(picture.height - 1 - y);
        for (int x = 0; x < picture.width; ++x) {
          picture.pixels.push_back({row[3 * x + 2], row[3 * x + 1], row[3 * x]});
        }
      }
    }
  }
  if (dc != 0) platform::DeleteObject(dc);
  return picture;
}

// The largest difference in any channel, or 256 when the sizes differ.
inline int maxDifference(const std::vector<Rgb>& a, const std::vector<Rgb>& b) {
  if (a.size() != b.size()) return 256;
  int worst = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    worst = std::max({worst, std::abs(a[i].r - b[i].r), std::abs(a[i].g - b[i].g), std::abs(a[i].b - b[i].b)});
  }
  return worst;
}

}  // namespace bmptest

namespace gditest {

inline platform::BITMAPINFO dibHeader(std::int32_t width, std::int32_t height, std::uint16_t bits) {
  platform::BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(platform::BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bits;
  return info;
}

// A surface with a DIB section selected into it, released at the end of the test.
struct Canvas {
  platform::HDC dc = 0;
  platform::HBITMAP dib = 0;
  platform::HGDIOBJ previous = 0;
  std::uint8_t* bits = nullptr;
  int width, height, bytes;
  std::size_t stride;
  bool topDown;

  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  Canvas(int w, int h, int bitCount) : width(w), height(h < 0 ? -h : h), bytes(bitCount / 8),
        stride((static_cast<std::size_t>(w) * bytes + 3) & ~std::size_t{3}), topDown(h < 0) {
    using namespace platform;
    dc = CreateCompatibleDC(0);
    const BITMAPINFO info = dibHeader(w, h, static_cast<std::uint16_t>(bitCount));
    void* address = nullptr;
    dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &address, 0, 0);
    bits = static_cast<std::uint8_t*>(address);
    previous = SelectObject(dc, dib);
  }
  ~Canvas() {
    using namespace platform;
    SelectObject(dc, previous);
    DeleteObject(dib);
    DeleteObject(dc);
  }
  std::uint8_t* at(int x, int y) {  // y from the top
    return bits + stride * static_cast<std::size_t>(topDown ? y : height - 1 - y) + x * bytes;
  }
  void fill(std::uint8_t seed) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) at(x, y)[c] = static_cast<std::uint8_t>(seed + x * 16 + y * 4 + c);
  }
};

}  // namespace gditest
