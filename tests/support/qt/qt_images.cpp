#include "tests/support/qt/qt_images.h"

namespace testsupport {

RgbImage rgbImageOf(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  RgbImage out{rgb.width(), rgb.height(), {}};
  out.pixels.reserve(static_cast<size_t>(rgb.width()) * rgb.height() * 3);
  for (int y = 0; y < rgb.height(); ++y) {
    out.pixels.insert(out.pixels.end(), rgb.constScanLine(y),
                      rgb.constScanLine(y) + rgb.width() * 3);
  }
  return out;
}

tools::GifFrame gifFrameOf(const QImage& image) {
  const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
  tools::GifFrame frame{rgba.width(), rgba.height(), {}};
  for (int y = 0; y < rgba.height(); ++y) {
    frame.rgba.insert(frame.rgba.end(), rgba.constScanLine(y),
                      rgba.constScanLine(y) + rgba.width() * 4);
  }
  return frame;
}

QColor meanColor(const QImage& image, const QRect& rect) {
  const QRect inside = rect.intersected(image.rect());
  if (inside.isEmpty()) return {};
  const Mean mean = meanOf(rgbImageOf(image.copy(inside)));
  return QColor(static_cast<int>(mean.r), static_cast<int>(mean.g), static_cast<int>(mean.b));
}

}  // namespace testsupport
