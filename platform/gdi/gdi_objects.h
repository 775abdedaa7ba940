// The graphics layer's objects and the table that hands out their handles. Internal to gdi*.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/gdi/gdi.h"

namespace platform::gdi {

// Bytes in one row of `width` pixels at `bitsPerPixel`, padded to a multiple of 4.
inline std::uint64_t rowBytes(std::int64_t width, int bitsPerPixel) {
  return (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bitsPerPixel) + 31) / 32 *
         4;
}

// Pixels in memory: rows of 24 or 32 bits per pixel (blue, green, red[, unused]), each padded to
// a multiple of 4 bytes.
struct Bitmap {
  std::int32_t width = 0;
  std::int32_t height = 0;  // number of rows, always positive
  bool topDown = false;     // the first row in memory is the top one
  int bitsPerPixel = 24;
  std::size_t stride = 0;
  std::vector<std::uint8_t> pixels;
  // What a header query answers: a bitmap read from a file reports that file's depth and
  // resolution.
  BITMAPINFOHEADER reported{};
  HDC selectedInto = 0;  // the surface drawing into it, 0 when none
  HDC owner = 0;         // the surface whose default bitmap it is, 0 when none

  std::uint8_t* rowFromTop(std::int32_t y) {
    const std::int32_t memoryRow = topDown ? y : height - 1 - y;
    return pixels.data() + static_cast<std::size_t>(memoryRow) * stride;
  }
  std::uint8_t* rowFromBottom(std::int32_t y) { return rowFromTop(height - 1 - y); }
};

// A memory drawing surface: always has a bitmap selected, its own 1 x 1 one at first.
struct Surface {
  HBITMAP selected = 0;
  HBITMAP defaultBitmap = 0;
};

// Handles are index + generation + kind, checked on every use (as Wine's GDI handle table does):
// removing an object moves its slot's generation on, so an old handle, a made-up number or a handle
// of the other kind finds nothing instead of freed memory. Not locked itself: see LockedTable.
class HandleTable final {
 public:
  static constexpr std::size_t kMaxObjects = 65536;

  // 0 when the table is full.
  HGDIOBJ add(std::unique_ptr<Surface> surface);
  HGDIOBJ add(std::unique_ptr<Bitmap> bitmap);
  Surface* surface(HGDIOBJ handle) const;
  Bitmap* bitmap(HGDIOBJ handle) const;
  void remove(HGDIOBJ handle);
  std::size_t liveCount() const { return live_; }

 private:
  enum class Kind : std::uint8_t { kFree = 0, kSurface = 1, kBitmap = 2 };
  struct Slot {
    std::uint32_t generation = 1;
    Kind kind = Kind::kFree;
    std::unique_ptr<Surface> surface;
    std::unique_ptr<Bitmap> bitmap;
  };

  const Slot* find(HGDIOBJ handle, Kind kind) const;
  std::size_t takeSlot();  // SIZE_MAX when full
  static HGDIOBJ makeHandle(std::size_t index, std::uint32_t generation, Kind kind);

  std::vector<Slot> slots_;
  std::vector<std::size_t> free_;
  std::size_t live_ = 0;
};

// The process's one table, locked for the duration of the returned guard's life.
class LockedTable final {
 public:
  LockedTable();
  HandleTable* operator->() { return table_; }
  HandleTable& operator*() { return *table_; }

 private:
  std::unique_lock<std::mutex> lock_;
  HandleTable* table_;
};

}  // namespace platform::gdi
