// The file list driven the way a person drives it: mouse presses, releases and keys.
#include <QListWidget>
#include <QTest>

#include "platform/forms/forms_impl.h"
#include "tests/support/qt/window_fixture.h"

namespace {

class FileList : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    writeJpeg("a.jpg", 64, 48);
    writeJpeg("b.jpg", 48, 64);
    form_->Show();
    list_ = static_cast<QListWidget*>(form_->File1.impl().widget.data());
    ASSERT_EQ(list_->count(), 2);
  }
  QPoint centreOf(int row) const { return list_->visualItemRect(list_->item(row)).center(); }
  void clickRow(int row) {
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, centreOf(row));
  }
  QListWidget* list_ = nullptr;
};

TEST_F(FileList, FocusAloneDrawsNothing) {
  list_->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(form_->File1.FileName(), "");
  EXPECT_EQ(form_->Image1.picture().pixelWidth(), 0);
  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt, "No picture selected");
}

TEST_F(FileList, EveryClickDrawsAndKeysDrawToo) {
  clickRow(1);
  EXPECT_EQ(form_->File1.FileName(), "b.jpg");
  EXPECT_EQ(canvas().size(), QSize(94, 125));
  form_->Text1.setText("60");
  clickRow(1);  // the same file again: redrawn at the new size
  EXPECT_EQ(canvas().size(), QSize(45, 60));
  QTest::keyClick(list_, Qt::Key_Up);
  EXPECT_EQ(form_->File1.FileName(), "a.jpg");
  EXPECT_EQ(canvas().size(), QSize(60, 45));
}

TEST_F(FileList, AClickAfterAnErrorBoxIsNotLost) {
  form_->Text1.setText("abc");
  // Pressed on b.jpg, released elsewhere: the box of the click comes, no itemClicked follows.
  QTest::mousePress(list_->viewport(), Qt::LeftButton, {}, centreOf(1));
  QTest::mouseRelease(list_->viewport(), Qt::LeftButton, {}, QPoint(1, list_->height() - 2));
  EXPECT_EQ(takeBox().prompt, "Run-time error '13':\n\nType mismatch");
  form_->Text1.setText("125");
  clickRow(1);
  EXPECT_EQ(canvas().size(), QSize(94, 125));
}

TEST_F(FileList, ANewFolderClearsTheSelection) {
  clickRow(0);
  std::filesystem::create_directory(folder_ / "empty");
  openFolder(folder_ / "empty");
  EXPECT_EQ(form_->File1.FileName(), "");
  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt, "No picture selected");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "thumb_a.jpg"));
}

}  // namespace
