// Reading and drawing pictures through the public interface, with pictures the tests make.
#include "platform/picture/picture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <thread>

#include "platform/base/runtime_error.h"
#include "tests/support/images.h"
#include "tests/support/picture_writers.h"
#include "tests/support/runtime_errors.h"
#include "tests/support/temp_folder.h"

namespace platform {
namespace {

using testsupport::JpegOptions;
using testsupport::Rgb;
using testsupport::RgbImage;
using testsupport::Sampling;

RgbImage gradient(int width, int height) {
  return testsupport::makeImage(width, height, [=](int x, int y) {
    return Rgb{255 * x / (width - 1), 255 * y / (height - 1), 128};
  });
}

// Darkness-weighted centre of a drawing along x and y, in pixels from the top-left corner.
std::pair<double, double> darkCentre(const RgbaImage& image) {
  double sum = 0, sx = 0, sy = 0;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const double dark = 255.0 - testsupport::pixel(image, x, y)[0];
      sum += dark;
      sx += dark * (x + 0.5);
      sy += dark * (y + 0.5);
    }
  }
  return {sx / sum, sy / sum};
}

TEST(Picture, JpegOfEverySamplingDrawsAtAnySizeWithItsColours) {
  const RgbImage source = gradient(640, 480);
  for (Sampling sampling : {Sampling::k444, Sampling::k422, Sampling::k420, Sampling::kGrey}) {
    for (bool progressive : {false, true}) {
      SCOPED_TRACE(testing::Message() << "sampling " << static_cast<int>(sampling)
                                      << (progressive ? " progressive" : " baseline"));
      const auto picture = loadPictureFromBytes(
          testsupport::encodeJpeg(source, JpegOptions{sampling, 90, progressive}));
      EXPECT_EQ(picture->info().format, PictureFormat::kJpeg);
      EXPECT_EQ(picture->info().width, 640);
      EXPECT_EQ(picture->info().height, 480);
      const bool grey = sampling == Sampling::kGrey;
      for (auto [w, h] : {std::pair{125, 94}, {60, 45}, {640, 480}, {1000, 750}, {7, 3}}) {
        const RgbaImage image = renderPicture(*picture, w, h);
        ASSERT_EQ(image.width, w);
        ASSERT_EQ(image.height, h);
        ASSERT_EQ(image.pixels.size(), static_cast<size_t>(w) * h * 4);
        const testsupport::Mean mean = testsupport::meanOf(image);
        EXPECT_EQ(mean.a, 255.0);
        EXPECT_NEAR(mean.r, grey ? 127.5 * 0.886 + 128 * 0.114 : 127.5, 2.5) << w << "x" << h;
        EXPECT_NEAR(mean.g, grey ? mean.r : 127.5, 2.5) << w << "x" << h;
        if (w >= 60) {  // left to right the red rises
          EXPECT_LT(testsupport::pixel(image, 2, h / 2)[0] + (grey ? 50 : 200),
                    testsupport::pixel(image, w - 3, h / 2)[0]);
        }
      }
    }
  }
}

TEST(Picture, DrawingIsCentredAtEveryScale) {
  // A dark cross centred on white: its centre must stay at the drawing's centre whatever the
  // 1/8-step decoding scale and the resampling ratio, in both directions.
  for (auto [w, h] : {std::pair{640, 480}, {1003, 757}, {250, 190}, {97, 61}}) {
    const RgbImage source = testsupport::makeImage(w, h, [w = w, h = h](int x, int y) {
      const bool bar = std::abs(2 * x - (w - 1)) < w / 6 || std::abs(2 * y - (h - 1)) < h / 6;
      return bar ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
    });
    const auto jpeg = loadPictureFromBytes(testsupport::encodeJpeg(source, {Sampling::kGrey, 100}));
    for (auto [ow, oh] :
         {std::pair{125, 94}, {60, 31}, {w / 2, h / 2}, {w, h}, {w * 3 / 2, h + 7}}) {
      const RgbaImage image = renderPicture(*jpeg, ow, oh);
      const auto [cx, cy] = darkCentre(image);
      EXPECT_NEAR(cx, ow / 2.0, 0.03) << w << "x" << h << " -> " << ow << "x" << oh;
      EXPECT_NEAR(cy, oh / 2.0, 0.03) << w << "x" << h << " -> " << ow << "x" << oh;
    }
  }
}

