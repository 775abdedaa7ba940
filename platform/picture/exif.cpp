#include "platform/picture/exif.h"

#include <cstring>

namespace platform {
namespace {

constexpr std::uint8_t kExifSignature[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr unsigned kOrientationTag = 0x0112;
constexpr unsigned kTypeShort = 3;
constexpr size_t kIfdEntrySize = 12;

// Reads TIFF integers in the structure's own byte order, never past its end.
class TiffReader {
 public:
  TiffReader(std::span<const std::uint8_t> tiff, bool bigEndian)
      : tiff_(tiff), bigEndian_(bigEndian) {}
  bool has(size_t offset, size_t length) const {
    return offset <= tiff_.size() && length <= tiff_.size() - offset;
  }
  unsigned u16(size_t offset) const {
    const unsigned a = tiff_[offset];
    const unsigned b = tiff_[offset + 1];
    return bigEndian_ ? (a << 8 | b) : (b << 8 | a);
  }
  std::uint32_t u32(size_t offset) const {
    const std::uint32_t high = u16(offset);
    const std::uint32_t low = u16(offset + 2);
    return bigEndian_ ? (high << 16 | low) : (low << 16 | high);
  }

 private:
  std::span<const std::uint8_t> tiff_;
  bool bigEndian_;
};

}  // namespace

int exifOrientation(std::span<const std::uint8_t> app1) {
  if (app1.size() < sizeof kExifSignature + 8 ||
      std::memcmp(app1.data(), kExifSignature, sizeof kExifSignature) != 0) {
    return 1;
  }
  const std::span<const std::uint8_t> tiff = app1.subspan(sizeof kExifSignature);
  bool bigEndian;
  if (tiff[0] == 'I' && tiff[1] == 'I') {
    bigEndian = false;
  } else if (tiff[0] == 'M' && tiff[1] == 'M') {
    bigEndian = true;
  } else {
    return 1;
  }
  const TiffReader reader(tiff, bigEndian);
  if (reader.u16(2) != 42) return 1;
  const size_t ifd = reader.u32(4);
  if (!reader.has(ifd, 2)) return 1;
  const unsigned entries = reader.u16(ifd);
  for (unsigned i = 0; i < entries; ++i) {
    const size_t entry = ifd + 2 + i * kIfdEntrySize;
    if (!reader.has(entry, kIfdEntrySize)) return 1;
    if (reader.u16(entry) != kOrientationTag) continue;
    if (reader.u16(entry + 2) != kTypeShort || reader.u32(entry + 4) < 1) return 1;
    const unsigned value = reader.u16(entry + 8);  // a single SHORT sits in the value field
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}

}  // namespace platform
