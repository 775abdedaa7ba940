// The command's thumbnails against the window's: the same canvas size for every picture and size,
// and the very same bytes, made in process and by the program.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>

#include "batch/thumbnail.h"
#include "platform/forms/forms.h"
#include "platform/picture/picture.h"
#include "tests/batch/command_runner.h"
#include "tests/batch/test_pictures.h"
#include "tests/support/icc_profiles.h"
#include "tests/support/picture_writers.h"
#include "tests/support/qt/window_fixture.h"

namespace fs = std::filesystem;

namespace {

class WindowMatch : public FormTest {
 protected:
  void refreshList() { form_->File1.setPath(folder_.string()); }

  // Clicks the picture at this size in the window; true when it was drawn.
  bool preview(const std::string& name, int size) {
    form_->Text1.setText(std::to_string(size));
    clickFile(name);
    return boxes_.empty();
  }

  // The bytes "Create Thumbnail" writes for the picture at this size; the file is removed.
  std::vector<std::uint8_t> windowThumbnail(const std::string& name, int size) {
    if (!preview(name, size)) return {};
    form_->Command1.click();
    const fs::path output = folder_ / ("thumb_" + name);
    EXPECT_EQ(takeBox().prompt, "File saved to : " + output.string());
    std::vector<std::uint8_t> bytes = testsupport::readBytes(output);
    fs::remove(output);
    return bytes;
  }

  std::vector<std::uint8_t> commandThumbnail(const std::string& name, int size) {
    const platform::JpegBytes jpeg =
        maker_.make(*platform::loadPicture((folder_ / name).string()), size);
    return std::vector<std::uint8_t>(jpeg.data.get(), jpeg.data.get() + jpeg.size);
  }

  thumb::ThumbnailMaker maker_;
};

TEST_F(WindowMatch, EveryShapeAndSizeGivesTheWindowsCanvasAndBytes) {
  const std::vector<std::pair<int, int>> shapes = {{640, 480}, {480, 640}, {100, 100}, {1000, 3},
                                                   {3, 1000},  {333, 250}, {112, 100}, {58, 100}};
  for (const auto& [width, height] : shapes) {
    const std::string name = std::to_string(width) + "x" + std::to_string(height) + ".jpg";
    testsupport::writeJpeg(folder_ / name, testsupport::quadrants(width, height),
                           {testsupport::Sampling::k420, 80});
  }
  refreshList();
  for (const auto& [width, height] : shapes) {
    const std::string name = std::to_string(width) + "x" + std::to_string(height) + ".jpg";
    for (int size : {1, 7, 14, 25, 60, 61, 125, 173, 175, 333}) {
      SCOPED_TRACE(name + " at " + std::to_string(size));
      const std::vector<std::uint8_t> window = windowThumbnail(name, size);
      ASSERT_FALSE(window.empty());
      const thumb::ThumbnailCanvas canvas = thumb::thumbnailCanvas(width, height, size);
      EXPECT_EQ(canvas.width, form_->Picture1.ScalePixelWidth());
      EXPECT_EQ(canvas.height, form_->Picture1.ScalePixelHeight());
      EXPECT_TRUE(commandThumbnail(name, size) == window);
    }
  }
}

TEST_F(WindowMatch, ThumbnailsAreByteIdenticalToTheWindows) {
  // The command paints on the window's back colour as the default palette gives it.
  ASSERT_EQ(platform::buttonFaceColor(), thumb::kDefaultBackColor);
  batchtest::writeSceneJpeg(folder_ / "scene.jpg", 640, 427);
  // Large and progressive: drawn from its DC scans.
  batchtest::writeSceneJpeg(folder_ / "large.jpg", 2400, 1600, 5, true);
  batchtest::writeSceneGif(folder_ / "opaque.gif", 300, 200);
  batchtest::writeSceneGif(folder_ / "clear.gif", 120, 90, true);
  refreshList();
  const std::vector<std::string> names = {"scene.jpg", "large.jpg", "opaque.gif", "clear.gif"};
  for (const std::string& name : names) {
    for (int size : {125, 61, 175, 16}) {
      SCOPED_TRACE(name + " at " + std::to_string(size));
      const std::vector<std::uint8_t> window = windowThumbnail(name, size);
      ASSERT_FALSE(window.empty());
      EXPECT_TRUE(commandThumbnail(name, size) == window);
    }
  }

  // And the program itself, GIFs through its module.
  std::vector<std::vector<std::uint8_t>> windows;
  windows.reserve(names.size());
  for (const std::string& name : names) windows.push_back(windowThumbnail(name, 125));
  std::vector<std::string> args = {"-j", "2"};
  args.insert(args.end(), names.begin(), names.end());
  const CommandResult result = runThumb(args, folder_);
  ASSERT_EQ(result.status, 0) << result.err;
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_TRUE(testsupport::readBytes(folder_ / ("thumb_" + names[i])) == windows[i]) << names[i];
  }
}

