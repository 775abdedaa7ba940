// "Create Thumbnail": what is written, what is said, and what is never left behind.
#include <turbojpeg.h>
#include <unistd.h>

#include <QColor>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/app/form_fixture.h"

namespace fs = std::filesystem;

namespace {

struct Decoded {
  int width = 0, height = 0, subsampling = -1;
  QImage image;
};

Decoded decodeJpeg(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), {}};
  Decoded out;
  tjhandle handle = tjInitDecompress();
  int colourspace = 0;
  if (tjDecompressHeader3(handle, bytes.data(), bytes.size(), &out.width, &out.height,
                          &out.subsampling, &colourspace) == 0) {
    out.image = QImage(out.width, out.height, QImage::Format_RGB888);
    tjDecompress2(handle, bytes.data(), bytes.size(), out.image.bits(), out.width,
                  static_cast<int>(out.image.bytesPerLine()), out.height, TJPF_RGB, 0);
  }
  tjDestroy(handle);
  return out;
}

class Thumbnail : public FormTest {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvane-tmpdir-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    tmpdir_ = pattern;
    setenv("TMPDIR", pattern, 1);
    FormTest::SetUp();
  }
  void TearDown() override {
    EXPECT_TRUE(fs::is_empty(tmpdir_)) << "a temporary file was left behind";
    unsetenv("TMPDIR");
    fs::remove_all(tmpdir_);
    FormTest::TearDown();
  }
  std::vector<std::string> filesInFolder() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path tmpdir_;
};

TEST_F(Thumbnail, WithoutASelectionSaysSoAndTouchesNothing) {
  writeJpeg("cat.jpg", 64, 48);
  const auto before = filesInFolder();
  form_->Command1.click();
  const auto box = takeBox();
  EXPECT_EQ(box.prompt, "No picture selected");
  EXPECT_EQ(box.style, 0);
  EXPECT_EQ(box.title, "Prompt");
  EXPECT_EQ(filesInFolder(), before);
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
    const Decoded thumb = decodeJpeg(output);
    EXPECT_EQ(thumb.width, width);
    EXPECT_EQ(thumb.height, height);
    EXPECT_EQ(thumb.subsampling, TJSAMP_420);
    // Upright, not mirrored: the quadrants' colours are where they were.
    const QColor topLeft = meanColor(thumb.image, QRect(5, 5, 20, 20));
    const QColor bottomRight = meanColor(thumb.image, QRect(width - 25, height - 25, 20, 20));
    EXPECT_GT(topLeft.red(), 180);
    EXPECT_LT(topLeft.green(), 80);
    EXPECT_GT(bottomRight.red(), 180);
    EXPECT_GT(bottomRight.green(), 170);
    EXPECT_LT(bottomRight.blue(), 80);
  }
}

TEST_F(Thumbnail, NamesAreJoinedAsTheyStand) {
  writeGif("dog.gif", quadrants(60, 40));
  writeJpeg("thumb_cat.jpg", 60, 40);
  writeJpeg("odd name 'ü' 🐱.jpg", 60, 40);
  for (const std::string name : {"dog.gif", "thumb_cat.jpg", "odd name 'ü' 🐱.jpg"}) {
    clickFile(name);
    form_->Command1.click();
    EXPECT_EQ(takeBox().prompt, "File saved to : " + (folder_ / ("thumb_" + name)).string());
    EXPECT_EQ(decodeJpeg(folder_ / ("thumb_" + name)).width, 125);  // JPEG data, any name
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
  EXPECT_EQ(decodeJpeg(folder_ / "thumb_cat.jpg").width, 60);
  EXPECT_EQ(filesInFolder(), (std::vector<std::string>{"cat.jpg", "thumb_cat.jpg"}));
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
  std::ifstream earlier(folder_ / "thumb_cat.jpg");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(earlier), {}), "earlier");
}

TEST_F(Thumbnail, ATemporaryFolderThatCannotBeWrittenIsARunTimeError) {
  writeJpeg("cat.jpg", 64, 48);
  clickFile("cat.jpg");
  setenv("TMPDIR", (tmpdir_ / "missing").c_str(), 1);
  form_->Command1.click();
  const auto box = takeBox();
  EXPECT_EQ(box.prompt.rfind("Run-time error '76':", 0), 0u) << box.prompt;
  EXPECT_FALSE(fs::exists(folder_ / "thumb_cat.jpg"));
  setenv("TMPDIR", tmpdir_.c_str(), 1);
  form_->Command1.click();  // and the program goes on
  EXPECT_EQ(takeBox().prompt, "File saved to : " + (folder_ / "thumb_cat.jpg").string());
}

}  // namespace
