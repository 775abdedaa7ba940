#include "platform/picture/formats/tiff_file.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/base/runtime_error.h"
#include "platform/picture/decoded_rows.h"

namespace platform {
namespace {

// libtiff's largest single allocation: far beyond a strip or tile of any sound picture.
constexpr tmsize_t kMaxAllocation = tmsize_t{1} << 30;

tmsize_t readProc(thandle_t handle, void* buffer, tmsize_t size) {
  TiffSource& source = *static_cast<TiffSource*>(handle);
  if (size < 0 || source.position >= source.bytes.size()) return 0;
  const auto count = static_cast<tmsize_t>(std::min<std::uint64_t>(
      static_cast<std::uint64_t>(size), source.bytes.size() - source.position));
  std::memcpy(buffer, source.bytes.data() + source.position, static_cast<size_t>(count));
  source.position += static_cast<std::uint64_t>(count);
  return count;
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
  TiffSource& source = *static_cast<TiffSource*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = source.position;
  if (whence == SEEK_END) base = source.bytes.size();
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  source.position = base + offset;
  return source.position;
}

int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t handle) { return static_cast<TiffSource*>(handle)->bytes.size(); }

// Uncompressed strips are read straight from the bytes, without a copy.
int mapProc(thandle_t handle, void** base, toff_t* size) {
  const TiffSource& source = *static_cast<TiffSource*>(handle);
  *base = const_cast<std::uint8_t*>(source.bytes.data());
  *size = source.bytes.size();
  return 1;
}

void unmapProc(thandle_t, void*, toff_t) {}

int keepError(TIFF*, void* handle, const char* module, const char* format, va_list args) {
  TiffSource& source = *static_cast<TiffSource*>(handle);
  if (source.error.empty()) {
    char message[512];
    std::vsnprintf(message, sizeof message, format, args);
    source.error = module != nullptr && *module != '\0' ? std::string(module) + ": " + message
                                                        : std::string(message);
  }
  return 1;  // handled: nothing is printed
}

int ignoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

TiffFile::TiffFile(std::span<const std::uint8_t> bytes) {
  source_.bytes = bytes;
  std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(TIFFOpenOptionsAlloc(),
                                                                           TIFFOpenOptionsFree);
  if (!options) raiseError(kErrOutOfMemory);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), keepError, &source_);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), ignoreWarning, &source_);
  tiff_ = TIFFClientOpenExt("picture", "r", &source_, readProc, writeProc, seekProc, closeProc,
                            sizeProc, mapProc, unmapProc, options.get());
  if (tiff_ == nullptr) fail("not a TIFF it can read");
}

TiffFile::~TiffFile() {
  if (tiff_ != nullptr) TIFFClose(tiff_);
}

void TiffFile::fail(const std::string& otherwise) const {
  raiseDecodeError("TIFF", source_.error.empty() ? otherwise : source_.error);
}

}  // namespace platform
