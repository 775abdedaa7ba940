// What every control has: a place and size in twips, visibility, a place in the tab order.
#include <QComboBox>
#include <QLabel>
#include <algorithm>

#include "platform/forms/forms_impl.h"
#include "platform/picture/canvas.h"

namespace platform {

Control::Control(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Control::~Control() {
  if (impl_->spokenLabel) delete impl_->spokenLabel.data();
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

void Control::setAccessibleName(const std::string& name) {
  QWidget* widget = impl_->widget;
  widget->setAccessibleName(QString::fromStdString(name));
  // Qt on Linux gives a combo box's current text as its name and what it is through the label
  // whose buddy it is, as screen readers there expect: that label, hidden.
  if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    auto* label = qobject_cast<QLabel*>(impl_->spokenLabel.data());
    if (label == nullptr) {
      label = new QLabel(widget->parentWidget());
      label->hide();
      label->setBuddy(combo);
      impl_->spokenLabel = label;
    }
    label->setText(QString::fromStdString(name));
  }
}

void Control::setAccessibleDescription(const std::string& description) {
  impl_->widget->setAccessibleDescription(QString::fromStdString(description));
}

void setWidgetColors(QWidget* widget, Color fore, Color back, QPalette::ColorRole foreRole,
                     QPalette::ColorRole backRole) {
  QPalette palette = widget->palette();
  palette.setColor(foreRole, toQColor(fore));
  palette.setColor(backRole, toQColor(back));
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

}  // namespace platform
