// The window.
#include <QApplication>
#include <QIcon>
#include <QPalette>
#include <algorithm>
#include <vector>

#include "platform/forms/forms_impl.h"
#include "platform/forms/numbers.h"
#include "platform/picture/canvas.h"

namespace platform {
namespace {

// The fixed single border of the window on the left, right and bottom, in twips.
constexpr float kWindowFrameTwips = 45;
// What X11 can map.
constexpr int kMaxWindowPixels = 32767;

}  // namespace

Color buttonFaceColor() {
  const QColor face = QApplication::palette().color(QPalette::Button);
  return Color{static_cast<std::uint8_t>(face.red()), static_cast<std::uint8_t>(face.green()),
               static_cast<std::uint8_t>(face.blue())};
}

Form::Form() : impl_(std::make_unique<Impl>()) {
  impl_->window = std::make_unique<QWidget>(
      nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
}

Form::~Form() = default;

void Form::setCaption(const std::string& caption) {
  impl_->window->setWindowTitle(QString::fromStdString(caption));
}

std::string Form::Caption() const { return impl_->window->windowTitle().toStdString(); }

void Form::setClientSize(float width, float height) {
  impl_->window->setFixedSize(twipsToPixels(width), twipsToPixels(height));
  width_ = width + 2 * kWindowFrameTwips;
}

void Form::setWidth(double width) {
  width_ = CSng(width);
  const int client = twipsToPixels(static_cast<double>(width) - 2 * kWindowFrameTwips);
  impl_->window->setFixedWidth(std::clamp(client, 1, kMaxWindowPixels));
}

float Form::ScaleWidth() const {
  return static_cast<float>(impl_->window->width() * kTwipsPerPixel);
}

float Form::ScaleHeight() const {
  return static_cast<float>(impl_->window->height() * kTwipsPerPixel);
}

void Form::setBackColor(Color color) {
  QPalette palette = impl_->window->palette();
  palette.setColor(QPalette::Window, toQColor(color));
  impl_->window->setPalette(palette);
  impl_->window->setAutoFillBackground(true);
}

void Form::setIcon(const std::string& resourcePath) {
  const QIcon icon(QString::fromStdString(resourcePath));
  impl_->window->setWindowIcon(icon);
  if (QCoreApplication::instance() != nullptr) QApplication::setWindowIcon(icon);
}

void Form::Show() {
  applyTabOrder();
  impl_->window->show();
}

void Form::applyTabOrder() {
  std::vector<Control*> stops;
  for (Control* control : impl_->tabStops) {
    if (control->impl().tabIndex >= 0) stops.push_back(control);
  }
  std::stable_sort(stops.begin(), stops.end(),
                   [](Control* a, Control* b) { return a->impl().tabIndex < b->impl().tabIndex; });
  for (size_t i = 1; i < stops.size(); ++i) {
    QWidget::setTabOrder(stops[i - 1]->impl().widget, stops[i]->impl().widget);
  }
}

}  // namespace platform
