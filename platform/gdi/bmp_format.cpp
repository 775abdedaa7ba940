#include "platform/gdi/bmp_format.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform::bmp {
namespace {

std::uint16_t u16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t u32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
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
    case kRgb:
      return true;
    case kRle8:
      return bitCount == 8;
    case kRle4:
      return bitCount == 4;
    // OS/2 2.x uses the number 3 for its Huffman coding, which is not read here.
    case kBitFields:
      return (bitCount == 16 || bitCount == 32) && headerSize != 64;
    default:
      return false;
  }
}

// The info header's fields, before they are checked against each other.
struct InfoHeader {
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint16_t planes = 0;
  std::uint32_t sizeImage = 0;
  std::uint32_t colorsUsed = 0;
};

// Reads the info header of `layout.headerSize` bytes into `layout` and `info`. False for a header
// no reader agrees on.
bool readInfoHeader(std::span<const std::uint8_t> head, Layout& layout, InfoHeader& info) {
  if (layout.headerSize == 12) {
    info.width = u16(head, 18);
    info.height = u16(head, 20);
    info.planes = u16(head, 22);
    layout.bitCount = u16(head, 24);
    // Other readers take these as signed 16-bit numbers; keep in agreement with them.
    return info.width <= 32767 && info.height <= 32767;
  }
  info.width = i32(head, 18);
  info.height = i32(head, 22);
  info.planes = u16(head, 26);
  layout.bitCount = u16(head, 28);
  layout.compression = u32(head, 30);
  info.sizeImage = u32(head, 34);
  layout.xPelsPerMeter = i32(head, 38);
  layout.yPelsPerMeter = i32(head, 42);
  info.colorsUsed = u32(head, 46);
  return true;
}

// Checks the picture's depth, compression, size and resolution and stores its size.
bool checkPicture(const InfoHeader& info, std::int64_t maxPixels, Layout& layout) {
  const int bitCount = layout.bitCount;
  if (info.planes != 1) return false;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
      bitCount != 32) {
    return false;
  }
  if (!validCompression(layout.compression, bitCount, layout.headerSize)) return false;
  if (info.width <= 0 || info.height == 0 || info.height == INT32_MIN) return false;
  if (info.height < 0 && layout.runLength()) return false;  // RLE rows run bottom-up only
  layout.topDown = info.height < 0;
  const std::int64_t height = std::abs(info.height);
  if (info.width * height > maxPixels) return false;
  layout.width = static_cast<std::int32_t>(info.width);
  layout.height = static_cast<std::int32_t>(height);
  for (std::int32_t density : {layout.xPelsPerMeter, layout.yPelsPerMeter}) {
    if (density < 0 || density > kMaxPelsPerMeter) return false;
  }
  return true;
}

// Reads the bit masks and the palette that follow the info header; sets layout.headBytes.
bool readMasksAndPalette(std::span<const std::uint8_t> head, const InfoHeader& info,
                         Layout& layout) {
  const int bitCount = layout.bitCount;
  std::size_t headBytes = kFileHeaderSize + layout.headerSize;
  if (layout.compression == kBitFields) {
    if (layout.headerSize == 40) headBytes += 12;  // the masks follow a version 3 header
    if (head.size() < kFileHeaderSize + 40 + 12) return false;
    const std::uint32_t alpha = layout.headerSize >= 108 ? u32(head, 66) : 0;
    for (int i = 0; i < 3; ++i) layout.masks[i] = u32(head, 54 + 4 * static_cast<std::size_t>(i));
    if (!validMasks(layout.masks[0], layout.masks[1], layout.masks[2], alpha, bitCount)) {
      return false;
    }
  } else if (bitCount == 16) {
    layout.masks[0] = 0x7C00;  // 5 bits each of red, green and blue
    layout.masks[1] = 0x03E0;
    layout.masks[2] = 0x001F;
  }
  if (layout.indexed()) {
    const std::uint32_t maxColors = 1u << bitCount;
    const std::uint32_t colors = info.colorsUsed != 0 ? info.colorsUsed : maxColors;
    if (colors > maxColors) return false;
    const std::size_t entryBytes = layout.headerSize == 12 ? 3 : 4;
    if (head.size() < headBytes + colors * entryBytes) return false;
    for (std::uint32_t i = 0; i < colors; ++i) {
      const std::size_t at = headBytes + i * entryBytes;
      layout.palette.push_back(static_cast<std::uint32_t>(head[at]) |
                               static_cast<std::uint32_t>(head[at + 1]) << 8 |
                               static_cast<std::uint32_t>(head[at + 2]) << 16);
    }
    headBytes += colors * entryBytes;
  }
  layout.headBytes = headBytes;
  return true;
}

