// Private to the forms layer: the Qt objects behind the plain classes of forms.h.
#pragma once

#include <QImage>
#include <QPalette>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/forms/forms.h"
#include "platform/picture/picture.h"

namespace platform {

struct Picture::Data {
  std::shared_ptr<const EncodedPicture> encoded;  // a picture read from a file, or
  QImage bitmap;                                  // a bitmap (Format_RGB32)
  int width = 0;
  int height = 0;
};

// The bitmap of a picture at its natural size (a decoded file is drawn at its own size).
QImage pictureBitmap(const Picture& picture);

// The picture drawn at exactly width x height pixels, transparent pixels on the back colour.
QImage drawnBitmap(const Picture& picture, int width, int height, Color back);

struct Control::Impl {
  explicit Impl(QWidget* w) : widget(w) {}
  virtual ~Impl() = default;
  QPointer<QWidget> widget;
  int tabIndex = -1;
  QPointer<QWidget> spokenLabel;  // a combo box's name for screen readers on Linux; never shown
};

struct Form::Impl {
  std::unique_ptr<QWidget> window;
  std::vector<Control*> tabStops;
  std::optional<std::string> startFolder;  // where the form's lists start, once found
  // Told each folder the folder list moves to (the drive list, to show the drive holding it).
  std::function<void(const std::string& folder)> folderShown;
};

inline QColor toQColor(Color c) { return QColor(c.red, c.green, c.blue); }

// A control's widget, as the kind of widget the control made.
template <typename W>
W* widgetOf(const Control& control) {
  return static_cast<W*>(control.impl().widget.data());
}

// A control's private part, as the kind the control made.
template <typename T>
T& implOf(const Control& control) {
  return static_cast<T&>(control.impl());
}

// A new widget of kind W on the form, wrapped as a control's private part.
template <typename W>
std::unique_ptr<Control::Impl> makeImpl(Form& form) {
  return std::make_unique<Control::Impl>(new W(form.impl().window.get()));
}

// Sets a widget's text and back colours through its palette.
void setWidgetColors(QWidget* widget, Color fore, Color back, QPalette::ColorRole foreRole,
                     QPalette::ColorRole backRole);

}  // namespace platform
