// LoadImageA on any bytes, then GetDIBits on the bitmap it made: headers and rows in both depths,
// both row orders, narrower and wider than the bitmap, from any start row.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/gdi/gdi.h"

namespace {

using namespace platform;

// One memory file for every input: LoadImageA opens it by name like any other file.
class MemoryFile final {
 public:
  MemoryFile() : fd_(::memfd_create("fuzz.bmp", MFD_CLOEXEC)) {
    fuzz::check(fd_ >= 0, "memfd_create");
    name_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  void replace(const std::uint8_t* data, std::size_t size) {
    fuzz::check(::ftruncate(fd_, 0) == 0, "ftruncate");
    std::size_t done = 0;
    while (done < size) {
      const ssize_t written = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      fuzz::check(written > 0, "pwrite");
      done += static_cast<std::size_t>(written);
    }
  }
  const char* name() const { return name_.c_str(); }

 private:
  int fd_;
  std::string name_;
};

std::uint64_t rowBytes(std::int64_t width, int bits) {
  return (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32 * 4;
}

// Copies rows out at `bits` per pixel into a buffer of exactly the size the header describes, so
// that any write past it is caught. Returns the blue-green-red of the rows copied, top row first.
std::vector<std::uint8_t> copyRows(HDC dc, HBITMAP bitmap, int bits, std::int32_t width,
                                   std::int32_t rows, bool topDown, std::uint32_t start,
                                   std::uint32_t lines, std::int32_t bitmapHeight) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = topDown ? -rows : rows;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<std::uint16_t>(bits);
  info.bmiHeader.biCompression = BI_RGB;
  const std::uint64_t stride = rowBytes(width, bits);
  std::vector<std::uint8_t> buffer(stride * static_cast<std::uint64_t>(rows), 0xA5);
  const int copied = GetDIBits(dc, bitmap, start, lines, buffer.data(), &info, DIB_RGB_COLORS);
  const std::int64_t expected = std::min<std::int64_t>(
      {std::int64_t{lines}, std::int64_t{bitmapHeight} - start, std::int64_t{rows}});
  fuzz::check(copied == std::max<std::int64_t>(expected, 0), "GetDIBits copies the rows it can");
  if (copied > 0) {
    fuzz::check(info.bmiHeader.biSizeImage == stride * static_cast<std::uint64_t>(rows),
                "GetDIBits reports the buffer's size");
  }
  // The copied rows in one order, blue-green-red only, for comparing the depths.
  std::vector<std::uint8_t> bgr;
  for (int i = 0; i < copied; ++i) {
    const int row = topDown ? copied - 1 - i : i;
    const std::uint8_t* pixel = buffer.data() + static_cast<std::size_t>(row) * stride;
    for (std::int32_t x = 0; x < width; ++x, pixel += bits / 8)
      bgr.insert(bgr.end(), pixel, pixel + 3);
  }
  return bgr;
}

void readBack(HBITMAP bitmap, std::uint32_t choice) {
  const HDC dc = CreateCompatibleDC(0);
  fuzz::check(dc != 0, "CreateCompatibleDC");
  BITMAPINFO query{};
  query.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  fuzz::check(GetDIBits(dc, bitmap, 0, 0, nullptr, &query, DIB_RGB_COLORS) != 0, "header query");
  const BITMAPINFOHEADER& header = query.bmiHeader;
  fuzz::check(header.biWidth > 0 && header.biHeight > 0, "a bitmap has a size");
  fuzz::check(std::int64_t{header.biWidth} * header.biHeight <= kMaxPicturePixels,
              "a loaded bitmap is within the pixel limit");
  const int bitCount = header.biBitCount;
  fuzz::check(bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 ||
                  bitCount == 32,
              "the file's bit count is one LoadImageA reads");
  fuzz::check(header.biSizeImage ==
                  rowBytes(header.biWidth, bitCount) * static_cast<std::uint64_t>(header.biHeight),
              "the query's image size");

  // A few rows at most: memory stays small whatever the picture's size.
  const std::int32_t height = header.biHeight;
  const std::uint32_t start = choice % static_cast<std::uint32_t>(height);
  const std::int32_t rows =
      static_cast<std::int32_t>(std::min<std::int64_t>(height, 1 + (choice >> 8) % 48));
  std::int32_t width = std::min<std::int32_t>(header.biWidth, 1 << 14);
  if ((choice >> 16) & 1) width = std::max(1, width / 2);
  if ((choice >> 17) & 1) width += 3;  // wider than the bitmap: the extra pixels are left alone
  const std::uint32_t lines = (choice >> 18) & 1 ? static_cast<std::uint32_t>(rows) : 0xFFFFFFFFu;
  const bool topDown = (choice >> 19) & 1;
  const auto at24 = copyRows(dc, bitmap, 24, width, rows, topDown, start, lines, height);
  const auto at32 = copyRows(dc, bitmap, 32, width, rows, !topDown, start, lines, height);
  fuzz::check(at24 == at32, "24 and 32 bits per pixel give the same colours");
  fuzz::check(DeleteObject(dc) == 1, "DeleteObject(dc)");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::startQt(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static MemoryFile file;
  file.replace(data, size);
  const std::size_t objects = gdiObjectCount();
  const HGDIOBJ bitmap =
      LoadImageA(0, file.name(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
  if (bitmap != 0) {
    readBack(bitmap, fuzz::hashOf(data, size));
    fuzz::check(DeleteObject(bitmap) == 1, "DeleteObject(bitmap)");
  }
  fuzz::check(gdiObjectCount() == objects, "every object made is released");
  return 0;
}
