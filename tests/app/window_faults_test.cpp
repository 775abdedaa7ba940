// The window where people and the system surprise it: started in a folder that is gone or cannot
// be read, a Ctrl+click, names that are not UTF-8, a file cut short or failing under the preview,
// drives mounted and left, and a thumbnail asked for after a failed preview.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QComboBox>
#include <QListWidget>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>

#include "platform/forms/forms_impl.h"
#include "tests/support/picture_writers.h"
#include "tests/support/process_state.h"
#include "tests/support/qt/qt_images.h"
#include "tests/support/qt/window_fixture.h"

namespace fs = std::filesystem;
using testsupport::holdsFile;
using testsupport::InFolder;
using testsupport::WithoutPermissionOverride;

namespace {

// Quadrants with noise on every pixel: a JPEG of a few hundred kilobytes.
testsupport::RgbImage noisyQuadrants(int width, int height) {
  testsupport::RgbImage image = testsupport::quadrants(width, height);
  std::mt19937 random(7);
  std::uniform_int_distribution<int> jitter(-20, 20);
  for (std::uint8_t& value : image.pixels) {
    value = static_cast<std::uint8_t>(std::clamp(value + jitter(random), 0, 255));
  }
  return image;
}

class WindowFaults : public FormTest {
 protected:
  QListWidget* fileWidget() const {
    return static_cast<QListWidget*>(form_->File1.impl().widget.data());
  }
  QComboBox* driveWidget() const {
    return static_cast<QComboBox*>(form_->Drive1.impl().widget.data());
  }
  // A window started in the current folder, as the program starts.
  std::unique_ptr<Form1> started() { return std::make_unique<Form1>(); }
};

TEST_F(WindowFaults, StartedInARemovedFolderItOpensOnTheNearestFolderAbove) {
  writeJpeg("cat.jpg", 64, 48);
  fs::create_directories(folder_ / "gone" / "deeper");
  std::unique_ptr<Form1> window;
  {
    const InFolder inside(folder_ / "gone" / "deeper");
    fs::remove_all(folder_ / "gone");
    ASSERT_NO_THROW(window = started());
  }
  EXPECT_EQ(window->Dir1.Path(), folder_.string());
  EXPECT_EQ(window->File1.Path(), folder_.string());
  EXPECT_EQ(window->Drive1.Drive(), form_->Drive1.Drive());
  ASSERT_EQ(window->File1.ListCount(), 1);
  EXPECT_EQ(window->File1.List(0), "cat.jpg");
  expectError(76, folder_ / "gone" / "deeper");  // one box says why it opened elsewhere
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WindowFaults, StartedInAnUnreadableFolderBothListsShowTheSameFolderAfterOneBox) {
  writeJpeg("cat.jpg", 64, 48);
  fs::create_directories(folder_ / "locked" / "inner");
  std::unique_ptr<Form1> window;
  {
    const InFolder inside(folder_ / "locked" / "inner");
    ASSERT_EQ(::chmod((folder_ / "locked").c_str(), 0), 0);
    const WithoutPermissionOverride restricted;
    if (geteuid() == 0 && !restricted.active()) {
      GTEST_SKIP() << "running as root and cannot drop the permission override";
    }
    window = started();
  }
  ASSERT_EQ(::chmod((folder_ / "locked").c_str(), 0700), 0);
  EXPECT_EQ(window->Dir1.Path(), folder_.string());
  EXPECT_EQ(window->File1.Path(), folder_.string());
  ASSERT_EQ(window->File1.ListCount(), 1);
  EXPECT_EQ(window->File1.List(0), "cat.jpg");
  expectError(70, folder_ / "locked" / "inner");
  EXPECT_TRUE(boxes_.empty());
  // The window works from there.
  window->File1.click(0);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(platform::pictureBitmap(window->Picture1.Image()).size(), QSize(125, 94));
}

TEST_F(WindowFaults, CtrlClickOnTheSelectedFileKeepsItAndItsPreview) {
  writeJpeg("a.jpg", 64, 48);
  writeJpeg("b.jpg", 48, 64);
  form_->Show();
  QListWidget* list = fileWidget();
  const auto centreOf = [list](int row) { return list->visualItemRect(list->item(row)).center(); };
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(0));
  ASSERT_EQ(form_->File1.FileName(), "a.jpg");
  const QImage drawn = canvas();
  ASSERT_EQ(drawn.size(), QSize(125, 94));

  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, centreOf(0));
  EXPECT_TRUE(boxes_.empty()) << boxes_.pending().front().prompt;
  EXPECT_EQ(form_->File1.FileName(), "a.jpg");
  EXPECT_EQ(canvas(), drawn);
  QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
  const QPoint below(5, list->viewport()->height() - 3);  // below the last file
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, below);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);
  EXPECT_TRUE(boxes_.empty()) << boxes_.pending().front().prompt;
  EXPECT_EQ(form_->File1.FileName(), "a.jpg");
  EXPECT_EQ(canvas(), drawn);

  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt, "File saved to : " + (folder_ / "thumb_a.jpg").string());
  // Ctrl+click on another file chooses it, as a plain click does.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, centreOf(1));
  EXPECT_EQ(form_->File1.FileName(), "b.jpg");
  EXPECT_EQ(canvas().size(), QSize(94, 125));
}

