// Reading a bitmap's header and rows (GetDIBits) and block transfer between surfaces (BitBlt).
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_objects.h"

namespace platform {
namespace {

// Copies `count` pixels between rows of 24 or 32 bits; a 32-bit target's unused byte comes from a
// 32-bit source and is 0 otherwise.
void convertPixels(const std::uint8_t* source, int sourceBits, std::uint8_t* target, int targetBits,
                   std::size_t count) {
  if (sourceBits == targetBits) {
    std::memcpy(target, source, count * static_cast<std::size_t>(sourceBits / 8));
    return;
  }
  const std::size_t sourceStep = static_cast<std::size_t>(sourceBits / 8);
  const std::size_t targetStep = static_cast<std::size_t>(targetBits / 8);
  for (std::size_t i = 0; i < count; ++i, source += sourceStep, target += targetStep) {
    target[0] = source[0];
    target[1] = source[1];
    target[2] = source[2];
    if (targetStep == 4) target[3] = 0;
  }
}

bool queryHeader(const gdi::Bitmap& bitmap, BITMAPINFOHEADER& header) {
  if (header.biBitCount == 0) {
    const std::uint32_t size = header.biSize;
    header = bitmap.reported;
    header.biSize = size;
    header.biWidth = bitmap.width;
    header.biHeight = bitmap.height;
    return true;
  }
  if (header.biBitCount != 24 && header.biBitCount != 32) return false;
  header.biWidth = bitmap.width;
  header.biHeight = bitmap.height;
  header.biPlanes = 1;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<std::uint32_t>(gdi::rowBytes(bitmap.width, header.biBitCount) *
                                                  static_cast<std::uint64_t>(bitmap.height));
  return true;
}

int copyRows(gdi::Bitmap& bitmap, std::uint32_t start, std::uint32_t cLines, void* lpvBits,
             BITMAPINFOHEADER& header) {
  if ((header.biBitCount != 24 && header.biBitCount != 32) || header.biCompression != BI_RGB) {
    return 0;
  }
  if (header.biWidth <= 0 || header.biHeight == 0 || header.biHeight == INT32_MIN) return 0;
  const std::int64_t headerRows =
      header.biHeight < 0 ? -std::int64_t{header.biHeight} : header.biHeight;
  const std::uint64_t targetStride = gdi::rowBytes(header.biWidth, header.biBitCount);
  if (targetStride * static_cast<std::uint64_t>(headerRows) > UINT32_MAX) return 0;
  if (start >= static_cast<std::uint32_t>(bitmap.height)) return 0;
  const std::int64_t lines = std::min<std::int64_t>(
      {std::int64_t{cLines}, std::int64_t{bitmap.height} - start, headerRows});
  if (lines <= 0) return 0;

  const std::size_t width = static_cast<std::size_t>(std::min(header.biWidth, bitmap.width));
  auto* target = static_cast<std::uint8_t*>(lpvBits);
  for (std::int64_t i = 0; i < lines; ++i) {
    // Bottom-up: the first row written is the lowest; top-down: the first is the highest.
    const std::int64_t targetRow = header.biHeight > 0 ? i : lines - 1 - i;
    convertPixels(bitmap.rowFromBottom(static_cast<std::int32_t>(start + i)), bitmap.bitsPerPixel,
                  target + static_cast<std::size_t>(targetRow) * targetStride, header.biBitCount,
                  width);
  }
  header.biSizeImage =
      static_cast<std::uint32_t>(targetStride * static_cast<std::uint64_t>(headerRows));
  return static_cast<int>(lines);
}

// A ternary raster operation's truth table over (pattern, source, destination) bits.
struct RasterOp {
  std::uint8_t table = 0;
  bool needsPattern() const { return (table >> 4) != (table & 0x0F); }
  bool needsSource() const { return ((table >> 2) & 0x33) != (table & 0x33); }
  std::uint8_t apply(std::uint8_t s, std::uint8_t d) const {
    std::uint8_t result = 0;
    for (int i = 0; i < 4; ++i) {
      if ((table >> i) & 1) {
        result |= static_cast<std::uint8_t>(((i & 2) ? s : ~s) & ((i & 1) ? d : ~d));
      }
    }
    return result;
  }
};

void blitRow(const std::uint8_t* source, int sourceBits, std::uint8_t* target, int targetBits,
             std::size_t count, RasterOp op, bool plainCopy) {
  if (plainCopy) {
    convertPixels(source, sourceBits, target, targetBits, count);
    return;
  }
  const std::size_t sourceStep = static_cast<std::size_t>(sourceBits / 8);
  const std::size_t targetStep = static_cast<std::size_t>(targetBits / 8);
  const std::size_t channels = sourceBits == 32 && targetBits == 32 ? 4 : 3;
  for (std::size_t i = 0; i < count; ++i, target += targetStep) {
    for (std::size_t c = 0; c < channels; ++c) {
      target[c] = op.apply(source != nullptr ? source[c] : 0, target[c]);
    }
    if (source != nullptr) source += sourceStep;
  }
}

// One block transfer between two bitmaps (or within one), clipped to both.
struct Transfer {
  gdi::Bitmap* dest;
  gdi::Bitmap* source;  // the destination itself when the operation reads no source
  int x, y;             // the rectangle's top-left in the destination
  int sourceX, sourceY;
  RasterOp op;
  // Offsets into the rectangle that land inside both bitmaps.
  std::int64_t left = 0, right = 0, top = 0, bottom = 0;

