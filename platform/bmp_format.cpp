#include "platform/bmp_format.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdlib>

namespace platform::bmp {
namespace {

std::uint16_t u16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t u32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::int32_t i32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::int32_t>(u32(bytes, at));
}

bool contiguous(std::uint32_t mask) {
  const std::uint32_t shifted = mask >> std::countr_zero(mask);
  return (shifted & (shifted + 1)) == 0;
}

// Red, green and blue each need one run of bits of their own inside the pixel; alpha is optional.
bool validMasks(std::uint32_t red, std::uint32_t green, std::uint32_t blue, std::uint32_t alpha,
                int bitCount) {
  for (std::uint32_t mask : {red, green, blue}) {
    if (mask == 0 || !contiguous(mask)) return false;
  }
  if (alpha != 0 && !contiguous(alpha)) return false;
  if ((red & green) != 0 || (red & blue) != 0 || (green & blue) != 0) return false;
  if ((alpha & (red | green | blue)) != 0) return false;
  return bitCount == 32 || ((red | green | blue | alpha) >> 16) == 0;
}

bool validCompression(std::uint32_t compression, int bitCount, std::uint32_t headerSize) {
  switch (compression) {
    case kRgb: return true;
    case kRle8: return bitCount == 8;
    case kRle4: return bitCount == 4;
    // OS/2 2.x uses the number 3 for its Huffman coding, which is not read here.
    case kBitFields: return (bitCount == 16 || bitCount == 32) && headerSize != 64;
    default: return false;
  }
}

}  // namespace

std::optional<Layout> parseLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                                  std::int64_t maxPixels) {
  if (head.size() < kFileHeaderSize + 4 || head[0] != 'B' || head[1] != 'M') return std::nullopt;
  // A declared size beyond the file means it was cut short or its header lies.
  if (u32(head, 2) > fileSize) return std::nullopt;
  const std::uint32_t offset = u32(head, 10);
  Layout layout;
  layout.headerSize = u32(head, 14);
  const std::uint32_t headerSize = layout.headerSize;
  if (headerSize != 12 && headerSize != 40 && headerSize != 64 && headerSize != 108 &&
      headerSize != 124) {
    return std::nullopt;
  }
  if (head.size() < kFileHeaderSize + headerSize) return std::nullopt;

  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint16_t planes = 0;
  std::uint32_t sizeImage = 0;
  std::uint32_t colorsUsed = 0;
  if (headerSize == 12) {
    width = u16(head, 18);
    height = u16(head, 20);
    planes = u16(head, 22);
    layout.bitCount = u16(head, 24);
    // Qt reads these as signed 16-bit numbers; keep both readers in agreement.
    if (width > 32767 || height > 32767) return std::nullopt;
  } else {
    width = i32(head, 18);
    height = i32(head, 22);
    planes = u16(head, 26);
    layout.bitCount = u16(head, 28);
    layout.compression = u32(head, 30);
    sizeImage = u32(head, 34);
    layout.xPelsPerMeter = i32(head, 38);
    layout.yPelsPerMeter = i32(head, 42);
    colorsUsed = u32(head, 46);
  }
  const int bitCount = layout.bitCount;
  if (planes != 1) return std::nullopt;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
      bitCount != 32) {
    return std::nullopt;
  }
  if (!validCompression(layout.compression, bitCount, headerSize)) return std::nullopt;
  if (width <= 0 || height == 0 || height == INT32_MIN) return std::nullopt;
  if (height < 0 && layout.runLength()) return std::nullopt;  // RLE rows run bottom-up only
  layout.topDown = height < 0;
  height = std::abs(height);
  if (width * height > maxPixels) return std::nullopt;
  layout.width = static_cast<std::int32_t>(width);
  layout.height = static_cast<std::int32_t>(height);
  for (std::int32_t density : {layout.xPelsPerMeter, layout.yPelsPerMeter}) {
    if (density < 0 || density > kMaxPelsPerMeter) return std::nullopt;
  }

  std::size_t headBytes = kFileHeaderSize + headerSize;
  if (layout.compression == kBitFields) {
    if (headerSize == 40) headBytes += 12;  // the masks follow a version 3 header
    if (head.size() < kFileHeaderSize + 40 + 12) return std::nullopt;
    const std::uint32_t alpha = headerSize >= 108 ? u32(head, 66) : 0;
    for (int i = 0; i < 3; ++i) layout.masks[i] = u32(head, 54 + 4 * static_cast<std::size_t>(i));
    if (!validMasks(layout.masks[0], layout.masks[1], layout.masks[2], alpha, bitCount)) {
      return std::nullopt;
    }
  } else if (bitCount == 16) {
    layout.masks[0] = 0x7C00;  // 5 bits each of red, green and blue
    layout.masks[1] = 0x03E0;
    layout.masks[2] = 0x001F;
  }
  if (layout.indexed()) {
    const std::uint32_t maxColors = 1u << bitCount;
    const std::uint32_t colors = colorsUsed != 0 ? colorsUsed : maxColors;
    if (colors > maxColors) return std::nullopt;
    const std::size_t entryBytes = headerSize == 12 ? 3 : 4;
    if (head.size() < headBytes + colors * entryBytes) return std::nullopt;
    for (std::uint32_t i = 0; i < colors; ++i) {
      const std::size_t at = headBytes + i * entryBytes;
      layout.palette.push_back(static_cast<std::uint32_t>(head[at]) |
                               static_cast<std::uint32_t>(head[at + 1]) << 8 |
                               static_cast<std::uint32_t>(head[at + 2]) << 16);
    }
    headBytes += colors * entryBytes;
  }
  layout.headBytes = headBytes;

  if (offset < headBytes || offset > fileSize) return std::nullopt;
  const std::uint64_t available = fileSize - offset;
  if (sizeImage > available) return std::nullopt;
  layout.dataOffset = offset;
  if (layout.runLength()) {
    // Without no-op codes a stream needs at most 2 bytes a pixel and an end-of-line code a row.
    const std::uint64_t longestUseful = 2 * static_cast<std::uint64_t>(width * height) +
                                        2 * static_cast<std::uint64_t>(height) + 4096;
    layout.dataSize = std::min(sizeImage != 0 ? sizeImage : available, longestUseful);
    if (layout.dataSize < 2) return std::nullopt;
  } else {
    layout.dataSize = layout.stride() * static_cast<std::uint64_t>(height);
    if (layout.dataSize > available) return std::nullopt;
  }
  return layout;
}

