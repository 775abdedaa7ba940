// Decoded pictures handed over to libheif: YCbCr turned into RGB as the matrix and range say, and
// to the colours libheif itself would make of the same files.
#include "platform/picture/formats/heif_picture.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "tests/batch/formats_support.h"

using namespace formatstest;  // NOLINT(google-build-using-namespace)

namespace {

using platform::PlanarPicture;
using platform::RgbHandover;
using platform::YcbcrCoding;
using Image = std::unique_ptr<heif_image, decltype(&heif_image_release)>;

// Planes of YCbCr with every value in each, varying across and down. The default size leaves the
// last column and row of chroma covering one pixel.
struct YcbcrPlanes {
  explicit YcbcrPlanes(heif_chroma layout, int w = 37, int h = 23)
      : chroma(layout), width(w), height(h) {
    for (int c = 0; c < 3; ++c) {
      const int cw = platform::planeWidth(chroma, c, width);
      const int ch = platform::planeHeight(chroma, c, height);
      planes[c].resize(static_cast<size_t>(cw) * ch);
      for (int y = 0; y < ch; ++y) {
        for (int x = 0; x < cw; ++x) {
          planes[c][static_cast<size_t>(y) * cw + x] =
              static_cast<std::uint8_t>((x * (7 + c * 4) + y * (13 - c * 3) + c * 90) % 256);
        }
      }
    }
  }

  PlanarPicture picture() const {
    PlanarPicture p{{}, {}, width, height, 8, chroma};
    for (int c = 0; c < 3; ++c) {
      p.planes[c] = planes[c].data();
      p.strides[c] = platform::planeWidth(chroma, c, width);
    }
    return p;
  }

  // Sample c of pixel (x, y): chroma's is that of the pixels' block.
  std::uint8_t sample(int c, int x, int y) const {
    const bool halfAcross = chroma != heif_chroma_444;
    const bool halfDown = chroma == heif_chroma_420;
    const int cx = c > 0 && halfAcross ? x / 2 : x;
    const int cy = c > 0 && halfDown ? y / 2 : y;
    return planes[c][static_cast<size_t>(cy) * platform::planeWidth(chroma, c, width) + cx];
  }

  heif_chroma chroma;
  int width;
  int height;
  std::vector<std::uint8_t> planes[3];
};

// R, G and B of a YCbCr sample, in floating point, rounded.
std::array<int, 3> reference(int y, int cb, int cr, double kr, double kb, bool fullRange) {
  const double luma = fullRange ? y : (y - 16) * 255.0 / 219.0;
  const double scale = fullRange ? 1.0 : 255.0 / 224.0;
  const double u = (cb - 128) * scale;
  const double v = (cr - 128) * scale;
  const double kg = 1 - kr - kb;
  const double rgb[3] = {luma + 2 * (1 - kr) * v,
                         luma - 2 * kb * (1 - kb) / kg * u - 2 * kr * (1 - kr) / kg * v,
                         luma + 2 * (1 - kb) * u};
  std::array<int, 3> out{};
  for (int c = 0; c < 3; ++c) out[c] = std::clamp(static_cast<int>(std::lround(rgb[c])), 0, 255);
  return out;
}

Image handedOver(const PlanarPicture& picture, YcbcrCoding stream) {
  heif_image* out = nullptr;
  const heif_error error = platform::handOver(picture, {1, 13, stream}, false, &out);
  EXPECT_EQ(error.code, heif_error_Ok) << error.message;
  return Image(out, heif_image_release);
}

std::uint8_t at(const heif_image* image, heif_channel channel, int x, int y) {
  int stride = 0;
  const std::uint8_t* plane = heif_image_get_plane_readonly(image, channel, &stride);
  return plane[static_cast<size_t>(y) * stride + x];
}

// The primary image decoded by libheif as RGB planes (R, then G, then B, rows packed), under a
// handover or not; empty when it is not decoded so.
std::vector<std::uint8_t> decodedPlanes(const std::vector<std::uint8_t>& heif, bool handover) {
  std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(),
                                                                      heif_context_free);
  heif_image_handle* handle = nullptr;
  if (heif_context_read_from_memory_without_copy(context.get(), heif.data(), heif.size(), nullptr)
              .code != heif_error_Ok ||
      heif_context_get_primary_image_handle(context.get(), &handle).code != heif_error_Ok) {
    return {};
  }
  const std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> owned(
      handle, heif_image_handle_release);
  std::optional<RgbHandover> rgb;
  if (handover) rgb.emplace(std::nullopt);
  heif_image* decoded = nullptr;
  if (heif_decode_image(handle, &decoded, heif_colorspace_undefined, heif_chroma_undefined, nullptr)
          .code != heif_error_Ok) {
    return {};
  }
  const Image image(decoded, heif_image_release);
  std::vector<std::uint8_t> out;
  if (heif_image_get_colorspace(decoded) != heif_colorspace_RGB ||
      heif_image_get_chroma_format(decoded) != heif_chroma_444) {
    return out;
  }
  for (const heif_channel channel : {heif_channel_R, heif_channel_G, heif_channel_B}) {
    const int width = heif_image_get_width(decoded, channel);
    for (int y = 0; y < heif_image_get_height(decoded, channel); ++y) {
      for (int x = 0; x < width; ++x) out.push_back(at(decoded, channel, x, y));
    }
  }
  return out;
}

