// The hidden image holder: a picture at its natural size.
#include <QWidget>

#include "platform/forms/forms_impl.h"

namespace platform {

ImageControl::ImageControl(Form& form) : Control(makeImpl<QWidget>(form)) { impl().widget->hide(); }

ImageControl::~ImageControl() = default;

void ImageControl::setPicture(const Picture& picture) {
  picture_ = picture;
  if (!picture.isEmpty()) {
    Move(Left(), Top(), static_cast<float>(picture.pixelWidth() * kTwipsPerPixel),
         static_cast<float>(picture.pixelHeight() * kTwipsPerPixel));
  }
}

}  // namespace platform
