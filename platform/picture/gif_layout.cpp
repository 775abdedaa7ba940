#include "platform/picture/gif_layout.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/base/runtime_error.h"
#include "platform/picture/picture_facts.h"

namespace platform {
namespace {

constexpr size_t kScreenEnd = 13;       // "GIF89a" and the logical screen descriptor
constexpr size_t kDescriptorSize = 10;  // ',' and the image descriptor
constexpr std::uint8_t kExtension = 0x21;
constexpr std::uint8_t kImage = 0x2C;
constexpr std::uint8_t kTrailer = 0x3B;
constexpr std::uint8_t kGraphicControl = 0xF9;
constexpr std::uint8_t kApplication = 0xFF;
// An application extension's first sub-block: its identifier and authentication code.
constexpr char kIccApplication[] = "ICCRGBG1012";
constexpr size_t kApplicationIdSize = sizeof kIccApplication - 1;
constexpr int kMaxCodeBits = 12;
constexpr int kMaxCodes = 1 << kMaxCodeBits;
constexpr size_t kMaxSubBlock = 255;

[[noreturn]] void invalid() { raiseError(kErrInvalidPicture); }

int le16(std::span<const std::uint8_t> gif, size_t at) { return gif[at] | gif[at + 1] << 8; }

size_t paletteBytes(std::uint8_t flags) {
  return (flags & 0x80) != 0 ? size_t{3} << ((flags & 7) + 1) : 0;
}

// The position after the chain of sub-blocks at `pos`, or the end when the chain is cut short
// (`complete` says which). Their bytes are appended to `data` when given.
size_t readSubBlocks(std::span<const std::uint8_t> gif, size_t pos, std::vector<std::uint8_t>* data,
                     bool& complete) {
  const size_t n = gif.size();
  complete = false;
  while (pos < n) {
    const size_t length = gif[pos++];
    if (length == 0) {
      complete = true;
      return pos;
    }
    const size_t end = std::min(n, pos + length);
    if (data != nullptr) {
      data->insert(data->end(), gif.begin() + static_cast<std::ptrdiff_t>(pos),
                   gif.begin() + static_cast<std::ptrdiff_t>(end));
    }
    pos = end;
  }
  return n;
}

// Where a frame's LZW data starts: its code size byte.
size_t codeSizeAt(std::span<const std::uint8_t> gif, size_t frameBegin) {
  return frameBegin + kDescriptorSize + paletteBytes(gif[frameBegin + 9]);
}

}  // namespace

bool lzwCovers(std::span<const std::uint8_t> data, int minimumCodeSize, std::int64_t pixels) {
  const int clear = 1 << minimumCodeSize;
  const int end = clear + 1;
  std::array<std::int32_t, kMaxCodes> length{};  // of each code's string: all a count needs
  std::fill(length.begin(), length.begin() + clear, 1);
  int codeBits = minimumCodeSize + 1;
  int next = clear + 2;
  int previous = -1;
  std::int64_t produced = 0;
  std::uint32_t bits = 0;
  int bitCount = 0;
  size_t pos = 0;
  while (produced < pixels) {
    while (bitCount < codeBits) {
      if (pos >= data.size()) return false;
      bits |= std::uint32_t{data[pos++]} << bitCount;
      bitCount += 8;
    }
    const int code = static_cast<int>(bits & ((1u << codeBits) - 1));
    bits >>= codeBits;
    bitCount -= codeBits;
    if (code == clear) {
      codeBits = minimumCodeSize + 1;
      next = clear + 2;
      previous = -1;
      continue;
    }
    if (code == end) return false;
    const bool defined = code < clear || (code > end && code < next);
    if (!defined && !(code == next && previous >= 0)) return false;
    produced += code == next ? length[previous] + 1 : length[code];
    if (previous >= 0 && next < kMaxCodes) {
      length[next] = length[previous] + 1;
      if (++next == 1 << codeBits && codeBits < kMaxCodeBits) ++codeBits;
    }
    previous = code;
  }
  return true;
}

GifLayout readGifLayout(std::span<const std::uint8_t> gif) {
  const size_t n = gif.size();
  if (n < kScreenEnd ||
      (std::memcmp(gif.data(), "GIF87a", 6) != 0 && std::memcmp(gif.data(), "GIF89a", 6) != 0)) {
    invalid();
  }
  GifLayout layout;
  layout.width = le16(gif, 6);
  layout.height = le16(gif, 8);
  layout.paletteEnd = kScreenEnd + paletteBytes(gif[10]);
  size_t pos = layout.paletteEnd;
  bool complete = false;
  // Extensions (comments, loops, graphic control) until the first frame.
  while (pos < n && gif[pos] == kExtension) {
    if (pos + 2 > n) invalid();
    const size_t begin = pos;
    pos = readSubBlocks(gif, pos + 2, nullptr, complete);
    if (!complete) invalid();
    if (gif[begin + 1] == kGraphicControl) {
      layout.controlBegin = begin;
      layout.controlEnd = pos;
    }
    if (gif[begin + 1] == kApplication && pos - begin > 3 + kApplicationIdSize &&
        gif[begin + 2] == kApplicationIdSize &&
        std::memcmp(&gif[begin + 3], kIccApplication, kApplicationIdSize) == 0) {
      layout.iccBegin = begin;
      layout.iccEnd = pos;
    }
  }
  if (pos >= n || gif[pos] != kImage || pos + kDescriptorSize > n) invalid();  // also a trailer
  layout.frameBegin = pos;
  layout.frameLeft = le16(gif, pos + 1);
  layout.frameTop = le16(gif, pos + 3);
  layout.frameWidth = le16(gif, pos + 5);
  layout.frameHeight = le16(gif, pos + 7);
  if (layout.frameWidth == 0 || layout.frameHeight == 0) invalid();
  if (std::int64_t{layout.frameWidth} * layout.frameHeight > kMaxPicturePixels) {
    raisePictureTooLarge(layout.frameWidth, layout.frameHeight);
  }
  const size_t codeSize = codeSizeAt(gif, pos);
  if (codeSize >= n || gif[codeSize] < 1 || gif[codeSize] > 8) invalid();
  std::vector<std::uint8_t> data;
  readSubBlocks(gif, codeSize + 1, &data, complete);
  if (!lzwCovers(data, gif[codeSize], std::int64_t{layout.frameWidth} * layout.frameHeight)) {
    invalid();
  }
  if (layout.width == 0) layout.width = layout.frameLeft + layout.frameWidth;
  if (layout.height == 0) layout.height = layout.frameTop + layout.frameHeight;
  return layout;
}

std::vector<std::uint8_t> gifIccProfile(std::span<const std::uint8_t> gif,
                                        const GifLayout& layout) {
  std::vector<std::uint8_t> profile;
  if (layout.iccBegin == layout.iccEnd) return profile;
  bool complete = false;
  readSubBlocks(gif.first(layout.iccEnd), layout.iccBegin + 3 + kApplicationIdSize, &profile,
                complete);
  return profile;
}

std::vector<std::uint8_t> withPalettesInSrgb(std::span<const std::uint8_t> gif,
                                             const GifLayout& layout,
                                             const ColourConversion& colour) {
  // Up to the first frame's end, all the drawing reads: not the rest of an animation.
  bool complete = false;
  const size_t frameEnd =
      readSubBlocks(gif, codeSizeAt(gif, layout.frameBegin) + 1, nullptr, complete);
  std::vector<std::uint8_t> converted(gif.begin(),
                                      gif.begin() + static_cast<std::ptrdiff_t>(frameEnd));
  converted.push_back(kTrailer);
  const size_t global = paletteBytes(gif[10]);
  if (global > 0) {
    colour.convert(&converted[kScreenEnd], &converted[kScreenEnd], static_cast<int>(global / 3));
  }
  const size_t local = paletteBytes(gif[layout.frameBegin + 9]);
  if (local > 0) {
    std::uint8_t* palette = &converted[layout.frameBegin + kDescriptorSize];
    colour.convert(palette, palette, static_cast<int>(local / 3));
  }
  return converted;
}

std::vector<std::uint8_t> firstFrameGif(std::span<const std::uint8_t> gif,
                                        const GifLayout& layout) {
  const auto put16 = [](std::vector<std::uint8_t>& out, int value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
  };
  const size_t codeSize = codeSizeAt(gif, layout.frameBegin);
  std::vector<std::uint8_t> data;
  bool complete = false;
  readSubBlocks(gif, codeSize + 1, &data, complete);
  std::vector<std::uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
  out.reserve(codeSize + data.size() + data.size() / kMaxSubBlock + 32);
  put16(out, layout.frameWidth);
  put16(out, layout.frameHeight);
  out.insert(out.end(), gif.begin() + 10,
             gif.begin() + static_cast<std::ptrdiff_t>(layout.paletteEnd));
  out.insert(out.end(), gif.begin() + static_cast<std::ptrdiff_t>(layout.controlBegin),
             gif.begin() + static_cast<std::ptrdiff_t>(layout.controlEnd));
  out.push_back(kImage);
  put16(out, 0);
  put16(out, 0);
  put16(out, layout.frameWidth);
  put16(out, layout.frameHeight);
  // The descriptor's flags, the local palette and the code size byte, as they are.
  out.insert(out.end(), gif.begin() + static_cast<std::ptrdiff_t>(layout.frameBegin + 9),
             gif.begin() + static_cast<std::ptrdiff_t>(codeSize + 1));
  for (size_t pos = 0; pos < data.size(); pos += kMaxSubBlock) {
    const size_t length = std::min(kMaxSubBlock, data.size() - pos);
    out.push_back(static_cast<std::uint8_t>(length));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
               data.begin() + static_cast<std::ptrdiff_t>(pos + length));
  }
  out.push_back(0);
  out.push_back(kTrailer);
  return out;
}

}  // namespace platform
