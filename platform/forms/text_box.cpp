// The text box: one line of text the user types.
#include <QLineEdit>
#include <limits>

#include "platform/forms/forms_impl.h"

namespace platform {

TextBox::TextBox(Form& form) : Control(makeImpl<QLineEdit>(form)) {
  form.impl().tabStops.push_back(this);
  widgetOf<QLineEdit>(*this)->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  widgetOf<QLineEdit>(*this)->setMaxLength(std::numeric_limits<int>::max());  // no length limit
}

TextBox::~TextBox() = default;

std::string TextBox::Text() const { return widgetOf<QLineEdit>(*this)->text().toStdString(); }

void TextBox::setText(const std::string& text) {
  widgetOf<QLineEdit>(*this)->setText(QString::fromStdString(text));
}

void TextBox::setColors(Color fore, Color back) {
  setWidgetColors(widgetOf<QLineEdit>(*this), fore, back, QPalette::Text, QPalette::Base);
}

}  // namespace platform
