#include "platform/picture/formats/heif_picture.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/base/limits.h"
#include "platform/base/processors.h"

namespace platform {
namespace {

struct Handover {
  std::atomic<bool> alive{false};
  std::optional<YcbcrCoding> file;  // written only while no handover is alive
};

Handover gHandover;
std::atomic<std::int64_t> gCodedPixelLimit{kMaxPicturePixels};

// Kr and Kb of the matrices turned here; libheif turns the others (identity, YCgCo, constant
// luminance, and matrices derived from the primaries) itself.
struct LumaWeights {
  double red;
  double blue;
};

std::optional<LumaWeights> weightsOf(int matrix) {
  switch (matrix) {
    case 1:
      return LumaWeights{0.2126, 0.0722};  // BT.709
    case 2:                                // unspecified: libheif takes BT.601
    case 5:
    case 6:
      return LumaWeights{0.299, 0.114};  // BT.601
    case 4:
      return LumaWeights{0.30, 0.11};  // FCC
    case 7:
      return LumaWeights{0.212, 0.087};  // SMPTE 240M
    case 9:
      return LumaWeights{0.2627, 0.0593};  // BT.2020, non-constant luminance
    default:
      return std::nullopt;
  }
}

constexpr int kFractionBits = 16;
constexpr std::int32_t kHalf = 1 << (kFractionBits - 1);

// A coding's arithmetic in fixed point: R = Y' + Cr'(Cr), G = Y' + Cg'(Cb) + Cg'(Cr),
// B = Y' + Cb'(Cb), each term times 2^16, Y' already holding the half that rounds.
class Converter {
 public:
  // For pictures up to `width` wide.
  Converter(LumaWeights k, bool fullRange, int width)
      : red_(static_cast<size_t>(width)),
        green_(static_cast<size_t>(width)),
        blue_(static_cast<size_t>(width)) {
    const double yScale = fullRange ? 1.0 : 255.0 / 219.0;
    const double cScale = fullRange ? 1.0 : 255.0 / 224.0;
    const double green = 1.0 - k.red - k.blue;
    yScale_ = fixed(yScale);
    yOffset_ = (fullRange ? 0 : -16 * yScale_) + kHalf;
    for (int v = 0; v < 256; ++v) {
      const double c = (v - 128) * cScale;
      redFromCr_[v] = fixed(2 * (1 - k.red) * c);
      greenFromCb_[v] = fixed(-2 * k.blue * (1 - k.blue) / green * c);
      greenFromCr_[v] = fixed(-2 * k.red * (1 - k.red) / green * c);
      blueFromCb_[v] = fixed(2 * (1 - k.blue) * c);
    }
  }

  // One row of chroma's terms, each sample repeated over the pixels it covers.
  void chromaRow(const std::uint8_t* cb, const std::uint8_t* cr, int width, int shiftX) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t b = cb[x >> shiftX];
      const std::uint8_t r = cr[x >> shiftX];
      red_[static_cast<size_t>(x)] = redFromCr_[r];
      green_[static_cast<size_t>(x)] = greenFromCb_[b] + greenFromCr_[r];
      blue_[static_cast<size_t>(x)] = blueFromCb_[b];
    }
  }

  // A row of Y with the last chromaRow() into rows of R, G and B (none of them overlapping, which
  // lets the compiler turn the loop into vector code).
  void row(const std::uint8_t* __restrict y, int width, std::uint8_t* __restrict r,
           std::uint8_t* __restrict g, std::uint8_t* __restrict b) const {
    const std::int32_t* __restrict red = red_.data();
    const std::int32_t* __restrict green = green_.data();
    const std::int32_t* __restrict blue = blue_.data();
    const std::int32_t scale = yScale_;
    const std::int32_t offset = yOffset_;
    for (int x = 0; x < width; ++x) {
      const std::int32_t luma = y[x] * scale + offset;
      r[x] = clamp(luma + red[x]);
      g[x] = clamp(luma + green[x]);
      b[x] = clamp(luma + blue[x]);
    }
  }

 private:
  static std::int32_t fixed(double v) {
    return static_cast<std::int32_t>(std::lround(v * (1 << kFractionBits)));
  }
  static std::uint8_t clamp(std::int32_t v) {
    return static_cast<std::uint8_t>(std::clamp(v >> kFractionBits, 0, 255));
  }

  std::int32_t yScale_ = 0;
  std::int32_t yOffset_ = 0;
  std::int32_t redFromCr_[256]{};
  std::int32_t greenFromCb_[256]{};
  std::int32_t greenFromCr_[256]{};
  std::int32_t blueFromCb_[256]{};
  std::vector<std::int32_t> red_;
  std::vector<std::int32_t> green_;
  std::vector<std::int32_t> blue_;
};

