// The label: a caption in a font and colours of its own.
#include <QFont>
#include <QLabel>

#include "platform/forms/forms_impl.h"

namespace platform {

Label::Label(Form& form) : Control(makeImpl<QLabel>(form)) {
  form.impl().tabStops.push_back(this);
  widgetOf<QLabel>(*this)->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

Label::~Label() = default;

void Label::setCaption(const std::string& caption) {
  widgetOf<QLabel>(*this)->setText(QString::fromStdString(caption));
}

std::string Label::Caption() const { return widgetOf<QLabel>(*this)->text().toStdString(); }

void Label::setColors(Color fore, Color back) {
  setWidgetColors(widgetOf<QLabel>(*this), fore, back, QPalette::WindowText, QPalette::Window);
}

void Label::setFont(const std::string& family, double points, int weight) {
  QFont font(QString::fromStdString(family));
  font.setPointSizeF(points);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setStyleHint(QFont::Serif);
  widgetOf<QLabel>(*this)->setFont(font);
}

}  // namespace platform
