// Handle table, memory surfaces, DIB sections and bitmaps read from BMP files.
#include "platform/gdi/gdi.h"

#include <climits>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "platform/gdi/bmp_reader.h"
#include "platform/gdi/gdi_objects.h"

namespace platform {
namespace gdi {

// ----- Handle table
// -------------------------------------------------------------------------------

namespace {

// Handle layout: bits 0-31 slot index, 32-55 generation, 56-63 kind (never 0, so no handle is 0).
constexpr std::uint32_t kGenerationMask = 0xFFFFFF;

HandleTable& theTable() {
  static HandleTable table;
  return table;
}

std::mutex& theMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

LockedTable::LockedTable() : lock_(theMutex()), table_(&theTable()) {}

HGDIOBJ HandleTable::makeHandle(std::size_t index, std::uint32_t generation, Kind kind) {
  return static_cast<HGDIOBJ>(index) | (static_cast<HGDIOBJ>(generation & kGenerationMask) << 32) |
         (static_cast<HGDIOBJ>(kind) << 56);
}

const HandleTable::Slot* HandleTable::find(HGDIOBJ handle, Kind kind) const {
  const std::size_t index = handle & 0xFFFFFFFFu;
  const auto generation = static_cast<std::uint32_t>((handle >> 32) & kGenerationMask);
  const auto handleKind = static_cast<Kind>(handle >> 56);
  if (handleKind != kind || index >= slots_.size()) return nullptr;
  const Slot& slot = slots_[index];
  if (slot.kind != kind || slot.generation != generation) return nullptr;
  return &slot;
}

std::size_t HandleTable::takeSlot() {
  if (!free_.empty()) {
    const std::size_t index = free_.back();
    free_.pop_back();
    return index;
  }
  if (slots_.size() >= kMaxObjects) return SIZE_MAX;
  slots_.emplace_back();
  return slots_.size() - 1;
}

HGDIOBJ HandleTable::add(std::unique_ptr<Surface> surface) {
  const std::size_t index = takeSlot();
  if (index == SIZE_MAX) return 0;
  Slot& slot = slots_[index];
  slot.kind = Kind::kSurface;
  slot.surface = std::move(surface);
  ++live_;
  return makeHandle(index, slot.generation, slot.kind);
}

HGDIOBJ HandleTable::add(std::unique_ptr<Bitmap> bitmap) {
  const std::size_t index = takeSlot();
  if (index == SIZE_MAX) return 0;
  Slot& slot = slots_[index];
  slot.kind = Kind::kBitmap;
  slot.bitmap = std::move(bitmap);
  ++live_;
  return makeHandle(index, slot.generation, slot.kind);
}

Surface* HandleTable::surface(HGDIOBJ handle) const {
  const Slot* slot = find(handle, Kind::kSurface);
  return slot != nullptr ? slot->surface.get() : nullptr;
}

Bitmap* HandleTable::bitmap(HGDIOBJ handle) const {
  const Slot* slot = find(handle, Kind::kBitmap);
  return slot != nullptr ? slot->bitmap.get() : nullptr;
}

void HandleTable::remove(HGDIOBJ handle) {
  if (find(handle, Kind::kSurface) == nullptr && find(handle, Kind::kBitmap) == nullptr) return;
  const std::size_t index = handle & 0xFFFFFFFFu;
  Slot& slot = slots_[index];
  slot.kind = Kind::kFree;
  slot.surface.reset();
  slot.bitmap.reset();
  // A new generation makes every copy of the old handle stale; 0 is skipped so it never repeats
  // the first handle of a fresh slot.
  slot.generation = (slot.generation + 1) & kGenerationMask;
  if (slot.generation == 0) slot.generation = 1;
  free_.push_back(index);
  --live_;
}

// ----- Helpers
// ------------------------------------------------------------------------------------

namespace {

// A zeroed bitmap of the given size, or nullptr when it is too large or memory runs out.
std::unique_ptr<Bitmap> newBitmap(std::int32_t width, std::int32_t height, int bitsPerPixel) {
  if (width <= 0 || height <= 0) return nullptr;
  if (static_cast<std::int64_t>(width) * height > kMaxPicturePixels) return nullptr;
  auto bitmap = std::make_unique<Bitmap>();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bitsPerPixel = bitsPerPixel;
  bitmap->stride = static_cast<std::size_t>(rowBytes(width, bitsPerPixel));
  bitmap->pixels.resize(bitmap->stride * static_cast<std::size_t>(height));
  BITMAPINFOHEADER& reported = bitmap->reported;
  reported.biSize = sizeof(BITMAPINFOHEADER);
  reported.biWidth = width;
  reported.biHeight = height;
  reported.biPlanes = 1;
  reported.biBitCount = static_cast<std::uint16_t>(bitsPerPixel);
  reported.biCompression = BI_RGB;
  reported.biSizeImage = static_cast<std::uint32_t>(bitmap->pixels.size());
  return bitmap;
}

}  // namespace
}  // namespace gdi

// ----- Public functions
// ---------------------------------------------------------------------------

HDC CreateCompatibleDC(HDC /*hdc*/) {
  try {
    auto defaultBitmap = gdi::newBitmap(1, 1, 32);
    if (!defaultBitmap) return 0;
    gdi::LockedTable table;
    const HDC surfaceHandle = table->add(std::make_unique<gdi::Surface>());
    if (surfaceHandle == 0) return 0;
    defaultBitmap->owner = surfaceHandle;
    defaultBitmap->selectedInto = surfaceHandle;
    const HBITMAP bitmapHandle = table->add(std::move(defaultBitmap));
    if (bitmapHandle == 0) {
      table->remove(surfaceHandle);
      return 0;
    }
    gdi::Surface* surface = table->surface(surfaceHandle);
    surface->selected = bitmapHandle;
    surface->defaultBitmap = bitmapHandle;
    return surfaceHandle;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

HBITMAP CreateDIBSection(HDC /*hdc*/, const BITMAPINFO* pbmi, std::uint32_t usage, void** ppvBits,
                         std::uint64_t /*hSection*/, std::uint32_t /*offset*/) {
  if (ppvBits != nullptr) *ppvBits = nullptr;
  if (pbmi == nullptr || usage != DIB_RGB_COLORS) return 0;
  const BITMAPINFOHEADER& header = pbmi->bmiHeader;
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1) return 0;
  if ((header.biBitCount != 24 && header.biBitCount != 32) || header.biCompression != BI_RGB) {
    return 0;
  }
  if (header.biHeight == 0 || header.biHeight == INT32_MIN) return 0;
  try {
    const std::int32_t rows = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    auto bitmap = gdi::newBitmap(header.biWidth, rows, header.biBitCount);
    if (!bitmap) return 0;
    bitmap->topDown = header.biHeight < 0;
    bitmap->reported.biXPelsPerMeter = header.biXPelsPerMeter;
    bitmap->reported.biYPelsPerMeter = header.biYPelsPerMeter;
    void* bits = bitmap->pixels.data();
    gdi::LockedTable table;
    const HBITMAP handle = table->add(std::move(bitmap));
    if (handle != 0 && ppvBits != nullptr) *ppvBits = bits;
    return handle;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  gdi::LockedTable table;
  gdi::Surface* surface = table->surface(hdc);
  gdi::Bitmap* bitmap = table->bitmap(h);
  if (surface == nullptr || bitmap == nullptr) return 0;
  if (bitmap->selectedInto == hdc) return h;
  if (bitmap->selectedInto != 0) return 0;
  const HBITMAP previous = surface->selected;
  if (gdi::Bitmap* old = table->bitmap(previous)) old->selectedInto = 0;
  bitmap->selectedInto = hdc;
  surface->selected = h;
  return previous;
}

int DeleteObject(HGDIOBJ h) {
  gdi::LockedTable table;
  if (gdi::Bitmap* bitmap = table->bitmap(h)) {
    if (bitmap->selectedInto != 0 || bitmap->owner != 0) return 0;
    table->remove(h);
    return 1;
  }
  gdi::Surface* surface = table->surface(h);
  if (surface == nullptr) return 0;
  if (gdi::Bitmap* selected = table->bitmap(surface->selected)) selected->selectedInto = 0;
  const HBITMAP defaultHandle = surface->defaultBitmap;
  if (gdi::Bitmap* defaultBitmap = table->bitmap(defaultHandle)) {
    // Moved into another surface: it lives on there and becomes an ordinary bitmap.
    if (defaultBitmap->selectedInto != 0) {
      defaultBitmap->owner = 0;
    } else {
      table->remove(defaultHandle);
    }
  }
  table->remove(h);
  return 1;
}

HGDIOBJ LoadImageA(std::uint64_t /*hInst*/, const char* name, std::uint32_t type, int cx, int cy,
                   std::uint32_t fuLoad) {
  if (name == nullptr || type != IMAGE_BITMAP || (fuLoad & LR_LOADFROMFILE) == 0 || cx != 0 ||
      cy != 0) {
    return 0;
  }
  try {
    // Read and decode without the lock: only the finished bitmap enters the table.
    std::optional<BmpPicture> picture = readBmpFile(name, kMaxPicturePixels);
    if (!picture) return 0;
    auto bitmap = std::make_unique<gdi::Bitmap>();
    bitmap->width = picture->width;
    bitmap->height = picture->height;
    bitmap->bitsPerPixel = 24;
    bitmap->stride = picture->stride;
    bitmap->pixels = std::move(picture->bgr);
    BITMAPINFOHEADER& reported = bitmap->reported;
    reported.biSize = sizeof(BITMAPINFOHEADER);
    reported.biWidth = picture->width;
    reported.biHeight = picture->height;
    reported.biPlanes = 1;
    reported.biBitCount = picture->bitCount;
    reported.biCompression = BI_RGB;  // held uncompressed, whatever the file used
    reported.biSizeImage =
        static_cast<std::uint32_t>(gdi::rowBytes(picture->width, picture->bitCount) *
                                   static_cast<std::uint64_t>(picture->height));
    reported.biXPelsPerMeter = picture->xPelsPerMeter;
    reported.biYPelsPerMeter = picture->yPelsPerMeter;
    reported.biClrUsed = picture->colorsUsed;
    gdi::LockedTable table;
    return table->add(std::move(bitmap));
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::size_t gdiObjectCount() {
  gdi::LockedTable table;
  return table->liveCount();
}

}  // namespace platform