// A profile's colours come out as sRGB in the window and in the command alike, and the thumbnail
// carries no profile: it is right in any viewer.
TEST_F(WindowMatch, TaggedPicturesComeOutInSrgbEverywhere) {
  const testsupport::Rgb colour{180, 120, 60};
  const auto flat = testsupport::makeImage(200, 150, [colour](int, int) { return colour; });
  const std::vector<std::uint8_t> plain =
      testsupport::encodeJpeg(flat, {testsupport::Sampling::k420, 95});
  const struct {
    const char* name;
    testsupport::IccProfile profile;
  } tagged[] = {{"adobe.jpg", testsupport::adobeRgbProfile()},
                {"prophoto.jpg", testsupport::proPhotoProfile()}};
  ASSERT_TRUE(testsupport::writeBytes(folder_ / "plain.jpg", plain));
  for (const auto& [name, profile] : tagged) {
    ASSERT_TRUE(
        testsupport::writeBytes(folder_ / name, testsupport::withIccProfile(plain, profile)));
  }
  refreshList();
  const auto centreOf = [](const std::vector<std::uint8_t>& jpeg) {
    const QImage image = QImage::fromData(jpeg.data(), static_cast<int>(jpeg.size()));
    const QRgb pixel = image.pixel(image.width() / 2, image.height() / 2);
    return testsupport::Rgb{qRed(pixel), qGreen(pixel), qBlue(pixel)};
  };
  const testsupport::Rgb stored = centreOf(windowThumbnail("plain.jpg", 125));
  std::vector<std::string> names;
  std::vector<std::vector<std::uint8_t>> windows;
  for (const auto& [name, profile] : tagged) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> window = windowThumbnail(name, 125);
    ASSERT_FALSE(window.empty());
    EXPECT_TRUE(commandThumbnail(name, 125) == window);
    const testsupport::Rgb expected = testsupport::throughProfile(
        profile, testsupport::IccInput::kRgb, {stored.r, stored.g, stored.b});
    const testsupport::Rgb drawn = centreOf(window);
    EXPECT_NEAR(drawn.r, expected.r, 3);
    EXPECT_NEAR(drawn.g, expected.g, 3);
    EXPECT_NEAR(drawn.b, expected.b, 3);
    const std::uint8_t app2[] = {0xFF, 0xE2};
    EXPECT_EQ(std::search(window.begin(), window.end(), app2, app2 + 2), window.end());
    names.push_back(name);
    windows.push_back(window);
  }
  const CommandResult result = runThumb(names, folder_);
  ASSERT_EQ(result.status, 0) << result.err;
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_TRUE(testsupport::readBytes(folder_ / ("thumb_" + names[i])) == windows[i]) << names[i];
  }
}

// Where the area and the drawing round one pixel apart, the drawing is stretched to the area's
// edge: 112 x 100 at 14 rounds to a 14 x 13 area and a 14 x 12 drawing.
TEST_F(WindowMatch, ADrawingAPixelShortOfTheEdgeReachesIt) {
  const thumb::ThumbnailCanvas canvas = thumb::thumbnailCanvas(112, 100, 14);
  EXPECT_EQ(std::pair(canvas.width, canvas.height), std::pair(14, 13));
  EXPECT_EQ(std::pair(canvas.drawnWidth, canvas.drawnHeight), std::pair(14, 13));
  batchtest::writeSceneJpeg(folder_ / "short.jpg", 112, 100);
  batchtest::writeSceneJpeg(folder_ / "narrow.jpg", 58, 100);  // 15 x 25 at 25: a column short
  refreshList();
  for (const auto& [name, size] : {std::pair{"short.jpg", 14}, std::pair{"narrow.jpg", 25}}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> window = windowThumbnail(name, size);
    ASSERT_FALSE(window.empty());
    EXPECT_TRUE(commandThumbnail(name, size) == window);
  }
}

}  // namespace
