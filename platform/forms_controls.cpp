// The simple controls: text box, label, command button and the hidden image holder.
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <limits>

#include "platform/forms_impl.h"

namespace platform {
namespace {

template <typename W>
std::unique_ptr<Control::Impl> makeImpl(Form& form) {
  return std::make_unique<Control::Impl>(new W(form.impl().window.get()));
}

template <typename W>
W* widgetOf(const Control& control) {
  return static_cast<W*>(control.impl().widget.data());
}

void setWidgetColors(QWidget* widget, Color fore, Color back, QPalette::ColorRole foreRole,
                     QPalette::ColorRole backRole) {
  QPalette palette = widget->palette();
  palette.setColor(foreRole, toQColor(fore));
  palette.setColor(backRole, toQColor(back));
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

}  // namespace

// ---- TextBox

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

// ---- Label

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

// ---- CommandButton

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

// ---- ImageControl

ImageControl::ImageControl(Form& form) : Control(makeImpl<QWidget>(form)) {
  impl().widget->hide();
}

ImageControl::~ImageControl() = default;

void ImageControl::setPicture(const Picture& picture) {
  picture_ = picture;
  if (!picture.isEmpty()) {
    Move(Left(), Top(), static_cast<float>(picture.pixelWidth() * kTwipsPerPixel),
         static_cast<float>(picture.pixelHeight() * kTwipsPerPixel));
  }
}

}  // namespace platform
