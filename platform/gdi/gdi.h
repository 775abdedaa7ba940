// The graphics layer: memory drawing surfaces, device-independent bitmaps (DIB sections),
// reading BMP files, converting and copying bitmaps. Plain C++, no toolkit types.
//
// Handles are opaque numbers wide enough for a 64-bit machine. Every call checks the handles it
// is given: 0, a stale handle (already deleted) or a handle of the wrong kind makes the call fail
// (it returns 0 or does nothing); it never crashes. Handles carry an index, a generation and a
// kind: deleting an object moves its slot's generation on, so an old handle stops matching. All
// functions may be called from several threads; one lock guards the objects.
//
// Bitmaps hold 24 or 32 bits per pixel in memory. No bitmap may exceed kMaxPicturePixels
// pixels (base/limits.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/base/limits.h"

namespace platform {

using HGDIOBJ = std::uint64_t;
using HDC = HGDIOBJ;
using HBITMAP = HGDIOBJ;

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
  std::uint32_t biClrImportant;
};

struct RGBQUAD {
  std::uint8_t rgbBlue;
  std::uint8_t rgbGreen;
  std::uint8_t rgbRed;
  std::uint8_t rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(BITMAPINFO) == 44);

inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr std::uint32_t DIB_RGB_COLORS = 0;
inline constexpr std::uint32_t IMAGE_BITMAP = 0;
inline constexpr std::uint32_t LR_LOADFROMFILE = 0x0010;
inline constexpr std::uint32_t LR_CREATEDIBSECTION = 0x2000;
inline constexpr std::uint32_t SRCCOPY = 0x00CC0020;

// A new memory surface holding a 1 x 1 default bitmap; 0 on failure. hdc is ignored (screen).
HDC CreateCompatibleDC(HDC hdc);

// A new bitmap in the format the header describes (positive height: bottom-up rows; 24 or 32 bits
// per pixel, BI_RGB), rows padded to a multiple of 4 bytes; writes the buffer's address to *ppvBits
// (nullptr on failure). Returns 0 for a header it cannot make (other depths, compression, a size
// above the pixel limit) or when memory runs out. hdc, hSection and offset are ignored.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, std::uint32_t usage, void** ppvBits,
                         std::uint64_t hSection, std::uint32_t offset);

// Makes the bitmap the surface's drawing target; returns the bitmap selected before, 0 on failure.
// A bitmap is selected into one surface at a time: selecting one held by another surface fails.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);

// Releases a bitmap or a memory surface. Nonzero on success. Deleting a surface also frees its
// default bitmap. A bitmap that is selected into a surface, or is a live surface's default bitmap,
// is not deleted (0): select it out first, so no surface is ever left drawing into freed memory.
int DeleteObject(HGDIOBJ h);

// Query form (lpvBits null, biBitCount 0): fills in the 40-byte header from the bitmap (width,
// positive height, planes 1, bit count, BI_RGB, image size, resolution, colour counts; a bitmap
// read from a file reports the file's bit count and resolution). Writes nothing beyond 40 bytes.
// With lpvBits null and biBitCount 24 or 32 only width, height, planes and biSizeImage are filled.
// Copy form: copies cLines rows starting at row start (bottom row = row 0), never more rows than
// the bitmap has nor than |biHeight|, into lpvBits converted to the header's format (24 or 32 bits,
// BI_RGB, biWidth pixels a row, bottom-up unless biHeight is negative), and sets biSizeImage to
// that format's size. Returns the number of rows copied (query: nonzero on success), 0 on failure.
// hdc must be a live surface.
int GetDIBits(HDC hdc, HBITMAP hbm, std::uint32_t start, std::uint32_t cLines, void* lpvBits,
              BITMAPINFO* lpbmi, std::uint32_t usage);

// Block transfer from hdcSrc's bitmap to hdcDest's, clipped to both; (x, y) and (x1, y1) count from
// the top left. SRCCOPY is a plain copy; any raster operation of source and destination alone
// (SRCAND, SRCINVERT, NOTSRCCOPY, BLACKNESS ...) is done bit by bit on blue, green and red; one
// that needs a brush is ignored (0). Nonzero on success.
int BitBlt(HDC hdcDest, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1,
           std::uint32_t rop);

// With LR_LOADFROMFILE (| LR_CREATEDIBSECTION) and type IMAGE_BITMAP: reads the BMP file named by
// the NUL-terminated UTF-8 name into a new bitmap of its own size and depth. Returns 0 when the
// file is missing, unreadable, not a BMP file, or larger than the pixel limit. Accepts 1, 4, 8, 16,
// 24 and 32 bits per pixel, RLE4, RLE8 and bit fields, bottom-up and top-down rows, OS/2 and
// Windows 3 to 5 headers; rejects a file whose fields disagree with it (sizes, offsets, masks,
// palette indices, RLE codes that leave the picture). cx and cy must be 0 (the picture's own size).
HGDIOBJ LoadImageA(std::uint64_t hInst, const char* name, std::uint32_t type, int cx, int cy,
                   std::uint32_t fuLoad);

// The number of live surfaces and bitmaps in the process (default bitmaps included), so that tests
// can show that every object made is released.
std::size_t gdiObjectCount();

}  // namespace platform
