// HEIC and AVIF pictures for the tests and the fuzzers' seeds, written with libheif.
#include <libheif/heif.h>

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "tools/format_writer.h"
#include "tools/format_writer_require.h"

namespace tools {
namespace {

void check(const heif_error& error) {
  require(error.code == heif_error_Ok, error.message != nullptr ? error.message : "HEIF");
}

using HeifImage = std::unique_ptr<heif_image, decltype(&heif_image_release)>;

// Grey (1 or 2 channels) as a monochrome image, RGB(A) as RGB; 16-bit samples as 10 bits; with
// `premultiplied`, the colours multiplied by alpha and the image marked so.
HeifImage heifImage(const SampleImage& image, bool premultiplied) {
  require((image.bits == 8 || image.bits == 16) && image.channels >= 1 && image.channels <= 4,
          "HEIF takes 8- or 16-bit grey, RGB and their alpha");
  const bool grey = image.channels <= 2;
  const bool alpha = image.channels % 2 == 0;
  const bool deep = image.bits == 16;
  const int colours = grey ? 1 : 3;
  heif_image* created = nullptr;
  const heif_chroma interleaved =
      deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
           : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
  check(heif_image_create(image.width, image.height,
                          grey ? heif_colorspace_monochrome : heif_colorspace_RGB,
                          grey ? heif_chroma_monochrome : interleaved, &created));
  HeifImage out(created, heif_image_release);
  if (!image.icc.empty()) {
    check(heif_image_set_raw_color_profile(created, "prof", image.icc.data(), image.icc.size()));
  }
  heif_image_set_premultiplied_alpha(created, premultiplied ? 1 : 0);
  const int bits = deep ? 10 : 8;
  // Sample c of pixel i, in the image's bits, multiplied by alpha where asked.
  const auto sample = [&](size_t i, int c) {
    const auto at = [&](int k) -> unsigned {
      const size_t index = i * image.channels + k;
      if (!deep) return image.data[index];
      std::uint16_t v = 0;
      std::memcpy(&v, &image.data[index * 2], 2);
      return v >> 6;
    };
    const unsigned max = (1u << bits) - 1;
    unsigned v = at(c);
    if (premultiplied && alpha && c < colours) v = (v * at(image.channels - 1) + max / 2) / max;
    return v;
  };
  std::vector<std::pair<heif_channel, std::vector<int>>> planes;
  if (grey) {
    planes.push_back({heif_channel_Y, {0}});
    if (alpha) planes.push_back({heif_channel_Alpha, {1}});
  } else {
    std::vector<int> all(static_cast<size_t>(image.channels));
    for (int c = 0; c < image.channels; ++c) all[static_cast<size_t>(c)] = c;
    planes.push_back({heif_channel_interleaved, all});
  }
  for (const auto& [channel, samples] : planes) {
    check(heif_image_add_plane(created, channel, image.width, image.height, bits));
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(created, channel, &stride);
    for (int y = 0; y < image.height; ++y) {
      std::uint8_t* row = plane + static_cast<size_t>(y) * stride;
      for (int x = 0; x < image.width; ++x) {
        const size_t i = static_cast<size_t>(y) * image.width + x;
        for (size_t k = 0; k < samples.size(); ++k) {
          const unsigned v = sample(i, samples[k]);
          const size_t at = static_cast<size_t>(x) * samples.size() + k;
          if (deep) {
            row[at * 2] = static_cast<std::uint8_t>(v & 0xFF);
            row[at * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
          } else {
            row[at] = static_cast<std::uint8_t>(v);
          }
        }
      }
    }
  }
  return out;
}

heif_error appendBytes(heif_context*, const void* data, size_t size, void* userdata) {
  auto& out = *static_cast<std::vector<std::uint8_t>*>(userdata);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  out.insert(out.end(), bytes, bytes + size);
  return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

}  // namespace

std::vector<std::uint8_t> encodeHeif(const SampleImage& image, const HeifOptions& options) {
  static const bool initialised = heif_init(nullptr).code == heif_error_Ok;
  (void)initialised;
  std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(),
                                                                      heif_context_free);
  heif_encoder* created = nullptr;
  check(heif_context_get_encoder_for_format(
      context.get(), options.avif ? heif_compression_AV1 : heif_compression_HEVC, &created));
  std::unique_ptr<heif_encoder, decltype(&heif_encoder_release)> encoder(created,
                                                                         heif_encoder_release);
  check(heif_encoder_set_lossy_quality(encoder.get(), options.quality));
  if (options.chroma != nullptr) {
    check(heif_encoder_set_parameter_string(encoder.get(), "chroma", options.chroma));
  }
  std::unique_ptr<heif_encoding_options, decltype(&heif_encoding_options_free)> encoding(
      heif_encoding_options_alloc(), heif_encoding_options_free);
  encoding->image_orientation = static_cast<heif_orientation>(options.orientation);
  const HeifImage primary = heifImage(image, options.premultiplied);
  if (options.nclxPrimaries != 0) {
    std::unique_ptr<heif_color_profile_nclx, decltype(&heif_nclx_color_profile_free)> nclx(
        heif_nclx_color_profile_alloc(), heif_nclx_color_profile_free);
    require(nclx != nullptr, "nclx");
    check(heif_nclx_color_profile_set_color_primaries(
        nclx.get(), static_cast<std::uint16_t>(options.nclxPrimaries)));
    check(heif_nclx_color_profile_set_transfer_characteristics(
        nclx.get(), static_cast<std::uint16_t>(options.nclxTransfer)));
    check(heif_nclx_color_profile_set_matrix_coefficients(
        nclx.get(), static_cast<std::uint16_t>(options.nclxMatrix)));
    nclx->full_range_flag = options.nclxFullRange ? 1 : 0;
    check(heif_image_set_nclx_color_profile(primary.get(), nclx.get()));
    encoding->macOS_compatibility_workaround_no_nclx_profile = 0;
  }
  heif_image_handle* handle = nullptr;
  check(heif_context_encode_image(context.get(), primary.get(), encoder.get(), encoding.get(),
                                  &handle));
  std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> primaryHandle(
      handle, heif_image_handle_release);
  if (options.thumbnail != nullptr) {
    // Scaled by libheif into a box of its own longer side, which leaves it as it is.
    const HeifImage thumbnail = heifImage(*options.thumbnail, options.premultiplied);
    heif_image_handle* thumbnailHandle = nullptr;
    check(heif_context_encode_thumbnail(context.get(), thumbnail.get(), primaryHandle.get(),
                                        encoder.get(), encoding.get(), options.thumbnailBox,
                                        &thumbnailHandle));
    require(thumbnailHandle != nullptr, "no thumbnail made");
    heif_image_handle_release(thumbnailHandle);
  }
  std::vector<std::uint8_t> out;
  heif_writer writer{};
  writer.writer_api_version = 1;
  writer.write = appendBytes;
  check(heif_context_write(context.get(), &writer, &out));
  return out;
}

}  // namespace tools