bool indicesInPalette(const Layout& layout, std::span<const std::uint8_t> data) {
  if (!layout.indexed() || layout.runLength()) return true;
  const std::size_t colors = layout.palette.size();
  if (colors >= (std::size_t{1} << layout.bitCount)) return true;
  const std::size_t stride = static_cast<std::size_t>(layout.stride());
  if (data.size() < stride * static_cast<std::size_t>(layout.height)) return false;
  for (std::int32_t y = 0; y < layout.height; ++y) {
    const std::uint8_t* row = data.data() + static_cast<std::size_t>(y) * stride;
    for (std::int32_t x = 0; x < layout.width; ++x) {
      std::size_t index = 0;
      switch (layout.bitCount) {
        case 8: index = row[x]; break;
        case 4: index = (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F; break;
        default: index = (row[x / 8] >> (7 - x % 8)) & 1; break;
      }
      if (index >= colors) return false;
    }
  }
  return true;
}

bool decodeRunLength(const Layout& layout, std::span<const std::uint8_t> data, std::uint8_t* bgr,
                     std::size_t stride) {
  const std::vector<std::uint32_t>& palette = layout.palette;
  if (palette.empty() || !layout.runLength()) return false;
  const std::int64_t width = layout.width;
  const std::int64_t height = layout.height;
  std::int64_t x = 0;
  std::int64_t y = 0;  // counted from the bottom row
  const auto put = [&](std::int64_t column, unsigned index) {
    if (index >= palette.size()) return false;
    std::uint8_t* pixel = bgr + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(column) * 3;
    pixel[0] = static_cast<std::uint8_t>(palette[index]);
    pixel[1] = static_cast<std::uint8_t>(palette[index] >> 8);
    pixel[2] = static_cast<std::uint8_t>(palette[index] >> 16);
    return true;
  };
  // RLE4 packs two pixels a byte, high nibble first.
  const auto nibbleOrByte = [&](std::uint8_t byte, std::int64_t k) -> unsigned {
    if (layout.bitCount == 8) return byte;
    return k % 2 == 0 ? byte >> 4 : byte & 0x0F;
  };

  // Whatever the stream skips shows palette entry 0.
  for (std::int64_t row = 0; row < height; ++row) {
    std::uint8_t* pixel = bgr + static_cast<std::size_t>(row) * stride;
    for (std::int64_t column = 0; column < width; ++column, pixel += 3) {
      pixel[0] = static_cast<std::uint8_t>(palette[0]);
      pixel[1] = static_cast<std::uint8_t>(palette[0] >> 8);
      pixel[2] = static_cast<std::uint8_t>(palette[0] >> 16);
    }
  }

  std::size_t i = 0;
  while (i + 2 <= data.size()) {
    const std::uint8_t first = data[i];
    const std::uint8_t second = data[i + 1];
    i += 2;
    if (first != 0) {  // a run of `first` pixels
      if (y >= height || x + first > width) return false;
      for (std::int64_t k = 0; k < first; ++k) {
        if (!put(x + k, nibbleOrByte(second, k))) return false;
      }
      x += first;
    } else if (second == 0) {  // end of line
      x = 0;
      ++y;
    } else if (second == 1) {  // end of bitmap
      return true;
    } else if (second == 2) {  // move right and up
      if (i + 2 > data.size()) return false;
      x += data[i];
      y += data[i + 1];
      i += 2;
      if (x > width || y > height) return false;
    } else {  // `second` pixels given one by one, padded to a 16-bit boundary
      const std::size_t bytes = layout.bitCount == 8 ? second : (second + 1u) / 2;
      if (i + bytes > data.size()) return false;
      if (y >= height || x + second > width) return false;
      for (std::int64_t k = 0; k < second; ++k) {
        const std::uint8_t byte = data[i + static_cast<std::size_t>(layout.bitCount == 8 ? k : k / 2)];
        if (!put(x + k, nibbleOrByte(byte, k))) return false;
      }
      x += second;
      i += bytes + (bytes & 1);
    }
  }
  // No end-of-bitmap code: the picture ends with its data, unless that cut a code in two.
  return i >= data.size();
}

void decodeMasked(const Layout& layout, std::span<const std::uint8_t> data, std::uint8_t* bgr,
                  std::size_t stride) {
  struct Channel {
    std::uint32_t mask;
    int shift;
    std::uint64_t max;
  };
  Channel channels[3];
  for (int i = 0; i < 3; ++i) {
    const std::uint32_t mask = layout.masks[i];
    const int shift = std::countr_zero(mask);
    channels[i] = {mask, shift, mask >> shift};
  }
  const std::size_t sourceStride = static_cast<std::size_t>(layout.stride());
  const std::size_t bytes = layout.bitCount / 8u;
  for (std::int32_t row = 0; row < layout.height; ++row) {
    const std::uint8_t* in = data.data() + static_cast<std::size_t>(row) * sourceStride;
    // Output rows run bottom-up: a top-down file's first row is the last one out.
    const std::int32_t outRow = layout.topDown ? layout.height - 1 - row : row;
    std::uint8_t* out = bgr + static_cast<std::size_t>(outRow) * stride;
    for (std::int32_t x = 0; x < layout.width; ++x, in += bytes, out += 3) {
      std::uint32_t value = static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8;
      if (bytes == 4) value |= static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
      for (int i = 0; i < 3; ++i) {
        const Channel& c = channels[i];
        const std::uint64_t level = (value & c.mask) >> c.shift;
        out[2 - i] = static_cast<std::uint8_t>((level * 255 + c.max / 2) / c.max);
      }
    }
  }
}

}  // namespace platform::bmp
