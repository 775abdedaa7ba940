// Reading a Windows BMP file into 24-bit pixels. Plain C++ and POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

struct BmpPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;         // rows, positive
  std::uint16_t bitCount = 0;      // the file's bits per pixel
  std::int32_t xPelsPerMeter = 0;  // the file's resolution (0 for an OS/2 1.x header)
  std::int32_t yPelsPerMeter = 0;
  std::uint32_t colorsUsed = 0;   // palette entries of an indexed file, else 0
  std::size_t stride = 0;         // bytes a row: 3 x width rounded up to a multiple of 4
  std::vector<std::uint8_t> bgr;  // bottom-up rows of blue, green, red
};

// nullopt when the file is missing, unreadable, not a regular file, not a BMP file this reader
// handles, inconsistent with its own headers, or larger than maxPixels. Memory use is bounded by
// the declared picture, which is checked against maxPixels and the file's size first: the rows of
// an uncompressed picture must all be in the file. An RLE stream may end early (the rest shows
// palette entry 0), so an RLE picture is held to maxPixels alone.
std::optional<BmpPicture> readBmpFile(const char* path, std::int64_t maxPixels);

}  // namespace platform
