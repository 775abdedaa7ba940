// Pictures, the picture box (the canvas) and the file operations on pictures.
#include <fcntl.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QFrame>
#include <QPainter>
#include <cerrno>
#include <cmath>

#include "platform/forms_impl.h"
#include "platform/gdi.h"
#include "platform/runtime_error.h"

namespace platform {
namespace {

// The picture box's sunken frame: 2 pixels on each side.
constexpr int kFramePixels = 2;
// Twips that the drawing area is smaller than the box's Width and Height.
constexpr double kFrameTwips = 55;

class CanvasFrame final : public QFrame {
 public:
  explicit CanvasFrame(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  }
  QImage image;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), image);
  }
};

struct PictureBoxImpl final : Control::Impl {
  explicit PictureBoxImpl(CanvasFrame* frame) : Impl(frame), canvas(frame) {}
  CanvasFrame* canvas;
  Color backColor;
  Picture background;
};

PictureBoxImpl& boxOf(const Control& control) { return static_cast<PictureBoxImpl&>(control.impl()); }

// The drawing area, in whole pixels, for a box of this many twips: halves up, at least 1.
int areaPixels(double twips) { return std::max(1, twipsToPixels(twips - kFrameTwips)); }

// A canvas or drawing this large is refused before anything is allocated.
void checkBitmapSize(int width, int height) {
  if (width > kMaxRenderSide || height > kMaxRenderSide ||
      std::int64_t{width} * height > kMaxBitmapPixels) {
    raiseError(kErrCantCreateAutoRedrawImage,
               "Can't create AutoRedraw image: " + std::to_string(width) + " x " +
                   std::to_string(height) + " pixels is over the limit of " +
                   std::to_string(kMaxRenderSide) + " a side and " +
                   std::to_string(kMaxBitmapPixels / 1'000'000) + " megapixels");
  }
}

// A drawing whose far edge rounds to within a pixel of the drawing area's edge is taken to that
// edge: the area and the drawing are rounded from the same twips by different routes (the
// canvas's size is a Single), and rounding must never leave a strip of background showing.
int reachEdge(int start, int length, int areaLength) {
  return std::abs(start + length - areaLength) == 1 ? areaLength - start : length;
}

QImage compositeOver(const RgbaImage& rgba, Color back) {
  QImage image(rgba.width, rgba.height, QImage::Format_RGB32);
  const std::uint8_t* source = rgba.pixels.data();
  for (int y = 0; y < rgba.height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < rgba.width; ++x, source += 4) {
      const int alpha = source[3];
      const auto over = [alpha](int top, int bottom) {
        return (top * alpha + bottom * (255 - alpha) + 127) / 255;
      };
      row[x] = qRgb(over(source[0], back.red), over(source[1], back.green),
                    over(source[2], back.blue));
    }
  }
  return image;
}

// The picture drawn at exactly width x height pixels, transparent pixels on the back colour.
QImage drawnBitmap(const Picture& picture, int width, int height, Color back) {
  const Picture::Data& data = *picture.data();
  if (data.encoded) return compositeOver(renderPicture(*data.encoded, width, height), back);
  if (data.bitmap.width() == width && data.bitmap.height() == height) return data.bitmap;
  return data.bitmap.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void paintBackground(PictureBoxImpl& box, QImage& image) {
  image.fill(toQColor(box.backColor));
  if (box.background.isEmpty()) return;
  QPainter painter(&image);
  painter.drawImage(0, 0, pictureBitmap(box.background));
}

void writeWhole(int fd, const QByteArray& bytes, const std::string& path) {
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
    if (written < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      raiseFileError(error, path);
    }
    data += written;
    left -= written;
  }
}

}  // namespace

// ---- Picture

Picture::Picture() = default;
Picture::~Picture() = default;
Picture::Picture(const Picture&) = default;
Picture& Picture::operator=(const Picture&) = default;
Picture::Picture(std::shared_ptr<const Data> data) : data_(std::move(data)) {}
bool Picture::isEmpty() const { return data_ == nullptr; }
int Picture::pixelWidth() const { return data_ ? data_->width : 0; }
int Picture::pixelHeight() const { return data_ ? data_->height : 0; }

QImage pictureBitmap(const Picture& picture) {
  if (picture.isEmpty()) return {};
  return drawnBitmap(picture, picture.pixelWidth(), picture.pixelHeight(), Color{});
}

