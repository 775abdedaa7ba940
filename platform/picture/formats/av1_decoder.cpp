// AV1 pictures for libheif on dav1d, set up for one still picture, handed over as heif_picture.h
// says.
#include <dav1d/dav1d.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "platform/base/processors.h"
#include "platform/picture/formats/heif_decoders.h"
#include "platform/picture/formats/heif_picture.h"

namespace platform {
namespace {

// Above libheif's own dav1d (150) and libaom (100) decoders.
constexpr int kPriority = 200;
constexpr int kMaxThreads = 8;

heif_error pluginError(const char* message) {
  return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, message};
}

struct Decoder {
  Dav1dContext* context = nullptr;
  // The coded picture, as libheif pushed it. dav1d reads it in place and may hold on to it until
  // it is closed, which is before the decoder goes.
  std::vector<std::uint8_t> data;
  bool strict = false;
};

const char* pluginName() { return "dav1d AV1 decoder for still pictures"; }

void initPlugin() {}

void deinitPlugin() {}

int supportsFormat(heif_compression_format format) {
  return format == heif_compression_AV1 ? kPriority : 0;
}

heif_error newDecoder(void** out) {
  auto* decoder = new (std::nothrow) Decoder;
  if (decoder == nullptr) {
    return kPluginOutOfMemory;
  }
  *out = decoder;
  return kPluginOk;
}

void freeDecoder(void* decoder) {
  auto* d = static_cast<Decoder*>(decoder);
  if (d->context != nullptr) dav1d_close(&d->context);
  delete d;
}

// dav1d set up for a picture of `pixels` coded in `bytes`. A picture coded in many bytes a pixel
// (a noisy photo) is decoded faster when dav1d may keep two frames in flight, which lets it read
// the coded tile a pass ahead of rebuilding and filtering the rows; others are decoded faster
// without (one frame, as for a still picture).
bool open(Decoder& d, std::int64_t pixels, size_t bytes) {
  constexpr double kBytesPerPixelForAPass = 0.25;
  Dav1dSettings settings;
  dav1d_default_settings(&settings);
  settings.n_threads = std::min(processorCount(), kMaxThreads);
  if (static_cast<double>(bytes) < kBytesPerPixelForAPass * static_cast<double>(pixels)) {
    settings.max_frame_delay = 1;
  }
  settings.all_layers = 0;
  settings.logger.callback = nullptr;  // its errors come back as this decoder's
  settings.frame_size_limit = static_cast<unsigned>(
      std::min<std::int64_t>(codedPixelLimit(), std::numeric_limits<unsigned>::max()));
  return dav1d_open(&d.context, &settings) == 0;
}

void setStrictDecoding(void* decoder, int strict) {
  static_cast<Decoder*>(decoder)->strict = strict != 0;
}

heif_error pushData(void* decoder, const void* data, size_t size) {
  auto& buffer = static_cast<Decoder*>(decoder)->data;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  try {
    buffer.insert(buffer.end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    return kPluginOutOfMemory;
  }
  return kPluginOk;
}

// Owns a picture dav1d returned.
struct Picture {
  Dav1dPicture picture{};
  Picture() = default;
  ~Picture() { dav1d_picture_unref(&picture); }
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;
};

// The first picture the pushed data holds, into `picture`. Its sequence header bounds the size of
// every frame: one over the pixel limit is refused before anything is decoded.
heif_error decodeFirst(Decoder& d, Dav1dPicture& picture) {
  Dav1dSequenceHeader sequence{};
  if (dav1d_parse_sequence_header(&sequence, d.data.data(), d.data.size()) != 0) {
    return pluginError("the AV1 data has no sequence header that can be read");
  }
  const std::int64_t pixels = std::int64_t{sequence.max_width} * sequence.max_height;
  if (pixels > codedPixelLimit()) {
    return {heif_error_Decoder_plugin_error, heif_suberror_Invalid_image_size,
            "a coded picture over the pixel limit"};
  }
  if (d.context == nullptr && !open(d, pixels, d.data.size())) {
    return pluginError("dav1d could not be set up");
  }
  Dav1dData data{};
  if (dav1d_data_wrap(
          &data, d.data.data(), d.data.size(), [](const std::uint8_t*, void*) {}, nullptr) != 0) {
    return pluginError("no AV1 data");
  }
  // dav1d takes the data a frame at a time and hands the picture over when it is whole. Asked
  // twice with nothing new sent (all of it in, or none taken), it has none to give.
  for (int stalls = 0; stalls < 2;) {
    const size_t unsent = data.sz;
    const int sent = unsent > 0 ? dav1d_send_data(d.context, &data) : 0;
    if (sent < 0 && sent != DAV1D_ERR(EAGAIN)) break;
    const int got = dav1d_get_picture(d.context, &picture);
    if (got == 0) {
      dav1d_data_unref(&data);
      return kPluginOk;
    }
    if (got != DAV1D_ERR(EAGAIN)) break;
    stalls = data.sz == unsent ? stalls + 1 : 0;
  }
  dav1d_data_unref(&data);
  return pluginError("the AV1 data holds no picture that can be decoded");
}

heif_error decodeImage(void* decoder, heif_image** out) {
  auto* d = static_cast<Decoder*>(decoder);
  *out = nullptr;
  Picture decoded;
  const heif_error error = decodeFirst(*d, decoded.picture);
  if (error.code != heif_error_Ok) return error;
  const Dav1dPicture& p = decoded.picture;
  heif_chroma chroma = heif_chroma_undefined;
  switch (p.p.layout) {
    case DAV1D_PIXEL_LAYOUT_I400:
      chroma = heif_chroma_monochrome;
      break;
    case DAV1D_PIXEL_LAYOUT_I420:
      chroma = heif_chroma_420;
      break;
    case DAV1D_PIXEL_LAYOUT_I422:
      chroma = heif_chroma_422;
      break;
    case DAV1D_PIXEL_LAYOUT_I444:
      chroma = heif_chroma_444;
      break;
  }
  if (chroma == heif_chroma_undefined || p.seq_hdr == nullptr) {
    return pluginError("an AV1 picture of an unknown layout");
  }
  // dav1d keeps one stride for Y and one for both Cb and Cr.
  const PlanarPicture planes{
      {static_cast<const std::uint8_t*>(p.data[0]), static_cast<const std::uint8_t*>(p.data[1]),
       static_cast<const std::uint8_t*>(p.data[2])},
      {p.stride[0], p.stride[1], p.stride[1]},
      p.p.w,
      p.p.h,
      p.p.bpc,
      chroma};
  const StreamColours colours{
      p.seq_hdr->pri, p.seq_hdr->trc, {p.seq_hdr->mtrx, p.seq_hdr->color_range != 0}};
  return handOver(planes, colours, d->strict, out);
}

const heif_decoder_plugin kPlugin = {
    3,           pluginName, initPlugin,  deinitPlugin,      supportsFormat,    newDecoder,
    freeDecoder, pushData,   decodeImage, setStrictDecoding, kStillAv1DecoderId};

}  // namespace

const heif_decoder_plugin* stillAv1Decoder() { return &kPlugin; }

}  // namespace platform
