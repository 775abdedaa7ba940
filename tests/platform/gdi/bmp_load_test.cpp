// Reading BMP files through LoadImageA: every kind the program must read, and the files it must
// refuse.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "tests/support/bmp_files.h"
#include "tests/support/gdi_surfaces.h"
#include "tests/support/temp_folder.h"

namespace platform {
namespace {

using testsupport::TestBmp;

void setU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
void setU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  setU16(bytes, at, value & 0xFFFF);
  setU16(bytes, at + 2, value >> 16);
}

class BmpLoad : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.file(name); }

  static HGDIOBJ load(const std::string& file) {
    return LoadImageA(0, file.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
  }
  // True when the bytes, written to a file, load; the bitmap is released again.
  bool loads(const std::vector<std::uint8_t>& bytes) {
    testsupport::writeBytes(path("probe.bmp"), bytes);
    const HGDIOBJ bitmap = load(path("probe.bmp"));
    if (bitmap != 0) DeleteObject(bitmap);
    return bitmap != 0;
  }

  testsupport::TempFolder dir_{"quorvane-bmp"};
};

TEST_F(BmpLoad, ReadsEveryKindAsThePictureItHolds) {
  for (const TestBmp& test : testsupport::allKinds()) {
    SCOPED_TRACE(test.name);
    testsupport::writeBytes(path(test.name + ".bmp"), test.bytes);
    const HGDIOBJ bitmap = load(path(test.name + ".bmp"));
    ASSERT_NE(bitmap, 0u);

    // The query reports the file's own depth and resolution, at the picture's size.
    const HDC dc = CreateCompatibleDC(0);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    ASSERT_NE(GetDIBits(dc, bitmap, 0, 0, nullptr, &info, DIB_RGB_COLORS), 0);
    DeleteObject(dc);
    EXPECT_EQ(info.bmiHeader.biWidth, test.width);
    EXPECT_EQ(info.bmiHeader.biHeight, test.height);
    EXPECT_EQ(info.bmiHeader.biPlanes, 1);
    EXPECT_EQ(info.bmiHeader.biBitCount, test.bitCount);
    EXPECT_EQ(info.bmiHeader.biCompression, BI_RGB);
    EXPECT_EQ(info.bmiHeader.biSizeImage,
              (static_cast<std::uint32_t>(test.width) * test.bitCount + 31) / 32 * 4 * test.height);
    EXPECT_EQ(info.bmiHeader.biXPelsPerMeter, test.xPelsPerMeter);
    EXPECT_EQ(info.bmiHeader.biYPelsPerMeter, test.yPelsPerMeter);

    const testsupport::BitmapPixels picture = testsupport::readBack(bitmap);
    EXPECT_EQ(picture.width, test.width);
    EXPECT_EQ(picture.height, test.height);
    EXPECT_LE(testsupport::maxDifference(picture.pixels, test.expected), test.tolerance);
    EXPECT_EQ(DeleteObject(bitmap), 1);
  }
}

TEST_F(BmpLoad, ReadsANameWithAnyCharacters) {
  const TestBmp test = testsupport::allKinds().front();
  const std::string name = path("Bild \xC3\xBC ber 100%.bmp");
  testsupport::writeBytes(name, test.bytes);
  const HGDIOBJ bitmap = load(name);
  EXPECT_NE(bitmap, 0u);
  DeleteObject(bitmap);
}

