// cDIBSection: one device-independent bitmap with its pixel buffer in ordinary memory, selected
// into a memory drawing surface of its own. Made blank (Create) or read from a BMP file at 24 bits
// per pixel (Load). Owns its surface and bitmap and releases both in CleanUp, which also runs on
// destruction.
//
// Pixel buffer: |dib_height| rows of BytesPerScanLine bytes, bottom row first for a positive
// height, blue-green-red(-unused) per pixel, each row padded to a multiple of 4 bytes. The address
// from DIBSectionBitsPtr stays valid until the next Create, Load or CleanUp.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gdi/gdi.h"

class cDIBSection final {
 public:
  cDIBSection() = default;
  ~cDIBSection();
  cDIBSection(const cDIBSection&) = delete;
  cDIBSection& operator=(const cDIBSection&) = delete;

  // Makes a DIB section for the given size and channel count (3: 24 bits, anything else: 32) and
  // stores its handle through hDib (0 on failure). The caller owns that bitmap.
  // Raises run-time error 6 when the image size leaves the 32-bit range.
  bool CreateDIB(platform::HDC lhDC, std::int32_t lWidth, std::int32_t lHeight,
                 std::int32_t lChannels, platform::HBITMAP& hDib);
  // A new blank bitmap with its own surface.
  bool Create(std::int32_t lWidth, std::int32_t lHeight, std::int32_t lChannels);
  // The BMP file's picture at 24 bits per pixel; shows "Can't load BMP image" when it cannot be
  // read.
  bool Load(const std::string& Name);

  std::int32_t BytesPerScanLine() const;  // raises run-time error 6 outside the 32-bit range
  std::int32_t dib_width() const { return tInfo.bmiHeader.biWidth; }
  std::int32_t dib_height() const { return tInfo.bmiHeader.biHeight; }
  std::int32_t dib_channels() const;

  // Copies the bitmap onto lhDC. A negative width or height means the bitmap's own.
  void PaintPicture(platform::HDC lhDC, std::int32_t lDestLeft = 0, std::int32_t lDestTop = 0,
                    std::int32_t lDestWidth = -1, std::int32_t lDestHeight = -1,
                    std::int32_t lSrcLeft = 0, std::int32_t lSrcTop = 0,
                    std::int32_t eRop = static_cast<std::int32_t>(platform::SRCCOPY));

  platform::HDC hDC() const { return hSurface; }
  platform::HBITMAP hDib() const { return hDibSection; }
  void* DIBSectionBitsPtr() const { return lBitsPtr; }
  // The header as it stands (for inspection; the class alone writes it).
  const platform::BITMAPINFO& info() const { return tInfo; }

  void CleanUp();

 private:
  platform::HBITMAP hDibSection = 0;
  platform::HGDIOBJ hPrevBitmap = 0;
  platform::HDC hSurface = 0;
  void* lBitsPtr = nullptr;
  platform::BITMAPINFO tInfo{};
};
