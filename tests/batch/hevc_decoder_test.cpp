// The HEVC decoder on worker threads against libheif's own: the same pixels, to the byte, from
// pictures of every layout the tests write, and errors for broken ones.
#include "platform/picture/formats/hevc_decoder.h"

#include <libheif/heif.h>

#include "tests/batch/formats_support.h"

using namespace formatstest;  // NOLINT(google-build-using-namespace)

namespace {

// A picture with detail everywhere, so that every coding block (and every row of them that the
// threads share out) has work: colours that change with x, y and both.
SampleImage detailed(int width, int height, int channels) {
  SampleImage image(width, height, channels, 8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.set(x, y, 0, static_cast<unsigned>((x * 7 + y * 3) % 256));
      for (int c = 1; c < channels; ++c) {
        image.set(x, y, c, static_cast<unsigned>((x * y / (c + 3) + c * 40) % 256));
      }
    }
  }
  return image;
}

struct Decoded {
  int error = 0;  // libheif's error code
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // RGBA (8 or 16 bits a channel), rows packed
};

// The primary image as decoder `decoderId` decodes it, turned by libheif into RGBA.
Decoded decodedBy(const std::vector<std::uint8_t>& heif, const char* decoderId, bool deep) {
  std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(),
                                                                      heif_context_free);
  Decoded out;
  heif_error error =
      heif_context_read_from_memory_without_copy(context.get(), heif.data(), heif.size(), nullptr);
  heif_image_handle* handle = nullptr;
  if (error.code == heif_error_Ok) {
    error = heif_context_get_primary_image_handle(context.get(), &handle);
  }
  if (error.code != heif_error_Ok) {
    out.error = error.code;
    return out;
  }
  const std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> owned(
      handle, heif_image_handle_release);
  const std::unique_ptr<heif_decoding_options, decltype(&heif_decoding_options_free)> options(
      heif_decoding_options_alloc(), heif_decoding_options_free);
  options->decoder_id = decoderId;
  heif_image* image = nullptr;
  error = heif_decode_image(
      handle, &image, heif_colorspace_RGB,
      deep ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RGBA, options.get());
  out.error = error.code;
  if (error.code != heif_error_Ok) return out;
  const std::unique_ptr<heif_image, decltype(&heif_image_release)> decoded(image,
                                                                           heif_image_release);
  out.width = heif_image_get_width(image, heif_channel_interleaved);
  out.height = heif_image_get_height(image, heif_channel_interleaved);
  int stride = 0;
  const std::uint8_t* plane =
      heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
  const size_t rowBytes = static_cast<size_t>(out.width) * (deep ? 8 : 4);
  for (int y = 0; y < out.height; ++y) {
    out.pixels.insert(out.pixels.end(), plane + static_cast<size_t>(y) * stride,
                      plane + static_cast<size_t>(y) * stride + rowBytes);
  }
  return out;
}

TEST_F(Formats, ThreadedHevcDecodesEveryLayoutAsLibheifsOwnDecoder) {
  // Reading a picture installs the decoder (once).
  ASSERT_EQ(errorOf(tools::encodeHeif(tools::quadrants(16, 16, kColours))), 0);
  const SampleImage photo = detailed(328, 200, 3);
  SampleImage described = photo;
  const std::map<std::string, std::pair<std::vector<std::uint8_t>, bool>> pictures = {
      {"RGB", {tools::encodeHeif(photo), false}},
      {"RGB, odd size", {tools::encodeHeif(detailed(101, 67, 3)), false}},
      {"RGBA", {tools::encodeHeif(detailed(200, 136, 4)), false}},
      {"RGBA premultiplied",
       {tools::encodeHeif(detailed(96, 64, 4), {.premultiplied = true}), false}},
      {"grey", {tools::encodeHeif(grey(photo)), false}},
      {"grey and alpha", {tools::encodeHeif(detailed(96, 64, 2)), false}},
      {"10 bits", {tools::encodeHeif(sixteenBit(photo)), true}},
      {"Display P3 nclx",
       {tools::encodeHeif(photo, {.nclxPrimaries = 12, .nclxTransfer = 13}), false}},
      {"rotated, with a thumbnail",
       {tools::encodeHeif(photo, {.orientation = 6, .thumbnail = &photo, .thumbnailBox = 64}),
        false}},
  };
  for (const auto& [name, picture] : pictures) {
    SCOPED_TRACE(name);
    const auto& [bytes, deep] = picture;
    const Decoded own = decodedBy(bytes, "libde265", deep);
    const Decoded threaded = decodedBy(bytes, platform::kThreadedHevcDecoderId, deep);
    ASSERT_EQ(own.error, heif_error_Ok);
    ASSERT_EQ(threaded.error, heif_error_Ok);
    EXPECT_EQ(threaded.width, own.width);
    EXPECT_EQ(threaded.height, own.height);
    EXPECT_TRUE(threaded.pixels == own.pixels);
  }
}