// Where the stored pixels' first row and first column lie in the upright picture, per EXIF.
RgbImage storedForOrientation(const RgbImage& upright, int orientation) {
  const bool swap = orientation >= 5;
  const int w = swap ? upright.height : upright.width;
  const int h = swap ? upright.width : upright.height;
  const int uw = upright.width - 1;
  const int uh = upright.height - 1;
  return testsupport::makeImage(w, h, [&](int x, int y) {
    int ux = x, uy = y;
    switch (orientation) {
      case 2:  // row 0 at the top, column 0 at the right
        ux = uw - x;
        break;
      case 3:  // row 0 at the bottom, column 0 at the right
        ux = uw - x;
        uy = uh - y;
        break;
      case 4:  // row 0 at the bottom, column 0 at the left
        uy = uh - y;
        break;
      case 5:  // row 0 at the left, column 0 at the top
        ux = y;
        uy = x;
        break;
      case 6:  // row 0 at the right, column 0 at the top
        ux = uw - y;
        uy = x;
        break;
      case 7:  // row 0 at the right, column 0 at the bottom
        ux = uw - y;
        uy = uh - x;
        break;
      case 8:  // row 0 at the left, column 0 at the bottom
        ux = y;
        uy = uh - x;
        break;
    }
    const std::uint8_t* p = upright.at(ux, uy);
    return Rgb{p[0], p[1], p[2]};
  });
}

TEST(Picture, ExifOrientationIsAppliedToSizeAndPixels) {
  const Rgb red{230, 20, 20}, green{20, 230, 20}, blue{20, 20, 230}, yellow{230, 230, 20};
  const RgbImage upright = testsupport::makeImage(96, 64, [&](int x, int y) {
    return y < 32 ? (x < 48 ? red : green) : (x < 48 ? blue : yellow);
  });
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(testing::Message() << "orientation " << orientation);
    JpegOptions options{Sampling::k444, 95};
    options.app1 = testsupport::exifWithOrientation(orientation, orientation % 2 == 0);
    const auto picture = loadPictureFromBytes(
        testsupport::encodeJpeg(storedForOrientation(upright, orientation), options));
    EXPECT_EQ(picture->info().width, 96);
    EXPECT_EQ(picture->info().height, 64);
    const RgbaImage image = renderPicture(*picture, 48, 32);
    const Rgb expected[] = {red, green, blue, yellow};
    for (int quadrant = 0; quadrant < 4; ++quadrant) {
      const int x0 = quadrant % 2 * 24 + 6;
      const int y0 = quadrant / 2 * 16 + 4;
      const testsupport::Mean mean = testsupport::meanOf(image, x0, y0, x0 + 12, y0 + 8);
      EXPECT_NEAR(mean.r, expected[quadrant].r, 12) << "quadrant " << quadrant;
      EXPECT_NEAR(mean.g, expected[quadrant].g, 12) << "quadrant " << quadrant;
      EXPECT_NEAR(mean.b, expected[quadrant].b, 12) << "quadrant " << quadrant;
    }
  }
}

TEST(Picture, CmykAndYcckJpegsDrawTheirColours) {
  const Rgb colours[] = {{200, 30, 40}, {30, 160, 60}, {40, 60, 210}, {128, 128, 128}};
  const RgbImage source =
      testsupport::makeImage(64, 48, [&](int x, int y) { return colours[(y / 24) * 2 + x / 32]; });
  for (auto [adobe, ycck] : {std::pair{true, false}, {false, false}, {true, true}}) {
    SCOPED_TRACE(testing::Message() << (adobe ? "Adobe" : "plain") << (ycck ? " YCCK" : " CMYK"));
    const auto picture = loadPictureFromBytes(testsupport::encodeCmykJpeg(source, adobe, ycck));
    const RgbaImage image = renderPicture(*picture, 64, 48);
    for (int i = 0; i < 4; ++i) {
      const int x0 = (i % 2) * 32 + 8;
      const int y0 = (i / 2) * 24 + 6;
      const testsupport::Mean mean = testsupport::meanOf(image, x0, y0, x0 + 16, y0 + 12);
      EXPECT_NEAR(mean.r, colours[i].r, 6) << "colour " << i;
      EXPECT_NEAR(mean.g, colours[i].g, 6) << "colour " << i;
      EXPECT_NEAR(mean.b, colours[i].b, 6) << "colour " << i;
    }
  }
}

