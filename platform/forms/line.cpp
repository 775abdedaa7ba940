// A line drawn on the form.
#include <QFrame>
#include <QPalette>
#include <algorithm>
#include <cmath>

#include "platform/forms/forms_impl.h"
#include "platform/picture/canvas.h"

namespace platform {

struct Line::Impl {
  QPointer<QFrame> frame;
};

Line::Line(Form& form, float x1, float y1, float x2, float y2) : impl_(std::make_unique<Impl>()) {
  auto* frame = new QFrame(form.impl().window.get());
  const int left = twipsToPixels(std::min(x1, x2));
  const int top = twipsToPixels(std::min(y1, y2));
  const int width = std::max(1, twipsToPixels(std::abs(x2 - x1)));
  const int height = std::max(1, twipsToPixels(std::abs(y2 - y1)));
  frame->setGeometry(left, top, width, height);
  frame->setAutoFillBackground(true);
  QPalette palette = frame->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::WindowText));
  frame->setPalette(palette);
  impl_->frame = frame;
}

Line::~Line() {
  if (impl_->frame) delete impl_->frame.data();
}

}  // namespace platform
