#include "imaging/cDIBSection.h"

#include <cmath>
#include <cstdint>

#include "platform/base/runtime_error.h"
#include "platform/base/strconv.h"
#include "platform/dialogs/msgbox.h"

namespace {

// A Double converted to a Long as the runtime does it: halves go to the even neighbour, and a
// result outside the 32-bit range is an Overflow.
std::int32_t toLong(double value) {
  double rounded = std::round(value);
  if (std::fabs(value - std::trunc(value)) == 0.5) rounded = 2.0 * std::round(value / 2.0);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
    platform::raiseError(platform::kErrOverflow);
  }
  return static_cast<std::int32_t>(rounded);
}

}  // namespace

cDIBSection::~cDIBSection() { CleanUp(); }

bool cDIBSection::CreateDIB(platform::HDC lhDC, std::int32_t lWidth, std::int32_t lHeight,
                            std::int32_t lChannels, platform::HBITMAP& hDib) {
  platform::BITMAPINFOHEADER& header = tInfo.bmiHeader;
  header.biSize = sizeof(platform::BITMAPINFOHEADER);
  header.biWidth = lWidth;
  header.biHeight = lHeight;
  header.biPlanes = 1;
  header.biBitCount = lChannels == 3 ? 24 : 32;
  header.biCompression = platform::BI_RGB;
  const std::int64_t sizeImage = std::int64_t{BytesPerScanLine()} * header.biHeight;
  if (sizeImage < INT32_MIN || sizeImage > INT32_MAX) platform::raiseError(platform::kErrOverflow);
  // The field holds the signed product's 32 bits, as a Long would.
  header.biSizeImage = static_cast<std::uint32_t>(static_cast<std::int32_t>(sizeImage));
  hDib = platform::CreateDIBSection(lhDC, &tInfo, platform::DIB_RGB_COLORS, &lBitsPtr, 0, 0);
  return hDib != 0;
}

bool cDIBSection::Create(std::int32_t lWidth, std::int32_t lHeight, std::int32_t lChannels) {
  CleanUp();
  hSurface = platform::CreateCompatibleDC(0);
  if (hSurface == 0) return false;
  if (CreateDIB(hSurface, lWidth, lHeight, lChannels, hDibSection)) {
    hPrevBitmap = platform::SelectObject(hSurface, hDibSection);
    return true;
  }
  platform::DeleteObject(hSurface);
  hSurface = 0;
  return false;
}

bool cDIBSection::Load(const std::string& Name) {
  CleanUp();  // leaves biBitCount 0, which makes the first GetDIBits a header query
  hSurface = platform::CreateCompatibleDC(0);
  if (hSurface == 0) return false;
  const std::string fileName = platform::StrConv(Name, platform::vbFromUnicode);
  const platform::HBITMAP hLoaded =
      platform::LoadImageA(0, fileName.c_str(), platform::IMAGE_BITMAP, 0, 0,
                           platform::LR_LOADFROMFILE | platform::LR_CREATEDIBSECTION);
  if (hLoaded == 0) {
    platform::DeleteObject(hSurface);
    hSurface = 0;
    platform::MsgBox("Can't load BMP image", platform::vbOKOnly);
    return false;
  }

  platform::BITMAPINFOHEADER& header = tInfo.bmiHeader;
  header.biSize = sizeof(platform::BITMAPINFOHEADER);
  platform::GetDIBits(hSurface, hLoaded, 0, 0, nullptr, &tInfo, platform::DIB_RGB_COLORS);
  header.biBitCount = 24;
  header.biCompression = platform::BI_RGB;
  header.biClrUsed = 0;
  header.biClrImportant = 0;

  hDibSection =
      platform::CreateDIBSection(hSurface, &tInfo, platform::DIB_RGB_COLORS, &lBitsPtr, 0, 0);
  if (hDibSection == 0) {
    platform::DeleteObject(hLoaded);
    platform::DeleteObject(hSurface);
    hSurface = 0;
    return false;
  }
  hPrevBitmap = platform::SelectObject(hSurface, hDibSection);

  header.biSize = sizeof(platform::BITMAPINFOHEADER);
  platform::GetDIBits(hSurface, hLoaded, 0, static_cast<std::uint32_t>(header.biHeight), lBitsPtr,
                      &tInfo, platform::DIB_RGB_COLORS);
  platform::DeleteObject(hLoaded);
  return true;
}

std::int32_t cDIBSection::BytesPerScanLine() const {
  const platform::BITMAPINFOHEADER& header = tInfo.bmiHeader;
  const double length = header.biBitCount / 8.0 * header.biWidth + 3.0;
  return toLong(length) & ~std::int32_t{3};
}

std::int32_t cDIBSection::dib_channels() const { return toLong(tInfo.bmiHeader.biBitCount / 8.0); }

void cDIBSection::PaintPicture(platform::HDC lhDC, std::int32_t lDestLeft, std::int32_t lDestTop,
                               std::int32_t lDestWidth, std::int32_t lDestHeight,
                               std::int32_t lSrcLeft, std::int32_t lSrcTop, std::int32_t eRop) {
  const std::int32_t width = lDestWidth < 0 ? tInfo.bmiHeader.biWidth : lDestWidth;
  const std::int32_t height = lDestHeight < 0 ? tInfo.bmiHeader.biHeight : lDestHeight;
  platform::BitBlt(lhDC, lDestLeft, lDestTop, width, height, hSurface, lSrcLeft, lSrcTop,
                   static_cast<std::uint32_t>(eRop));
}

void cDIBSection::CleanUp() {
  if (hSurface != 0) {
    if (hDibSection != 0) {
      platform::SelectObject(hSurface, hPrevBitmap);
      platform::DeleteObject(hDibSection);
    }
    platform::DeleteObject(hSurface);
  }
  hSurface = 0;
  hDibSection = 0;
  hPrevBitmap = 0;
  lBitsPtr = nullptr;
  tInfo.bmiColors[0] = platform::RGBQUAD{};
  platform::BITMAPINFOHEADER& header = tInfo.bmiHeader;
  header.biSize = sizeof(platform::BITMAPINFOHEADER);
  header.biWidth = 0;
  header.biHeight = 0;
  header.biPlanes = 0;
  header.biBitCount = 0;
  header.biClrUsed = 0;
  header.biClrImportant = 0;
  header.biCompression = 0;
}
