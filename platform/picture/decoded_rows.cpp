#include "platform/picture/decoded_rows.h"

#include <algorithm>

#include "platform/base/runtime_error.h"

namespace platform {
namespace {

// Sums of up to 64 x 64 pixels of 255 x 255 stay within 32 bits.
constexpr int kMaxBoxFactor = 64;

int channelsOf(SourcePixels pixels) {
  return pixels == SourcePixels::kGrey ? 1 : pixels == SourcePixels::kRgb ? 3 : 4;
}

int ceilDiv(int a, int b) { return (a + b - 1) / b; }

}  // namespace

int boxFactor(int decodedWidth, int decodedHeight, int outWidth, int outHeight) {
  const int byWidth = decodedWidth / (2 * std::max(outWidth, 1));
  const int byHeight = decodedHeight / (2 * std::max(outHeight, 1));
  return std::clamp(std::min(byWidth, byHeight), 1, kMaxBoxFactor);
}

DecodedRows::DecodedRows(SourcePixels pixels, int decodedWidth, int decodedHeight, int outWidth,
                         int outHeight, std::span<const std::uint8_t> iccProfile)
    : channels_(channelsOf(pixels)),
      alpha_(pixels == SourcePixels::kRgbaStraight),
      width_(decodedWidth),
      height_(decodedHeight),
      factor_(boxFactor(decodedWidth, decodedHeight, outWidth, outHeight)) {
  if (decodedWidth < 1 || decodedHeight < 1) raiseError(kErrInvalidPicture);
  const int shrunkWidth = ceilDiv(decodedWidth, factor_);
  const int shrunkHeight = ceilDiv(decodedHeight, factor_);
  if (!iccProfile.empty()) {
    colour_ = colourConversion(
        iccProfile, pixels == SourcePixels::kGrey ? ColourPixels::kGrey : ColourPixels::kRgb);
  }
  // Grey rows come out of their conversion as RGB.
  if (colour_ != nullptr && pixels == SourcePixels::kGrey) pixels = SourcePixels::kRgb;
  // A partly covered last box is one pixel that the picture's edge cuts through.
  resampler_.emplace(
      pixels, ResampleAxis{outWidth, static_cast<double>(decodedWidth) / factor_, 0, shrunkWidth},
      ResampleAxis{outHeight, static_cast<double>(decodedHeight) / factor_, 0, shrunkHeight});
  if (factor_ > 1) {
    // Alpha-weighted sums for straight alpha: colour x alpha per channel, and alpha.
    sums_.assign(static_cast<size_t>(shrunkWidth) * channels_, 0);
    shrunk_.resize(static_cast<size_t>(shrunkWidth) * channels_);
    if (!alpha_) columns_.assign(static_cast<size_t>(decodedWidth) * channels_, 0);
  }
}

void DecodedRows::addRow(const std::uint8_t* row) {
  if (rowsAdded_ >= height_) return;
  ++rowsAdded_;
  if (factor_ == 1) {
    resampler_->addRow(inSrgb(row, width_));
    return;
  }
  const int k = factor_;
  if (alpha_) {
    std::uint32_t* sum = sums_.data();
    for (int x0 = 0; x0 < width_; x0 += k, sum += 4) {
      const int x1 = std::min(x0 + k, width_);
      std::uint32_t r = 0, g = 0, b = 0, a = 0;
      for (const std::uint8_t* p = row + static_cast<size_t>(x0) * 4;
           p != row + static_cast<size_t>(x1) * 4; p += 4) {
        r += std::uint32_t{p[0]} * p[3];
        g += std::uint32_t{p[1]} * p[3];
        b += std::uint32_t{p[2]} * p[3];
        a += p[3];
      }
      sum[0] += r;
      sum[1] += g;
      sum[2] += b;
      sum[3] += a;
    }
  } else {
    // Each column summed down the band; the boxes across it once the band is whole (emitBand).
    std::uint16_t* column = columns_.data();
    for (size_t i = 0; i < columns_.size(); ++i) {
      column[i] = static_cast<std::uint16_t>(column[i] + row[i]);
    }
  }
  if (++bandRows_ == k || rowsAdded_ == height_) emitBand();
}

void DecodedRows::addPlanes(const std::uint8_t* const* planes) {
  if (rowsAdded_ >= height_) return;
  if (factor_ == 1) {
    interleaved_.resize(static_cast<size_t>(width_) * channels_);
    interleavePlanes(planes, channels_, width_, interleaved_.data());
    addRow(interleaved_.data());
    return;
  }
  ++rowsAdded_;
  const int k = factor_;
  if (!alpha_) {
    // Each column summed down the band, as addRow sums, but kept one plane after another.
    planar_ = true;
    for (int c = 0; c < channels_; ++c) {
      const std::uint8_t* plane = planes[c];
      std::uint16_t* column = columns_.data() + static_cast<size_t>(c) * width_;
      for (int x = 0; x < width_; ++x) column[x] = static_cast<std::uint16_t>(column[x] + plane[x]);
    }
  } else {
    // Alpha-weighted sums as addRow makes them; each channel's run of a box is contiguous.
    std::uint32_t* sum = sums_.data();
    const std::uint8_t* a = planes[3];
    for (int x0 = 0; x0 < width_; x0 += k, sum += 4) {
      const int x1 = std::min(x0 + k, width_);
      std::uint32_t r = 0, g = 0, b = 0, total = 0;
      for (int x = x0; x < x1; ++x) {
        r += std::uint32_t{planes[0][x]} * a[x];
        g += std::uint32_t{planes[1][x]} * a[x];
        b += std::uint32_t{planes[2][x]} * a[x];
        total += a[x];
      }
      sum[0] += r;
      sum[1] += g;
      sum[2] += b;
      sum[3] += total;
    }
  }
  if (++bandRows_ == k || rowsAdded_ == height_) emitBand();
}

void DecodedRows::emitBand() {
  const int k = factor_;
  const int shrunkWidth = static_cast<int>(sums_.size()) / channels_;
  if (!alpha_) {
    // The boxes across the band's column sums: a pixel's channels are next to each other in the
    // columns of rows, a plane's width apart in the columns of planes.
    const size_t pixelStep = planar_ ? 1 : static_cast<size_t>(channels_);
    const size_t channelStep = planar_ ? static_cast<size_t>(width_) : 1;
    std::uint32_t* sum = sums_.data();
    for (int x0 = 0; x0 < width_; x0 += k, sum += channels_) {
      const std::uint16_t* column = &columns_[static_cast<size_t>(x0) * pixelStep];
      const int pixels = std::min(k, width_ - x0);
      for (int c = 0; c < channels_; ++c) {
        const std::uint16_t* channel = column + c * channelStep;
        std::uint32_t v = 0;
        for (int i = 0; i < pixels; ++i) v += channel[i * pixelStep];
        sum[c] = v;
      }
    }
    std::fill(columns_.begin(), columns_.end(), 0);
  }
  for (int x = 0; x < shrunkWidth; ++x) {
    const std::uint32_t count = static_cast<std::uint32_t>(std::min(k, width_ - x * k)) *
                                static_cast<std::uint32_t>(bandRows_);
    std::uint32_t* sum = &sums_[static_cast<size_t>(x) * channels_];
    std::uint8_t* out = &shrunk_[static_cast<size_t>(x) * channels_];
    if (alpha_) {
      const std::uint32_t a = sum[3];
      for (int c = 0; c < 3; ++c)
        out[c] = a == 0 ? 0 : static_cast<std::uint8_t>((sum[c] + a / 2) / a);
      out[3] = static_cast<std::uint8_t>((a + count / 2) / count);
    } else {
      for (int c = 0; c < channels_; ++c)
        out[c] = static_cast<std::uint8_t>((sum[c] + count / 2) / count);
    }
  }
  if (alpha_) std::fill(sums_.begin(), sums_.end(), 0);  // without alpha, each band sets them
  bandRows_ = 0;
  resampler_->addRow(inSrgb(shrunk_.data(), shrunkWidth));
}

// Converted after box-averaging, as a JPEG's pixels are after its scaled decoding: the average of
// a few neighbours in the picture's own space.
const std::uint8_t* DecodedRows::inSrgb(const std::uint8_t* row, int pixels) {
  if (colour_ == nullptr) return row;
  if (!alpha_) {
    converted_.resize(static_cast<size_t>(pixels) * 3);
    colour_->convert(row, converted_.data(), pixels);
    return converted_.data();
  }
  // RGBA: the colours converted on their own, the alpha kept.
  rgb_.resize(static_cast<size_t>(pixels) * 3);
  for (int x = 0; x < pixels; ++x) std::copy_n(row + x * 4, 3, &rgb_[static_cast<size_t>(x) * 3]);
  colour_->convert(rgb_.data(), rgb_.data(), pixels);
  converted_.assign(row, row + static_cast<size_t>(pixels) * 4);
  for (int x = 0; x < pixels; ++x) {
    std::copy_n(&rgb_[static_cast<size_t>(x) * 3], 3, &converted_[static_cast<size_t>(x) * 4]);
  }
  return converted_.data();
}

RgbaImage DecodedRows::finish() {
  if (rowsAdded_ < height_) raiseError(kErrInvalidPicture);
  return resampler_->finish();
}

void interleavePlanes(const std::uint8_t* const* planes, int count, int width, std::uint8_t* out) {
  for (int c = 0; c < count; ++c) {
    const std::uint8_t* in = planes[c];
    std::uint8_t* to = out + c;
    for (int x = 0; x < width; ++x, to += count) *to = in[x];
  }
}

void raiseDecodeError(const char* format, const std::string& reason) {
  raiseError(kErrInvalidPicture, std::string("Invalid picture (") + format + ": " + reason + ")");
}

}  // namespace platform