// The largest difference between an image handed over as RGB and the planes' colours computed in
// floating point.
int worstDifference(const heif_image* image, const YcbcrPlanes& planes, double kr, double kb,
                    bool fullRange) {
  const heif_channel channels[3] = {heif_channel_R, heif_channel_G, heif_channel_B};
  int worst = 0;
  for (int y = 0; y < planes.height; ++y) {
    for (int x = 0; x < planes.width; ++x) {
      const std::array<int, 3> want = reference(planes.sample(0, x, y), planes.sample(1, x, y),
                                                planes.sample(2, x, y), kr, kb, fullRange);
      for (int c = 0; c < 3; ++c) {
        worst = std::max(worst, std::abs(at(image, channels[c], x, y) - want[c]));
      }
    }
  }
  return worst;
}

TEST(HeifPicture, AHandoverTurnsYcbcrIntoRgbAsItsMatrixAndRangeSay) {
  struct Matrix {
    int code;
    double kr;
    double kb;
  };
  const Matrix matrices[] = {
      {1, 0.2126, 0.0722}, {2, 0.299, 0.114}, {6, 0.299, 0.114}, {9, 0.2627, 0.0593}};
  for (const heif_chroma chroma : {heif_chroma_420, heif_chroma_422, heif_chroma_444}) {
    const YcbcrPlanes planes(chroma);
    for (const Matrix& m : matrices) {
      for (const bool fullRange : {true, false}) {
        SCOPED_TRACE(testing::Message() << "chroma " << chroma << ", matrix " << m.code
                                        << (fullRange ? ", full range" : ", limited range"));
        const RgbHandover handover(std::nullopt);
        const Image image = handedOver(planes.picture(), {m.code, fullRange});
        ASSERT_TRUE(image);
        ASSERT_EQ(heif_image_get_colorspace(image.get()), heif_colorspace_RGB);
        ASSERT_EQ(heif_image_get_chroma_format(image.get()), heif_chroma_444);
        EXPECT_LE(worstDifference(image.get(), planes, m.kr, m.kb, fullRange), 1);
      }
    }
  }
}

// A picture of a megapixel or more is turned in two halves, on two threads where there are two
// processors: every row, including those either side of the split and the last, an odd one.
TEST(HeifPicture, LargePicturesAreTurnedWhole) {
  for (const heif_chroma chroma : {heif_chroma_420, heif_chroma_444}) {
    SCOPED_TRACE(chroma);
    const YcbcrPlanes planes(chroma, 1031, 1023);
    const RgbHandover handover(std::nullopt);
    const Image image = handedOver(planes.picture(), {1, false});
    ASSERT_TRUE(image);
    EXPECT_LE(worstDifference(image.get(), planes, 0.2126, 0.0722, false), 1);
  }
}

// A file whose colour box agrees with its stream is turned here; one whose box says otherwise is
// left to libheif.
TEST(HeifPicture, AHandoverTurnsOnlyWhereTheFilesColourBoxAgreesWithTheStream) {
  const YcbcrPlanes planes(heif_chroma_420);
  struct Case {
    YcbcrCoding file;
    YcbcrCoding stream;
    bool turned;
  };
  const Case cases[] = {
      {{1, false}, {1, false}, true},  {{6, true}, {2, true}, true},  // unspecified: BT.601
      {{6, false}, {1, false}, false}, {{1, true}, {1, false}, false},
      {{0, true}, {6, true}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "file " << c.file.matrix << "/" << c.file.fullRange
                                    << ", stream " << c.stream.matrix << "/" << c.stream.fullRange);
    const RgbHandover handover(c.file);
    const Image image = handedOver(planes.picture(), c.stream);
    ASSERT_TRUE(image);
    EXPECT_EQ(heif_image_get_colorspace(image.get()),
              c.turned ? heif_colorspace_RGB : heif_colorspace_YCbCr);
  }
}

