// HEIC and AVIF on libheif: the embedded thumbnail when it is at least twice the drawn size, else
// the primary image; libheif applies the image's rotation, mirroring and cropping as it decodes.
// HEVC and AV1 go to this program's decoders (heif_decoders.h).
#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "platform/base/runtime_error.h"
#include "platform/picture/colour_described.h"
#include "platform/picture/decoded_rows.h"
#include "platform/picture/formats/formats.h"
#include "platform/picture/formats/heif_decoders.h"
#include "platform/picture/formats/heif_picture.h"

namespace platform {
namespace {

using Context = std::unique_ptr<heif_context, decltype(&heif_context_free)>;
using Handle = std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)>;
using Image = std::unique_ptr<heif_image, decltype(&heif_image_release)>;
using Options = std::unique_ptr<heif_decoding_options, decltype(&heif_decoding_options_free)>;

void check(const heif_error& error) {
  if (error.code == heif_error_Ok) return;
  if (error.code == heif_error_Memory_allocation_error) raiseError(kErrOutOfMemory);
  raiseDecodeError("HEIF", error.message != nullptr ? error.message : "cannot be decoded");
}

// The file read, and its primary image's handle.
struct File {
  Context context{nullptr, heif_context_free};
  Handle primary{nullptr, heif_image_handle_release};
};

File open(std::span<const std::uint8_t> heif) {
  static std::once_flag initialised;
  std::call_once(initialised, [] {
    heif_init(nullptr);  // codec plugins, where there are any
    heif_register_decoder_plugin(threadedHevcDecoder());
    heif_register_decoder_plugin(stillAv1Decoder());
  });
  File file;
  file.context.reset(heif_context_alloc());
  if (!file.context) raiseError(kErrOutOfMemory);
  check(heif_context_read_from_memory_without_copy(file.context.get(), heif.data(), heif.size(),
                                                   nullptr));
  heif_image_handle* primary = nullptr;
  check(heif_context_get_primary_image_handle(file.context.get(), &primary));
  file.primary.reset(primary);
  const int width = heif_image_handle_get_width(primary);
  const int height = heif_image_handle_get_height(primary);
  if (width < 1 || height < 1) raiseDecodeError("HEIF", "no picture");
  return file;
}

FormatHeader readHeifHeader(std::span<const std::uint8_t> heif) {
  try {
    const File file = open(heif);
    // The size after the image's transformations: libheif draws it upright.
    return {heif_image_handle_get_width(file.primary.get()),
            heif_image_handle_get_height(file.primary.get()), 1};
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
}

// The smallest embedded thumbnail whose longer side is at least twice the drawn one's and whose
// proportions are the picture's; none (null) when there is no such thumbnail.
Handle thumbnailFor(const heif_image_handle* primary, int width, int height) {
  const int count = heif_image_handle_get_number_of_thumbnails(primary);
  if (count <= 0) return {nullptr, heif_image_handle_release};
  std::vector<heif_item_id> ids(static_cast<size_t>(count));
  const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
  const double ratio = static_cast<double>(heif_image_handle_get_width(primary)) /
                       heif_image_handle_get_height(primary);
  const std::int64_t needed = 2 * std::int64_t{std::max(width, height)};
  Handle best(nullptr, heif_image_handle_release);
  for (int i = 0; i < listed; ++i) {
    heif_image_handle* thumbnail = nullptr;
    if (heif_image_handle_get_thumbnail(primary, ids[static_cast<size_t>(i)], &thumbnail).code !=
        heif_error_Ok) {
      continue;
    }
    Handle candidate(thumbnail, heif_image_handle_release);
    const int w = heif_image_handle_get_width(thumbnail);
    const int h = heif_image_handle_get_height(thumbnail);
    if (w < 1 || h < 1 || std::max(w, h) < needed ||
        std::abs(static_cast<double>(w) / h - ratio) > 0.02 * ratio + 1.0 / std::min(w, h)) {
      continue;
    }
    if (!best || std::int64_t{w} * h < std::int64_t{heif_image_handle_get_width(best.get())} *
                                           heif_image_handle_get_height(best.get())) {
      best = std::move(candidate);
    }
  }
  return best;
}

// The space an nclx box's primaries and transfer describe, as a profile; empty for one that says
// nothing (both unspecified), for HDR (PQ, HLG), and for codes not drawn here. libheif has already
// used its matrix coefficients to turn YCbCr into RGB.
std::vector<std::uint8_t> nclxProfile(const heif_color_profile_nclx& nclx) {
  constexpr Chromaticities kBt2020 = {0.3127, 0.3290, 0.708, 0.292, 0.170, 0.797, 0.131, 0.046};
  constexpr Chromaticities kDisplayP3 = {0.3127, 0.3290, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
  constexpr Chromaticities kDciP3 = {0.314, 0.351, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
  if (nclx.color_primaries == heif_color_primaries_unspecified &&
      nclx.transfer_characteristics == heif_transfer_characteristic_unspecified) {
    return {};
  }
  Chromaticities space{};
  switch (nclx.color_primaries) {
    case heif_color_primaries_ITU_R_BT_709_5:
    case heif_color_primaries_unspecified:
      space = kSrgbChromaticities;
      break;
    case heif_color_primaries_ITU_R_BT_2020_2_and_2100_0:
      space = kBt2020;
      break;
    case heif_color_primaries_SMPTE_EG_432_1:
      space = kDisplayP3;
      break;
    case heif_color_primaries_SMPTE_RP_431_2:
      space = kDciP3;
      break;
    default:
      return {};
  }
  TransferCurve curve;
  switch (nclx.transfer_characteristics) {
    case heif_transfer_characteristic_IEC_61966_2_1:
    case heif_transfer_characteristic_unspecified:
      curve = {TransferCurve::kSrgb};
      break;
    case heif_transfer_characteristic_ITU_R_BT_709_5:
    case heif_transfer_characteristic_ITU_R_BT_601_6:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit:
      curve = {TransferCurve::kBt709};
      break;
    case heif_transfer_characteristic_linear:
      curve = {TransferCurve::kPower, 1.0};
      break;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
      curve = {TransferCurve::kPower, 2.2};
      break;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
      curve = {TransferCurve::kPower, 2.8};
      break;
    default:
      return {};
  }
  return describedProfile(space, curve, ColourPixels::kRgb);
}

// The handle's colours: its ICC profile, else one built from its nclx box; empty when it has
// neither, or neither is of use. (libheif 1.15 reports only a colr box's nclx, not the one in an
// AV1 or HEVC bitstream.)
std::vector<std::uint8_t> colourProfile(const heif_image_handle* handle) {
  const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
  if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
    std::vector<std::uint8_t> profile(heif_image_handle_get_raw_color_profile_size(handle));
    if (profile.empty() ||
        heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok) {
      return {};
    }
    return profile;
  }
  heif_color_profile_nclx* nclx = nullptr;
  if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok ||
      nclx == nullptr) {
    return {};
  }
  const std::unique_ptr<heif_color_profile_nclx, decltype(&heif_nclx_color_profile_free)> owned(
      nclx, heif_nclx_color_profile_free);
  return nclxProfile(*nclx);
}

Image decode(const heif_image_handle* handle, heif_colorspace colorspace, heif_chroma chroma) {
  const Options options(heif_decoding_options_alloc(), heif_decoding_options_free);
  if (!options) raiseError(kErrOutOfMemory);
  options->ignore_transformations = 0;
  options->convert_hdr_to_8bit = 1;
  heif_image* decoded = nullptr;
  check(heif_decode_image(handle, &decoded, colorspace, chroma, options.get()));
  return Image(decoded, heif_image_release);
}

// A decoded image's pixels as rows of 3 (RGB) or 4 (RGBA) bytes: from one interleaved plane, or
// from one plane a channel (R, G and B, or a grey Y for all three; then alpha).
class DecodedPlanes {
 public:
  // False for a layout not read here (more than 8 bits, a chroma other than the ones above).
  bool read(const heif_image* image, bool alpha) {
    const heif_colorspace colorspace = heif_image_get_colorspace(image);
    const heif_chroma chroma = heif_image_get_chroma_format(image);
    if (colorspace == heif_colorspace_RGB &&
        chroma == (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB)) {
      return take(image, {heif_channel_interleaved}, alpha ? 4 : 3);
    }
    std::vector<heif_channel> channels;
    if (colorspace == heif_colorspace_RGB && chroma == heif_chroma_444) {
      channels = {heif_channel_R, heif_channel_G, heif_channel_B};
    } else if (colorspace == heif_colorspace_monochrome && chroma == heif_chroma_monochrome) {
      channels = {heif_channel_Y, heif_channel_Y, heif_channel_Y};
    } else {
      return false;
    }
    if (alpha) channels.push_back(heif_channel_Alpha);
    return take(image, channels, 1);
  }

  int width() const { return width_; }
  int height() const { return height_; }

  // True when row() holds whole pixels; else planes() holds one plane a channel.
  bool interleaved() const { return planes_.size() == 1; }
  const std::uint8_t* row(int y) const { return planes_[0] + static_cast<size_t>(y) * strides_[0]; }
  // Row y of each channel's plane.
  const std::uint8_t* const* planes(int y) {
    for (size_t c = 0; c < planes_.size(); ++c) {
      rows_[c] = planes_[c] + static_cast<size_t>(y) * strides_[c];
    }
    return rows_.data();
  }

 private:
  // The channels' planes, each of `bytes` bytes a pixel.
  bool take(const heif_image* image, const std::vector<heif_channel>& channels, int bytes) {
    width_ = heif_image_get_width(image, channels[0]);
    height_ = heif_image_get_height(image, channels[0]);
    if (width_ < 1 || height_ < 1) return false;
    planes_.clear();
    strides_.clear();
    for (const heif_channel channel : channels) {
      int stride = 0;
      const std::uint8_t* plane = heif_image_get_plane_readonly(image, channel, &stride);
      if (plane == nullptr || heif_image_get_bits_per_pixel_range(image, channel) != 8 ||
          heif_image_get_width(image, channel) != width_ ||
          heif_image_get_height(image, channel) != height_ || stride < width_ * bytes) {
        return false;
      }
      planes_.push_back(plane);
      strides_.push_back(static_cast<size_t>(stride));
    }
    rows_.resize(planes_.size());
    return true;
  }

  int width_ = 0;
  int height_ = 0;
  std::vector<const std::uint8_t*> planes_;
  std::vector<size_t> strides_;
  std::vector<const std::uint8_t*> rows_;
};

// Every row of `pixels` into `rows`, colours multiplied by alpha (`premultiplied`) divided back
// out.
void addRows(DecodedPlanes& pixels, bool premultiplied, DecodedRows& rows) {
  const int width = pixels.width();
  std::vector<std::uint8_t> straight(premultiplied ? static_cast<size_t>(width) * 4 : 0);
  for (int y = 0; y < pixels.height(); ++y) {
    if (!premultiplied) {
      if (pixels.interleaved()) {
        rows.addRow(pixels.row(y));
      } else {
        rows.addPlanes(pixels.planes(y));
      }
      continue;
    }
    if (pixels.interleaved()) {
      std::copy_n(pixels.row(y), straight.size(), straight.data());
    } else {
      interleavePlanes(pixels.planes(y), 4, width, straight.data());
    }
    for (size_t x = 0; x < straight.size(); x += 4) {
      const int a = straight[x + 3];
      for (size_t c = x; c < x + 3; ++c) {
        straight[c] =
            a == 0 ? 0 : static_cast<std::uint8_t>(std::min(255, (straight[c] * 255 + a / 2) / a));
      }
    }
    rows.addRow(straight.data());
  }
}

RgbaImage renderHeif(std::span<const std::uint8_t> heif, int width, int height, std::string&) {
  try {
    const File file = open(heif);
    const Handle thumbnail = thumbnailFor(file.primary.get(), width, height);
    const heif_image_handle* chosen = thumbnail ? thumbnail.get() : file.primary.get();
    if (std::int64_t{heif_image_handle_get_width(chosen)} * heif_image_handle_get_height(chosen) >
        kMaxPicturePixels) {
      raiseDecodeError("HEIF", "over the pixel limit");
    }
    const bool alpha = heif_image_handle_has_alpha_channel(chosen) != 0;
    // libheif turns YCbCr into planes of RGB (or keeps grey) whatever it is asked for; an 8-bit
    // image taken as those planes skips a second, interleaving pass over the whole picture. Any
    // other comes interleaved, its deeper samples brought down to 8 bits. Decoded once: a
    // picture that comes in another layout is a damaged one (decoding it again, interleaved,
    // would only fail later).
    const bool eightBit = heif_image_handle_get_luma_bits_per_pixel(chosen) == 8 &&
                          heif_image_handle_get_chroma_bits_per_pixel(chosen) == 8;
    // Without alpha, the decoders turn an 8-bit image's colours into RGB planes themselves
    // (heif_picture.h).
    std::optional<RgbHandover> handover;
    if (eightBit && !alpha) handover.emplace(fileCoding(chosen));
    const Image image =
        eightBit ? decode(chosen, heif_colorspace_undefined, heif_chroma_undefined)
                 : decode(chosen, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    handover.reset();
    DecodedPlanes pixels;
    if (!pixels.read(image.get(), alpha)) raiseDecodeError("HEIF", "decoded in a layout not read");
    std::vector<std::uint8_t> profile = colourProfile(chosen);
    if (profile.empty() && chosen != file.primary.get()) {
      profile = colourProfile(file.primary.get());
    }
    DecodedRows rows(alpha ? SourcePixels::kRgbaStraight : SourcePixels::kRgb, pixels.width(),
                     pixels.height(), width, height, profile);
    addRows(pixels, alpha && heif_image_handle_is_premultiplied_alpha(chosen) != 0, rows);
    return rows.finish();
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
}

}  // namespace

const FormatDecoder kHeifDecoder{readHeifHeader, renderHeif};

}  // namespace platform
