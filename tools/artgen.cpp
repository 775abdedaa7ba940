// Draws the program's pictures: the 125 x 125 start-up splash (a baseline JFIF 4:2:0 JPEG) and the
// 32 x 32 16-colour icon, run by hand when the artwork changes and kept in app/resources/:
//   QT_QPA_PLATFORM=offscreen build/tools/quorvane-artgen app/resources
// and the icon's larger renditions for menus and software centres, made by the build:
//   quorvane-artgen --icon SIZE FILE.png
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/picture_art.h"

namespace {

QImage drawSplash() {
  QImage image(125, 125, QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QRadialGradient flare(QPointF(84, 36), 46);
  flare.setColorAt(0, QColor(255, 250, 225));
  flare.setColorAt(0.18, QColor(255, 205, 120, 220));
  flare.setColorAt(0.5, QColor(120, 70, 160, 90));
  flare.setColorAt(1, QColor(0, 0, 0, 0));
  painter.fillRect(image.rect(), flare);
  painter.setPen(QPen(QColor(255, 235, 200, 150), 1));
  for (int i = 0; i < 8; ++i) {  // the flare's rays
    const double angle = i * M_PI / 4 + 0.2;
    painter.drawLine(QPointF(84, 36),
                     QPointF(84 + 40 * std::cos(angle), 36 + 40 * std::sin(angle)));
  }
  QFont name("DejaVu Sans");
  name.setPixelSize(20);
  name.setBold(true);
  painter.setFont(name);
  painter.setPen(QColor(235, 235, 245));
  painter.drawText(QRect(0, 72, 125, 26), Qt::AlignHCenter, "Quorvane");
  QFont version("DejaVu Sans");
  version.setPixelSize(11);
  painter.setFont(version);
  painter.setPen(QColor(170, 170, 190));
  painter.drawText(QRect(0, 100, 118, 16), Qt::AlignRight, "1.00");
  return image;
}

// Rainbow paint streaks running down from the top edge over white, in the 16 classic colours.
QImage drawIcon() {
  const QVector<QRgb> classic = {
      qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
      qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
      qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
      qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
  QImage icon(32, 32, QImage::Format_Indexed8);
  icon.setColorTable(classic);
  icon.fill(15);
  const int streakColours[] = {9, 11, 10, 14, 12, 13};
  const int lengths[] = {26, 18, 30, 22, 14, 24};
  for (int streak = 0; streak < 6; ++streak) {
    const int left = 1 + streak * 5;
    for (int y = 0; y < lengths[streak]; ++y) {
      for (int x = left; x < left + 5; ++x) {
        const bool drip = y > lengths[streak] - 5 && (x == left || x == left + 4);
        if (!drip) icon.setPixel(x, y, streakColours[streak]);
      }
    }
    icon.setPixel(left + 2, lengths[streak], streakColours[streak]);  // a drop at the end
  }
  return icon;
}

// The same streaks drawn smoothly at any size, for the menus' larger icons: each a bar narrowing to
// a rounded drip, with its drop below, on a white tile.
QImage drawLargeIcon(int size) {
  const QColor colours[] = {Qt::red, Qt::yellow, Qt::green, Qt::cyan, Qt::blue, Qt::magenta};
  const int lengths[] = {26, 18, 30, 22, 14, 24};
  const double unit = size / 32.0;  // one pixel of the 32 x 32 icon
  QImage icon(size, size, QImage::Format_ARGB32);
  icon.fill(Qt::white);
  QPainter painter(&icon);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  for (int streak = 0; streak < 6; ++streak) {
    painter.setBrush(colours[streak]);
    const double left = (1 + streak * 5) * unit;
    const double drip = (lengths[streak] - 4) * unit;  // where the streak narrows
    painter.drawRect(QRectF(left, 0, 5 * unit, drip));
    painter.drawRoundedRect(QRectF(left + unit, drip - unit, 3 * unit, 4.4 * unit), 1.5 * unit,
                            1.5 * unit);
    painter.drawEllipse(QPointF(left + 2.5 * unit, (lengths[streak] + 0.55) * unit), 0.8 * unit,
                        0.8 * unit);
  }
  return icon;
}

int drawIconFile(const std::string& sizeText, const std::string& path) {
  const int size = std::atoi(sizeText.c_str());
  if (size < 32 || size > 1024) {
    std::fprintf(stderr, "quorvane-artgen: icon size %s is not 32 to 1024\n", sizeText.c_str());
    return 2;
  }
  const QImage icon = size == 32 ? drawIcon() : drawLargeIcon(size);
  if (icon.save(QString::fromStdString(path), "PNG")) return 0;
  std::fprintf(stderr, "quorvane-artgen: cannot write %s\n", path.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool icon = argc == 4 && std::string(argv[1]) == "--icon";
  if (argc != 2 && !icon) {
    std::fprintf(stderr,
                 "usage: quorvane-artgen FOLDER\n       quorvane-artgen --icon SIZE FILE\n");
    return 2;
  }
  QGuiApplication application(argc, argv);
  if (icon) return drawIconFile(argv[2], argv[3]);
  const std::string folder = argv[1];
  const bool ok = tools::saveJpeg(drawSplash(), folder + "/splash.jpg", 92) &&
                  drawIcon().save(QString::fromStdString(folder + "/icon.png"));
  if (!ok) std::fprintf(stderr, "quorvane-artgen: cannot write into %s\n", folder.c_str());
  return ok ? 0 : 1;
}
