// The one resampling step of picture drawing: a separable Lanczos3 filter, centred on pixel
// centres and widened when it shrinks (so that every source pixel counts, as an area average
// would), fed row by row so that only a few source rows are held at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/picture/picture.h"

namespace platform {

// One axis of the drawing. The whole picture spans `extent` source pixels (fractional for a JPEG
// decoded at a 1/8-step scale, where the last pixel is partly outside the picture); the pixels
// given are `frameSize` of them starting at `frameOffset` (a GIF frame on its screen). Picture
// pixels outside the frame are transparent; past the picture's edges the edge pixel repeats.
struct ResampleAxis {
  int outputSize = 1;
  double extent = 1;
  int frameOffset = 0;
  int frameSize = 1;
};

// How the source rows hold their pixels.
enum class SourcePixels { kGrey, kRgb, kRgbaStraight };

// The filter taps of every output pixel along one axis, as frame pixel indices and weights that
// add up to 1 over the whole picture (taps on transparent pixels are left out, not renormalised).
struct AxisTaps {
  std::vector<int> first;      // first frame pixel of each output pixel
  std::vector<int> count;      // number of taps (0: only transparent pixels)
  std::vector<float> weights;  // `stride` weights for each output pixel
  int stride = 0;

  static AxisTaps lanczos3(const ResampleAxis& axis);
};

class Resampler final {
 public:
  Resampler(SourcePixels pixels, const ResampleAxis& x, const ResampleAxis& y);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // The next frame row, top first: frameSize (of x) pixels of 1, 3 or 4 bytes.
  void addRow(const std::uint8_t* row);
  // The drawing; every frame row must have been added.
  RgbaImage finish();

 private:
  void filterRow(const std::uint8_t* row, float* out);
  void emitReadyRows();
  void emitRow(int y);
  // Floats in one filtered row: a value for each channel of each output pixel.
  size_t rowValues() const { return sum_.size() - 1; }

  int channels_;
  bool premultiply_;
  ResampleAxis yAxis_;
  AxisTaps xTaps_;
  AxisTaps yTaps_;
  std::vector<float> sourceRow_;  // one frame row as floats, premultiplied, and a spare float
  std::vector<float> ring_;       // the last yTaps_.stride filtered rows
  std::vector<float> sum_;        // one output row being summed, and a spare float
  int ringRows_;
  int rowsAdded_ = 0;
  int nextOutputRow_ = 0;
  RgbaImage out_;
};

}  // namespace platform
