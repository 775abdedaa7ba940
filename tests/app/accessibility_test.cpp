// What a screen reader is told about the window's controls, read through Qt's accessibility
// interface as assistive technology reads it.
#include <QAccessible>
#include <QAccessibleInterface>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "platform/forms/forms_impl.h"
#include "tests/support/qt/window_fixture.h"

namespace {

using Accessibility = FormTest;

QAccessibleInterface* accessible(const platform::Control& control) {
  return QAccessible::queryAccessibleInterface(control.impl().widget.data());
}

std::string spoken(const platform::Control& control, QAccessible::Text text) {
  QAccessibleInterface* face = accessible(control);
  return face == nullptr ? "(no interface)" : face->text(text).toStdString();
}

// The name a screen reader on Linux says: a combo box's comes from the label it is the buddy of
// (its own name there is its current text); every other control's is its own.
std::string spokenName(QAccessibleInterface* face) {
  if (face == nullptr) return "(no interface)";
  if (face->role() != QAccessible::ComboBox) return face->text(QAccessible::Name).toStdString();
  const auto labels = face->relations(QAccessible::Label);
  if (labels.size() != 1) return "(" + std::to_string(labels.size()) + " labels)";
  return labels.front().first->text(QAccessible::Name).toStdString();
}

TEST_F(Accessibility, EachControlHasItsNameAndADescription) {
  Form1& f = *form_;
  const struct {
    const platform::Control& control;
    const char* name;
    QAccessible::Role role;
  } expected[] = {
      {f.Drive1, "Drive", QAccessible::ComboBox},
      {f.Dir1, "Folder", QAccessible::List},
      {f.File1, "Pictures", QAccessible::List},
      {f.Picture1, "Thumbnail preview", QAccessible::NoRole},
      {f.Text1, "Thumbnail size in pixels", QAccessible::EditableText},
      {f.Label1, "Size", QAccessible::StaticText},
      {f.Command1, "Create Thumbnail", QAccessible::Button},
      {f.Command2, "Larger thumbnail", QAccessible::Button},
      {f.Command3, "Smaller thumbnail", QAccessible::Button},
      {f.Picture2, "Start-up picture", QAccessible::NoRole},
      {f.Image1, "Chosen picture", QAccessible::NoRole},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    ASSERT_NE(accessible(e.control), nullptr);
    EXPECT_EQ(spokenName(accessible(e.control)), e.name);
    EXPECT_FALSE(spoken(e.control, QAccessible::Description).empty());
    if (e.role != QAccessible::NoRole) {
      EXPECT_EQ(accessible(e.control)->role(), e.role);
    }
  }
  EXPECT_EQ(spoken(f.Drive1, QAccessible::Name), f.Drive1.Drive());
  // The names are for screen readers only: the buttons still show their captions.
  EXPECT_EQ(f.Command2.Caption(), "+");
  EXPECT_EQ(f.Command3.Caption(), "-");
  EXPECT_EQ(static_cast<QPushButton*>(f.Command2.impl().widget.data())->text(), "+");
}

// Walking the window as a screen reader does finds a name for every visible control; only the
// dividing line, a one-pixel border, has none.
TEST_F(Accessibility, NoVisibleControlOfTheWindowIsUnnamed) {
  form_->Show();
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(form_->impl().window.get());
  ASSERT_NE(face, nullptr);
  EXPECT_EQ(face->text(QAccessible::Name).toStdString(), "Quorvane");
  int named = 0;
  for (int i = 0; i < face->childCount(); ++i) {
    QAccessibleInterface* child = face->child(i);
    ASSERT_NE(child, nullptr);
    if (child->state().invisible) continue;
    if (child->role() == QAccessible::Border && child->rect().width() == 1) continue;  // the line
    EXPECT_FALSE(spokenName(child).empty()) << "child " << i << " role " << child->role();
    ++named;
  }
  EXPECT_EQ(named, 9);
}

// The canvas tells its drawing's size: the start-up picture's area, then each preview; when a
// click fails, the size the canvas is left with.
TEST_F(Accessibility, ThePreviewIsDescribedByItsDrawnSize) {
  const platform::PictureBox& canvas = form_->Picture1;
  EXPECT_EQ(spoken(canvas, QAccessible::Description), "126 x 126 pixels");
  writeJpeg("wide.jpg", 640, 480);
  writeJpeg("tall.jpg", 480, 640);
  clickFile("wide.jpg");
  EXPECT_EQ(spoken(canvas, QAccessible::Description), "125 x 94 pixels");
  form_->Text1.setText("60");
  clickFile("tall.jpg");
  EXPECT_EQ(spoken(canvas, QAccessible::Description), "45 x 60 pixels");
  form_->Text1.setText("abc");
  clickFile("wide.jpg");
  EXPECT_EQ(takeBox().prompt, "Run-time error '13':\n\nType mismatch");
  EXPECT_EQ(spoken(canvas, QAccessible::Description), "45 x 60 pixels");
  // Widened, then refused a height over the limits: the description follows the canvas.
  form_->Text1.setText("20000");
  clickFile("tall.jpg");
  EXPECT_EQ(takeBox().prompt.rfind("Run-time error '480':", 0), 0u);
  EXPECT_EQ(spoken(canvas, QAccessible::Description), "15000 x 60 pixels");
  EXPECT_EQ(spoken(canvas, QAccessible::Name), "Thumbnail preview");
}

}  // namespace
