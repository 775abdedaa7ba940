#include "platform/picture/qt/gif_decode.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <mutex>

#include "platform/base/limits.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/resample.h"

namespace platform {
namespace {

constexpr int kBytesPerMegabyte = 1024 * 1024;

QImage decodeFirstFrame(std::span<const std::uint8_t> gif, const GifLayout& layout) {
  allowLargestQtImages();
  const std::vector<std::uint8_t> frame = firstFrameGif(gif, layout);
  QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(frame.data()),
                                             static_cast<qsizetype>(frame.size()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "gif");
  const QImage image = reader.read();
  if (image.isNull() || image.width() != layout.frameWidth ||
      image.height() != layout.frameHeight) {
    raiseError(kErrInvalidPicture);
  }
  return image.convertToFormat(QImage::Format_RGBA8888);
}

}  // namespace

void allowLargestQtImages() {
  static std::once_flag once;
  std::call_once(once, [] {
    const int needed = static_cast<int>(kMaxPicturePixels * 4 / kBytesPerMegabyte + 1);
    const int current = QImageReader::allocationLimit();
    if (current != 0 && current < needed) QImageReader::setAllocationLimit(needed);
  });
}

void installQtGifDecoder() { setGifRenderer(renderGif); }

RgbaImage renderGif(std::span<const std::uint8_t> gif, const GifLayout& layout, int width,
                    int height) {
  const QImage frame = decodeFirstFrame(gif, layout);
  Resampler resampler(
      SourcePixels::kRgbaStraight,
      {width, static_cast<double>(layout.width), layout.frameLeft, layout.frameWidth},
      {height, static_cast<double>(layout.height), layout.frameTop, layout.frameHeight});
  for (int y = 0; y < frame.height(); ++y) resampler.addRow(frame.constScanLine(y));
  return resampler.finish();
}

}  // namespace platform
