// The file system changing or failing under the window: folders and files that vanish or change
// kind after they were listed, files that cannot be read, a full disk, symlink loops. Each gives
// a box that names the problem and the path, changes no file, and the next click works.
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QColor>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>

#include "tests/support/process_state.h"
#include "tests/support/qt/window_fixture.h"

namespace fs = std::filesystem;
using testsupport::WithoutPermissionOverride;

namespace {

class FileSystemFaults : public FormTest {
 protected:
  // Every file under the folder with its contents: what "nothing is lost" compares.
  std::map<std::string, std::string> everything() const {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder_, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (it->is_regular_file(error))
        files[it->path().string()] = testsupport::readText(it->path());
    }
    return files;
  }

  // Clicking the picture draws it (64 x 48 at the size 125) and shows no box.
  void expectDrawn(const std::string& name) {
    clickFile(name);
    EXPECT_TRUE(boxes_.empty()) << boxes_.pending().front().prompt;
    EXPECT_EQ(canvas().size(), QSize(125, 94));
    EXPECT_GT(QColor(canvas().pixel(5, 5)).red(), 150);  // the picture's red quadrant
  }
};

TEST_F(FileSystemFaults, AFolderThatVanishesAfterListingIsReportedAndBrowsingGoesOn) {
  fs::create_directories(folder_ / "gone");
  fs::create_directories(folder_ / "kept");
  writeJpeg("kept/cat.jpg", 64, 48);
  openFolder(folder_);
  const int gone = folderRow(folder_ / "gone");
  fs::remove(folder_ / "gone");
  const auto before = everything();
  form_->Dir1.openEntry(gone);
  expectError(76, folder_ / "gone");
  EXPECT_EQ(form_->Dir1.Path(), folder_.string());
  EXPECT_EQ(form_->File1.Path(), folder_.string());
  EXPECT_EQ(everything(), before);
  form_->Dir1.openEntry(folderRow(folder_ / "kept"));
  EXPECT_EQ(form_->File1.Path(), (folder_ / "kept").string());
  expectDrawn("cat.jpg");
}

TEST_F(FileSystemFaults, TheFileListsFolderVanishingMakesEachClickFileNotFound) {
  fs::create_directories(folder_ / "sub");
  writeJpeg("sub/cat.jpg", 64, 48);
  writeJpeg("dog.jpg", 64, 48);
  openFolder(folder_ / "sub");
  ASSERT_EQ(form_->File1.ListCount(), 1);
  fs::remove_all(folder_ / "sub");
  form_->Text1.setText("130");
  clickFile("cat.jpg");
  expectError(53, folder_ / "sub" / "cat.jpg");
  EXPECT_EQ(form_->Text1.Text(), "130");
  // No thumbnail of a picture that was not drawn.
  form_->Command1.click();
  EXPECT_NE(takeBox().prompt.find("No thumbnail was made"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder_ / "sub"));
  // Up to the parent, which is still there: its pictures draw.
  form_->Text1.setText("125");
  form_->Dir1.openEntry(folderRow(folder_));
  expectDrawn("dog.jpg");
}

TEST_F(FileSystemFaults, AFileReplacedByAFolderIsReportedAndLeftAlone) {
  writeJpeg("cat.jpg", 64, 48);
  writeJpeg("dog.jpg", 64, 48);
  std::ofstream(folder_ / "thumb_cat.jpg") << "earlier";
  fs::remove(folder_ / "cat.jpg");
  fs::create_directory(folder_ / "cat.jpg");
  std::ofstream(folder_ / "cat.jpg" / "inside.txt") << "inside";
  const auto before = everything();
  clickFile("cat.jpg");
  expectError(75, folder_ / "cat.jpg");
  form_->Command1.click();
  EXPECT_NE(takeBox().prompt.find("No thumbnail was made"), std::string::npos);
  EXPECT_EQ(everything(), before);
  expectDrawn("dog.jpg");
}