TEST_F(WindowFaults, NamesThatAreNotUtf8AreListedOpenedAndWrittenByteForByte) {
  const std::string file = "caf\xE9.jpg";       // Latin-1, as old cameras and archives write it
  const std::string folder = "d\xE9j\xE0";      // likewise
  const std::string inner = "pic\xFF\xFE.jpg";  // bytes no text encoding gives
  writeJpeg(file, 64, 48);
  fs::create_directory(folder_ / folder);
  writeJpeg(folder + "/" + inner, 48, 64);
  openFolder(folder_);

  ASSERT_EQ(form_->File1.ListCount(), 1);
  EXPECT_EQ(form_->File1.List(0), file);
  EXPECT_TRUE(fileWidget()->item(0)->text().contains(QChar(QChar::ReplacementCharacter)));
  clickFile(file);
  EXPECT_TRUE(boxes_.empty()) << boxes_.pending().front().prompt;
  EXPECT_EQ(form_->File1.FileName(), file);
  EXPECT_EQ(canvas().size(), QSize(125, 94));
  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt, "File saved to : " + (folder_ / ("thumb_" + file)).string());
  EXPECT_TRUE(fs::is_regular_file(folder_ / ("thumb_" + file)));

  form_->Dir1.openEntry(folderRow(folder_ / folder));
  EXPECT_TRUE(boxes_.empty()) << boxes_.pending().front().prompt;
  EXPECT_EQ(form_->Dir1.Path(), (folder_ / folder).string());
  EXPECT_EQ(form_->File1.Path(), (folder_ / folder).string());
  clickFile(inner);
  EXPECT_TRUE(boxes_.empty()) << boxes_.pending().front().prompt;
  EXPECT_EQ(canvas().size(), QSize(94, 125));
  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt,
            "File saved to : " + (folder_ / folder / ("thumb_" + inner)).string());
  // Its ancestors too are opened by their bytes.
  form_->Dir1.openEntry(folderRow(folder_));
  EXPECT_EQ(form_->File1.Path(), folder_.string());
}

TEST_F(WindowFaults, APreviewHoldsNoFileAndACutShortFileStillDrawsWhatWasRead) {
  const fs::path big = folder_ / "big.jpg";
  ASSERT_TRUE(
      testsupport::writeJpeg(big, noisyQuadrants(800, 600), {testsupport::Sampling::k420, 95}));
  form_->File1.setPath(folder_.string());
  ASSERT_GT(fs::file_size(big), 64u * 1024);
  clickFile("big.jpg");
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(canvas().size(), QSize(125, 94));
  EXPECT_FALSE(holdsFile(big)) << "the previewed file is still open or mapped";

  // Cut short by another program between reading and drawing: the picture read is drawn.
  form_->Image1.setPicture(platform::LoadPicture(big.string()));
  fs::resize_file(big, 100);
  form_->Picture1.Cls();
  form_->Picture1.PaintPicture(form_->Image1.picture(), 0, 0, 1875, 1406.25);
  const QImage drawn = canvas();
  EXPECT_GT(testsupport::meanColor(drawn, QRect(2, 2, 40, 30)).red(), 150);
  EXPECT_GT(testsupport::meanColor(drawn, QRect(70, 55, 40, 30)).green(), 150);
  EXPECT_FALSE(holdsFile(big));
}

TEST_F(WindowFaults, AReadThatFailsIsDeviceIOErrorAndTheWindowGoesOn) {
  writeJpeg("cat.jpg", 64, 48);
  // Reading this process's memory at offset 0 fails with EIO, as a failing medium does.
  fs::create_symlink("/proc/self/mem", folder_ / "failing.jpg");
  form_->File1.setPath(folder_.string());
  clickFile("failing.jpg");
  const platform::MsgBoxRequest box = takeBox();
  EXPECT_EQ(box.prompt,
            "Run-time error '57':\n\nDevice I/O error: " + (folder_ / "failing.jpg").string());
  clickFile("cat.jpg");
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(canvas().size(), QSize(125, 94));
}

