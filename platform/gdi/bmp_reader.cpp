#include "platform/gdi/bmp_reader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <span>

#include "platform/base/file_io.h"
#include "platform/gdi/bmp_format.h"

namespace platform {

std::optional<BmpPicture> readBmpFile(const char* path, std::int64_t maxPixels) {
  try {
    // Non-blocking open: a FIFO or device name must fail at once, not wait for a writer.
    const FileDescriptor file(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
      return std::nullopt;
    }
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    std::vector<std::uint8_t> head(std::min<std::uint64_t>(fileSize, bmp::kMaxHeadBytes));
    if (!readAt(file.get(), 0, head.data(), head.size())) return std::nullopt;
    const std::optional<bmp::Layout> layout = bmp::parseLayout(head, fileSize, maxPixels);
    if (!layout) return std::nullopt;

    std::vector<std::uint8_t> data(layout->dataSize);
    if (!readAt(file.get(), layout->dataOffset, data.data(), data.size())) return std::nullopt;

    BmpPicture picture;
    picture.width = layout->width;
    picture.height = layout->height;
    picture.bitCount = layout->bitCount;
    picture.xPelsPerMeter = layout->xPelsPerMeter;
    picture.yPelsPerMeter = layout->yPelsPerMeter;
    picture.colorsUsed = static_cast<std::uint32_t>(layout->palette.size());
    picture.stride = (static_cast<std::size_t>(layout->width) * 3 + 3) & ~std::size_t{3};
    picture.bgr.assign(picture.stride * static_cast<std::size_t>(layout->height), 0);
    if (layout->runLength()) {
      if (!bmp::decodeRunLength(*layout, data, picture.bgr.data(), picture.stride)) {
        return std::nullopt;
      }
    } else if (layout->masked()) {
      bmp::decodeMasked(*layout, data, picture.bgr.data(), picture.stride);
    } else {
      if (!bmp::indicesInPalette(*layout, data)) return std::nullopt;
      bmp::decodeUncompressed(*layout, data, picture.bgr.data(), picture.stride);
    }
    return picture;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace platform
