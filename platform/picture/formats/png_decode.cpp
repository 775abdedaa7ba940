// PNG on libpng: rows decoded one at a time and handed on, so that a large PNG never has all its
// pixels in memory, except an interlaced one, whose passes fill the whole picture first. libpng
// expands palettes, low bit depths and tRNS, and scales 16-bit samples to 8 with rounding. A large
// PNG's image data is inflated ahead on a second thread (png_inflate_ahead.h).
//
// libpng reports errors by longjmp: every call into it is made from a small function that sets its
// jump point and holds nothing with a destructor.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/base/runtime_error.h"
#include "platform/picture/colour_described.h"
#include "platform/picture/decoded_rows.h"
#include "platform/picture/exif.h"
#include "platform/picture/formats/formats.h"
#include "platform/picture/formats/png_inflate_ahead.h"

namespace platform {
namespace {

// What one ancillary chunk (a profile, text) may take: far beyond any real file, so that a crafted
// one cannot make the decoder hold more.
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t{1} << 24;

// The bytes libpng reads, as they stand or with their image data inflated ahead, and its first
// error.
struct Source {
  std::span<const std::uint8_t> bytes;
  size_t offset = 0;
  InflatedAhead* ahead = nullptr;
  char error[256] = "";
};

void readBytes(png_structp png, png_bytep out, size_t length) {
  Source& source = *static_cast<Source*>(png_get_io_ptr(png));
  if (source.ahead != nullptr) {
    if (!source.ahead->read(out, length)) png_error(png, source.ahead->error());
    return;
  }
  if (length > source.bytes.size() - source.offset) png_error(png, "the file ends early");
  std::memcpy(out, source.bytes.data() + source.offset, length);
  source.offset += length;
}

[[noreturn]] void onError(png_structp png, png_const_charp message) {
  Source& source = *static_cast<Source*>(png_get_error_ptr(png));
  if (source.error[0] == '\0') std::snprintf(source.error, sizeof source.error, "%s", message);
  png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// The read structures, destroyed whatever happens.
class Reader final {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes, InflatedAhead* ahead = nullptr) {
    source_.bytes = bytes;
    source_.ahead = ahead;
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source_, onError, onWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
    if (png_ == nullptr || info_ == nullptr) raiseError(kErrOutOfMemory);
    png_set_read_fn(png_, &source_, readBytes);
    // The rewritten image data has no CRCs; the inflater checked the file's own.
    if (ahead != nullptr) png_set_crc_action(png_, PNG_CRC_QUIET_USE, PNG_CRC_NO_CHANGE);
  }
  ~Reader() { png_destroy_read_struct(&png_, &info_, nullptr); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  png_structp png() const { return png_; }
  png_infop info() const { return info_; }
  [[noreturn]] void fail() const {
    raiseDecodeError("PNG", source_.error[0] != '\0' ? source_.error : "cannot be decoded");
  }

 private:
  Source source_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

bool readInfo(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_set_user_limits(png, PNG_USER_WIDTH_MAX, PNG_USER_HEIGHT_MAX);
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);  // the chunks' CRCs are still checked
  png_read_info(png, info);
  return true;
}

// The transformations to 8-bit grey, RGB or RGBA rows; their number of channels, 0 on error.
int transform(png_structp png, png_infop info, int& passes) {
  if (setjmp(png_jmpbuf(png))) return 0;
  const int colourType = png_get_color_type(png, info);
  const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  png_set_expand(png);  // palette to RGB, grey to 8 bits, tRNS to an alpha channel
  png_set_scale_16(png);
  if ((colourType & PNG_COLOR_MASK_COLOR) == 0 &&
      (transparency || (colourType & PNG_COLOR_MASK_ALPHA) != 0)) {
    png_set_gray_to_rgb(png);  // grey with alpha: the resampler takes RGBA
  }
  passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return png_get_channels(png, info);
}

bool readRow(png_structp png, png_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_row(png, row, nullptr);
  return true;
}

// The colour space gAMA and cHRM describe in a PNG without an iCCP chunk, as a profile: cHRM's
// white and primaries, else sRGB's; gAMA's power, else sRGB's curve. Empty when there is neither
// chunk, an sRGB chunk (libpng then reports sRGB's gAMA and cHRM), or nothing usable. libpng
// leaves the pixels as stored: no gamma is set for it to correct to.
std::vector<std::uint8_t> describedColours(png_structp png, png_infop info, ColourPixels input) {
  png_fixed_point gamma = 0;
  png_fixed_point c[8] = {};
  const bool hasGamma = png_get_gAMA_fixed(png, info, &gamma) != 0;
  const bool hasChromaticities =
      png_get_cHRM_fixed(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]) != 0;
  if ((!hasGamma && !hasChromaticities) || png_get_valid(png, info, PNG_INFO_sRGB) != 0) return {};
  const auto unit = [](png_fixed_point value) { return value / 100000.0; };
  const Chromaticities space = hasChromaticities
                                   ? Chromaticities{unit(c[0]), unit(c[1]), unit(c[2]), unit(c[3]),
                                                    unit(c[4]), unit(c[5]), unit(c[6]), unit(c[7])}
                                   : kSrgbChromaticities;
  // gAMA holds the power that encoded light; libpng keeps only values above 0. A gAMA of 1/2.2
  // is how sRGB pictures are written without their own chunk (libpng writes it beside one): it is
  // read as sRGB's curve, not a bare power, which would darken their shadows by several levels.
  constexpr png_fixed_point kSrgbGamma = 45455;
  constexpr png_fixed_point kSrgbGammaWithin = 900;  // 2%
  const bool srgbCurve = !hasGamma || std::abs(gamma - kSrgbGamma) <= kSrgbGammaWithin;
  const TransferCurve curve = srgbCurve ? TransferCurve{TransferCurve::kSrgb}
                                        : TransferCurve{TransferCurve::kPower, 1 / unit(gamma)};
  return describedProfile(space, curve, input);
}

FormatHeader readPngHeader(std::span<const std::uint8_t> bytes) {
  try {
    const Reader reader(bytes);
    if (!readInfo(reader.png(), reader.info())) reader.fail();
    // An eXIf chunk before the pixels (after them, it is read only once they are decoded).
    png_uint_32 exifLength = 0;
    png_bytep exif = nullptr;
    int orientation = 1;
    if (png_get_eXIf_1(reader.png(), reader.info(), &exifLength, &exif) != 0 && exif != nullptr) {
      orientation = exifBlockOrientation({exif, exifLength});
    }
    return {static_cast<int>(png_get_image_width(reader.png(), reader.info())),
            static_cast<int>(png_get_image_height(reader.png(), reader.info())), orientation};
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
}

RgbaImage renderPng(std::span<const std::uint8_t> bytes, int width, int height, std::string&) {
  try {
    const std::unique_ptr<InflatedAhead> ahead = InflatedAhead::start(bytes);
    const Reader reader(bytes, ahead.get());
    png_structp png = reader.png();
    png_infop info = reader.info();
    if (!readInfo(png, info)) reader.fail();
    const png_uint_32 pictureWidth = png_get_image_width(png, info);
    const png_uint_32 pictureHeight = png_get_image_height(png, info);
    if (std::uint64_t{pictureWidth} * pictureHeight >
        static_cast<std::uint64_t>(kMaxPicturePixels)) {
      raiseDecodeError("PNG", "over the pixel limit");
    }
    int passes = 1;
    const int channels = transform(png, info, passes);
    if (channels != 1 && channels != 3 && channels != 4) reader.fail();
    png_charp name = nullptr;
    int compression = 0;
    png_bytep iccp = nullptr;
    png_uint_32 iccpLength = 0;
    std::span<const std::uint8_t> profile;
    std::vector<std::uint8_t> described;
    if (png_get_iCCP(png, info, &name, &compression, &iccp, &iccpLength) != 0) {
      profile = {iccp, iccpLength};
    } else {
      described =
          describedColours(png, info, channels == 1 ? ColourPixels::kGrey : ColourPixels::kRgb);
      profile = described;
    }
    DecodedRows rows(channels == 1   ? SourcePixels::kGrey
                     : channels == 3 ? SourcePixels::kRgb
                                     : SourcePixels::kRgbaStraight,
                     static_cast<int>(pictureWidth), static_cast<int>(pictureHeight), width, height,
                     profile);
    const size_t rowBytes = size_t{pictureWidth} * channels;
    std::vector<std::uint8_t> buffer(passes > 1 ? rowBytes * pictureHeight : rowBytes);
    if (passes == 1) {
      for (png_uint_32 y = 0; y < pictureHeight; ++y) {
        if (!readRow(png, buffer.data())) reader.fail();
        rows.addRow(buffer.data());
      }
    } else {
      // Each pass lays its pixels over the rows the earlier passes filled.
      for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < pictureHeight; ++y) {
          if (!readRow(png, &buffer[rowBytes * y])) reader.fail();
        }
      }
      for (png_uint_32 y = 0; y < pictureHeight; ++y) rows.addRow(&buffer[rowBytes * y]);
    }
    return rows.finish();
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
}

}  // namespace

const FormatDecoder kPngDecoder{readPngHeader, renderPng};

}  // namespace platform