TEST_F(FileSystemFaults, AFileWithoutReadPermissionIsPermissionDeniedEvenForRoot) {
  writeJpeg("locked.jpg", 64, 48);
  writeJpeg("open.jpg", 64, 48);
  ASSERT_EQ(::chmod((folder_ / "locked.jpg").c_str(), 0), 0);
  {
    const WithoutPermissionOverride restricted;
    if (geteuid() == 0 && !restricted.active()) {
      GTEST_SKIP() << "running as root and cannot drop the permission override";
    }
    clickFile("locked.jpg");
  }
  expectError(70, folder_ / "locked.jpg");
  expectDrawn("open.jpg");
}

TEST_F(FileSystemFaults, APipeAndADanglingLinkAreRefusedWithoutWaiting) {
  writeJpeg("open.jpg", 64, 48);
  ASSERT_EQ(::mkfifo((folder_ / "pipe.jpg").c_str(), 0600), 0);
  fs::create_symlink(folder_ / "missing.jpg", folder_ / "dangling.jpg");
  form_->File1.setPath(folder_.string());
  clickFile("pipe.jpg");  // no writer: a blocking open would wait for ever
  const platform::MsgBoxRequest box = takeBox();
  EXPECT_EQ(box.prompt.rfind("Run-time error '481':\n\nInvalid picture", 0), 0u) << box.prompt;
  clickFile("dangling.jpg");
  expectError(53, folder_ / "dangling.jpg");
  expectDrawn("open.jpg");
}

TEST_F(FileSystemFaults, SymlinkLoopsEndInAnErrorOrAnEndNeverAHang) {
  fs::create_symlink("b.jpg", folder_ / "a.jpg");
  fs::create_symlink("a.jpg", folder_ / "b.jpg");
  fs::create_directory_symlink("loop", folder_ / "loop");  // never offered as a folder
  fs::create_directories(folder_ / "sub");
  fs::create_directory_symlink(".", folder_ / "sub" / "again");
  writeJpeg("cat.jpg", 64, 48);
  openFolder(folder_);
  for (int i = 0; i < form_->Dir1.ListCount(); ++i)
    EXPECT_NE(form_->Dir1.List(i), folder_ / "loop");
  clickFile("a.jpg");
  expectError(75, folder_ / "a.jpg");

  // A folder that links to itself: each opening goes one link deeper, until the system follows
  // no more links and the list stops offering it.
  openFolder(folder_ / "sub");
  int levels = 0;
  for (bool offered = true; offered && levels < 100; ++levels) {
    offered = false;
    for (int i = 0; i < form_->Dir1.ListCount(); ++i) {
      if (form_->Dir1.List(i) == form_->Dir1.Path() + "/again") {
        form_->Dir1.openEntry(i);
        offered = true;
        break;
      }
    }
  }
  EXPECT_LT(levels, 100);
  EXPECT_TRUE(boxes_.empty());

  // A listed folder that became a loop of links before its click.
  openFolder(folder_ / "sub");
  const int again = folderRow(folder_ / "sub" / "again");
  fs::remove(folder_ / "sub" / "again");
  fs::create_directory_symlink("again", folder_ / "sub" / "again");
  form_->Dir1.openEntry(again);
  expectError(75, folder_ / "sub" / "again");
  EXPECT_EQ(form_->Dir1.Path(), (folder_ / "sub").string());
  form_->Dir1.openEntry(folderRow(folder_));
  EXPECT_EQ(form_->File1.Path(), folder_.string());
  expectDrawn("cat.jpg");
}

TEST_F(FileSystemFaults, AFolderThatVanishesBeforeTheThumbnailIsWrittenLeavesNothing) {
  fs::create_directories(folder_ / "sub");
  writeJpeg("sub/cat.jpg", 64, 48);
  openFolder(folder_ / "sub");
  expectDrawn("cat.jpg");
  fs::remove_all(folder_ / "sub");
  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt.rfind("IJL ERROR: [-", 0), 0u);
  EXPECT_FALSE(fs::exists(folder_ / "sub"));
  fs::create_directories(folder_ / "sub");
  form_->Command1.click();  // the canvas still shows the picture: now it can be written
  EXPECT_EQ(takeBox().prompt, "File saved to : " + (folder_ / "sub" / "thumb_cat.jpg").string());
}

