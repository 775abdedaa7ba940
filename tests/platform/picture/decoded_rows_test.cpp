// Box averaging before the one resampling step: rows and planes give the same drawing, and the
// boxes are the exact rounded averages of their pixels. The resampling step itself: each output
// pixel is the sum of its own taps.
#include "platform/picture/decoded_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/picture/resample.h"

namespace platform {
namespace {

// Bytes that vary from pixel to pixel and channel to channel, with no pattern a box could hide.
std::vector<std::uint8_t> noise(int width, int height, int channels) {
  std::vector<std::uint8_t> bytes(static_cast<size_t>(width) * height * channels);
  std::uint32_t state = 12345;
  for (std::uint8_t& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 23);
  }
  return bytes;
}

SourcePixels layoutOf(int channels) {
  return channels == 1   ? SourcePixels::kGrey
         : channels == 3 ? SourcePixels::kRgb
                         : SourcePixels::kRgbaStraight;
}

RgbaImage drawnFromRows(const std::vector<std::uint8_t>& pixels, int channels, int width,
                        int height, int outWidth, int outHeight) {
  DecodedRows rows(layoutOf(channels), width, height, outWidth, outHeight);
  for (int y = 0; y < height; ++y) rows.addRow(&pixels[static_cast<size_t>(y) * width * channels]);
  return rows.finish();
}

RgbaImage drawnFromPlanes(const std::vector<std::uint8_t>& pixels, int channels, int width,
                          int height, int outWidth, int outHeight) {
  DecodedRows rows(layoutOf(channels), width, height, outWidth, outHeight);
  std::vector<std::vector<std::uint8_t>> planes(channels, std::vector<std::uint8_t>(width));
  std::vector<const std::uint8_t*> rowOfPlanes(planes.size());
  std::transform(planes.begin(), planes.end(), rowOfPlanes.begin(),
                 [](const std::vector<std::uint8_t>& plane) { return plane.data(); });
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        planes[c][x] = pixels[(static_cast<size_t>(y) * width + x) * channels + c];
      }
    }
    rows.addPlanes(rowOfPlanes.data());
  }
  return rows.finish();
}

TEST(DecodedRows, RowsAndPlanesGiveTheSameDrawing) {
  // Boxes of 6 x 6, the last ones across and down cut short by the picture's edges.
  constexpr int kWidth = 523;
  constexpr int kHeight = 311;
  ASSERT_EQ(boxFactor(kWidth, kHeight, 40, 24), 6);
  for (const int channels : {1, 3, 4}) {
    SCOPED_TRACE(channels);
    const std::vector<std::uint8_t> pixels = noise(kWidth, kHeight, channels);
    const RgbaImage fromRows = drawnFromRows(pixels, channels, kWidth, kHeight, 40, 24);
    const RgbaImage fromPlanes = drawnFromPlanes(pixels, channels, kWidth, kHeight, 40, 24);
    ASSERT_EQ(fromRows.width, 40);
    ASSERT_EQ(fromRows.height, 24);
    EXPECT_TRUE(fromPlanes.pixels == fromRows.pixels);
  }
}

// A picture whose sides the boxes divide draws as the picture of its boxes' rounded averages,
// which the resampler takes as it is.
TEST(DecodedRows, BoxesAreTheRoundedAveragesOfTheirPixels) {
  constexpr int kFactor = 6;
  constexpr int kWidth = 80 * kFactor;
  constexpr int kHeight = 48 * kFactor;
  for (const int channels : {1, 3}) {
    SCOPED_TRACE(channels);
    const std::vector<std::uint8_t> pixels = noise(kWidth, kHeight, channels);
    std::vector<std::uint8_t> boxes(static_cast<size_t>(80) * 48 * channels);
    for (int by = 0; by < 48; ++by) {
      for (int bx = 0; bx < 80; ++bx) {
        for (int c = 0; c < channels; ++c) {
          unsigned sum = 0;
          for (int y = by * kFactor; y < (by + 1) * kFactor; ++y) {
            for (int x = bx * kFactor; x < (bx + 1) * kFactor; ++x) {
              sum += pixels[(static_cast<size_t>(y) * kWidth + x) * channels + c];
            }
          }
          boxes[(static_cast<size_t>(by) * 80 + bx) * channels + c] =
              static_cast<std::uint8_t>((sum + kFactor * kFactor / 2) / (kFactor * kFactor));
        }
      }
    }
    const RgbaImage expected = drawnFromRows(boxes, channels, 80, 48, 40, 24);
    EXPECT_TRUE(drawnFromRows(pixels, channels, kWidth, kHeight, 40, 24).pixels == expected.pixels);
    EXPECT_TRUE(drawnFromPlanes(pixels, channels, kWidth, kHeight, 40, 24).pixels ==
                expected.pixels);
  }
}

// The resampler sums several output pixels side by side and the ones left over alone: at every
// output width, each pixel must come from its own taps. Rows of noise, shrunk across only (down
// the rows the taps are the pixels themselves).
TEST(Resampler, EachOutputPixelIsTheSumOfItsOwnTaps) {
  constexpr int kWidth = 37;
  constexpr int kHeight = 3;
  for (const int channels : {1, 3, 4}) {
    std::vector<std::uint8_t> pixels = noise(kWidth, kHeight, channels);
    if (channels == 4) {  // opaque, so that the sums need no unpremultiplying
      for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;
    }
    for (int outWidth = 1; outWidth <= 9; ++outWidth) {
      SCOPED_TRACE(testing::Message() << channels << " channels, " << outWidth << " wide");
      const ResampleAxis across{outWidth, kWidth, 0, kWidth};
      Resampler resampler(layoutOf(channels), across, {kHeight, kHeight, 0, kHeight});
      for (int y = 0; y < kHeight; ++y) {
        resampler.addRow(&pixels[static_cast<size_t>(y) * kWidth * channels]);
      }
      const RgbaImage drawn = resampler.finish();
      const AxisTaps taps = AxisTaps::lanczos3(across);
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < outWidth; ++x) {
          for (int c = 0; c < channels; ++c) {
            double sum = 0;
            for (int t = 0; t < taps.count[x]; ++t) {
              const size_t source = static_cast<size_t>(y) * kWidth + taps.first[x] + t;
              sum += double{taps.weights[static_cast<size_t>(x) * taps.stride + t]} *
                     pixels[source * channels + c];
            }
            const double expected = std::clamp(sum, 0.0, 255.0);
            EXPECT_NEAR(drawn.pixels[(static_cast<size_t>(y) * outWidth + x) * 4 + c], expected,
                        1.0)
                << "pixel " << x << ", row " << y << ", channel " << c;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace platform
