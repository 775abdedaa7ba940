// The structure of a Windows BMP file: headers, palette, bit masks and RLE streams, every field
// checked against the file's real size before anything is allocated. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform::bmp {

inline constexpr std::size_t kFileHeaderSize = 14;
// File header, the largest info header (V5) and a full 256-colour palette.
inline constexpr std::size_t kMaxHeadBytes = kFileHeaderSize + 124 + 256 * 4;
// Far above any real scanner (25 400 dots per inch); larger values mark a damaged header.
inline constexpr std::int32_t kMaxPelsPerMeter = 1'000'000;

enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

struct Layout {
  std::int32_t width = 0;
  std::int32_t height = 0;  // rows, always positive
  bool topDown = false;
  std::uint16_t bitCount = 0;
  std::uint32_t compression = kRgb;
  std::uint32_t headerSize = 0;  // 12 (OS/2 1.x), 40, 64 (OS/2 2.x), 108 (V4) or 124 (V5)
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::vector<std::uint32_t> palette;  // 0x00RRGGBB; indexed depths only
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue: bit fields and 16-bit pixels only
  std::size_t headBytes = 0;     // headers, masks and palette: what precedes the pixels proper
  std::uint64_t dataOffset = 0;  // where the pixel data starts in the file
  std::uint64_t dataSize = 0;    // bytes of pixel data to read from there

  bool indexed() const { return bitCount <= 8; }
  bool runLength() const { return compression == kRle4 || compression == kRle8; }
  bool masked() const { return masks[0] != 0; }
  std::uint64_t stride() const {
    return (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
  }
};

// Reads the layout from `head`, the file's first min(file size, kMaxHeadBytes) bytes. nullopt for
// anything that is not a sound BMP file of a kind this reader handles, declares more than
// maxPixels pixels, or promises more bytes than the file has.
std::optional<Layout> parseLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                                  std::int64_t maxPixels);

// True when every pixel of uncompressed indexed data names an entry of the palette.
bool indicesInPalette(const Layout& layout, std::span<const std::uint8_t> data);

// Decodes an RLE4 or RLE8 stream into bottom-up rows of 24-bit blue-green-red, `stride` bytes
// apart; pixels the stream skips take palette entry 0. False when a code writes outside the
// picture, names a colour the palette lacks, or is cut off by the end of the data.
bool decodeRunLength(const Layout& layout, std::span<const std::uint8_t> data, std::uint8_t* bgr,
                     std::size_t stride);

// Decodes uncompressed indexed (1, 4, 8 bits), 24-bit and 32-bit pixels into bottom-up rows of
// 24-bit blue-green-red, `stride` bytes apart. Indices must be in the palette (indicesInPalette);
// a 32-bit pixel's fourth byte is dropped, the colour values kept as stored.
void decodeUncompressed(const Layout& layout, std::span<const std::uint8_t> data, std::uint8_t* bgr,
                        std::size_t stride);

// Decodes 16-bit or bit-field pixels into bottom-up rows of 24-bit blue-green-red, `stride` bytes
// apart, each channel's bits scaled to the full 0-255 range (alpha is dropped).
void decodeMasked(const Layout& layout, std::span<const std::uint8_t> data, std::uint8_t* bgr,
                  std::size_t stride);

}  // namespace platform::bmp
