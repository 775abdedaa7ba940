#include "tests/support/bmp_files.h"

namespace testsupport {
namespace {

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// Rows of bitCount-bit values (value(x, y), y from the top), stored bottom-up unless topDown,
// each padded to a multiple of 4 bytes.
template <typename ValueFn>
std::vector<std::uint8_t> packRows(int width, int height, int bitCount, bool topDown,
                                   ValueFn value) {
  const std::size_t stride = (static_cast<std::size_t>(width) * bitCount + 31) / 32 * 4;
  std::vector<std::uint8_t> out(stride * static_cast<std::size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row =
        out.data() + stride * static_cast<std::size_t>(topDown ? y : height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = value(x, y);
      if (bitCount < 8) {
        const int shift = 8 - bitCount - (x * bitCount) % 8;
        row[x * bitCount / 8] |= static_cast<std::uint8_t>(v << shift);
      } else {
        for (int i = 0; i < bitCount / 8; ++i)
          row[x * bitCount / 8 + i] = static_cast<std::uint8_t>(v >> (8 * i));
      }
    }
  }
  return out;
}

}  // namespace

Rgb patternColor(int x, int y) {
  return {static_cast<std::uint8_t>(x * 37 + y * 11), static_cast<std::uint8_t>(x * 5 + y * 71),
          static_cast<std::uint8_t>(x * 113 + y * 29)};
}

std::vector<std::uint8_t> buildBmp(const BmpSpec& spec) {
  std::vector<std::uint8_t> info;
  put32(info, spec.headerSize);
  if (spec.headerSize == 12) {
    put16(info, static_cast<std::uint32_t>(spec.width));
    put16(info, static_cast<std::uint32_t>(spec.height));
    put16(info, 1);
    put16(info, spec.bitCount);
  } else {
    put32(info, static_cast<std::uint32_t>(spec.width));
    put32(info, static_cast<std::uint32_t>(spec.height));
    put16(info, 1);
    put16(info, spec.bitCount);
    put32(info, spec.compression);
    put32(info, static_cast<std::uint32_t>(spec.pixels.size()));
    put32(info, static_cast<std::uint32_t>(spec.xPelsPerMeter));
    put32(info, static_cast<std::uint32_t>(spec.yPelsPerMeter));
    put32(info, static_cast<std::uint32_t>(spec.palette.size()));
    put32(info, 0);
    if (spec.headerSize >= 108) {
      for (std::uint32_t mask : spec.masks) put32(info, mask);
      put32(info, 0x73524742);                // sRGB
      info.resize(info.size() + 36 + 12, 0);  // end points, gamma
      if (spec.headerSize == 124) {
        put32(info, 4);  // intent; no profile
        info.resize(info.size() + 12, 0);
      }
    } else if (spec.compression == 3) {
      for (int i = 0; i < 3; ++i) put32(info, spec.masks[i]);
    }
  }
  for (const Rgb& c : spec.palette) {
    info.push_back(c.b);
    info.push_back(c.g);
    info.push_back(c.r);
    if (spec.headerSize != 12) info.push_back(0);
  }
  std::vector<std::uint8_t> file = {'B', 'M'};
  const auto offset = static_cast<std::uint32_t>(14 + info.size());
  put32(file, offset + static_cast<std::uint32_t>(spec.pixels.size()));
  put32(file, 0);
  put32(file, offset);
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), spec.pixels.begin(), spec.pixels.end());
  return file;
}

std::vector<Rgb> palettePattern(int count) {
  std::vector<Rgb> palette;
  palette.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    palette.push_back({static_cast<std::uint8_t>(i * 97 + 13),
                       static_cast<std::uint8_t>(255 - i * 41),
                       static_cast<std::uint8_t>(i * 7 + 100)});
  }
  return palette;
}

TestBmp indexedBmp(const std::string& name, std::uint32_t headerSize, int bitCount, int width,
                   int height) {
  // A short palette where the header can say so, as is common at 8 bits.
  const int colors = bitCount == 8 && headerSize != 12 ? 200 : 1 << bitCount;
  BmpSpec spec{.headerSize = headerSize,
               .width = width,
               .height = height,
               .bitCount = static_cast<std::uint16_t>(bitCount)};
  spec.palette = palettePattern(colors);
  const auto index = [&](int x, int y) {
    return static_cast<std::uint32_t>((x * 3 + y * 5) % colors);
  };
  spec.pixels = packRows(width, height, bitCount, false, index);
  TestBmp test{name, buildBmp(spec), width, height, bitCount};
  if (headerSize != 12) test.xPelsPerMeter = test.yPelsPerMeter = 2835;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) test.expected.push_back(spec.palette[index(x, y)]);
  return test;
}

