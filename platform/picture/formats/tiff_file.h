// A TIFF file in memory, open in libtiff: libtiff's errors kept rather than printed, its
// allocations bounded, and the file closed when it goes. Plain C++.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <span>
#include <string>

namespace platform {

// The file's bytes as libtiff reads them, and the first error it reported.
struct TiffSource {
  std::span<const std::uint8_t> bytes;
  std::uint64_t position = 0;
  std::string error;
};

class TiffFile final {
 public:
  // Opens the bytes, which must outlive the file; raises 481 when libtiff cannot.
  explicit TiffFile(std::span<const std::uint8_t> bytes);
  ~TiffFile();
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;

  TIFF* get() const { return tiff_; }
  std::span<const std::uint8_t> bytes() const { return source_.bytes; }
  // Raises 481 with libtiff's first error, or `otherwise` when it reported none.
  [[noreturn]] void fail(const std::string& otherwise) const;
  void forgetErrors() { source_.error.clear(); }

 private:
  TiffSource source_;
  TIFF* tiff_ = nullptr;
};

}  // namespace platform
