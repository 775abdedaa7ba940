// The window, the control base and the event dispatcher.
#include <QApplication>
#include <QFrame>
#include <QIcon>
#include <QPalette>
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "platform/forms_impl.h"
#include "platform/msgbox.h"
#include "platform/runtime_error.h"

namespace platform {
namespace {

constexpr float kFrameTwips = 45;  // the fixed single border on the left, right and bottom
constexpr int kMaxWindowPixels = 32767;  // what X11 can map

}  // namespace

Color buttonFaceColor() {
  const QColor face = QApplication::palette().color(QPalette::Button);
  return Color{static_cast<std::uint8_t>(face.red()), static_cast<std::uint8_t>(face.green()),
               static_cast<std::uint8_t>(face.blue())};
}

bool runHandler(const std::function<void()>& handler) {
  int number = 0;
  std::string description;
  try {
    handler();
    return true;
  } catch (const RuntimeError& error) {
    number = error.number();
    description = error.description();
  } catch (const std::bad_alloc&) {
    number = kErrOutOfMemory;
    description = errorDescription(kErrOutOfMemory);
  } catch (const std::exception& error) {  // a fault of the program's own: reported, not fatal
    number = kErrInternal;
    description = errorDescription(kErrInternal) + ": " + error.what();
  } catch (...) {
    number = kErrInternal;
    description = errorDescription(kErrInternal);
  }
  MsgBox("Run-time error '" + std::to_string(number) + "':\n\n" + description, vbCritical,
         kProgramTitle);
  return false;
}

float CSng(double value) {
  if (std::isnan(value) || std::fabs(value) > std::numeric_limits<float>::max()) {
    raiseError(kErrOverflow);
  }
  return static_cast<float>(value);
}

int twipsToPixels(double twips) {
  // Far beyond any screen or canvas; saturating keeps the conversion to int defined.
  constexpr double kLimit = 1 << 30;
  const double pixels = std::floor(twips / kTwipsPerPixel + 0.5);
  return static_cast<int>(std::clamp(pixels, -kLimit, kLimit));
}

// ---- Control

Control::Control(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Control::~Control() {
  if (impl_->widget) delete impl_->widget.data();
}

void Control::Move(float left, float top, float width, float height) {
  applyGeometry(left, top, width, height);
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
}

void Control::applyGeometry(float left, float top, float width, float height) {
  impl_->widget->setGeometry(twipsToPixels(left), twipsToPixels(top),
                             std::max(1, twipsToPixels(width)), std::max(1, twipsToPixels(height)));
}

bool Control::Visible() const { return impl_->widget->isVisibleTo(impl_->widget->parentWidget()); }

void Control::setVisible(bool visible) { impl_->widget->setVisible(visible); }

void Control::setTabIndex(int index) { impl_->tabIndex = index; }

// ---- Form

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
  width_ = width + 2 * kFrameTwips;
}

void Form::setWidth(double width) {
  width_ = CSng(width);
  const int client = twipsToPixels(static_cast<double>(width) - 2 * kFrameTwips);
  impl_->window->setFixedWidth(std::clamp(client, 1, kMaxWindowPixels));
}

float Form::ScaleWidth() const { return impl_->window->width() * kTwipsPerPixel; }

float Form::ScaleHeight() const { return impl_->window->height() * kTwipsPerPixel; }

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
  std::stable_sort(stops.begin(), stops.end(), [](Control* a, Control* b) {
    return a->impl().tabIndex < b->impl().tabIndex;
  });
  for (size_t i = 1; i < stops.size(); ++i) {
    QWidget::setTabOrder(stops[i - 1]->impl().widget, stops[i]->impl().widget);
  }
}

// ---- Line

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