TEST_F(WindowFaults, TheNotDrawnBoxSaysWhyThePreviewFailed) {
  writeJpeg("cat.jpg", 64, 48);
  std::ofstream(folder_ / "broken.jpg") << "not a picture";
  form_->File1.setPath(folder_.string());

  form_->Text1.setText("abc");
  clickFile("cat.jpg");
  EXPECT_EQ(takeBox().prompt, "Run-time error '13':\n\nType mismatch");
  form_->Command1.click();
  std::string prompt = takeBox().prompt;
  EXPECT_NE(prompt.find("the size is not a number"), std::string::npos) << prompt;
  EXPECT_EQ(prompt.find("Click it in the list"), std::string::npos) << prompt;

  form_->Text1.setText("125");
  clickFile("broken.jpg");
  EXPECT_EQ(takeBox().prompt.rfind("Run-time error '481':", 0), 0u);
  form_->Command1.click();
  prompt = takeBox().prompt;
  EXPECT_NE(prompt.find("broken.jpg could not be drawn"), std::string::npos) << prompt;
  EXPECT_EQ(prompt.find("not a number"), std::string::npos) << prompt;

  clickFile("cat.jpg");
  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt, "File saved to : " + (folder_ / "thumb_cat.jpg").string());
  EXPECT_FALSE(fs::exists(folder_ / "thumb_broken.jpg"));
}

// A small file system mounted in the test's folder after the window started: a USB stick.
class Stick : public WindowFaults {
 protected:
  void SetUp() override {
    WindowFaults::SetUp();
    stick_ = folder_ / "stick";
    mount_.emplace(stick_, "4m");
    if (!mount_->mounted()) GTEST_SKIP() << mount_->error();
  }
  void TearDown() override {
    mount_.reset();
    WindowFaults::TearDown();
  }
  int driveRow(const std::string& drive) const {
    return driveWidget()->findText(QString::fromStdString(drive));
  }

  fs::path stick_;
  std::optional<testsupport::MountedTmpfs> mount_;
};

TEST_F(Stick, TheDriveListShowsTheFolderListsDriveAndLearnsOfNewDrives) {
  const std::string home = form_->Drive1.Drive();
  ASSERT_NE(home, stick_.string());
  writeJpeg("stick/cat.jpg", 64, 48);
  EXPECT_EQ(driveRow(stick_.string()), -1);  // mounted after the window started
  driveWidget()->showPopup();                // opening the list reads the drives afresh
  driveWidget()->hidePopup();
  const int row = driveRow(stick_.string());
  ASSERT_GE(row, 0);
  EXPECT_EQ(driveWidget()->currentText().toStdString(), home);

  openFolder(stick_);
  EXPECT_EQ(form_->Drive1.Drive(), stick_.string());
  EXPECT_EQ(driveWidget()->currentText().toStdString(), stick_.string());
  form_->Dir1.openEntry(folderRow(folder_));  // climbed out of the mount
  EXPECT_EQ(form_->Drive1.Drive(), home);
  EXPECT_EQ(driveWidget()->currentText().toStdString(), home);
  EXPECT_EQ(form_->Dir1.Path(), folder_.string());  // following the folder moved nothing

  // Choosing the stick again takes the lists to it.
  driveWidget()->setCurrentIndex(row);
  driveWidget()->activated(row);  // as the user's choice
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(form_->Dir1.Path(), stick_.string());
  EXPECT_EQ(form_->File1.Path(), stick_.string());
  EXPECT_EQ(form_->File1.ListCount(), 1);
}

TEST_F(Stick, AfterAPreviewTheStickCanBeUnmounted) {
  ASSERT_TRUE(testsupport::writeJpeg(stick_ / "big.jpg", noisyQuadrants(800, 600),
                                     {testsupport::Sampling::k420, 95}));
  ASSERT_GT(fs::file_size(stick_ / "big.jpg"), 64u * 1024);
  openFolder(stick_);
  clickFile("big.jpg");
  EXPECT_TRUE(boxes_.empty());
  openFolder(folder_);
  const int unmounted = mount_->unmount();
  ASSERT_EQ(unmounted, 0) << "unmount: " << std::strerror(unmounted);
  EXPECT_GT(QColor(canvas().pixel(5, 5)).red(), 150);
}

}  // namespace