int shiftX(heif_chroma chroma) {
  return chroma == heif_chroma_420 || chroma == heif_chroma_422 ? 1 : 0;
}
int shiftY(heif_chroma chroma) { return chroma == heif_chroma_420 ? 1 : 0; }

// A new image of `channels` planes, each the size `picture` gives it and `bits` deep; their rows
// in `rows` and `strides`.
heif_error newImage(const PlanarPicture& picture, heif_colorspace colorspace, heif_chroma chroma,
                    const heif_channel* channels, int count, int bits, heif_image** out,
                    std::uint8_t** rows, int* strides) {
  heif_error error = heif_image_create(picture.width, picture.height, colorspace, chroma, out);
  if (error.code != heif_error_Ok) return error;
  for (int c = 0; c < count && error.code == heif_error_Ok; ++c) {
    error = heif_image_add_plane(*out, channels[c], planeWidth(chroma, c, picture.width),
                                 planeHeight(chroma, c, picture.height), bits);
    if (error.code != heif_error_Ok) break;
    rows[c] = heif_image_get_plane(*out, channels[c], &strides[c]);
    if (rows[c] == nullptr) error = kPluginOutOfMemory;
  }
  if (error.code != heif_error_Ok) {
    heif_image_release(*out);
    *out = nullptr;
  }
  return error;
}

// Rows [from, to) of `picture` into the R, G and B planes `rows`.
void convertRows(const PlanarPicture& picture, Converter& converter, int from, int to,
                 std::uint8_t* const* rows, const int* strides) {
  const int chromaShiftY = shiftY(picture.chroma);
  int chromaY = -1;
  for (int y = from; y < to; ++y) {
    if (y >> chromaShiftY != chromaY) {
      chromaY = y >> chromaShiftY;
      converter.chromaRow(picture.planes[1] + chromaY * picture.strides[1],
                          picture.planes[2] + chromaY * picture.strides[2], picture.width,
                          shiftX(picture.chroma));
    }
    converter.row(picture.planes[0] + y * picture.strides[0], picture.width,
                  rows[0] + static_cast<std::ptrdiff_t>(y) * strides[0],
                  rows[1] + static_cast<std::ptrdiff_t>(y) * strides[1],
                  rows[2] + static_cast<std::ptrdiff_t>(y) * strides[2]);
  }
}

// Pictures of at least this many pixels are turned on two threads, each writing (and faulting in)
// half of the new planes.
constexpr std::int64_t kSharedPixels = 1 << 20;

heif_error makeRgb(const PlanarPicture& picture, Converter converter, heif_image** out) {
  constexpr heif_channel kChannels[3] = {heif_channel_R, heif_channel_G, heif_channel_B};
  std::uint8_t* rows[3] = {};
  int strides[3] = {};
  // The second half's chroma rows are made before the image, so that nothing is left to fail
  // once it is made.
  std::optional<Converter> second;
  if (std::int64_t{picture.width} * picture.height >= kSharedPixels && processorCount() > 1) {
    second.emplace(converter);
  }
  const heif_error error =
      newImage(picture, heif_colorspace_RGB, heif_chroma_444, kChannels, 3, 8, out, rows, strides);
  if (error.code != heif_error_Ok) return error;
  int split = picture.height;
  std::thread helper;
  if (second) {
    split = (picture.height / 2) & ~1;  // on a row that starts a row of chroma
    try {
      helper =
          std::thread([&] { convertRows(picture, *second, split, picture.height, rows, strides); });
    } catch (const std::system_error&) {
      split = picture.height;  // no thread to be had: all of it here
    }
  }
  convertRows(picture, converter, 0, split, rows, strides);
  if (helper.joinable()) helper.join();
  return kPluginOk;
}

// The planes as they are, as libheif's own decoders hand them over.
heif_error copyPlanes(const PlanarPicture& picture, heif_image** out) {
  constexpr heif_channel kChannels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
  const bool grey = picture.chroma == heif_chroma_monochrome;
  const int count = grey ? 1 : 3;
  std::uint8_t* rows[3] = {};
  int strides[3] = {};
  const heif_error error =
      newImage(picture, grey ? heif_colorspace_monochrome : heif_colorspace_YCbCr, picture.chroma,
               kChannels, count, picture.bits, out, rows, strides);
  if (error.code != heif_error_Ok) return error;
  for (int c = 0; c < count; ++c) {
    const size_t rowBytes = static_cast<size_t>(planeWidth(picture.chroma, c, picture.width)) *
                            (picture.bits > 8 ? 2 : 1);
    for (int y = 0; y < planeHeight(picture.chroma, c, picture.height); ++y) {
      std::memcpy(rows[c] + static_cast<std::ptrdiff_t>(y) * strides[c],
                  picture.planes[c] + y * picture.strides[c], rowBytes);
    }
  }
  return kPluginOk;
}

