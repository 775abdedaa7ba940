#include "platform/picture/formats/hevc_decoder.h"

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/base/limits.h"
#include "platform/base/processors.h"

namespace platform {
namespace {

// Above libheif's own decoders (100), so that libheif picks this one for HEVC.
constexpr int kPriority = 150;
// libde265 decodes one picture's rows or tiles on at most this many threads to any use.
constexpr int kMaxThreads = 8;

constexpr heif_error kOk = {heif_error_Ok, heif_suberror_Unspecified, "Success"};

std::atomic<std::int64_t> gCodedPixelLimit{kMaxPicturePixels};

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
    return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "Out of memory"};
  }
  de265_start_worker_threads(decoder->context, std::min(processorCount(), kMaxThreads));
  *out = decoder;
  return kOk;
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
      return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "Out of memory"};
    }
    at += length;
  }
  return kOk;
}

// The decoded picture's planes, as libheif's own decoder hands them over: YCbCr (or grey) in the
// picture's chroma format and bit depth.
heif_error toHeifImage(const de265_image* picture, heif_image** out) {
  const de265_chroma chroma = de265_get_chroma_format(picture);
  const bool grey = chroma == de265_chroma_mono;
  const int bits = de265_get_bits_per_pixel(picture, 0);
  // A stream can code a far larger picture than its file says (a damaged or crafted one); no
  // picture over the limit goes on to be converted, whatever the file says.
  if (std::int64_t{de265_get_image_width(picture, 0)} * de265_get_image_height(picture, 0) >
      gCodedPixelLimit.load()) {
    return pluginError(heif_suberror_Invalid_image_size, "a coded picture over the pixel limit");
  }
  heif_error error = heif_image_create(
      de265_get_image_width(picture, 0), de265_get_image_height(picture, 0),
      grey ? heif_colorspace_monochrome : heif_colorspace_YCbCr, static_cast<heif_chroma>(chroma),
      out);  // libde265 numbers chroma formats as libheif does
  if (error.code != heif_error_Ok) return error;
  constexpr heif_channel kChannels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
  for (int c = 0; c < (grey ? 1 : 3); ++c) {
    const int width = de265_get_image_width(picture, c);
    const int height = de265_get_image_height(picture, c);
    if (de265_get_bits_per_pixel(picture, c) != bits) {
      error = {heif_error_Unsupported_feature, heif_suberror_Unsupported_color_conversion,
               "Channels with different number of bits per pixel are not supported"};
    } else if (width <= 0 || height <= 0) {
      error = pluginError(heif_suberror_Invalid_image_size, "no picture");
    } else {
      error = heif_image_add_plane(*out, kChannels[c], width, height, bits);
    }
    if (error.code != heif_error_Ok) {
      heif_image_release(*out);
      *out = nullptr;
      return error;
    }
    int fromStride = 0;
    const std::uint8_t* from = de265_get_image_plane(picture, c, &fromStride);
    int toStride = 0;
    std::uint8_t* to = heif_image_get_plane(*out, kChannels[c], &toStride);
    const size_t rowBytes = static_cast<size_t>(width) * ((bits + 7) / 8);
    for (int y = 0; y < height; ++y) {
      std::memcpy(to + static_cast<size_t>(y) * toStride,
                  from + static_cast<size_t>(y) * fromStride, rowBytes);
    }
  }
  return kOk;
}

// The colours the stream's VUI names; a code libheif does not know is a warning (strict: an
// error).
heif_error setColours(const Decoder& d, const de265_image* picture, heif_image* image) {
  heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
  if (nclx == nullptr) {
    return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "Out of memory"};
  }
  const heif_error set[] = {
      heif_nclx_color_profile_set_color_primaries(
          nclx, static_cast<std::uint16_t>(de265_get_image_colour_primaries(picture))),
      heif_nclx_color_profile_set_transfer_characteristics(
          nclx, static_cast<std::uint16_t>(de265_get_image_transfer_characteristics(picture))),
      heif_nclx_color_profile_set_matrix_coefficients(
          nclx, static_cast<std::uint16_t>(de265_get_image_matrix_coefficients(picture)))};
  for (const heif_error& error : set) {
    if (error.code == heif_error_Ok) continue;
    if (d.strict) {
      heif_nclx_color_profile_free(nclx);
      return error;
    }
    heif_image_add_decoding_warning(image, error);
  }
  nclx->full_range_flag = de265_get_image_full_range_flag(picture) != 0 ? 1 : 0;
  const heif_error error = heif_image_set_nclx_color_profile(image, nclx);
  heif_nclx_color_profile_free(nclx);
  return error;
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
    *out = nullptr;  // toHeifImage may fail before it makes one
    heif_error error = toHeifImage(picture, out);
    if (error.code == heif_error_Ok) error = setColours(*d, picture, *out);
    de265_release_next_picture(d->context);
    if (error.code != heif_error_Ok) {
      if (*out != nullptr) heif_image_release(*out);
      *out = nullptr;
      return error;
    }
  } while (more != 0);
  if (*out == nullptr) return pluginError(heif_suberror_Unspecified, "no picture decoded");
  return kOk;
}

const heif_decoder_plugin kPlugin = {
    3,           pluginName, initPlugin,  deinitPlugin,      supportsFormat,        newDecoder,
    freeDecoder, pushData,   decodeImage, setStrictDecoding, kThreadedHevcDecoderId};

}  // namespace

void registerThreadedHevcDecoder() { heif_register_decoder_plugin(&kPlugin); }

void setCodedPixelLimit(std::int64_t pixels) { gCodedPixelLimit.store(pixels); }

}  // namespace platform
