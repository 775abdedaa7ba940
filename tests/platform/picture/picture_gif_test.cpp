// GIF pictures: the first frame on its screen, transparency, interlacing, and broken LZW data.
#include <gtest/gtest.h>

#include <functional>

#include "platform/base/runtime_error.h"
#include "platform/picture/gif_layout.h"
#include "platform/picture/picture.h"
#include "tests/support/images.h"
#include "tests/support/picture_writers.h"
#include "tests/support/runtime_errors.h"
#include "tools/gif_writer.h"

namespace platform {
namespace {

using testsupport::paletteOf;
using testsupport::Rgb;
using tools::encodeIndexedGif;
using GifFrame = tools::IndexedFrame;
using GifSpec = tools::IndexedGif;

constexpr Rgb kRed{220, 30, 30};
constexpr Rgb kGreen{30, 200, 60};
constexpr Rgb kBlue{30, 40, 210};

GifFrame frameOf(int left, int top, int width, int height,
                 const std::function<int(int, int)>& index) {
  GifFrame frame{left, top, width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) frame.indices.push_back(static_cast<std::uint8_t>(index(x, y)));
  }
  return frame;
}

TEST(GifPicture, TransparentPixelsGetAlphaZeroAndEdgesKeepTheirColour) {
  // Index 0 is transparent black; a red square sits in the middle.
  GifFrame frame = frameOf(
      0, 0, 64, 48, [](int x, int y) { return x >= 16 && x < 48 && y >= 12 && y < 36 ? 1 : 0; });
  frame.transparentIndex = 0;
  const auto picture =
      loadPictureFromBytes(encodeIndexedGif({64, 48, paletteOf({{0, 0, 0}, kRed}), {frame}}));
  EXPECT_EQ(picture->info().format, PictureFormat::kGif);
  for (auto [w, h] : {std::pair{125, 94}, {30, 22}, {64, 48}}) {
    const RgbaImage image = renderPicture(*picture, w, h);
    EXPECT_EQ(testsupport::pixel(image, 0, 0)[3], 0);
    EXPECT_EQ(testsupport::pixel(image, w - 1, h - 1)[3], 0);
    EXPECT_EQ(testsupport::pixel(image, w / 2, h / 2)[3], 255);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* p = testsupport::pixel(image, x, y);
        if (p[3] < 16) continue;  // nearly invisible: its colour hardly matters
        // Blending with the transparent pixels' black would darken the edge.
        EXPECT_NEAR(p[0], kRed.r, 12) << w << "x" << h << " at " << x << "," << y;
        EXPECT_NEAR(p[1], kRed.g, 12) << w << "x" << h << " at " << x << "," << y;
      }
    }
  }
}

TEST(GifPicture, InterlacedFrameDrawsLikeTheSameFrameInOrder) {
  const auto stripes = [](int, int y) { return y / 3 % 3; };
  GifFrame plain = frameOf(0, 0, 40, 37, stripes);
  GifFrame interlaced = plain;
  interlaced.interlaced = true;
  const std::vector<std::uint8_t> palette = paletteOf({kRed, kGreen, kBlue});
  const RgbaImage a =
      renderPicture(*loadPictureFromBytes(encodeIndexedGif({40, 37, palette, {plain}})), 40, 37);
  const RgbaImage b = renderPicture(
      *loadPictureFromBytes(encodeIndexedGif({40, 37, palette, {interlaced}})), 40, 37);
  EXPECT_EQ(a.pixels, b.pixels);
  // Drawn at its own size, each stripe is its palette colour.
  EXPECT_NEAR(testsupport::pixel(b, 20, 1)[0], kRed.r, 2);
  EXPECT_NEAR(testsupport::pixel(b, 20, 4)[1], kGreen.g, 2);
  EXPECT_NEAR(testsupport::pixel(b, 20, 7)[2], kBlue.b, 2);
}

TEST(GifPicture, OnlyTheFirstFrameIsDrawn) {
  const GifSpec spec{32,
                     32,
                     paletteOf({kRed, kBlue}),
                     {frameOf(0, 0, 32, 32, [](int, int) { return 0; }),
                      frameOf(0, 0, 32, 32, [](int, int) { return 1; })}};
  const testsupport::Mean mean =
      testsupport::meanOf(renderPicture(*loadPictureFromBytes(encodeIndexedGif(spec)), 16, 16));
  EXPECT_NEAR(mean.r, kRed.r, 1);
  EXPECT_NEAR(mean.b, kRed.b, 1);
}