// Places the pixel data in the file: it must start after the head and fit in the file.
bool placeData(std::uint32_t offset, const InfoHeader& info, std::uint64_t fileSize,
               Layout& layout) {
  if (offset < layout.headBytes || offset > fileSize) return false;
  const std::uint64_t available = fileSize - offset;
  if (info.sizeImage > available) return false;
  layout.dataOffset = offset;
  if (layout.runLength()) {
    // Without no-op codes a stream needs at most 2 bytes a pixel and an end-of-line code a row.
    const auto width = static_cast<std::uint64_t>(layout.width);
    const auto height = static_cast<std::uint64_t>(layout.height);
    const std::uint64_t longestUseful = 2 * width * height + 2 * height + 4096;
    layout.dataSize = std::min(info.sizeImage != 0 ? info.sizeImage : available, longestUseful);
    return layout.dataSize >= 2;
  }
  layout.dataSize = layout.stride() * static_cast<std::uint64_t>(layout.height);
  return layout.dataSize <= available;
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
  InfoHeader info;
  if (!readInfoHeader(head, layout, info) || !checkPicture(info, maxPixels, layout) ||
      !readMasksAndPalette(head, info, layout) || !placeData(offset, info, fileSize, layout)) {
    return std::nullopt;
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
        case 8:
          index = row[x];
          break;
        case 4:
          index = (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F;
          break;
        default:
          index = (row[x / 8] >> (7 - x % 8)) & 1;
          break;
      }
      if (index >= colors) return false;
    }
  }
  return true;
}

namespace {

void putColor(std::uint8_t* pixel, std::uint32_t color) {
  pixel[0] = static_cast<std::uint8_t>(color);
  pixel[1] = static_cast<std::uint8_t>(color >> 8);
  pixel[2] = static_cast<std::uint8_t>(color >> 16);
}

// Writes the pixels of an RLE stream into bottom-up rows, refusing any that leave the picture or
// name a colour the palette lacks.
class RunLengthPainter final {
 public:
  RunLengthPainter(const Layout& layout, std::uint8_t* bgr, std::size_t stride)
      : layout_(layout), bgr_(bgr), stride_(stride) {}

  // Whatever the stream skips shows palette entry 0.
  void clear() {
    for (std::int64_t row = 0; row < layout_.height; ++row) {
      std::uint8_t* pixel = bgr_ + static_cast<std::size_t>(row) * stride_;
      for (std::int64_t column = 0; column < layout_.width; ++column, pixel += 3) {
        putColor(pixel, layout_.palette[0]);
      }
    }
  }

  // `count` pixels from the current position; the k-th takes the index in the k-th byte (RLE8)
  // or nibble (RLE4, high nibble first) that byteAt(k) gives.
  template <class ByteAt>
  bool put(std::int64_t count, ByteAt byteAt) {
    if (y_ >= layout_.height || x_ + count > layout_.width) return false;
    for (std::int64_t k = 0; k < count; ++k) {
      const std::uint8_t byte = byteAt(k);
      const unsigned index = layout_.bitCount == 8 ? byte : (k % 2 == 0 ? byte >> 4 : byte & 0x0F);
      if (index >= layout_.palette.size()) return false;
      putColor(bgr_ + static_cast<std::size_t>(y_) * stride_ + static_cast<std::size_t>(x_ + k) * 3,
               layout_.palette[index]);
    }
    x_ += count;
    return true;
  }