TEST_F(BmpLoad, RefusesMissingSpecialAndForeignFiles) {
  EXPECT_EQ(load(path("missing.bmp")), 0u);
  EXPECT_EQ(load(dir_.path().string()), 0u) << "a folder";
  ASSERT_EQ(::mkfifo(path("pipe.bmp").c_str(), 0600), 0);
  EXPECT_EQ(load(path("pipe.bmp")), 0u) << "a pipe with no writer must not block";
  EXPECT_FALSE(loads({}));
  EXPECT_FALSE(loads({'B', 'M'}));
  EXPECT_FALSE(
      loads({0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}));
  EXPECT_FALSE(
      loads({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'}));

  const TestBmp good = testsupport::allKinds().front();
  testsupport::writeBytes(path("good.bmp"), good.bytes);
  const std::string file = path("good.bmp");
  EXPECT_EQ(LoadImageA(0, nullptr, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), 0u);
  EXPECT_EQ(LoadImageA(0, file.c_str(), 1 /* an icon */, 0, 0, LR_LOADFROMFILE), 0u);
  EXPECT_EQ(LoadImageA(0, file.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION), 0u);
  EXPECT_EQ(LoadImageA(0, file.c_str(), IMAGE_BITMAP, 32, 32, LR_LOADFROMFILE), 0u);
  const HGDIOBJ bitmap = LoadImageA(0, file.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
  EXPECT_NE(bitmap, 0u);
  DeleteObject(bitmap);
}

TEST_F(BmpLoad, RefusesHeadersThatContradictTheFile) {
  const std::vector<std::uint8_t> rgb24 =
      testsupport::directBmp("rgb24", 40, 24, 0, {0, 0, 0, 0}, 13, 5).bytes;
  ASSERT_TRUE(loads(rgb24));
  const auto changed = [&](std::size_t at, std::uint32_t value, bool wide = true) {
    std::vector<std::uint8_t> bytes = rgb24;
    wide ? setU32(bytes, at, value) : setU16(bytes, at, value);
    return bytes;
  };
  std::vector<std::uint8_t> cut(rgb24.begin(), rgb24.end() - 1);
  EXPECT_FALSE(loads(cut)) << "declared file size beyond the file";
  setU32(cut, 2, 0);
  EXPECT_FALSE(loads(cut)) << "last row cut short";
  EXPECT_FALSE(loads(changed(2, 0x7FFFFFFF))) << "file size";
  EXPECT_FALSE(loads(changed(10, static_cast<std::uint32_t>(rgb24.size()) + 10)))
      << "offset past the end";
  EXPECT_FALSE(loads(changed(10, 20))) << "offset inside the headers";
  EXPECT_FALSE(loads(changed(14, 66))) << "header size";
  EXPECT_FALSE(loads(changed(18, 0))) << "width";
  EXPECT_FALSE(loads(changed(18, static_cast<std::uint32_t>(-13)))) << "negative width";
  EXPECT_FALSE(loads(changed(22, 0))) << "height";
  EXPECT_FALSE(loads(changed(22, 0x80000000u))) << "height INT_MIN";
  EXPECT_FALSE(loads(changed(26, 2, false))) << "planes";
  EXPECT_FALSE(loads(changed(28, 2, false))) << "bit count";
  EXPECT_FALSE(loads(changed(28, 64, false))) << "bit count";
  EXPECT_FALSE(loads(changed(30, 1))) << "RLE8 at 24 bits";
  EXPECT_FALSE(loads(changed(30, 4))) << "an embedded JPEG";
  EXPECT_FALSE(loads(changed(34, 1000))) << "image size beyond the data";
  EXPECT_FALSE(loads(changed(38, static_cast<std::uint32_t>(-1)))) << "negative resolution";
  EXPECT_FALSE(loads(changed(42, 30'000'000))) << "absurd resolution";

  const std::vector<std::uint8_t> rgb565 =
      testsupport::directBmp("565", 40, 16, 3, {0xF800, 0x07E0, 0x001F, 0}, 13, 5).bytes;
  ASSERT_TRUE(loads(rgb565));
  for (auto [at, mask] : {std::pair{62, 0u}, {58, 0x0FE0u}, {54, 0xD800u}, {54, 0x1F800u}}) {
    std::vector<std::uint8_t> bytes = rgb565;
    setU32(bytes, static_cast<std::size_t>(at), mask);
    EXPECT_FALSE(loads(bytes)) << "mask " << std::hex << mask;
  }
}

TEST_F(BmpLoad, RefusesAnyKindWhosePlanesAreNotOne) {
  for (const TestBmp& test : testsupport::allKinds()) {
    SCOPED_TRACE(test.name);
    // The planes field: after the sizes, 16 bits in an OS/2 1.x header, 32 in the others.
    const std::uint32_t headerSize = test.bytes[14] | test.bytes[15] << 8;
    const std::size_t planesAt = headerSize == 12 ? 22 : 26;
    for (const std::uint32_t planes : {0u, 2u, 0xFFFFu}) {
      std::vector<std::uint8_t> bytes = test.bytes;
      setU16(bytes, planesAt, planes);
      EXPECT_FALSE(loads(bytes)) << "planes " << planes;
    }
  }
}

TEST_F(BmpLoad, RefusesColoursThePaletteLacks) {
  const TestBmp pal8 = testsupport::indexedBmp("pal8", 40, 8, 13, 5);  // 200 colours
  ASSERT_TRUE(loads(pal8.bytes));
  const std::size_t pixels = 14 + 40 + 200 * 4;
  std::vector<std::uint8_t> bytes = pal8.bytes;
  bytes[pixels + 3] = 250;
  EXPECT_FALSE(loads(bytes)) << "index beyond the palette";
  bytes[pixels + 3] = 199;
  EXPECT_TRUE(loads(bytes));
  bytes = pal8.bytes;
  setU32(bytes, 46, 300);
  EXPECT_FALSE(loads(bytes)) << "more colours than 8 bits can name";
  bytes = pal8.bytes;
  setU32(bytes, 30, 3);
  EXPECT_FALSE(loads(bytes)) << "bit fields at 8 bits";
}

TEST_F(BmpLoad, RefusesRunLengthCodesThatLeaveThePicture) {
  const std::vector<std::uint8_t> rle8 = testsupport::runLengthBmp(8).bytes;
  ASSERT_TRUE(loads(rle8));
  const std::size_t stream = 14 + 40 + 6 * 4;  // six palette entries
  const auto changed = [&](std::size_t at, std::uint8_t value) {
    std::vector<std::uint8_t> bytes = rle8;
    bytes[stream + at] = value;
    return bytes;
  };
  EXPECT_FALSE(loads(changed(0, 20))) << "a run past the end of the row";
  EXPECT_FALSE(loads(changed(1, 6))) << "a colour the palette lacks";
  EXPECT_FALSE(loads(changed(3, 7))) << "a literal past the end of the row";
  EXPECT_FALSE(loads(changed(16, 20))) << "a delta out of the picture";
  std::vector<std::uint8_t> topDown = rle8;
  setU32(topDown, 22, static_cast<std::uint32_t>(-4));
  EXPECT_FALSE(loads(topDown)) << "RLE rows are bottom-up only";
  // Cut inside the literal, with the sizes made to agree with the shorter file.
  std::vector<std::uint8_t> cut(rle8.begin(),
                                rle8.begin() + static_cast<std::ptrdiff_t>(stream) + 6);
  setU32(cut, 2, 0);
  setU32(cut, 34, 0);
  EXPECT_FALSE(loads(cut));
}

TEST_F(BmpLoad, RefusesSizesTheFileOrTheLimitCannotHold) {
  testsupport::BmpSpec huge{.width = 20000, .height = 20000, .bitCount = 24};
  huge.pixels = {1, 2, 3, 4};
  EXPECT_FALSE(loads(testsupport::buildBmp(huge))) << "400 million pixels in 4 bytes";

  testsupport::BmpSpec empty{.width = 30000, .height = 30000, .bitCount = 8, .compression = 1};
  empty.palette = testsupport::palettePattern(2);
  empty.pixels = {0, 1};
  EXPECT_FALSE(loads(testsupport::buildBmp(empty))) << "above the pixel limit";

  // Within the limit, a stream that ends at once gives a picture of palette entry 0.
  empty.width = 3000;
  empty.height = 2000;
  testsupport::writeBytes(path("blank.bmp"), testsupport::buildBmp(empty));
  const HGDIOBJ bitmap = load(path("blank.bmp"));
  ASSERT_NE(bitmap, 0u);
  const testsupport::BitmapPixels picture = testsupport::readBack(bitmap);
  ASSERT_EQ(picture.pixels.size(), 3000u * 2000u);
  EXPECT_EQ(picture.pixels.front(), empty.palette[0]);
  EXPECT_EQ(picture.pixels.back(), empty.palette[0]);
  DeleteObject(bitmap);
}

}  // namespace
}  // namespace platform
