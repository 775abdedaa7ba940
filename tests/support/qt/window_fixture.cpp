#include "tests/support/qt/window_fixture.h"

#include "platform/forms/forms_impl.h"
#include "tests/support/picture_writers.h"

void FormTest::SetUp() {
  form_ = std::make_unique<Form1>();
  openFolder(folder_);
}

// The form goes while the boxes are still recorded: a box it shows on the way is unexpected.
void FormTest::TearDown() { form_.reset(); }

void FormTest::openFolder(const std::filesystem::path& folder) {
  form_->Dir1.setPath(folder.string());
}

void FormTest::clickFile(const std::string& name) {
  for (int i = 0; i < form_->File1.ListCount(); ++i) {
    if (form_->File1.List(i) == name) {
      form_->File1.click(i);
      return;
    }
  }
  ADD_FAILURE() << name << " is not in the file list";
}

void FormTest::writeJpeg(const std::string& name, int width, int height) {
  ASSERT_TRUE(testsupport::writeJpeg(folder_ / name, testsupport::quadrants(width, height),
                                     {testsupport::Sampling::k420, 95}));
  form_->File1.setPath(folder_.string());
}

void FormTest::writeGif(const std::string& name, const tools::GifFrame& frame) {
  ASSERT_TRUE(testsupport::writeBytes(folder_ / name, tools::encodeGif({frame})));
  form_->File1.setPath(folder_.string());
}

QImage FormTest::canvas() const { return platform::pictureBitmap(form_->Picture1.Image()); }

void FormTest::expectError(int number, const std::filesystem::path& path) {
  const platform::MsgBoxRequest box = takeBox();
  const std::string head = "Run-time error '" + std::to_string(number) + "':\n\n";
  EXPECT_EQ(box.prompt.rfind(head, 0), 0u) << box.prompt;
  EXPECT_NE(box.prompt.find(path.string()), std::string::npos) << box.prompt;
  EXPECT_EQ(box.title, "Quorvane");
}

int FormTest::folderRow(const std::filesystem::path& path) const {
  for (int i = 0; i < form_->Dir1.ListCount(); ++i) {
    if (form_->Dir1.List(i) == path.string()) return i;
  }
  ADD_FAILURE() << path << " is not in the folder list";
  return -1;
}