TEST(GifPicture, FrameIsPlacedOnItsScreen) {
  // A green frame on the right half of a 40 x 20 screen: the left half stays transparent.
  const GifSpec spec{
      40, 20, paletteOf({kGreen}), {frameOf(20, 0, 20, 20, [](int, int) { return 0; })}};
  const auto picture = loadPictureFromBytes(encodeIndexedGif(spec));
  EXPECT_EQ(picture->info().width, 40);
  EXPECT_EQ(picture->info().height, 20);
  for (auto [w, h] : {std::pair{40, 20}, {20, 10}, {125, 63}}) {
    const RgbaImage image = renderPicture(*picture, w, h);
    // Away from the frame's edge by more than the filter's reach.
    EXPECT_EQ(testsupport::meanOf(image, 0, 0, w / 4, h).a, 0.0) << w;
    EXPECT_EQ(testsupport::meanOf(image, w * 3 / 4, 0, w, h).a, 255.0) << w;
    const int green = testsupport::pixel(image, w * 3 / 4, h / 2)[1];
    EXPECT_NEAR(green, kGreen.g, 2) << w;
  }
  // A screen of zero size takes the frame's extent.
  const GifSpec zero{0, 0, paletteOf({kGreen}), {frameOf(3, 2, 10, 6, [](int, int) { return 0; })}};
  const auto zeroScreen = loadPictureFromBytes(encodeIndexedGif(zero));
  EXPECT_EQ(zeroScreen->info().width, 13);
  EXPECT_EQ(zeroScreen->info().height, 8);
}

TEST(GifPicture, HugeScreenWithSmallFrameIsDrawnWithoutDecodingTheScreen) {
  const GifSpec spec{
      65535, 65535, paletteOf({kRed}), {frameOf(0, 0, 4, 4, [](int, int) { return 0; })}};
  const auto picture = loadPictureFromBytes(encodeIndexedGif(spec));
  EXPECT_EQ(picture->info().width, 65535);
  const RgbaImage image = renderPicture(*picture, 125, 125);
  EXPECT_EQ(image.width, 125);
  EXPECT_LT(testsupport::meanOf(image).a, 1.0);
}

TEST(GifPicture, BrokenFilesAreInvalidPictures) {
  const GifSpec good{8, 8, paletteOf({kRed}), {frameOf(0, 0, 8, 8, [](int, int) { return 0; })}};
  const std::vector<std::uint8_t> bytes = encodeIndexedGif(good);
  ASSERT_NO_THROW(loadPictureFromBytes(bytes));
  // Cut anywhere before the frame's last data byte: too few pixels, or no frame at all.
  const size_t dataEnd = bytes.size() - 2;  // block terminator and trailer follow
  for (size_t cut = 0; cut < dataEnd; cut += 7) {
    const std::vector<std::uint8_t> cutBytes(bytes.begin(),
                                             bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_RUNTIME_ERROR(loadPictureFromBytes(cutBytes), kErrInvalidPicture) << cut;
  }
  const GifSpec empty{8, 8, paletteOf({kRed}), {frameOf(0, 0, 0, 0, [](int, int) { return 0; })}};
  EXPECT_RUNTIME_ERROR(loadPictureFromBytes(encodeIndexedGif(empty)), kErrInvalidPicture);
  const GifSpec noFrame{8, 8, paletteOf({kRed}), {}};
  EXPECT_RUNTIME_ERROR(loadPictureFromBytes(encodeIndexedGif(noFrame)), kErrInvalidPicture);
  const GifSpec huge{
      20000, 20000, paletteOf({kRed}), {frameOf(0, 0, 0, 0, [](int, int) { return 0; })}};
  std::vector<std::uint8_t> hugeFrame = encodeIndexedGif(huge);
  const size_t descriptor = 13 + 768 + 5;  // after header, screen, palette; at the frame's width
  hugeFrame[descriptor] = hugeFrame[descriptor + 2] = 0x20;  // 20000 x 20000 = 0x4E20
  hugeFrame[descriptor + 1] = hugeFrame[descriptor + 3] = 0x4E;
  try {
    loadPictureFromBytes(hugeFrame);
    ADD_FAILURE() << "a 400-megapixel frame loaded";
  } catch (const RuntimeError& error) {
    EXPECT_NE(error.description().find("too large"), std::string::npos) << error.description();
  }
}

TEST(GifLzw, CountsPixelsAndRejectsUndefinedCodes) {
  const std::vector<std::uint8_t> indices(10, 3);
  const auto data = tools::lzwUncompressed(indices, 2);
  EXPECT_TRUE(lzwCovers(data, 2, 10));
  EXPECT_FALSE(lzwCovers(data, 2, 11));  // ends with the end code
  EXPECT_FALSE(lzwCovers({}, 2, 1));
  // 3-bit codes, first code lowest: clear (4), literal 1, then 6 = the code being defined
  // ("1" + "1"): three pixels.
  const std::vector<std::uint8_t> kwkwk = {0x8C, 0x01};
  EXPECT_TRUE(lzwCovers(kwkwk, 2, 3));
  // Clear, literal 1, then 7: not defined yet.
  const std::vector<std::uint8_t> undefined = {0xCC, 0x01};
  EXPECT_FALSE(lzwCovers(undefined, 2, 3));
  // Clear then 6 with no code before it to extend.
  const std::vector<std::uint8_t> noPrevious = {0xB4, 0x01};
  EXPECT_FALSE(lzwCovers(noPrevious, 2, 2));
}

}  // namespace
}  // namespace platform
