#include "tests/support/gdi_surfaces.h"

namespace testsupport {

using namespace platform;

BITMAPINFO dibHeader(std::int32_t width, std::int32_t height, std::uint16_t bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bits;
  return info;
}

Canvas::Canvas(int w, int h, int bitCount)
    : width(w),
      height(h < 0 ? -h : h),
      bytes(bitCount / 8),
      stride((static_cast<std::size_t>(w) * bytes + 3) & ~std::size_t{3}),
      topDown(h < 0) {
  dc = CreateCompatibleDC(0);
  const BITMAPINFO info = dibHeader(w, h, static_cast<std::uint16_t>(bitCount));
  void* address = nullptr;
  dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &address, 0, 0);
  bits = static_cast<std::uint8_t*>(address);
  previous = SelectObject(dc, dib);
}

Canvas::~Canvas() {
  SelectObject(dc, previous);
  DeleteObject(dib);
  DeleteObject(dc);
}

void Canvas::fill(std::uint8_t seed) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        at(x, y)[c] = static_cast<std::uint8_t>(seed + x * 16 + y * 4 + c);
}

BitmapPixels readBack(HBITMAP bitmap) {
  BitmapPixels picture;
  const HDC dc = CreateCompatibleDC(0);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  if (dc != 0 && GetDIBits(dc, bitmap, 0, 0, nullptr, &info, 0) != 0) {
    picture.width = info.bmiHeader.biWidth;
    picture.height = info.bmiHeader.biHeight;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const std::size_t stride = (static_cast<std::size_t>(picture.width) * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(picture.height));
    const int copied =
        GetDIBits(dc, bitmap, 0, static_cast<std::uint32_t>(picture.height), rows.data(), &info, 0);
    if (copied == picture.height) {
      for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* row =
            rows.data() + stride * static_cast<std::size_t>(picture.height - 1 - y);
        for (int x = 0; x < picture.width; ++x) {
          picture.pixels.push_back({row[3 * x + 2], row[3 * x + 1], row[3 * x]});
        }
      }
    }
  }
  if (dc != 0) DeleteObject(dc);
  return picture;
}

}  // namespace testsupport
