// quorvane-thumb on a folder of every format: names, backgrounds, broken files.
#include "tests/batch/formats_support.h"
#include "tests/support/temp_folder.h"

using namespace formatstest;  // NOLINT(google-build-using-namespace)

namespace {

class FormatsCommand : public ::testing::Test {
 protected:
  testsupport::TempFolder folder_{"quorvane-formats"};
  const fs::path dir_ = folder_.path();
};

TEST_F(FormatsCommand, MakesThumbNameDotJpgOfEveryFormatInAFolderSearch) {
  const SampleImage landscape = tools::quadrants(400, 300, kColours);
  const SampleImage portrait = tools::quadrants(300, 400, kColours);
  testsupport::writeBytes(dir_ / "a.png", tools::encodePng(landscape));
  testsupport::writeBytes(dir_ / "b.WEBP", tools::encodeWebp(portrait));
  testsupport::writeBytes(dir_ / "c.tif", tools::encodeTiff(landscape, {.compression = 7}));
  testsupport::writeBytes(dir_ / "d.TIFF", tools::encodeTiff(portrait, {.compression = 5}));
  testsupport::writeBytes(dir_ / "IMG_0001.HEIC", tools::encodeHeif(landscape, {.orientation = 6}));
  testsupport::writeBytes(dir_ / "f.heif", tools::encodeHeif(portrait));
  testsupport::writeBytes(dir_ / "g.Avif", tools::encodeHeif(landscape, {.avif = true}));
  tools::writeFile((dir_ / "h.gif").string(),
                   tools::encodeGif({{4, 4, std::vector<std::uint8_t>(64, 200)}}));
  testsupport::writeBytes(dir_ / "thumb_old.png.jpg",
                          std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0xD9});
  fs::create_directory(dir_ / "sub");
  testsupport::writeBytes(dir_ / "sub" / "i.png", tools::encodePng(portrait, true));

  const CommandResult result = runThumb({"-r", "."}, dir_);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const std::map<std::string, std::pair<int, int>> sizes = {
      {"thumb_a.png.jpg", {125, 94}},         {"thumb_b.WEBP.jpg", {94, 125}},
      {"thumb_c.tif.jpg", {125, 94}},         {"thumb_d.TIFF.jpg", {94, 125}},
      {"thumb_IMG_0001.HEIC.jpg", {94, 125}}, {"thumb_f.heif.jpg", {94, 125}},
      {"thumb_g.Avif.jpg", {125, 94}},        {"sub/thumb_i.png.jpg", {94, 125}},
  };
  for (const auto& [name, size] : sizes) {
    SCOPED_TRACE(name);
    const RgbaImage thumbnail = readJpeg(dir_ / name);
    EXPECT_EQ(std::pair(thumbnail.width, thumbnail.height), size);
    expectQuadrants(
        thumbnail,
        name.find("HEIC") != std::string::npos ? uprightQuadrants(kColours, 6) : kColours, 20);
  }
  EXPECT_TRUE(fs::exists(dir_ / "thumb_h.gif"));
  EXPECT_FALSE(fs::exists(dir_ / "thumb_thumb_old.png.jpg"));
  EXPECT_FALSE(fs::exists(dir_ / "thumb_thumb_old.png.jpg.jpg"));

  const CommandResult planned = runThumb({"-n", "a.png", "g.Avif", "h.gif"}, dir_);
  EXPECT_EQ(linesOf(planned.out),
            (std::vector<std::string>{"thumb_a.png.jpg", "thumb_g.Avif.jpg", "thumb_h.gif"}));
}

