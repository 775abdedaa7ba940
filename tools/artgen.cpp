// Draws the program's stored pictures: the 125 x 125 start-up splash (a baseline JFIF 4:2:0 JPEG)
// and the 32 x 32 16-colour icon. Run by hand when the artwork changes; its output is kept in
// app/resources/:
//   QT_QPA_PLATFORM=offscreen build/tools/quorvane-artgen app/resources
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quorvane-artgen FOLDER\n");
    return 2;
  }
  QGuiApplication application(argc, argv);
  const std::string folder = argv[1];
  const bool ok = tools::saveJpeg(drawSplash(), folder + "/splash.jpg", 92) &&
                  drawIcon().save(QString::fromStdString(folder + "/icon.png"));
  if (!ok) std::fprintf(stderr, "quorvane-artgen: cannot write into %s\n", folder.c_str());
  return ok ? 0 : 1;
}