namespace {
Picture fromEncoded(std::shared_ptr<const EncodedPicture> encoded) {
  auto data = std::make_shared<Picture::Data>();
  const PictureInfo& facts = encoded->info();
  data->width = facts.width;
  data->height = facts.height;
  data->encoded = std::move(encoded);
  return Picture(std::move(data));
}
}  // namespace

Picture LoadPicture(const std::string& path) { return fromEncoded(loadPicture(path)); }

Picture LoadPictureFromResource(const std::string& resourcePath) {
  QFile file(QString::fromStdString(resourcePath));
  if (!file.open(QIODevice::ReadOnly)) raiseError(kErrFileNotFound);
  const QByteArray bytes = file.readAll();
  return fromEncoded(loadPictureFromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
}

void SavePicture(const Picture& picture, const std::string& path) {
  if (picture.isEmpty()) raiseError(kErrInvalidPicture);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!pictureBitmap(picture).convertToFormat(QImage::Format_RGB888).save(&buffer, "BMP")) {
    raiseError(kErrInvalidPicture);
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) raiseFileError(errno, path);
  writeWhole(fd, bytes, path);
  if (::close(fd) != 0) raiseFileError(errno, path);
}

void Kill(const std::string& path) {
  if (::unlink(path.c_str()) != 0) raiseFileError(errno, path);
}

// ---- PictureBox

PictureBox::PictureBox(Form& form)
    : Control(std::make_unique<PictureBoxImpl>(new CanvasFrame(form.impl().window.get()))) {
  form.impl().tabStops.push_back(this);
  impl().widget->setFocusPolicy(Qt::TabFocus);
}

PictureBox::~PictureBox() = default;

void PictureBox::applyGeometry(float left, float top, float width, float height) {
  if (width < 0 || height < 0) raiseError(kErrInvalidPropertyValue);
  const int areaWidth = areaPixels(width);
  const int areaHeight = areaPixels(height);
  checkBitmapSize(areaWidth, areaHeight);
  PictureBoxImpl& box = boxOf(*this);
  if (box.canvas->image.size() != QSize(areaWidth, areaHeight)) {
    QImage image(areaWidth, areaHeight, QImage::Format_RGB32);
    paintBackground(box, image);
    if (!box.canvas->image.isNull()) QPainter(&image).drawImage(0, 0, box.canvas->image);
    box.canvas->image = image;
  }
  box.canvas->setGeometry(twipsToPixels(left), twipsToPixels(top), areaWidth + 2 * kFramePixels,
                          areaHeight + 2 * kFramePixels);
  box.canvas->update();
}

void PictureBox::setBackColor(Color color) {
  boxOf(*this).backColor = color;
  Cls();
}

Color PictureBox::BackColor() const { return boxOf(*this).backColor; }

Picture PictureBox::picture() const { return boxOf(*this).background; }

void PictureBox::setPicture(const Picture& picture) {
  boxOf(*this).background = picture;
  Cls();
}

Picture PictureBox::Image() const {
  auto data = std::make_shared<Picture::Data>();
  data->bitmap = boxOf(*this).canvas->image;
  data->width = data->bitmap.width();
  data->height = data->bitmap.height();
  return Picture(std::move(data));
}

void PictureBox::Cls() {
  PictureBoxImpl& box = boxOf(*this);
  paintBackground(box, box.canvas->image);
  box.canvas->update();
}

void PictureBox::PaintPicture(const Picture& picture, double x, double y, double width,
                              double height) {
  if (picture.isEmpty()) raiseError(kErrInvalidPicture);
  if (!(width > 0) || !(height > 0)) {
    raiseError(kErrInvalidProcedureCall,
               "Invalid procedure call or argument: nothing to draw at a size of 0 or less");
  }
  PictureBoxImpl& box = boxOf(*this);
  const int left = twipsToPixels(x);
  const int top = twipsToPixels(y);
  const int drawnWidth = reachEdge(left, std::max(1, twipsToPixels(width)), box.canvas->image.width());
  const int drawnHeight =
      reachEdge(top, std::max(1, twipsToPixels(height)), box.canvas->image.height());
  checkBitmapSize(drawnWidth, drawnHeight);
  const QImage drawn = drawnBitmap(picture, drawnWidth, drawnHeight, box.backColor);
  QPainter(&box.canvas->image).drawImage(left, top, drawn);
  box.canvas->update();
}

int PictureBox::ScalePixelWidth() const { return boxOf(*this).canvas->image.width(); }

int PictureBox::ScalePixelHeight() const { return boxOf(*this).canvas->image.height(); }

}  // namespace platform
