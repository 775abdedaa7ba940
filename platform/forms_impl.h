// Private to the forms layer: the Qt objects behind the plain classes of forms.h.
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "platform/forms.h"
#include "platform/picture.h"

namespace platform {

struct Picture::Data {
  std::shared_ptr<const EncodedPicture> encoded;  // a picture read from a file, or
  QImage bitmap;                                  // a bitmap (Format_RGB32)
  int width = 0;
  int height = 0;
};

// The bitmap of a picture at its natural size (a decoded file is drawn at its own size).
QImage pictureBitmap(const Picture& picture);

struct Control::Impl {
  explicit Impl(QWidget* w) : widget(w) {}
  virtual ~Impl() = default;
  QPointer<QWidget> widget;
  int tabIndex = -1;
};

struct Form::Impl {
  std::unique_ptr<QWidget> window;
  std::vector<Control*> tabStops;
};

// Whole pixels for a length in twips, halves up.
int twipsToPixels(double twips);

inline QColor toQColor(Color c) { return QColor(c.red, c.green, c.blue); }

}  // namespace platform
