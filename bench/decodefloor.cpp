// The floor under a WebP, HEIC or AVIF thumbnail: decodes the picture as quorvane-thumb has its
// decoding library decode it, and does nothing more (no colour profile applied, no resampling, no
// encoding, no file written). bench/formats.py times it, one process a picture, beside
// quorvane-thumb and vipsthumbnail.
//
//   quorvane-decodefloor SIZE FILE
//
// WebP: libwebp's scaled decoding to at least twice the drawn size, on its threads, as RGB(A).
// HEIC and AVIF: the embedded thumbnail when its longer side is at least twice SIZE, else the
// primary image, through this program's HEVC and AV1 decoders, turned into RGB as they hand it
// over (8-bit colour pictures) or left in the planes they decode.
#include <libheif/heif.h>
#include <webp/decode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/picture/formats/heif_decoders.h"
#include "platform/picture/formats/heif_picture.h"

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "quorvane-decodefloor: %s\n", what);
  return 1;
}

int decodeWebp(const std::vector<std::uint8_t>& file, int size) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return fail("libwebp mismatch");
  if (WebPGetFeatures(file.data(), file.size(), &config.input) != VP8_STATUS_OK) {
    return fail("not a WebP picture");
  }
  const int width = config.input.width;
  const int height = config.input.height;
  const double scale = 2.0 * size / std::max(width, height);
  if (scale < 1.0) {
    config.options.use_scaling = 1;
    config.options.scaled_width = std::max(1, static_cast<int>(std::ceil(width * scale)));
    config.options.scaled_height = std::max(1, static_cast<int>(std::ceil(height * scale)));
  }
  config.options.use_threads = 1;
  config.output.colorspace = config.input.has_alpha ? MODE_RGBA : MODE_RGB;
  const VP8StatusCode status = WebPDecode(file.data(), file.size(), &config);
  WebPFreeDecBuffer(&config.output);
  return status == VP8_STATUS_OK ? 0 : fail("WebP decoding failed");
}

int decodeHeif(const std::vector<std::uint8_t>& file, int size) {
  heif_init(nullptr);
  heif_register_decoder_plugin(platform::threadedHevcDecoder());
  heif_register_decoder_plugin(platform::stillAv1Decoder());
  heif_context* context = heif_context_alloc();
  heif_image_handle* primary = nullptr;
  if (heif_context_read_from_memory_without_copy(context, file.data(), file.size(), nullptr).code !=
          heif_error_Ok ||
      heif_context_get_primary_image_handle(context, &primary).code != heif_error_Ok) {
    return fail("not a HEIF picture");
  }
  heif_image_handle* chosen = primary;
  const int count = heif_image_handle_get_number_of_thumbnails(primary);
  std::vector<heif_item_id> ids(static_cast<size_t>(std::max(count, 0)));
  const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
  for (int i = 0; i < listed; ++i) {
    heif_image_handle* thumbnail = nullptr;
    if (heif_image_handle_get_thumbnail(primary, ids[static_cast<size_t>(i)], &thumbnail).code !=
        heif_error_Ok) {
      continue;
    }
    const int longer =
        std::max(heif_image_handle_get_width(thumbnail), heif_image_handle_get_height(thumbnail));
    if (longer >= 2 * size &&
        (chosen == primary || longer < std::max(heif_image_handle_get_width(chosen),
                                                heif_image_handle_get_height(chosen)))) {
      chosen = thumbnail;
    }
  }
  std::optional<platform::RgbHandover> handover;
  if (heif_image_handle_get_luma_bits_per_pixel(chosen) == 8 &&
      heif_image_handle_get_chroma_bits_per_pixel(chosen) == 8 &&
      heif_image_handle_has_alpha_channel(chosen) == 0) {
    handover.emplace(platform::fileCoding(chosen));
  }
  heif_image* image = nullptr;
  const heif_error decoded =
      heif_decode_image(chosen, &image, heif_colorspace_undefined, heif_chroma_undefined, nullptr);
  heif_image_release(image);
  return decoded.code == heif_error_Ok ? 0 : fail("HEIF decoding failed");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return fail("usage: quorvane-decodefloor SIZE FILE");
  const int size = std::atoi(argv[1]);
  std::ifstream in(argv[2], std::ios::binary);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  if (size < 1 || file.size() < 12) return fail("no size, or no picture");
  const std::string brand(file.begin() + 8, file.begin() + 12);
  if (std::equal(file.begin(), file.begin() + 4, "RIFF") && brand == "WEBP") {
    return decodeWebp(file, size);
  }
  return decodeHeif(file, size);
}
