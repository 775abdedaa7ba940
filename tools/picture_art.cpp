#include "tools/picture_art.h"

#include <turbojpeg.h>

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <fstream>
#include <memory>

namespace tools {

bool saveJpeg(const QImage& image, const std::string& path, int quality) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  std::unique_ptr<void, int (*)(tjhandle)> compressor(tjInitCompress(), tjDestroy);
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int result = tjCompress2(compressor.get(), rgb.constBits(), rgb.width(),
                                 static_cast<int>(rgb.bytesPerLine()), rgb.height(), TJPF_RGB,
                                 &jpeg, &size, TJSAMP_420, quality, 0);
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(jpeg, tjFree);
  if (result != 0) return false;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(jpeg), static_cast<std::streamsize>(size));
  return static_cast<bool>(file);
}

QImage drawScene(int width, int height, unsigned seed) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, height);
  sky.setColorAt(0, QColor::fromHsv(static_cast<int>(200 + seed * 37 % 60), 160, 230));
  sky.setColorAt(1, QColor::fromHsv(static_cast<int>(30 + seed * 53 % 40), 90, 250));
  painter.fillRect(image.rect(), sky);
  const int sun = std::max(4, std::min(width, height) / 4);
  painter.setBrush(QColor(255, 210, 60));
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(width * 2 / 3, height / 8, sun, sun);
  QPainterPath hills;
  hills.moveTo(0, height);
  for (int x = 0; x <= width; x += std::max(1, width / 12)) {
    hills.lineTo(x, height * (0.65 + 0.12 * ((x * 7 + static_cast<int>(seed) * 13) % 5) / 4.0));
  }
  hills.lineTo(width, height);
  painter.setBrush(QColor::fromHsv(static_cast<int>(90 + seed * 29 % 50), 170, 140));
  painter.drawPath(hills);
  painter.setPen(QPen(QColor(120, 30, 30), std::max(1, std::min(width, height) / 100)));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(image.rect().adjusted(0, 0, -1, -1));
  return image;
}

}  // namespace tools
