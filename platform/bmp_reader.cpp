#include "platform/bmp_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <span>

#include "platform/file_descriptor.h"
#include "platform/bmp_format.h"

namespace platform {
namespace {

bool readAt(int fd, std::uint64_t offset, char* out, std::size_t size) {
  while (size > 0) {
    const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // an error, or the file shrank under us
    out += got;
    offset += static_cast<std::uint64_t>(got);
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// Qt refuses to decode above a process-wide allocation limit (128 MB by default). Raise it as far
// as our own pixel limit needs, never lower it: other readers in the process keep their bound.
void allowDecodingUpTo(std::int64_t maxPixels) {
  static std::mutex mutex;
  static std::int64_t raisedTo = 0;
  const std::int64_t neededMb = (maxPixels * 4 + (1 << 20) - 1) >> 20;  // 32 bits a pixel
  std::lock_guard lock(mutex);
  if (neededMb <= raisedTo) return;
  const int current = QImageReader::allocationLimit();
  if (current != 0 && current < neededMb) {
    QImageReader::setAllocationLimit(static_cast<int>(std::min<std::int64_t>(neededMb, INT32_MAX)));
  }
  raisedTo = neededMb;
}

void putLittleEndian(char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>(value >> (8 * i));
}

// Qt decodes the uncompressed indexed, 24-bit and 32-bit kinds. It is given the headers followed at once by the
// pixel rows (the data offset rewritten to match), so it never reads a gap or trailer of the file.
bool decodeWithQt(const bmp::Layout& layout, const QByteArray& file, BmpPicture& picture) {
  QBuffer buffer;
  buffer.setData(file);
  if (!buffer.open(QIODevice::ReadOnly)) return false;
  QImageReader reader(&buffer, "bmp");
  QImage image;
  if (!reader.read(&image)) return false;
  if (image.width() != layout.width || image.height() != layout.height) return false;
  if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB) {
    image = image.convertToFormat(QImage::Format_Indexed8);
  } else if (image.format() != QImage::Format_Indexed8 && image.format() != QImage::Format_RGB32 &&
             image.format() != QImage::Format_ARGB32) {
    image = image.convertToFormat(QImage::Format_RGB32);
  }
  if (image.isNull()) return false;
  const QList<QRgb> colors = image.colorTable();
  const bool indexed = image.format() == QImage::Format_Indexed8;
  if (indexed && colors.isEmpty()) return false;
  for (int y = 0; y < layout.height; ++y) {
    std::uint8_t* out =
        picture.bgr.data() + static_cast<std::size_t>(layout.height - 1 - y) * picture.stride;
    const uchar* in = image.constScanLine(y);
    for (int x = 0; x < layout.width; ++x, out += 3) {
      // Alpha, where the file has it, is dropped: the colour values are kept as stored.
      const QRgb color = indexed ? colors[std::min<qsizetype>(in[x], colors.size() - 1)]
                                 : reinterpret_cast<const QRgb*>(in)[x];
      out[0] = static_cast<std::uint8_t>(qBlue(color));
      out[1] = static_cast<std::uint8_t>(qGreen(color));
      out[2] = static_cast<std::uint8_t>(qRed(color));
    }
  }
  return true;
}

}  // namespace

std::optional<BmpPicture> readBmpFile(const char* path, std::int64_t maxPixels) {
  try {
    // Non-blocking open: a FIFO or device name must fail at once, not wait for a writer.
    FileDescriptor file(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
      return std::nullopt;
    }
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    std::vector<std::uint8_t> head(std::min<std::uint64_t>(fileSize, bmp::kMaxHeadBytes));
    if (!readAt(file.get(), 0, reinterpret_cast<char*>(head.data()), head.size())) {
      return std::nullopt;
    }
    const std::optional<bmp::Layout> layout = bmp::parseLayout(head, fileSize, maxPixels);
    if (!layout) return std::nullopt;

    QByteArray bytes(static_cast<qsizetype>(layout->headBytes + layout->dataSize), Qt::Uninitialized);
    std::memcpy(bytes.data(), head.data(), layout->headBytes);
    char* data = bytes.data() + layout->headBytes;
    if (!readAt(file.get(), layout->dataOffset, data, layout->dataSize)) return std::nullopt;
    putLittleEndian(bytes.data() + 2, static_cast<std::uint32_t>(bytes.size()));
    putLittleEndian(bytes.data() + 10, static_cast<std::uint32_t>(layout->headBytes));
    const std::span<const std::uint8_t> pixels(reinterpret_cast<const std::uint8_t*>(data),
                                               layout->dataSize);

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
      // Qt's RLE reader clips broken codes silently and leaves skipped pixels unset; ours refuses
      // the first and fills the second.
      if (!bmp::decodeRunLength(*layout, pixels, picture.bgr.data(), picture.stride)) {
        return std::nullopt;
      }
    } else if (layout->masked()) {
      // Qt 6.4 widens 5-bit channels to 248 at most and reads channels wider than 8 bits as 0.
      bmp::decodeMasked(*layout, pixels, picture.bgr.data(), picture.stride);
    } else {
      if (!bmp::indicesInPalette(*layout, pixels)) return std::nullopt;
      allowDecodingUpTo(maxPixels);
      if (!decodeWithQt(*layout, bytes, picture)) return std::nullopt;
    }
    return picture;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace platform