// Whether a handover turns `picture` here, and the weights it does it with.
std::optional<LumaWeights> turnedHere(const PlanarPicture& picture, YcbcrCoding stream) {
  if (picture.bits != 8 || picture.chroma == heif_chroma_monochrome ||
      !gHandover.alive.load(std::memory_order_acquire)) {
    return std::nullopt;
  }
  const std::optional<LumaWeights> weights = weightsOf(stream.matrix);
  // Where the file's colour box and the stream disagree, libheif 1.15 takes the box's word for
  // AV1 and the stream's for HEVC; such pictures are left to it. (Encoders often leave the
  // stream's matrix unspecified and name BT.601 in the box: the same.)
  const std::optional<YcbcrCoding>& file = gHandover.file;
  if (weights && file) {
    const std::optional<LumaWeights> filed = weightsOf(file->matrix);
    if (!filed || filed->red != weights->red || filed->blue != weights->blue ||
        file->fullRange != stream.fullRange) {
      return std::nullopt;
    }
  }
  return weights;
}

// The picture as RGB planes when it is turned here, else as its own planes.
heif_error imageOf(const PlanarPicture& picture, YcbcrCoding stream, heif_image** out) {
  const std::optional<LumaWeights> weights = turnedHere(picture, stream);
  try {
    if (!weights) return copyPlanes(picture, out);
    return makeRgb(picture, Converter(*weights, stream.fullRange, picture.width), out);
  } catch (const std::bad_alloc&) {
    return kPluginOutOfMemory;
  }
}

heif_error setColours(const StreamColours& colours, bool strict, heif_image* image) {
  heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
  if (nclx == nullptr) {
    return kPluginOutOfMemory;
  }
  const heif_error set[] = {heif_nclx_color_profile_set_color_primaries(
                                nclx, static_cast<std::uint16_t>(colours.primaries)),
                            heif_nclx_color_profile_set_transfer_characteristics(
                                nclx, static_cast<std::uint16_t>(colours.transfer)),
                            heif_nclx_color_profile_set_matrix_coefficients(
                                nclx, static_cast<std::uint16_t>(colours.coding.matrix))};
  for (const heif_error& error : set) {
    if (error.code == heif_error_Ok) continue;
    if (strict) {
      heif_nclx_color_profile_free(nclx);
      return error;
    }
    heif_image_add_decoding_warning(image, error);
  }
  nclx->full_range_flag = colours.coding.fullRange ? 1 : 0;
  const heif_error error = heif_image_set_nclx_color_profile(image, nclx);
  heif_nclx_color_profile_free(nclx);
  return error;
}

}  // namespace

std::optional<YcbcrCoding> fileCoding(const heif_image_handle* handle) {
  heif_color_profile_nclx* nclx = nullptr;
  if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok ||
      nclx == nullptr) {
    return std::nullopt;
  }
  const YcbcrCoding coding{nclx->matrix_coefficients, nclx->full_range_flag != 0};
  heif_nclx_color_profile_free(nclx);
  return coding;
}

RgbHandover::RgbHandover(std::optional<YcbcrCoding> file) {
  gHandover.file = file;
  gHandover.alive.store(true, std::memory_order_release);
}

RgbHandover::~RgbHandover() { gHandover.alive.store(false, std::memory_order_release); }

int planeWidth(heif_chroma chroma, int plane, int width) {
  return plane == 0 ? width : ((width - 1) >> shiftX(chroma)) + 1;
}

int planeHeight(heif_chroma chroma, int plane, int height) {
  return plane == 0 ? height : ((height - 1) >> shiftY(chroma)) + 1;
}

void setCodedPixelLimit(std::int64_t pixels) { gCodedPixelLimit.store(pixels); }

std::int64_t codedPixelLimit() { return gCodedPixelLimit.load(); }

heif_error handOver(const PlanarPicture& picture, const StreamColours& colours, bool strict,
                    heif_image** out) {
  *out = nullptr;
  if (picture.width < 1 || picture.height < 1) {
    return {heif_error_Decoder_plugin_error, heif_suberror_Invalid_image_size, "no picture"};
  }
  if (std::int64_t{picture.width} * picture.height > codedPixelLimit()) {
    return {heif_error_Decoder_plugin_error, heif_suberror_Invalid_image_size,
            "a coded picture over the pixel limit"};
  }
  heif_error error = imageOf(picture, colours.coding, out);
  if (error.code == heif_error_Ok) error = setColours(colours, strict, *out);
  if (error.code != heif_error_Ok && *out != nullptr) {
    heif_image_release(*out);
    *out = nullptr;
  }
  return error;
}

}  // namespace platform
