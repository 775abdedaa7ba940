// Reading picture files that change or fail under the reader: a picture once read holds no file,
// a file cut short afterwards draws as it was read, a read that fails is a run-time error (the
// window's box, one failed picture in quorvane-thumb), never a signal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/base/runtime_error.h"
#include "platform/picture/picture.h"
#include "tests/support/picture_writers.h"
#include "tests/support/process_state.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testsupport::holdsFile;

// A large progressive photo-like JPEG: noise over a gradient, some hundreds of kilobytes.
std::vector<std::uint8_t> largeProgressiveJpeg() {
  const testsupport::RgbImage image = testsupport::makeImage(1200, 800, [](int x, int y) {
    const unsigned noise = (static_cast<unsigned>(x) * 2654435761u) ^ (y * 40503u);
    return testsupport::Rgb{static_cast<int>(x * 200 / 1199 + noise % 40),
                            static_cast<int>(y * 200 / 799 + (noise >> 8) % 40), 90};
  });
  return testsupport::encodeJpeg(image,
                                 testsupport::JpegOptions{testsupport::Sampling::k420, 90, true});
}

class PictureFile : public testing::Test {
 protected:
  void SetUp() override {
    path_ = fs::path(testing::TempDir()) / ("quorvane_picture_file_" + std::to_string(getpid()));
  }
  void TearDown() override { std::remove(path_.c_str()); }
  void write(const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  fs::path path_;
};

TEST_F(PictureFile, APictureReadHoldsNoFileAndACutShortFileDrawsAsItWasRead) {
  const std::vector<std::uint8_t> jpeg = largeProgressiveJpeg();
  ASSERT_GT(jpeg.size(), 256u * 1024);
  write(jpeg);
  const auto picture = loadPicture(path_.string());
  EXPECT_FALSE(holdsFile(path_)) << "the file is still open or mapped";
  // Another program cuts the file short before the picture is drawn.
  fs::resize_file(path_, 1000);
  const RgbaImage drawn = renderPicture(*picture, 150, 100);
  const RgbaImage whole = renderPicture(*loadPictureFromBytes(jpeg), 150, 100);
  EXPECT_EQ(drawn.pixels, whole.pixels);
}

TEST_F(PictureFile, AReadThatFailsIsDeviceIOError) {
  // Reading this process's memory at offset 0 fails with EIO, as a failing medium does.
  try {
    loadPicture("/proc/self/mem");
    ADD_FAILURE() << "no error";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.number(), kErrDeviceIO);
    EXPECT_EQ(error.description(), "Device I/O error: /proc/self/mem");
  }
}

}  // namespace
}  // namespace platform
