#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "platform/base/processors.h"
#include "platform/picture/formats/heif_decoders.h"
#include "platform/picture/formats/heif_picture.h"

namespace platform {
namespace {

// Above libheif's own decoder (100), so that libheif picks this one for HEVC.
constexpr int kPriority = 150;
// libde265 decodes one picture's rows or tiles on at most this many threads to any use.
constexpr int kMaxThreads = 8;

heif_error pluginError(heif_suberror_code code, const char* message) {
  return {heif_error_Decoder_plugin_error, code, message};
}

struct Decoder {
  de265_decoder_context* context = nullptr;
  bool strict = false;
};

const char* pluginName() { return "libde265 HEVC decoder on worker threads"; }

void initPlugin() { de265_init(); }

void deinitPlugin() { de265_free(); }

int supportsFormat(heif_compression_format format) {
  return format == heif_compression_HEVC ? kPriority : 0;
}

heif_error newDecoder(void** out) {
  auto* decoder = new (std::nothrow) Decoder;
  if (decoder != nullptr) decoder->context = de265_new_decoder();
  if (decoder == nullptr || decoder->context == nullptr) {
    delete decoder;
    return kPluginOutOfMemory;
  }
  de265_start_worker_threads(decoder->context, std::min(processorCount(), kMaxThreads));
  *out = decoder;
  return kPluginOk;
}

void freeDecoder(void* decoder) {
  auto* d = static_cast<Decoder*>(decoder);
  de265_free_decoder(d->context);
  delete d;
}

void setStrictDecoding(void* decoder, int strict) {
  static_cast<Decoder*>(decoder)->strict = strict != 0;
}

// libheif hands over the picture's NAL units, each after its length (4 bytes, big-endian).
heif_error pushData(void* decoder, const void* data, size_t size) {
  auto* d = static_cast<Decoder*>(decoder);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  size_t at = 0;
  while (at < size) {
    if (size - at < 4) return pluginError(heif_suberror_End_of_data, "NAL unit cut short");
    const std::uint32_t length = (std::uint32_t{bytes[at]} << 24) |
                                 (std::uint32_t{bytes[at + 1]} << 16) |
                                 (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
    at += 4;
    if (length > size - at) return pluginError(heif_suberror_End_of_data, "NAL unit cut short");
    if (de265_push_NAL(d->context, bytes + at, static_cast<int>(length), 0, nullptr) != DE265_OK) {
      return kPluginOutOfMemory;
    }
    at += length;
  }
  return kPluginOk;
}

// The decoded picture for libheif (heif_picture.h).
heif_error makeImage(const Decoder& d, const de265_image* picture, heif_image** out) {
  *out = nullptr;
  const int width = de265_get_image_width(picture, 0);
  const int height = de265_get_image_height(picture, 0);
  // libde265 numbers chroma formats as libheif does.
  const auto chroma = static_cast<heif_chroma>(de265_get_chroma_format(picture));
  PlanarPicture planes{{}, {}, width, height, de265_get_bits_per_pixel(picture, 0), chroma};
  for (int c = 0; c < (chroma == heif_chroma_monochrome ? 1 : 3); ++c) {
    if (de265_get_bits_per_pixel(picture, c) != planes.bits) {
      return {heif_error_Unsupported_feature, heif_suberror_Unsupported_color_conversion,
              "Channels with different number of bits per pixel are not supported"};
    }
    if (de265_get_image_width(picture, c) != planeWidth(chroma, c, width) ||
        de265_get_image_height(picture, c) != planeHeight(chroma, c, height)) {
      return pluginError(heif_suberror_Invalid_image_size, "planes of unexpected sizes");
    }
    int stride = 0;
    planes.planes[c] = de265_get_image_plane(picture, c, &stride);
    planes.strides[c] = stride;
  }
  const StreamColours colours{de265_get_image_colour_primaries(picture),
                              de265_get_image_transfer_characteristics(picture),
                              {de265_get_image_matrix_coefficients(picture),
                               de265_get_image_full_range_flag(picture) != 0}};
  return handOver(planes, colours, d.strict, out);
}

// The last picture the pushed data holds.
heif_error decodeImage(void* decoder, heif_image** out) {
  auto* d = static_cast<Decoder*>(decoder);
  *out = nullptr;
  de265_flush_data(d->context);
  int more = 0;
  do {
    more = 0;
    if (de265_decode(d->context, &more) != DE265_OK) break;
    const de265_image* picture = de265_get_next_picture(d->context);
    if (picture == nullptr) continue;
    if (*out != nullptr) heif_image_release(*out);
    const heif_error error = makeImage(*d, picture, out);  // no image when it fails
    de265_release_next_picture(d->context);
    if (error.code != heif_error_Ok) return error;
  } while (more != 0);
  if (*out == nullptr) return pluginError(heif_suberror_Unspecified, "no picture decoded");
  return kPluginOk;
}

const heif_decoder_plugin kPlugin = {
    3,           pluginName, initPlugin,  deinitPlugin,      supportsFormat,        newDecoder,
    freeDecoder, pushData,   decodeImage, setStrictDecoding, kThreadedHevcDecoderId};

}  // namespace

const heif_decoder_plugin* threadedHevcDecoder() { return &kPlugin; }

}  // namespace platform