  void clip(int cx, int cy) {
    left = std::max<std::int64_t>({0, -std::int64_t{x}, -std::int64_t{sourceX}});
    right = std::min<std::int64_t>(
        {cx, std::int64_t{dest->width} - x, std::int64_t{source->width} - sourceX});
    top = std::max<std::int64_t>({0, -std::int64_t{y}, -std::int64_t{sourceY}});
    bottom = std::min<std::int64_t>(
        {cy, std::int64_t{dest->height} - y, std::int64_t{source->height} - sourceY});
  }

  const std::uint8_t* sourceRow(std::int64_t row) const {
    return source->rowFromTop(static_cast<std::int32_t>(sourceY + row)) +
           static_cast<std::size_t>(sourceX + left) *
               static_cast<std::size_t>(source->bitsPerPixel / 8);
  }

  void run() const {
    if (left >= right || top >= bottom) return;
    const auto count = static_cast<std::size_t>(right - left);
    const std::size_t destBytes = static_cast<std::size_t>(dest->bitsPerPixel / 8);
    const std::size_t rowSize = count * static_cast<std::size_t>(source->bitsPerPixel / 8);
    // Within one bitmap the rectangles may overlap: take the source rows aside first.
    std::vector<std::uint8_t> scratch;
    if (source == dest && op.needsSource()) {
      scratch.resize(rowSize * static_cast<std::size_t>(bottom - top));
      for (std::int64_t row = top; row < bottom; ++row) {
        std::memcpy(scratch.data() + static_cast<std::size_t>(row - top) * rowSize, sourceRow(row),
                    rowSize);
      }
    }
    for (std::int64_t row = top; row < bottom; ++row) {
      const std::uint8_t* from = nullptr;
      if (!scratch.empty()) {
        from = scratch.data() + static_cast<std::size_t>(row - top) * rowSize;
      } else if (op.needsSource()) {
        from = sourceRow(row);
      }
      std::uint8_t* to = dest->rowFromTop(static_cast<std::int32_t>(y + row)) +
                         static_cast<std::size_t>(x + left) * destBytes;
      blitRow(from, source->bitsPerPixel, to, dest->bitsPerPixel, count, op, op.table == 0xCC);
    }
  }
};

}  // namespace

int GetDIBits(HDC hdc, HBITMAP hbm, std::uint32_t start, std::uint32_t cLines, void* lpvBits,
              BITMAPINFO* lpbmi, std::uint32_t usage) {
  if (lpbmi == nullptr || usage != DIB_RGB_COLORS) return 0;
  BITMAPINFOHEADER& header = lpbmi->bmiHeader;
  if (header.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  gdi::LockedTable table;
  gdi::Bitmap* bitmap = table->bitmap(hbm);
  if (table->surface(hdc) == nullptr || bitmap == nullptr) return 0;
  if (lpvBits == nullptr) return queryHeader(*bitmap, header) ? 1 : 0;
  return copyRows(*bitmap, start, cLines, lpvBits, header);
}

int BitBlt(HDC hdcDest, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1,
           std::uint32_t rop) {
  const RasterOp op{static_cast<std::uint8_t>(rop >> 16)};
  if (op.needsPattern()) return 0;
  try {
    gdi::LockedTable table;
    gdi::Surface* destSurface = table->surface(hdcDest);
    if (destSurface == nullptr) return 0;
    gdi::Bitmap* dest = table->bitmap(destSurface->selected);
    gdi::Bitmap* source = nullptr;
    if (op.needsSource()) {
      gdi::Surface* sourceSurface = table->surface(hdcSrc);
      if (sourceSurface == nullptr) return 0;
      source = table->bitmap(sourceSurface->selected);
    }
    if (dest == nullptr || (op.needsSource() && source == nullptr)) return 0;
    Transfer transfer{dest, source, x, y, x1, y1, op};
    if (source == nullptr) {  // the destination stands in so the clipping stays the same
      transfer.source = dest;
      transfer.sourceX = x;
      transfer.sourceY = y;
    }
    transfer.clip(cx, cy);
    transfer.run();
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // namespace platform
