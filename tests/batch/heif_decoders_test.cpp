// This program's HEVC and AV1 decoders against libheif's own: the same pixels, to the byte, from
// pictures of every layout the tests write, and errors for broken ones.
#include "platform/picture/formats/heif_decoders.h"

#include <libheif/heif.h>

#include "platform/picture/formats/heif_picture.h"
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

// A codec, libheif's own decoder of it and this program's.
struct Codec {
  const char* name;
  bool avif;
  const char* libheifs;
  const char* ours;
};
constexpr Codec kCodecs[] = {{"HEVC", false, "libde265", platform::kThreadedHevcDecoderId},
                             {"AV1", true, "dav1d", platform::kStillAv1DecoderId}};

std::vector<std::uint8_t> encode(const Codec& codec, const SampleImage& image,
                                 tools::HeifOptions options = {}) {
  options.avif = codec.avif;
  return tools::encodeHeif(image, options);
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

TEST_F(Formats, HeifDecodersDecodeEveryLayoutAsLibheifsOwn) {
  // Reading a picture installs the decoders (once).
  ASSERT_EQ(errorOf(tools::encodeHeif(tools::quadrants(16, 16, kColours))), 0);
  const SampleImage photo = detailed(328, 200, 3);
  for (const Codec& codec : kCodecs) {
    std::map<std::string, std::pair<std::vector<std::uint8_t>, bool>> pictures = {
        {"RGB", {encode(codec, photo), false}},
        {"RGB, odd size", {encode(codec, detailed(101, 67, 3)), false}},
        {"RGBA", {encode(codec, detailed(200, 136, 4)), false}},
        {"RGBA premultiplied",
         {encode(codec, detailed(96, 64, 4), {.premultiplied = true}), false}},
        {"grey", {encode(codec, grey(photo)), false}},
        {"grey and alpha", {encode(codec, detailed(96, 64, 2)), false}},
        {"Display P3 nclx",
         {encode(codec, photo, {.nclxPrimaries = 12, .nclxTransfer = 13}), false}},
        {"rotated, with a thumbnail",
         {encode(codec, photo, {.orientation = 6, .thumbnail = &photo, .thumbnailBox = 64}),
          false}},
    };
    if (!codec.avif) {  // libheif 1.15's AV1 encoder fails on these
      pictures["10 bits"] = {encode(codec, sixteenBit(photo)), true};
      pictures["RGB 4:2:2"] = {encode(codec, photo, {.chroma = "422"}), false};
      pictures["RGB 4:4:4"] = {encode(codec, photo, {.chroma = "444"}), false};
    }
    for (const auto& [name, picture] : pictures) {
      SCOPED_TRACE(std::string(codec.name) + ", " + name);
      const auto& [bytes, deep] = picture;
      const Decoded own = decodedBy(bytes, codec.libheifs, deep);
      const Decoded ours = decodedBy(bytes, codec.ours, deep);
      ASSERT_EQ(own.error, heif_error_Ok);
      ASSERT_EQ(ours.error, heif_error_Ok);
      EXPECT_EQ(ours.width, own.width);
      EXPECT_EQ(ours.height, own.height);
      EXPECT_TRUE(ours.pixels == own.pixels);
    }
  }
}

TEST_F(Formats, HevcBrokenStreamsAreErrorsOrWhatLibheifsOwnDecoderMakes) {
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

TEST_F(Formats, Av1BrokenStreamsAreErrorsOrWhatLibheifsOwnDecoderMakes) {
  ASSERT_EQ(errorOf(tools::encodeHeif(tools::quadrants(16, 16, kColours))), 0);
  const Codec& av1 = kCodecs[1];
  const std::vector<std::uint8_t> sound = encode(av1, detailed(128, 96, 3));
  const char mdat[] = "mdat";
  const auto box = std::search(sound.begin(), sound.end(), mdat, mdat + 4);
  ASSERT_NE(box, sound.end());
  const size_t data = static_cast<size_t>(box - sound.begin()) + 4;
  // Noise over the coded picture from its start, from its middle; and no data at all (zeros).
  for (const size_t from : {data, (data + sound.size()) / 2}) {
    for (const bool zeros : {false, true}) {
      SCOPED_TRACE(testing::Message() << "from " << from << (zeros ? ", zeros" : ", noise"));
      std::vector<std::uint8_t> broken = sound;
      for (size_t i = from; i < broken.size(); ++i) {
        broken[i] = zeros ? 0 : static_cast<std::uint8_t>(i * 131 + 7);
      }
      const Decoded ours = decodedBy(broken, av1.ours, false);
      if (ours.error == heif_error_Ok) {
        const Decoded own = decodedBy(broken, av1.libheifs, false);
        ASSERT_EQ(own.error, heif_error_Ok);
        EXPECT_TRUE(ours.pixels == own.pixels);
      }
      const int error = errorOf(broken);
      EXPECT_TRUE(error == 0 || error == 481) << error;
    }
  }
}

// A stream may code a larger picture than its file declares: the coded size is held to the limit
// before libheif converts anything.
TEST_F(Formats, HeifDecodersRefuseCodedPicturesOverThePixelLimit) {
  struct Limit {
    explicit Limit(std::int64_t pixels) { platform::setCodedPixelLimit(pixels); }
    ~Limit() { platform::setCodedPixelLimit(platform::kMaxPicturePixels); }
    Limit(const Limit&) = delete;
    Limit& operator=(const Limit&) = delete;
  };
  for (const Codec& codec : kCodecs) {
    SCOPED_TRACE(codec.name);
    const std::vector<std::uint8_t> heif = encode(codec, detailed(64, 64, 3));
    ASSERT_EQ(errorOf(heif), 0);
    {
      const Limit exactly(64 * 64);
      EXPECT_EQ(decodedBy(heif, codec.ours, false).error, heif_error_Ok);
    }
    const Limit below(64 * 64 - 1);
    EXPECT_EQ(decodedBy(heif, codec.ours, false).error, heif_error_Decoder_plugin_error);
    std::string description;
    EXPECT_EQ(errorOf(heif, &description), 481);
    EXPECT_NE(description.find("pixel limit"), std::string::npos) << description;
  }
}

}  // namespace
