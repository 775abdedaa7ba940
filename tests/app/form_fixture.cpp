#include "tests/app/form_fixture.h"

#include <unistd.h>

#include <QPainter>

#include "platform/forms/forms_impl.h"
#include "tools/gif_writer.h"
#include "tools/picture_art.h"

namespace fs = std::filesystem;

void FormTest::SetUp() {
  char pattern[] = "/tmp/quorvane-form-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder_ = pattern;
  platform::setMsgBoxHandler([this](const platform::MsgBoxRequest& request) {
    boxes_.push_back(request);
    return platform::vbOK;
  });
  form_ = std::make_unique<Form1>();
  openFolder(folder_);
}

void FormTest::TearDown() {
  form_.reset();
  platform::setMsgBoxHandler({});
  for (const auto& box : boxes_) ADD_FAILURE() << "unexpected box: " << box.prompt;
  std::error_code ignored;
  fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(folder_, ignored);
}

platform::MsgBoxRequest FormTest::takeBox() {
  if (boxes_.empty()) {
    ADD_FAILURE() << "expected a box, none was shown";
    return {};
  }
  platform::MsgBoxRequest box = boxes_.front();
  boxes_.pop_front();
  return box;
}

void FormTest::openFolder(const fs::path& folder) {
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
  writeJpeg(name, quadrants(width, height));
}

void FormTest::writeJpeg(const std::string& name, const QImage& image) {
  ASSERT_TRUE(tools::saveJpeg(image, (folder_ / name).string(), 95));
  form_->File1.setPath(folder_.string());
}

void FormTest::writeGif(const std::string& name, const QImage& image) {
  const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
  tools::GifFrame frame{rgba.width(), rgba.height(), {}};
  for (int y = 0; y < rgba.height(); ++y) {
    frame.rgba.insert(frame.rgba.end(), rgba.constScanLine(y), rgba.constScanLine(y) + rgba.width() * 4);
  }
  ASSERT_TRUE(tools::writeFile((folder_ / name).string(), tools::encodeGif({frame})));
  form_->File1.setPath(folder_.string());
}

QImage FormTest::canvas() const { return platform::pictureBitmap(form_->Picture1.Image()); }

QImage quadrants(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  const int w = width / 2, h = height / 2;
  painter.fillRect(0, 0, w, h, QColor(220, 30, 30));
  painter.fillRect(w, 0, width - w, h, QColor(30, 200, 30));
  painter.fillRect(0, h, w, height - h, QColor(30, 30, 220));
  painter.fillRect(w, h, width - w, height - h, QColor(230, 220, 30));
  return image;
}

QColor meanColor(const QImage& image, const QRect& rect) {
  long r = 0, g = 0, b = 0, n = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x, ++n) {
      const QRgb p = image.pixel(x, y);
      r += qRed(p);
      g += qGreen(p);
      b += qBlue(p);
    }
  }
  if (n == 0) return {};
  return QColor(static_cast<int>(r / n), static_cast<int>(g / n), static_cast<int>(b / n));
}
