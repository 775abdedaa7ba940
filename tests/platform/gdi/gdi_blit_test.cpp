#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <vector>

#include "platform/gdi/gdi.h"
#include "tests/support/gdi_surfaces.h"

namespace platform {
namespace {

using testsupport::Canvas;
using Pixel = std::array<std::uint8_t, 3>;

std::vector<Pixel> pixelsOf(Canvas& canvas) {
  std::vector<Pixel> pixels;
  for (int y = 0; y < canvas.height; ++y)
    for (int x = 0; x < canvas.width; ++x) {
      const std::uint8_t* p = canvas.at(x, y);
      pixels.push_back({p[0], p[1], p[2]});
    }
  return pixels;
}

// What a plain copy must leave in the destination, worked out pixel by pixel.
std::vector<Pixel> expectedCopy(Canvas& dest, Canvas& source, std::int64_t x, std::int64_t y,
                                std::int64_t cx, std::int64_t cy, std::int64_t x1,
                                std::int64_t y1) {
  std::vector<Pixel> pixels = pixelsOf(dest);
  for (int dy = 0; dy < dest.height; ++dy)
    for (int dx = 0; dx < dest.width; ++dx) {
      const std::int64_t k = dx - x;
      const std::int64_t j = dy - y;
      const std::int64_t sx = x1 + k;
      const std::int64_t sy = y1 + j;
      if (k < 0 || k >= cx || j < 0 || j >= cy || sx < 0 || sx >= source.width || sy < 0 ||
          sy >= source.height) {
        continue;
      }
      const std::uint8_t* p = source.at(static_cast<int>(sx), static_cast<int>(sy));
      pixels[static_cast<std::size_t>(dy) * dest.width + dx] = {p[0], p[1], p[2]};
    }
  return pixels;
}

TEST(BitBlt, CopiesTheOverlapOfBothBitmapsOnly) {
  struct Case {
    int x, y, cx, cy, x1, y1;
  };
  const Case cases[] = {
      {0, 0, 4, 3, 0, 0},
      {3, -1, 10, 10, 0, 0},
      {0, 0, 5, 5, -2, -1},
      {-3, 2, 9, 9, 1, 0},
      {4, 4, 1, 1, 3, 2},
      {5, 0, 3, 3, 0, 0},
      {0, 0, 0, 3, 0, 0},
      {0, 0, -2, 3, 0, 0},
      {1, 1, 2, 2, 4, 0},
      {INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0},
      {INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MIN, INT_MIN},
      {0, 0, INT_MAX, INT_MAX, INT_MIN, 0},
  };
  for (const int sourceHeight : {3, -3}) {
    for (const Case& c : cases) {
      Canvas source(4, sourceHeight, 32);
      Canvas dest(5, 5, 24);
      source.fill(100);
      dest.fill(7);
      const std::vector<Pixel> expected =
          expectedCopy(dest, source, c.x, c.y, c.cx, c.cy, c.x1, c.y1);
      EXPECT_NE(BitBlt(dest.dc, c.x, c.y, c.cx, c.cy, source.dc, c.x1, c.y1, SRCCOPY), 0);
      EXPECT_EQ(pixelsOf(dest), expected)
          << c.x << ',' << c.y << ' ' << c.cx << 'x' << c.cy << " from " << c.x1 << ',' << c.y1;
    }
  }
}

TEST(BitBlt, MovesPixelsWithinOneSurfaceThoughTheRectanglesOverlap) {
  Canvas canvas(6, 1, 24);
  for (int x = 0; x < 6; ++x) canvas.at(x, 0)[0] = static_cast<std::uint8_t>(x);
  ASSERT_NE(BitBlt(canvas.dc, 1, 0, 5, 1, canvas.dc, 0, 0, SRCCOPY), 0);
  std::vector<int> blues;
  blues.reserve(6);
  for (int x = 0; x < 6; ++x) blues.push_back(canvas.at(x, 0)[0]);
  EXPECT_EQ(blues, (std::vector<int>{0, 0, 1, 2, 3, 4}));
}

TEST(BitBlt, OtherRasterOperationsAreDoneOrIgnored) {
  Canvas source(2, 1, 24);
  Canvas dest(2, 1, 32);
  source.at(0, 0)[0] = 0x0F;
  const auto run = [&](std::uint8_t destBlue, std::uint32_t rop, HDC from) {
    dest.at(0, 0)[0] = destBlue;
    const int result = BitBlt(dest.dc, 0, 0, 2, 1, from, 0, 0, rop);
    return std::pair<int, int>{result != 0, dest.at(0, 0)[0]};
  };
  EXPECT_EQ(run(0x33, 0x008800C6, source.dc), (std::pair{1, 0x03})) << "SRCAND";
  EXPECT_EQ(run(0x33, 0x00EE0086, source.dc), (std::pair{1, 0x3F})) << "SRCPAINT";
  EXPECT_EQ(run(0x33, 0x00660046, source.dc), (std::pair{1, 0x3C})) << "SRCINVERT";
  EXPECT_EQ(run(0x33, 0x00330008, source.dc), (std::pair{1, 0xF0})) << "NOTSRCCOPY";
  // Operations without a source need no source surface.
  EXPECT_EQ(run(0x33, 0x00550009, 0), (std::pair{1, 0xCC})) << "DSTINVERT";
  EXPECT_EQ(run(0x33, 0x00000042, 0), (std::pair{1, 0x00})) << "BLACKNESS";
  EXPECT_EQ(run(0x33, 0x00FF0062, 0), (std::pair{1, 0xFF})) << "WHITENESS";
  // Operations that need a brush are not done; nor is a copy without a source.
  EXPECT_EQ(run(0x33, 0x00F00021, source.dc), (std::pair{0, 0x33})) << "PATCOPY";
  EXPECT_EQ(run(0x33, 0x005A0049, source.dc), (std::pair{0, 0x33})) << "PATINVERT";
  EXPECT_EQ(run(0x33, SRCCOPY, 0), (std::pair{0, 0x33}));
}

}  // namespace
}  // namespace platform