TEST_F(FormatsCommand, TransparentPixelsShowTheBackground) {
  testsupport::writeBytes(dir_ / "clear.png", tools::encodePng(leftHalfClear(kColours, 200, 150)));
  testsupport::writeBytes(dir_ / "clear.webp",
                          tools::encodeWebp(leftHalfClear(kColours, 200, 150), true));
  const CommandResult result = runThumb({"--background=#ff00ff", "clear.png", "clear.webp"}, dir_);
  ASSERT_EQ(result.status, 0) << result.err;
  for (const char* name : {"thumb_clear.png.jpg", "thumb_clear.webp.jpg"}) {
    SCOPED_TRACE(name);
    const RgbaImage thumbnail = readJpeg(dir_ / name);
    const std::array<int, 4> left = pixelAt(thumbnail, 0.2, 0.5);
    EXPECT_NEAR(left[0], 255, 12);
    EXPECT_NEAR(left[1], 0, 12);
    EXPECT_NEAR(left[2], 255, 12);
    EXPECT_NEAR(pixelAt(thumbnail, 0.8, 0.25)[1], kColours[1][1], 20);
  }
}

TEST_F(FormatsCommand, EachBrokenFileIsOneFailureLineNamingIt) {
  const SampleImage image = tools::quadrants(64, 48, kColours);
  const std::vector<std::uint8_t> png = tools::encodePng(image);
  testsupport::writeBytes(dir_ / "cut.png",
                          {png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2)});
  const std::vector<std::uint8_t> heic = tools::encodeHeif(image);
  testsupport::writeBytes(
      dir_ / "cut.heic",
      {heic.begin(), heic.begin() + static_cast<std::ptrdiff_t>(heic.size() / 2)});
  testsupport::writeBytes(
      dir_ / "text.webp",
      std::vector<std::uint8_t>{'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'});
  std::vector<std::uint8_t> huge = tools::encodePng(image);
  putBigEndian(huge, 16, 30000);
  putBigEndian(huge, 20, 30000);
  putBigEndian(huge, 29, crc32(&huge[12], 17));
  testsupport::writeBytes(dir_ / "huge.png", huge);
  testsupport::writeBytes(dir_ / "fine.tif", tools::encodeTiff(image));

  const CommandResult result = runThumb({"-j2", "."}, dir_);
  EXPECT_EQ(result.status, 1);
  std::vector<std::string> lines = linesOf(result.err);
  ASSERT_EQ(lines.size(), 5u) << result.err;
  EXPECT_EQ(lines.back(), "quorvane-thumb: 4 of 5 pictures failed");
  lines.pop_back();
  std::sort(lines.begin(), lines.end());  // in the order the two workers finished
  EXPECT_EQ(lines[0].rfind("quorvane-thumb: ./cut.heic: ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("quorvane-thumb: ./cut.png: ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2],
            "quorvane-thumb: ./huge.png: Picture too large to draw: 30000 x 30000 "
            "pixels (the limit is 100 megapixels)");
  EXPECT_EQ(lines[3].rfind("quorvane-thumb: ./text.webp: Invalid picture", 0), 0u) << lines[3];
  EXPECT_TRUE(fs::exists(dir_ / "thumb_fine.tif.jpg"));
}

// libheif stops the process on this file (an assertion the HEIF fuzzer found): the command
// decodes HEIF in a child process, so it is one failure line and the run goes on.
TEST_F(FormatsCommand, AHeifThatStopsItsDecoderIsOneFailureLine) {
  fs::copy_file(fs::path(QUORVANE_SOURCE_DIR) / "tests/fuzz/regressions/fuzz_heif" /
                    "crash-5c031bcba521cce45a9c56a01a66a2942b95f1ad",
                dir_ / "stops.heic");
  testsupport::writeBytes(dir_ / "fine.heic",
                          tools::encodeHeif(tools::quadrants(64, 48, kColours)));
  const CommandResult result = runThumb({"-j1", "stops.heic", "fine.heic"}, dir_);
  EXPECT_EQ(result.status, 1);
  const std::vector<std::string> lines = linesOf(result.err);
  ASSERT_EQ(lines.size(), 2u) << result.err;
  EXPECT_EQ(lines[0].rfind("quorvane-thumb: stops.heic: Invalid picture (HEIF: its decoder stopped "
                           "on it: ",
                           0),
            0u)
      << lines[0];
  EXPECT_NE(lines[0].find("Assertion"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "quorvane-thumb: 1 of 2 pictures failed");
  EXPECT_EQ(readJpeg(dir_ / "thumb_fine.heic.jpg").width, 125);
}

}  // namespace