  void endLine() {
    x_ = 0;
    ++y_;
  }

  bool move(int right, int up) {
    x_ += right;
    y_ += up;
    return x_ <= layout_.width && y_ <= layout_.height;
  }

 private:
  const Layout& layout_;
  std::uint8_t* bgr_;
  std::size_t stride_;
  std::int64_t x_ = 0;
  std::int64_t y_ = 0;  // counted from the bottom row
};

}  // namespace

bool decodeRunLength(const Layout& layout, std::span<const std::uint8_t> data, std::uint8_t* bgr,
                     std::size_t stride) {
  if (layout.palette.empty() || !layout.runLength()) return false;
  RunLengthPainter painter(layout, bgr, stride);
  painter.clear();
  std::size_t i = 0;
  while (i + 2 <= data.size()) {
    const std::uint8_t first = data[i];
    const std::uint8_t second = data[i + 1];
    i += 2;
    if (first != 0) {  // a run of `first` pixels
      if (!painter.put(first, [second](std::int64_t) { return second; })) return false;
    } else if (second == 0) {  // end of line
      painter.endLine();
    } else if (second == 1) {  // end of bitmap
      return true;
    } else if (second == 2) {  // move right and up
      if (i + 2 > data.size() || !painter.move(data[i], data[i + 1])) return false;
      i += 2;
    } else {  // `second` pixels given one by one, padded to a 16-bit boundary
      const bool bytes8 = layout.bitCount == 8;
      const std::size_t bytes = bytes8 ? second : (second + 1u) / 2;
      if (i + bytes > data.size()) return false;
      const std::size_t at = i;
      const auto byteAt = [&data, at, bytes8](std::int64_t k) {
        return data[at + static_cast<std::size_t>(bytes8 ? k : k / 2)];
      };
      if (!painter.put(second, byteAt)) return false;
      i += bytes + (bytes & 1);
    }
  }
  // No end-of-bitmap code: the picture ends with its data, unless that cut a code in two.
  return i >= data.size();
}

void decodeUncompressed(const Layout& layout, std::span<const std::uint8_t> data, std::uint8_t* bgr,
                        std::size_t stride) {
  const std::size_t sourceStride = static_cast<std::size_t>(layout.stride());
  const std::vector<std::uint32_t>& palette = layout.palette;
  for (std::int32_t row = 0; row < layout.height; ++row) {
    const std::uint8_t* in = data.data() + static_cast<std::size_t>(row) * sourceStride;
    // Output rows run bottom-up: a top-down file's first row is the last one out.
    const std::int32_t outRow = layout.topDown ? layout.height - 1 - row : row;
    std::uint8_t* out = bgr + static_cast<std::size_t>(outRow) * stride;
    for (std::int32_t x = 0; x < layout.width; ++x, out += 3) {
      std::size_t index = 0;
      switch (layout.bitCount) {
        case 32:  // blue, green, red and a byte that is dropped, as stored
          std::memcpy(out, in + static_cast<std::size_t>(x) * 4, 3);
          continue;
        case 24:
          std::memcpy(out, in + static_cast<std::size_t>(x) * 3, 3);
          continue;
        case 8:
          index = in[x];
          break;
        case 4:
          index = (in[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F;
          break;
        default:
          index = (in[x / 8] >> (7 - x % 8)) & 1;
          break;
      }
      putColor(out, palette[std::min(index, palette.size() - 1)]);
    }
  }
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
      std::uint32_t value = static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1])
                                                                    << 8;
      if (bytes == 4)
        value |= static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
      for (int i = 0; i < 3; ++i) {
        const Channel& c = channels[i];
        const std::uint64_t level = (value & c.mask) >> c.shift;
        out[2 - i] = static_cast<std::uint8_t>((level * 255 + c.max / 2) / c.max);
      }
    }
  }
}

}  // namespace platform::bmp
