// "Create Thumbnail": what is written, what is said, and what is never left behind.
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "tests/support/jpeg_probe.h"
#include "tests/support/picture_writers.h"
#include "tests/support/qt/window_fixture.h"

namespace fs = std::filesystem;

namespace {

using testsupport::decodeJpegFile;
using testsupport::probeJpegFile;

// With a temporary folder of its own, which every click must leave empty.
class Thumbnail : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    setenv("TMPDIR", tmpdir_.path().c_str(), 1);
  }
  void TearDown() override {
    EXPECT_TRUE(fs::is_empty(tmpdir_.path())) << "a temporary file was left behind";
    unsetenv("TMPDIR");
    FormTest::TearDown();
  }
  const testsupport::TempFolder tmpdir_{"quorvane-tmpdir"};
};

TEST_F(Thumbnail, WithoutASelectionSaysSoAndTouchesNothing) {
  writeJpeg("cat.jpg", 64, 48);
  const auto before = testsupport::namesIn(folder_);
  form_->Command1.click();
  const auto box = takeBox();
  EXPECT_EQ(box.prompt, "No picture selected");
  EXPECT_EQ(box.style, 0);
  EXPECT_EQ(box.title, "Prompt");
  EXPECT_EQ(testsupport::namesIn(folder_), before);
}

TEST_F(Thumbnail, WritesWhatTheCanvasShowsBesideTheSource) {
  writeJpeg("cat.jpg", 640, 480);
  writeJpeg("tall.jpg", 480, 640);
  for (const auto& [name, width, height] :
       {std::tuple{"cat.jpg", 125, 94}, std::tuple{"tall.jpg", 94, 125}}) {
    clickFile(name);
    form_->Command1.click();
    const fs::path output = folder_ / (std::string("thumb_") + name);
    const auto box = takeBox();
    EXPECT_EQ(box.prompt, "File saved to : " + output.string());
    EXPECT_EQ(box.style, 0);
    EXPECT_EQ(box.title, "Prompt");
    const testsupport::JpegProbe probe = probeJpegFile(output);
    EXPECT_EQ(probe.width, width);
    EXPECT_EQ(probe.height, height);
    EXPECT_EQ(probe.sampling, testsupport::Sampling::k420);
    // Upright, not mirrored: the quadrants' colours are where they were.
    const testsupport::RgbImage thumb = decodeJpegFile(output);
    ASSERT_EQ(thumb.width, width);
    const testsupport::Mean topLeft = testsupport::meanOf(thumb, 5, 5, 25, 25);
    const testsupport::Mean bottomRight =
        testsupport::meanOf(thumb, width - 25, height - 25, width - 5, height - 5);
    EXPECT_GT(topLeft.r, 180);
    EXPECT_LT(topLeft.g, 80);
    EXPECT_GT(bottomRight.r, 180);
    EXPECT_GT(bottomRight.g, 170);
    EXPECT_LT(bottomRight.b, 80);
  }
}

TEST_F(Thumbnail, TheTemporaryBitmapIsGoneBeforeTheConfirmationShows) {
  writeJpeg("cat.jpg", 640, 480);
  clickFile("cat.jpg");
  std::vector<std::string> prompts;
  bool temporaryGone = false;
  platform::setMsgBoxHandler([&](const platform::MsgBoxRequest& box) {
    prompts.push_back(box.prompt);
    temporaryGone = fs::is_empty(tmpdir_.path());
    return platform::vbOK;
  });
  form_->Command1.click();
  platform::setMsgBoxHandler({});
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts.front().rfind("File saved to : ", 0), 0u);
  EXPECT_TRUE(temporaryGone) << "the bitmap file was still there while the box was open";
}

