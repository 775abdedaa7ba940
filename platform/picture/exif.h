// The EXIF facts a picture reader needs: the orientation of the stored pixels, and whether a camera
// says its pixels are Adobe RGB without a profile.
#pragma once

#include <cstdint>
#include <span>

namespace platform {

// The orientation (1-8) in a JPEG APP1 segment's payload ("Exif\0\0" and a TIFF structure), read
// from IFD0's tag 0x0112 in either byte order. 1 (as stored) when absent, malformed or out of
// range.
int exifOrientation(std::span<const std::uint8_t> app1);

// The same from an EXIF block as PNG's eXIf and WebP's EXIF chunks hold it: the TIFF structure
// alone, or after "Exif\0\0" as some writers put it.
int exifBlockOrientation(std::span<const std::uint8_t> block);

// True when the EXIF IFD's ColorSpace is 0xFFFF (uncalibrated) and its interoperability index is
// "R03": the camera convention for Adobe RGB (1998) without an embedded profile.
bool exifSaysAdobeRgb(std::span<const std::uint8_t> app1);

}  // namespace platform