// What is not turned here reaches libheif as the decoder made it: without a handover, in a matrix
// libheif turns in its own way (identity, YCgCo, derived from the primaries), grey.
TEST(HeifPicture, PicturesNotTurnedAreHandedOverAsTheyAre) {
  const YcbcrPlanes planes(heif_chroma_420);
  const auto expectCopied = [&](const PlanarPicture& picture, YcbcrCoding stream) {
    const Image image = handedOver(picture, stream);
    ASSERT_TRUE(image);
    const bool grey = picture.chroma == heif_chroma_monochrome;
    EXPECT_EQ(heif_image_get_colorspace(image.get()),
              grey ? heif_colorspace_monochrome : heif_colorspace_YCbCr);
    EXPECT_EQ(heif_image_get_chroma_format(image.get()), picture.chroma);
    const heif_channel channels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (int c = 0; c < (grey ? 1 : 3); ++c) {
      for (int y = 0; y < platform::planeHeight(picture.chroma, c, picture.height); ++y) {
        for (int x = 0; x < platform::planeWidth(picture.chroma, c, picture.width); ++x) {
          ASSERT_EQ(at(image.get(), channels[c], x, y),
                    planes.planes[c][static_cast<size_t>(y) * picture.strides[c] + x]);
        }
      }
    }
  };
  expectCopied(planes.picture(), {6, true});
  const RgbHandover handover(std::nullopt);
  for (const int matrix : {0, 8, 12}) {
    SCOPED_TRACE(matrix);
    expectCopied(planes.picture(), {matrix, true});
  }
  PlanarPicture grey = planes.picture();
  grey.chroma = heif_chroma_monochrome;
  expectCopied(grey, {6, true});
}

// An RGB picture of gradients running every way, a different one in each channel.
SampleImage gradients(int width, int height) {
  SampleImage image(width, height, 3, 8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        image.set(x, y, c, static_cast<unsigned>((x * (2 + c) + y * (3 - c) + 60 * c) % 256));
      }
    }
  }
  return image;
}

// libheif's own decoding, with and without a handover: the same picture, in the colours libheif
// makes, within a level (two for samples in the narrow range, which libheif scales in a slightly
// different way).
TEST_F(Formats, AHandoverGivesTheColoursLibheifMakes) {
  const SampleImage photo = tools::quadrants(96, 64, kColours);
  const SampleImage gradient = gradients(101, 67);
  struct Case {
    const char* name;
    tools::HeifOptions options;
  };
  const Case cases[] = {
      {"the encoder's colours", {}},
      {"BT.709, narrow range",
       {.nclxPrimaries = 1, .nclxTransfer = 1, .nclxMatrix = 1, .nclxFullRange = false}},
      {"BT.2020", {.nclxPrimaries = 9, .nclxTransfer = 14, .nclxMatrix = 9}},
      {"rotated, with a thumbnail", {.orientation = 8, .thumbnail = &photo, .thumbnailBox = 48}},
  };
  for (const bool avif : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(avif ? "AV1, " : "HEVC, ") + c.name);
      tools::HeifOptions options = c.options;
      options.avif = avif;
      const std::vector<std::uint8_t> heif = tools::encodeHeif(gradient, options);
      ASSERT_EQ(errorOf(heif), 0);  // installs the decoders
      const std::vector<std::uint8_t> own = decodedPlanes(heif, false);
      const std::vector<std::uint8_t> ours = decodedPlanes(heif, true);
      ASSERT_EQ(ours.size(), own.size());
      ASSERT_FALSE(own.empty());
      int worst = 0;
      for (size_t i = 0; i < own.size(); ++i) worst = std::max(worst, std::abs(ours[i] - own[i]));
      EXPECT_LE(worst, c.options.nclxFullRange ? 1 : 2);
    }
  }
}

// A colour box that says other than the stream, either way: drawn at its own size (in sRGB, so
// that no profile changes it), the picture has the colours of libheif's own decoding.
TEST_F(Formats, PicturesWhoseColourBoxDisagreesWithTheStreamHaveLibheifsColours) {
  const SampleImage gradient = gradients(64, 48);
  for (const bool avif : {false, true}) {
    for (const bool boxFullRange : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << (avif ? "AV1" : "HEVC") << ", box in full range " << boxFullRange);
      std::vector<std::uint8_t> heif =
          tools::encodeHeif(gradient, {.avif = avif,
                                       .nclxPrimaries = 1,
                                       .nclxTransfer = 13,
                                       .nclxMatrix = boxFullRange ? 1 : 6,
                                       .nclxFullRange = !boxFullRange});
      // The box: "nclx", then primaries, transfer and matrix (two bytes each), then the range.
      const char nclx[] = "nclx";
      const auto box = std::search(heif.begin(), heif.end(), nclx, nclx + 4);
      ASSERT_NE(box, heif.end());
      const size_t matrix = static_cast<size_t>(box - heif.begin()) + 8;
      heif[matrix + 1] = boxFullRange ? 6 : 1;
      heif[matrix + 2] = boxFullRange ? 0x80 : 0;
      ASSERT_EQ(errorOf(heif), 0);  // installs the decoders
      const std::vector<std::uint8_t> own = decodedPlanes(heif, false);
      const RgbaImage drawn = draw(heif, gradient.width, gradient.height);
      ASSERT_EQ(own.size(), drawn.pixels.size() / 4 * 3);
      const size_t plane = own.size() / 3;
      int worst = 0;
      for (size_t i = 0; i < plane; ++i) {
        for (size_t c = 0; c < 3; ++c) {
          worst = std::max(worst, std::abs(drawn.pixels[i * 4 + c] - own[c * plane + i]));
        }
      }
      EXPECT_LE(worst, 1);
    }
  }
}

}  // namespace