TestBmp directBmp(const std::string& name, std::uint32_t headerSize, int bitCount,
                  std::uint32_t compression, const std::uint32_t (&masks)[4], int width,
                  int height) {
  BmpSpec spec{.headerSize = headerSize,
               .width = width,
               .height = height,
               .bitCount = static_cast<std::uint16_t>(bitCount),
               .compression = compression,
               .xPelsPerMeter = 3780,
               .yPelsPerMeter = 1890};
  for (int i = 0; i < 4; ++i) spec.masks[i] = masks[i];
  const bool topDown = height < 0;
  const int rows = topDown ? -height : height;
  TestBmp test{
      name, {}, width, rows, bitCount, headerSize == 12 ? 0 : 3780, headerSize == 12 ? 0 : 1890};
  // Each channel placed into its mask, scaled from 8 bits to the mask's width.
  const auto place = [](std::uint32_t mask, std::uint8_t value) {
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    int bits = 0;
    while (shift + bits < 32 && ((mask >> (shift + bits)) & 1) != 0) ++bits;
    const std::uint32_t level =
        bits >= 8 ? static_cast<std::uint32_t>(value) << (bits - 8) : value >> (8 - bits);
    return level << shift;
  };
  const auto value = [&](int x, int y) {
    const Rgb c = patternColor(x, y);
    if (bitCount == 24 || (bitCount == 32 && compression == 0)) {
      return 0xAB000000u | static_cast<std::uint32_t>(c.r) << 16 | c.g << 8 |
             c.b;  // unused byte set
    }
    std::uint32_t v = place(masks[0], c.r) | place(masks[1], c.g) | place(masks[2], c.b);
    if (masks[3] != 0)
      v |= place(masks[3], static_cast<std::uint8_t>(x * 16));  // alpha must not tint
    return v;
  };
  spec.pixels = packRows(width, rows, bitCount, topDown, value);
  test.bytes = buildBmp(spec);
  // Channels narrower than 8 bits lose their low bits here; wider ones round on the way back.
  test.tolerance = bitCount == 16 ? 8 : compression == 3 ? 1 : 0;
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < width; ++x) test.expected.push_back(patternColor(x, y));
  return test;
}

TestBmp runLengthBmp(int bitCount) {
  constexpr int kWidth = 9;
  constexpr int kHeight = 4;
  const std::vector<Rgb> palette = palettePattern(bitCount == 8 ? 6 : 16);
  std::vector<std::vector<int>> index(kHeight,
                                      std::vector<int>(kWidth, 0));  // [row from bottom][x]
  std::vector<std::uint8_t> stream;
  const bool four = bitCount == 4;
  // Row 0: a run of 3 (colours 1 and 2 alternate in RLE4), a literal of 5, a run of 1.
  stream.insert(stream.end(), {3, static_cast<std::uint8_t>(four ? 0x12 : 1)});
  for (int x = 0; x < 3; ++x) index[0][x] = four ? (x % 2 == 0 ? 1 : 2) : 1;
  const int literal[5] = {5, 4, 3, 2, 1};
  stream.insert(stream.end(), {0, 5});
  if (four) {
    stream.insert(stream.end(), {0x54, 0x32, 0x10, 0});  // 3 bytes, padded to 4
  } else {
    stream.insert(stream.end(), {5, 4, 3, 2, 1, 0});  // 5 bytes, padded to 6
  }
  for (int i = 0; i < 5; ++i) index[0][3 + i] = literal[i];
  stream.insert(stream.end(), {1, static_cast<std::uint8_t>(four ? 0x33 : 3)});
  index[0][8] = 3;
  stream.insert(stream.end(), {0, 0});
  // Row 1: a delta 2 to the right, a run of 4, then an early end of line.
  stream.insert(stream.end(), {0, 2, 2, 0});
  stream.insert(stream.end(), {4, static_cast<std::uint8_t>(four ? 0x44 : 4)});
  for (int x = 2; x < 6; ++x) index[1][x] = 4;
  stream.insert(stream.end(), {0, 0});
  // Row 2: the full width in one run.
  stream.insert(stream.end(), {kWidth, static_cast<std::uint8_t>(four ? 0x55 : 5)});
  for (int x = 0; x < kWidth; ++x) index[2][x] = 5;
  stream.insert(stream.end(), {0, 0});
  // Row 3: two pixels, then the end of the bitmap.
  stream.insert(stream.end(), {2, static_cast<std::uint8_t>(four ? 0x22 : 2)});
  index[3][0] = index[3][1] = 2;
  stream.insert(stream.end(), {0, 1});

  BmpSpec spec{.headerSize = 40,
               .width = kWidth,
               .height = kHeight,
               .bitCount = static_cast<std::uint16_t>(bitCount),
               .compression = static_cast<std::uint32_t>(four ? 2 : 1)};
  spec.palette = palette;
  spec.pixels = stream;
  TestBmp test{four ? "rle4" : "rle8", buildBmp(spec), kWidth, kHeight, bitCount, 2835, 2835};
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) test.expected.push_back(palette[index[kHeight - 1 - y][x]]);
  return test;
}

std::vector<TestBmp> allKinds() {
  const std::uint32_t none[4] = {0, 0, 0, 0};
  const std::uint32_t rgb565[4] = {0xF800, 0x07E0, 0x001F, 0};
  const std::uint32_t bgrx[4] = {0x0000FF00, 0x00FF0000, 0xFF000000, 0};
  const std::uint32_t argb[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  return {
      indexedBmp("pal1", 40, 1, 13, 5),
      indexedBmp("pal4", 40, 4, 13, 5),
      indexedBmp("pal8", 40, 8, 13, 5),
      indexedBmp("os2-pal8", 12, 8, 7, 3),
      indexedBmp("v4-pal4", 108, 4, 6, 3),
      runLengthBmp(4),
      runLengthBmp(8),
      directBmp("rgb16-555", 40, 16, 0, {0x7C00, 0x03E0, 0x001F, 0}, 13, 5),
      directBmp("rgb16-565", 40, 16, 3, rgb565, 13, 5),
      directBmp("rgb24", 40, 24, 0, none, 13, 5),
      directBmp("rgb24-topdown", 40, 24, 0, none, 13, -5),
      directBmp("os2-rgb24", 12, 24, 0, none, 5, 3),
      directBmp("rgb32", 40, 32, 0, none, 13, 5),
      directBmp("rgb32-bitfields", 40, 32, 3, bgrx, 13, 5),
      directBmp("rgb32-10bit", 40, 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0}, 7, 3),
      directBmp("v5-argb32-topdown", 124, 32, 3, argb, 11, -4),
  };
}

TestBmp kindNamed(const std::string& name) {
  for (TestBmp& test : allKinds()) {
    if (test.name == name) return test;
  }
  return {};
}

}  // namespace testsupport