TEST_F(FileSystemFaults, AFolderWithoutWritePermissionKeepsItsEarlierThumbnailEvenForRoot) {
  writeJpeg("cat.jpg", 64, 48);
  std::ofstream(folder_ / "thumb_cat.jpg") << "earlier";
  expectDrawn("cat.jpg");
  ASSERT_EQ(::chmod(folder_.c_str(), 0555), 0);
  {
    const WithoutPermissionOverride restricted;
    if (geteuid() == 0 && !restricted.active()) {
      GTEST_SKIP() << "running as root and cannot drop the permission override";
    }
    form_->Command1.click();
  }
  ASSERT_EQ(::chmod(folder_.c_str(), 0700), 0);
  EXPECT_EQ(takeBox().prompt.rfind("IJL ERROR: [-", 0), 0u);
  EXPECT_EQ(testsupport::readText(folder_ / "thumb_cat.jpg"), "earlier");
  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt, "File saved to : " + (folder_ / "thumb_cat.jpg").string());
}

// A small file system mounted inside the test's folder, filled to the last byte.
class FullDisk : public FileSystemFaults {
 protected:
  void SetUp() override {
    FileSystemFaults::SetUp();
    mount_ = folder_ / "full";
    tmpfs_.emplace(mount_, "64k");
    if (!tmpfs_->mounted()) GTEST_SKIP() << tmpfs_->error();
    tmpdir_ = folder_ / "tmp";
    fs::create_directory(tmpdir_);
    setenv("TMPDIR", tmpdir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TMPDIR");
    tmpfs_.reset();
    FileSystemFaults::TearDown();
  }

  // Fills the file system until the kernel says it is full.
  void fill() {
    std::ofstream filler(mount_ / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) &&
           filler.flush()) {
    }
  }

  fs::path mount_;
  std::optional<testsupport::MountedTmpfs> tmpfs_;
  fs::path tmpdir_;
};

TEST_F(FullDisk, AThumbnailThatDoesNotFitKeepsTheEarlierOneAndTheNextTryWorks) {
  writeJpeg("full/cat.jpg", 64, 48);
  std::ofstream(mount_ / "thumb_cat.jpg") << "earlier";
  openFolder(mount_);
  expectDrawn("cat.jpg");
  fill();
  const auto before = everything();
  form_->Command1.click();
  const platform::MsgBoxRequest box = takeBox();
  EXPECT_EQ(box.prompt.rfind("IJL ERROR: [-", 0), 0u) << box.prompt;
  EXPECT_NE(box.prompt.find("Failed to save to JPG"), std::string::npos) << box.prompt;
  EXPECT_EQ(everything(), before) << "a half-written thumbnail or temporary file was left";
  EXPECT_TRUE(fs::is_empty(tmpdir_));

  fs::remove(mount_ / "filler");
  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt, "File saved to : " + (mount_ / "thumb_cat.jpg").string());
  EXPECT_NE(testsupport::readText(mount_ / "thumb_cat.jpg"), "earlier");
}

TEST_F(FullDisk, AFullTemporaryFolderIsDiskFullAndLeavesNoTemporaryFile) {
  writeJpeg("cat.jpg", 64, 48);
  expectDrawn("cat.jpg");
  fill();
  setenv("TMPDIR", mount_.c_str(), 1);
  form_->Command1.click();
  const platform::MsgBoxRequest box = takeBox();
  EXPECT_EQ(box.prompt.rfind("Run-time error '61':\n\nDisk full: " + mount_.string(), 0), 0u)
      << box.prompt;
  EXPECT_FALSE(fs::exists(folder_ / "thumb_cat.jpg"));
  EXPECT_EQ(testsupport::namesIn(mount_), std::vector<std::string>{"filler"});
  fs::remove(mount_ / "filler");
  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt, "File saved to : " + (folder_ / "thumb_cat.jpg").string());
}

}  // namespace