TEST_F(Thumbnail, NamesAreJoinedAsTheyStand) {
  writeGif("dog.gif", testsupport::gifFrameOf(testsupport::quadrants(60, 40)));
  writeJpeg("thumb_cat.jpg", 60, 40);
  writeJpeg("odd name 'ü' 🐱.jpg", 60, 40);
  for (const std::string name : {"dog.gif", "thumb_cat.jpg", "odd name 'ü' 🐱.jpg"}) {
    clickFile(name);
    form_->Command1.click();
    EXPECT_EQ(takeBox().prompt, "File saved to : " + (folder_ / ("thumb_" + name)).string());
    EXPECT_EQ(probeJpegFile(folder_ / ("thumb_" + name)).width, 125);  // JPEG data, any name
  }
}

TEST_F(Thumbnail, ASecondRequestReplacesTheFirst) {
  writeJpeg("cat.jpg", 640, 480);
  clickFile("cat.jpg");
  form_->Command1.click();
  const std::string first = takeBox().prompt;
  form_->Text1.setText("60");
  clickFile("cat.jpg");
  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt, first);
  EXPECT_EQ(probeJpegFile(folder_ / "thumb_cat.jpg").width, 60);
  EXPECT_EQ(testsupport::namesIn(folder_), (std::vector<std::string>{"cat.jpg", "thumb_cat.jpg"}));
}

TEST_F(Thumbnail, OnlyARealPreviewIsSaved) {
  writeJpeg("cat.jpg", 64, 48);
  std::ofstream(folder_ / "broken.jpg") << "not a picture";
  form_->File1.setPath(folder_.string());
  clickFile("broken.jpg");
  takeBox();  // the run-time error of the click
  form_->Command1.click();
  const auto box = takeBox();
  EXPECT_NE(box.prompt.find("broken.jpg"), std::string::npos) << box.prompt;
  EXPECT_FALSE(fs::exists(folder_ / "thumb_broken.jpg"));

  form_->Text1.setText("size");
  clickFile("cat.jpg");
  takeBox();
  form_->Command1.click();
  takeBox();
  EXPECT_FALSE(fs::exists(folder_ / "thumb_cat.jpg"));
}

TEST_F(Thumbnail, AFailedWriteIsReportedByTheWriterAlone) {
  writeJpeg("cat.jpg", 64, 48);
  fs::create_directory(folder_ / "thumb_cat.jpg");  // the output path cannot be a file
  clickFile("cat.jpg");
  form_->Command1.click();
  const auto box = takeBox();
  EXPECT_EQ(box.prompt.rfind("IJL ERROR: [-", 0), 0u) << box.prompt;
  EXPECT_NE(box.prompt.find("] - Failed to save to JPG"), std::string::npos) << box.prompt;
  EXPECT_EQ(box.style, 48);
  EXPECT_EQ(box.title, "Intel(R) JPEG Library");
  EXPECT_TRUE(fs::is_directory(folder_ / "thumb_cat.jpg"));
}

TEST_F(Thumbnail, AReadOnlyFolderKeepsItsEarlierThumbnail) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  writeJpeg("cat.jpg", 64, 48);
  std::ofstream(folder_ / "thumb_cat.jpg") << "earlier";
  fs::permissions(folder_, fs::perms::owner_write, fs::perm_options::remove);
  clickFile("cat.jpg");
  form_->Command1.click();
  EXPECT_EQ(takeBox().prompt.rfind("IJL ERROR: [-", 0), 0u);
  fs::permissions(folder_, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(testsupport::readText(folder_ / "thumb_cat.jpg"), "earlier");
}

TEST_F(Thumbnail, ATemporaryFolderThatCannotBeWrittenIsARunTimeError) {
  writeJpeg("cat.jpg", 64, 48);
  clickFile("cat.jpg");
  setenv("TMPDIR", (tmpdir_.path() / "missing").c_str(), 1);
  form_->Command1.click();
  const auto box = takeBox();
  EXPECT_EQ(box.prompt.rfind("Run-time error '76':", 0), 0u) << box.prompt;
  EXPECT_FALSE(fs::exists(folder_ / "thumb_cat.jpg"));
  setenv("TMPDIR", tmpdir_.path().c_str(), 1);
  form_->Command1.click();  // and the program goes on
  EXPECT_EQ(takeBox().prompt, "File saved to : " + (folder_ / "thumb_cat.jpg").string());
}

}  // namespace