TEST(Picture, RefusesWhatItCannotRead) {
  EXPECT_RUNTIME_ERROR(loadPicture("/nonexistent/picture.jpg"), kErrFileNotFound);
  EXPECT_NE(testsupport::runtimeErrorOf([] { loadPicture("/tmp"); }), 0);
  const std::vector<std::vector<std::uint8_t>> bad = {
      {},           {'h', 'e', 'l', 'l', 'o'}, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'},
      {0xFF, 0xD8}, {0xFF, 0xD8, 0xFF, 0xD9},  {'G', 'I', 'F', '8', '9', 'a'},
  };
  for (const auto& bytes : bad) {
    EXPECT_RUNTIME_ERROR(loadPictureFromBytes(bytes), kErrInvalidPicture) << bytes.size();
  }
  // Half a JPEG still draws; broken entropy data is tolerated as libjpeg tolerates it.
  auto jpeg = testsupport::encodeJpeg(gradient(200, 100));
  jpeg.resize(jpeg.size() / 2);
  EXPECT_EQ(renderPicture(*loadPictureFromBytes(jpeg), 20, 10).width, 20);
}

TEST(Picture, RefusesUnreadableFiles) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const testsupport::TempFolder dir;
  const std::string path = dir.file("unreadable.jpg");
  testsupport::writeText(path, "x");
  chmod(path.c_str(), 0);
  EXPECT_RUNTIME_ERROR(loadPicture(path), kErrPermissionDenied);
}

TEST(Picture, ChecksTheDrawnSize) {
  const auto picture = loadPictureFromBytes(testsupport::encodeJpeg(gradient(64, 48)));
  EXPECT_RUNTIME_ERROR(renderPicture(*picture, 0, 10), kErrInvalidPropertyValue);
  EXPECT_RUNTIME_ERROR(renderPicture(*picture, 10, -1), kErrInvalidPropertyValue);
  EXPECT_RUNTIME_ERROR(renderPicture(*picture, kMaxPictureSide + 1, 10),
                       kErrCantCreateAutoRedrawImage);
  EXPECT_EQ(renderPicture(*picture, kMaxPictureSide, 1).width, kMaxPictureSide);
  EXPECT_EQ(renderPicture(*picture, 1, 1).pixels.size(), 4u);
}

// Patches the size in a JPEG's start-of-frame marker (SOF0 or SOF2).
void setFrameSize(std::vector<std::uint8_t>& jpeg, int width, int height) {
  for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
      jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<std::uint8_t>(height & 0xFF);
      jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<std::uint8_t>(width & 0xFF);
      return;
    }
  }
}

TEST(Picture, HugePicturesAreDrawnAtScaleOrRefusedBeforeAllocating) {
  // A baseline JPEG is decoded at 1/8: 30000 x 30000 needs 14 megapixels.
  auto baseline = testsupport::encodeJpeg(gradient(64, 48));
  setFrameSize(baseline, 30000, 30000);
  const auto big = loadPictureFromBytes(baseline);
  EXPECT_EQ(big->info().width, 30000);
  EXPECT_EQ(renderPicture(*big, 125, 125).width, 125);
  // A progressive one keeps all its coefficients: over the limit it is refused at once.
  auto progressive = testsupport::encodeJpeg(gradient(64, 48), {Sampling::k420, 90, true});
  setFrameSize(progressive, 12000, 10000);
  try {
    loadPictureFromBytes(progressive);
    ADD_FAILURE() << "a 120-megapixel progressive JPEG loaded";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.number(), kErrInvalidPicture);
    EXPECT_NE(error.description().find("too large"), std::string::npos) << error.description();
  }
}

TEST(Picture, RenderersOnSeveralThreadsAgree) {
  const auto picture =
      loadPictureFromBytes(testsupport::encodeJpeg(gradient(800, 600), {Sampling::k420, 90, true}));
  const RgbaImage expected = renderPicture(*picture, 125, 94);
  std::vector<RgbaImage> results(2);
  std::vector<std::thread> threads;
  threads.reserve(results.size());
  for (auto& result : results) {
    threads.emplace_back([&picture, &result] {
      for (int i = 0; i < 3; ++i) result = renderPicture(*picture, 125, 94);
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& result : results) EXPECT_EQ(result.pixels, expected.pixels);
}

}  // namespace
}  // namespace platform
