#include "platform/picture/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/base/runtime_error.h"

namespace platform {
namespace {

constexpr double kLanczosLobes = 3.0;

double sinc(double x) {
  if (x == 0.0) return 1.0;
  const double px = std::numbers::pi * x;
  return std::sin(px) / px;
}

double lanczos3Kernel(double x) {
  if (x <= -kLanczosLobes || x >= kLanczosLobes) return 0.0;
  return sinc(x) * sinc(x / kLanczosLobes);
}

std::uint8_t toByte(float value) {
  if (!(value > 0.0f)) return 0;  // also NaN
  if (value >= 255.0f) return 255;
  return static_cast<std::uint8_t>(std::lrint(value));
}

int channelsOf(SourcePixels pixels) {
  switch (pixels) {
    case SourcePixels::kGrey:
      return 1;
    case SourcePixels::kRgb:
      return 3;
    case SourcePixels::kRgbaStraight:
      return 4;
  }
  return 4;
}

// Four floats as one value: a pixel's channels summed lane by lane, each lane in the same order and
// with the same operations as one channel at a time (the same results to the bit).
using Float4 = float __attribute__((vector_size(16)));

Float4 load4(const float* p) {
  Float4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Output pixel i's sum of the taps over source pixels of `C` (3 or 4) floats each, read 4 floats
// at a time: for pixels of 3, `source` holds one float more than its pixels.
template <int C>
Float4 sumTaps(const AxisTaps& taps, const float* source, int i) {
  const float* w = &taps.weights[static_cast<size_t>(i) * taps.stride];
  const float* s = source + static_cast<size_t>(taps.first[i]) * C;
  Float4 acc = {};
  for (int t = 0; t < taps.count[i]; ++t, s += C) acc += w[t] * load4(s);
  return acc;
}

// Sums the taps of one axis over pixels of `C` floats each (1, 3 or 4), into `out`.
template <int C>
void filterPixels(const AxisTaps& taps, const float* source, float* out) {
  const int n = static_cast<int>(taps.first.size());
  if constexpr (C == 1) {
    for (int i = 0; i < n; ++i) {
      const float* w = &taps.weights[static_cast<size_t>(i) * taps.stride];
      const float* s = source + taps.first[i];
      float acc = 0.0f;
      for (int t = 0; t < taps.count[i]; ++t) acc += w[t] * s[t];
      out[i] = acc;
    }
  } else {
    // Four output pixels at a time: each sum is a chain of dependent additions, and four chains
    // keep the processor busy while each waits for its last addition.
    int i = 0;
    for (; i + 3 < n; i += 4) {
      const float* w0 = &taps.weights[static_cast<size_t>(i) * taps.stride];
      const float* w1 = w0 + taps.stride;
      const float* w2 = w1 + taps.stride;
      const float* w3 = w2 + taps.stride;
      const float* s0 = source + static_cast<size_t>(taps.first[i]) * C;
      const float* s1 = source + static_cast<size_t>(taps.first[i + 1]) * C;
      const float* s2 = source + static_cast<size_t>(taps.first[i + 2]) * C;
      const float* s3 = source + static_cast<size_t>(taps.first[i + 3]) * C;
      const int all =
          std::min({taps.count[i], taps.count[i + 1], taps.count[i + 2], taps.count[i + 3]});
      Float4 acc0 = {};
      Float4 acc1 = {};
      Float4 acc2 = {};
      Float4 acc3 = {};
      int t = 0;
      for (; t < all; ++t) {
        acc0 += w0[t] * load4(s0 + t * C);
        acc1 += w1[t] * load4(s1 + t * C);
        acc2 += w2[t] * load4(s2 + t * C);
        acc3 += w3[t] * load4(s3 + t * C);
      }
      for (int u = t; u < taps.count[i]; ++u) acc0 += w0[u] * load4(s0 + u * C);
      for (int u = t; u < taps.count[i + 1]; ++u) acc1 += w1[u] * load4(s1 + u * C);
      for (int u = t; u < taps.count[i + 2]; ++u) acc2 += w2[u] * load4(s2 + u * C);
      for (int u = t; u < taps.count[i + 3]; ++u) acc3 += w3[u] * load4(s3 + u * C);
      std::memcpy(out + static_cast<size_t>(i) * C, &acc0, C * sizeof(float));
      std::memcpy(out + static_cast<size_t>(i + 1) * C, &acc1, C * sizeof(float));
      std::memcpy(out + static_cast<size_t>(i + 2) * C, &acc2, C * sizeof(float));
      std::memcpy(out + static_cast<size_t>(i + 3) * C, &acc3, C * sizeof(float));
    }
    for (; i < n; ++i) {
      const Float4 acc = sumTaps<C>(taps, source, i);
      std::memcpy(out + static_cast<size_t>(i) * C, &acc, C * sizeof(float));
    }
  }
}

// Four sums as bytes, as toByte() makes each: clamped to 0..255 (NaN to 0), rounded to nearest,
// ties to even (adding and taking away 1.5 * 2^23 leaves a float in 0..255 rounded so).
void toBytes(Float4 v, std::uint8_t* out) {
  constexpr float kRound = 12582912.0f;
  v = v > 0.0f ? v : 0.0f;
  v = v < 255.0f ? v : 255.0f;
  const Float4 rounded = (v + kRound) - kRound;
  for (int c = 0; c < 4; ++c) out[c] = static_cast<std::uint8_t>(rounded[c]);
}

}  // namespace

AxisTaps AxisTaps::lanczos3(const ResampleAxis& axis) {
  const int n = axis.outputSize;
  const double scale = axis.extent / n;
  // Downscaling widens the filter so that every source pixel counts (an area-like average).
  const double filterScale = std::max(1.0, scale);
  const double support = kLanczosLobes * filterScale;
  const int lastPixel = std::max(0, static_cast<int>(std::ceil(axis.extent)) - 1);

  AxisTaps taps;
  taps.first.resize(n);
  taps.count.resize(n);
  std::vector<std::vector<double>> perOutput(n);
  for (int i = 0; i < n; ++i) {
    const double centre = (i + 0.5) * scale;  // source pixel j spans [j, j + 1)
    const int lo = static_cast<int>(std::floor(centre - support));
    const int hi = static_cast<int>(std::ceil(centre + support));
    double total = 0.0;
    int firstTap = -1;
    std::vector<double>& w = perOutput[i];
    for (int j = lo; j < hi; ++j) {
      const double weight = lanczos3Kernel((j + 0.5 - centre) / filterScale);
      total += weight;
      const int k = std::clamp(j, 0, lastPixel) - axis.frameOffset;
      if (k < 0 || k >= axis.frameSize) continue;
      if (firstTap < 0) firstTap = k;
      if (k - firstTap < static_cast<int>(w.size())) {
        w.back() += weight;  // the edge pixel repeated past the picture's edge
      } else {
        w.push_back(weight);
      }
    }
    if (total <= 0.0) total = 1.0;
    for (double& weight : w) weight /= total;
    taps.first[i] = std::max(firstTap, 0);
    taps.count[i] = static_cast<int>(w.size());
    taps.stride = std::max(taps.stride, taps.count[i]);
  }
  taps.stride = std::max(taps.stride, 1);
  taps.weights.assign(static_cast<size_t>(n) * taps.stride, 0.0f);
  for (int i = 0; i < n; ++i) {
    std::transform(perOutput[i].begin(), perOutput[i].end(),
                   taps.weights.begin() + static_cast<std::ptrdiff_t>(i) * taps.stride,
                   [](double w) { return static_cast<float>(w); });
  }
  return taps;
}

Resampler::Resampler(SourcePixels pixels, const ResampleAxis& x, const ResampleAxis& y)
    : channels_(channelsOf(pixels)),
      premultiply_(pixels == SourcePixels::kRgbaStraight),
      yAxis_(y),
      xTaps_(AxisTaps::lanczos3(x)),
      yTaps_(AxisTaps::lanczos3(y)),
      sourceRow_(static_cast<size_t>(x.frameSize) * channels_ + 1),  // + 1: read 4 floats a pixel
      ring_(static_cast<size_t>(yTaps_.stride) * x.outputSize * channels_),
      sum_(static_cast<size_t>(x.outputSize) * channels_ + 1),
      ringRows_(yTaps_.stride) {
  out_.width = x.outputSize;
  out_.height = y.outputSize;
  out_.pixels.assign(static_cast<size_t>(out_.width) * out_.height * 4, 0);
  emitReadyRows();  // rows that only see transparent pixels
}

Resampler::~Resampler() = default;

void Resampler::filterRow(const std::uint8_t* row, float* out) {
  const size_t values = sourceRow_.size() - 1;
  if (premultiply_) {
    for (size_t i = 0; i < values; i += 4) {
      const float alpha = static_cast<float>(row[i + 3]) * (1.0f / 255.0f);
      sourceRow_[i] = static_cast<float>(row[i]) * alpha;
      sourceRow_[i + 1] = static_cast<float>(row[i + 1]) * alpha;
      sourceRow_[i + 2] = static_cast<float>(row[i + 2]) * alpha;
      sourceRow_[i + 3] = static_cast<float>(row[i + 3]);
    }
  } else {
    std::copy(row, row + values, sourceRow_.begin());
  }
  switch (channels_) {
    case 1:
      filterPixels<1>(xTaps_, sourceRow_.data(), out);
      break;
    case 3:
      filterPixels<3>(xTaps_, sourceRow_.data(), out);
      break;
    default:
      filterPixels<4>(xTaps_, sourceRow_.data(), out);
      break;
  }
}

void Resampler::addRow(const std::uint8_t* row) {
  if (rowsAdded_ >= yAxis_.frameSize) return;
  filterRow(row, &ring_[static_cast<size_t>(rowsAdded_ % ringRows_) * rowValues()]);
  ++rowsAdded_;
  emitReadyRows();
}

void Resampler::emitReadyRows() {
  while (nextOutputRow_ < out_.height) {
    const int y = nextOutputRow_;
    if (yTaps_.count[y] > 0 && yTaps_.first[y] + yTaps_.count[y] > rowsAdded_) return;
    emitRow(y);
    ++nextOutputRow_;
  }
}

void Resampler::emitRow(int y) {
  const size_t values = rowValues();
  float* __restrict sum = sum_.data();
  std::fill(sum, sum + values, 0.0f);
  const float* w = &yTaps_.weights[static_cast<size_t>(y) * yTaps_.stride];
  for (int t = 0; t < yTaps_.count[y]; ++t) {
    const float* __restrict source =
        &ring_[static_cast<size_t>((yTaps_.first[y] + t) % ringRows_) * values];
    const float weight = w[t];
    for (size_t i = 0; i < values; ++i) sum[i] += weight * source[i];
  }
  std::uint8_t* out = &out_.pixels[static_cast<size_t>(y) * out_.width * 4];
  const float* s = sum;
  for (int x = 0; x < out_.width; ++x, out += 4, s += channels_) {
    if (channels_ == 1) {
      out[0] = out[1] = out[2] = toByte(s[0]);
      out[3] = 255;
    } else if (channels_ == 3) {
      toBytes(load4(s), out);  // the sums end with one spare float
      out[3] = 255;
    } else if (s[3] >= 0.5f) {  // back to straight alpha
      const float unpremultiply = 255.0f / s[3];
      out[0] = toByte(s[0] * unpremultiply);
      out[1] = toByte(s[1] * unpremultiply);
      out[2] = toByte(s[2] * unpremultiply);
      out[3] = toByte(s[3]);
    } else {
      out[0] = out[1] = out[2] = out[3] = 0;
    }
  }
}

RgbaImage Resampler::finish() {
  if (rowsAdded_ < yAxis_.frameSize) raiseError(kErrInvalidPicture);
  emitReadyRows();
  return std::move(out_);
}

}  // namespace platform
