// The command button: a caption and a click handler.
#include <QPushButton>

#include "platform/forms/forms_impl.h"

namespace platform {

CommandButton::CommandButton(Form& form) : Control(makeImpl<QPushButton>(form)) {
  form.impl().tabStops.push_back(this);
  widgetOf<QPushButton>(*this)->setAutoDefault(false);
}

CommandButton::~CommandButton() = default;

void CommandButton::setCaption(const std::string& caption) {
  widgetOf<QPushButton>(*this)->setText(QString::fromStdString(caption));
}

std::string CommandButton::Caption() const {
  return widgetOf<QPushButton>(*this)->text().toStdString();
}

void CommandButton::onClick(std::function<void()> handler) {
  QObject::connect(widgetOf<QPushButton>(*this), &QPushButton::clicked,
                   [handler = std::move(handler)] { runHandler(handler); });
}

void CommandButton::click() { widgetOf<QPushButton>(*this)->click(); }

}  // namespace platform
