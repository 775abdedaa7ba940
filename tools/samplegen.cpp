// Makes the folder of sample pictures the program opens on when started from the README:
// JPEGs and GIFs of different shapes, one of them large, one GIF with transparent pixels.
#include <QGuiApplication>
#include <QPainter>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/gif_writer.h"
#include "tools/picture_art.h"

namespace {

tools::GifFrame toFrame(const QImage& image) {
  const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
  tools::GifFrame frame{rgba.width(), rgba.height(), {}};
  for (int y = 0; y < rgba.height(); ++y) {
    frame.rgba.insert(frame.rgba.end(), rgba.constScanLine(y),
                      rgba.constScanLine(y) + qsizetype{rgba.width()} * 4);
  }
  return frame;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quorvane-samplegen FOLDER\n");
    return 2;
  }
  QGuiApplication application(argc, argv);
  const std::string folder = argv[1];
  std::filesystem::create_directories(folder);
  struct Jpeg {
    const char* name;
    int width;
    int height;
  };
  bool ok = true;
  unsigned seed = 1;
  for (const Jpeg& jpeg : {Jpeg{"Lake at dawn.jpg", 640, 480}, Jpeg{"portrait.jpg", 480, 640},
                           Jpeg{"square.jpg", 500, 500}, Jpeg{"panorama.jpg", 2000, 100},
                           Jpeg{"IMG_0002.JPG", 4000, 3000}, Jpeg{"tiny.jpg", 16, 16}}) {
    ok &= tools::saveJpeg(tools::drawScene(jpeg.width, jpeg.height, seed++),
                          folder + "/" + jpeg.name, 85);
  }
  ok &= tools::writeFile(folder + "/banner.gif",
                         tools::encodeGif({toFrame(tools::drawScene(400, 200, seed++))}));
  QImage sticker(200, 300, QImage::Format_ARGB32);
  sticker.fill(Qt::transparent);
  {
    QPainter painter(&sticker);
    painter.setBrush(QColor(220, 40, 120));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(10, 40, 180, 220);
  }
  ok &= tools::writeFile(folder + "/sticker.gif", tools::encodeGif({toFrame(sticker)}, true));
  if (!ok) {
    std::fprintf(stderr, "quorvane-samplegen: cannot write the samples into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
