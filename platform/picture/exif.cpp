#include "platform/picture/exif.h"

#include <cstring>
#include <optional>
#include <string_view>

namespace platform {
namespace {

constexpr std::uint8_t kExifSignature[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr unsigned kOrientationTag = 0x0112;
constexpr unsigned kExifIfdTag = 0x8769;
constexpr unsigned kColourSpaceTag = 0xA001;
constexpr unsigned kInteropIfdTag = 0xA005;
constexpr unsigned kInteropIndexTag = 0x0001;
constexpr std::uint32_t kUncalibrated = 0xFFFF;
constexpr unsigned kTypeAscii = 2;
constexpr unsigned kTypeShort = 3;
constexpr unsigned kTypeLong = 4;
constexpr unsigned kTypeIfd = 13;  // a LONG that points at an IFD
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
  std::string_view bytes(size_t offset, size_t length) const {
    return {reinterpret_cast<const char*>(tiff_.data() + offset), length};
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

constexpr size_t kNoEntry = ~size_t{0};

// The entry of `tag` in the IFD at `ifd`; kNoEntry when the IFD or the tag is not there whole.
size_t findEntry(const TiffReader& reader, size_t ifd, unsigned tag) {
  if (!reader.has(ifd, 2)) return kNoEntry;
  const unsigned entries = reader.u16(ifd);
  for (unsigned i = 0; i < entries; ++i) {
    const size_t entry = ifd + 2 + i * kIfdEntrySize;
    if (!reader.has(entry, kIfdEntrySize)) return kNoEntry;
    if (reader.u16(entry) == tag) return entry;
  }
  return kNoEntry;
}

// The first value of a SHORT entry, or a single LONG's (an IFD pointer's too), as the value field
// holds them; `fallback` for an entry of any other type, or none.
std::uint32_t singleValue(const TiffReader& reader, size_t entry, unsigned type,
                          std::uint32_t fallback) {
  const unsigned stored = entry == kNoEntry ? 0 : reader.u16(entry + 2);
  if (stored != type && !(type == kTypeLong && stored == kTypeIfd)) return fallback;
  const std::uint32_t count = reader.u32(entry + 4);
  if (count < 1 || (type == kTypeLong && count != 1)) return fallback;
  return type == kTypeShort ? reader.u16(entry + 8) : reader.u32(entry + 8);
}

// The TIFF structure of an EXIF block, in its byte order; none for anything else.
std::optional<TiffReader> tiffOf(std::span<const std::uint8_t> tiff) {
  if (tiff.size() < 8) return std::nullopt;
  bool bigEndian;
  if (tiff[0] == 'I' && tiff[1] == 'I') {
    bigEndian = false;
  } else if (tiff[0] == 'M' && tiff[1] == 'M') {
    bigEndian = true;
  } else {
    return std::nullopt;
  }
  const TiffReader reader(tiff, bigEndian);
  if (reader.u16(2) != 42) return std::nullopt;
  return reader;
}

// The TIFF structure of an APP1 EXIF payload ("Exif\0\0" first).
std::optional<TiffReader> app1TiffOf(std::span<const std::uint8_t> app1) {
  if (app1.size() < sizeof kExifSignature ||
      std::memcmp(app1.data(), kExifSignature, sizeof kExifSignature) != 0) {
    return std::nullopt;
  }
  return tiffOf(app1.subspan(sizeof kExifSignature));
}

int orientationOf(const std::optional<TiffReader>& reader) {
  if (!reader) return 1;
  const size_t entry = findEntry(*reader, reader->u32(4), kOrientationTag);
  const std::uint32_t value = singleValue(*reader, entry, kTypeShort, 1);
  return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
}

}  // namespace

int exifOrientation(std::span<const std::uint8_t> app1) { return orientationOf(app1TiffOf(app1)); }

int exifBlockOrientation(std::span<const std::uint8_t> block) {
  const bool prefixed = block.size() >= sizeof kExifSignature &&
                        std::memcmp(block.data(), kExifSignature, sizeof kExifSignature) == 0;
  return prefixed ? exifOrientation(block) : orientationOf(tiffOf(block));
}

bool exifSaysAdobeRgb(std::span<const std::uint8_t> app1) {
  const std::optional<TiffReader> reader = app1TiffOf(app1);
  if (!reader) return false;
  const size_t exifIfd =
      singleValue(*reader, findEntry(*reader, reader->u32(4), kExifIfdTag), kTypeLong, 0);
  if (exifIfd == 0) return false;
  const std::uint32_t colourSpace =
      singleValue(*reader, findEntry(*reader, exifIfd, kColourSpaceTag), kTypeShort, 0);
  if (colourSpace != kUncalibrated) return false;
  const size_t interopIfd =
      singleValue(*reader, findEntry(*reader, exifIfd, kInteropIfdTag), kTypeLong, 0);
  if (interopIfd == 0) return false;
  // "R03" and its terminator fit in the entry's value field.
  const size_t entry = findEntry(*reader, interopIfd, kInteropIndexTag);
  return entry != kNoEntry && reader->u16(entry + 2) == kTypeAscii && reader->u32(entry + 4) == 4 &&
         reader->has(entry + 8, 4) && reader->bytes(entry + 8, 3) == "R03";
}

}  // namespace platform
