// A libjpeg source over a JPEG in memory that can leave out whole scans of a progressive JPEG.
//
// At 1/8 scale a component's DCT is 1x1: its blocks are drawn from their DC coefficients alone, so
// the AC scans of that component (most of a progressive file's bytes) need not be decoded at all.
// With block smoothing off the pixels are exactly those of a full decode at the same scale.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// clang-format off
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace platform {

// Component identifiers (as in SOF and SOS) whose AC scans are left out.
using ComponentSet = std::array<bool, 256>;

struct ByteRange {
  size_t begin = 0;
  size_t end = 0;
};

// The parts of `jpeg` to decode from `from` on, where `from` is inside a scan's entropy-coded
// data or between markers: every marker segment, every DC scan (Ss = 0), and the AC scans that
// have a component not in `dropped`. Stops after EOI. Adjacent parts are merged.
std::vector<ByteRange> keptRanges(std::span<const std::uint8_t> jpeg, size_t from,
                                  const ComponentSet& dropped);

class ScanFilterSource final {
 public:
  ScanFilterSource();
  ScanFilterSource(const ScanFilterSource&) = delete;
  ScanFilterSource& operator=(const ScanFilterSource&) = delete;

  // Serves all of `jpeg` to `cinfo`, which must not outlive this object or the bytes.
  void attach(j_decompress_ptr cinfo, std::span<const std::uint8_t> jpeg);
  // From the current read position on, leaves out the AC scans of the components in `dropped`.
  // Call after jpeg_read_header, before jpeg_start_decompress.
  void dropAcScans(j_decompress_ptr cinfo, const ComponentSet& dropped);
  // The read position in the JPEG before any scan is left out (after jpeg_read_header: the start
  // of the first scan's data); 0 when it is not known.
  size_t position() const;
  // Bytes served so far (for tests and measurements).
  size_t bytesServed() const { return served_; }

 private:
  struct Manager {
    jpeg_source_mgr pub;
    ScanFilterSource* self;
  };
  static void initSource(j_decompress_ptr cinfo);
  static boolean fillInputBuffer(j_decompress_ptr cinfo);
  static void skipInputData(j_decompress_ptr cinfo, long count);
  static void termSource(j_decompress_ptr cinfo);

  Manager manager_;
  std::span<const std::uint8_t> jpeg_;
  std::vector<ByteRange> ranges_;
  size_t nextRange_ = 0;
  size_t served_ = 0;
};

}  // namespace platform