TEST_F(Formats, ThreadedHevcBrokenStreamsAreErrorsOrWhatLibheifsOwnDecoderMakes) {
  ASSERT_EQ(errorOf(tools::encodeHeif(tools::quadrants(16, 16, kColours))), 0);
  const std::vector<std::uint8_t> sound = tools::encodeHeif(detailed(128, 96, 3));
  // The coded picture is in the mdat box: its first NAL unit said to be longer than the box, and
  // noise over the second half of the coded data.
  const char mdat[] = "mdat";
  const auto box = std::search(sound.begin(), sound.end(), mdat, mdat + 4);
  ASSERT_NE(box, sound.end());
  const size_t data = static_cast<size_t>(box - sound.begin()) + 4;
  std::vector<std::uint8_t> overlong = sound;
  putBigEndian(overlong, data, 0x7FFFFFF0u);
  std::vector<std::uint8_t> noisy = sound;
  for (size_t i = (data + noisy.size()) / 2; i < noisy.size(); ++i) {
    noisy[i] = static_cast<std::uint8_t>(i * 131 + 7);
  }
  EXPECT_NE(decodedBy(overlong, platform::kThreadedHevcDecoderId, false).error, heif_error_Ok);
  EXPECT_EQ(errorOf(overlong), 481);
  // Noise may still decode (to other pixels); then to the same ones as libheif's own decoder.
  const Decoded threaded = decodedBy(noisy, platform::kThreadedHevcDecoderId, false);
  if (threaded.error == heif_error_Ok) {
    const Decoded own = decodedBy(noisy, "libde265", false);
    ASSERT_EQ(own.error, heif_error_Ok);
    EXPECT_TRUE(threaded.pixels == own.pixels);
  }
  const int error = errorOf(noisy);
  EXPECT_TRUE(error == 0 || error == 481) << error;
}

// A stream may code a larger picture than its file declares: the coded size is held to the limit
// before libheif converts anything.
TEST_F(Formats, ThreadedHevcRefusesCodedPicturesOverThePixelLimit) {
  const std::vector<std::uint8_t> heic = tools::encodeHeif(detailed(64, 64, 3));
  ASSERT_EQ(errorOf(heic), 0);
  struct Limit {
    explicit Limit(std::int64_t pixels) { platform::setCodedPixelLimit(pixels); }
    ~Limit() { platform::setCodedPixelLimit(platform::kMaxPicturePixels); }
    Limit(const Limit&) = delete;
    Limit& operator=(const Limit&) = delete;
  };
  {
    const Limit exactly(64 * 64);
    EXPECT_EQ(decodedBy(heic, platform::kThreadedHevcDecoderId, false).error, heif_error_Ok);
  }
  const Limit below(64 * 64 - 1);
  EXPECT_EQ(decodedBy(heic, platform::kThreadedHevcDecoderId, false).error,
            heif_error_Decoder_plugin_error);
  std::string description;
  EXPECT_EQ(errorOf(heic, &description), 481);
  EXPECT_NE(description.find("pixel limit"), std::string::npos) << description;
}

}  // namespace
