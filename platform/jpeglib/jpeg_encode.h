// JPEG encoding on TurboJPEG: baseline JFIF, chroma halved both ways, from blue-green-red pixels
// as a DIB holds them. The JPEG library (ijlWrite) and the batch command both encode through
// encodeJpeg, so that the same pixels give the same bytes. Plain C++: TurboJPEG stays in the .cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Blue, green, red; kBgrx adds a fourth byte that is not read.
enum class BgrLayout { kBgr, kBgrx };

// Pixels the caller has checked: width and height at least 1, pitch at least a row's bytes.
struct BgrPixels {
  const std::uint8_t* data = nullptr;  // the first row in memory
  int width = 0;
  int height = 0;
  int pitch = 0;  // bytes from one row in memory to the next
  BgrLayout layout = BgrLayout::kBgr;
  bool bottomUp = false;  // the first row in memory is the picture's bottom row
};

struct CompressorDestroy {
  void operator()(void* handle) const;
};
// A TurboJPEG compressor; making one allocates the encoder's whole state, so it is kept and
// reused. One thread at a time.
using JpegCompressor = std::unique_ptr<void, CompressorDestroy>;

// A new compressor, or null when there is no memory for one.
JpegCompressor makeJpegCompressor();

struct JpegBufferFree {
  void operator()(unsigned char* buffer) const;
};

// An encoded JPEG file, owned.
struct JpegBytes {
  std::unique_ptr<unsigned char, JpegBufferFree> data;
  std::size_t size = 0;
};

// Encodes at `quality` (1 to 100) with `compressor`, a TurboJPEG compressor (a JpegCompressor's
// or one lent by the JPEG library). False when the encoder fails; then `reason`, when given,
// holds the encoder's own words for it.
bool encodeJpeg(void* compressor, const BgrPixels& pixels, int quality, JpegBytes& out,
                std::string* reason = nullptr);

}  // namespace platform
