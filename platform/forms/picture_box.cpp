// The picture box: the canvas, whose drawing always goes into its persistent bitmap.
#include <QFrame>
#include <QPainter>
#include <algorithm>

#include "platform/base/runtime_error.h"
#include "platform/forms/forms_impl.h"
#include "platform/picture/canvas.h"

namespace platform {
namespace {

// The picture box's sunken frame: 2 pixels on each side.
constexpr int kFramePixels = 2;

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

PictureBoxImpl& boxOf(const Control& control) {
  return static_cast<PictureBoxImpl&>(control.impl());
}

void paintBackground(PictureBoxImpl& box, QImage& image) {
  image.fill(toQColor(box.backColor));
  if (box.background.isEmpty()) return;
  QPainter painter(&image);
  painter.drawImage(0, 0, pictureBitmap(box.background));
}

}  // namespace

PictureBox::PictureBox(Form& form)
    : Control(std::make_unique<PictureBoxImpl>(new CanvasFrame(form.impl().window.get()))) {
  form.impl().tabStops.push_back(this);
  impl().widget->setFocusPolicy(Qt::TabFocus);
}

PictureBox::~PictureBox() = default;

void PictureBox::applyGeometry(float left, float top, float width, float height) {
  if (width < 0 || height < 0) raiseError(kErrInvalidPropertyValue);
  const int areaWidth = canvasAreaPixels(width);
  const int areaHeight = canvasAreaPixels(height);
  checkCanvasSize(areaWidth, areaHeight);
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
  const int drawnWidth = drawnPixels(left, width, box.canvas->image.width());
  const int drawnHeight = drawnPixels(top, height, box.canvas->image.height());
  checkCanvasSize(drawnWidth, drawnHeight);
  const QImage drawn = drawnBitmap(picture, drawnWidth, drawnHeight, box.backColor);
  QPainter(&box.canvas->image).drawImage(left, top, drawn);
  box.canvas->update();
}

int PictureBox::ScalePixelWidth() const { return boxOf(*this).canvas->image.width(); }

int PictureBox::ScalePixelHeight() const { return boxOf(*this).canvas->image.height(); }

}  // namespace platform
