// PNG on libspng: rows decoded one at a time and handed on, so that a large PNG never has all its
// pixels in memory, except an interlaced one, whose passes fill the whole picture first.
#include <spng.h>

#include <memory>
#include <new>
#include <vector>

#include "platform/base/runtime_error.h"
#include "platform/picture/decoded_rows.h"
#include "platform/picture/formats/formats.h"

namespace platform {
namespace {

// What one chunk and all the ancillary chunks kept (text, profile) may take: far beyond any real
// file, and a crafted one cannot make the decoder hold more.
constexpr size_t kMaxChunkBytes = size_t{1} << 24;
constexpr size_t kMaxChunkCache = size_t{1} << 26;

using Context = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

void check(int status) {
  if (status == SPNG_EMEM) raiseError(kErrOutOfMemory);
  if (status != 0) raiseDecodeError("PNG", spng_strerror(status));
}

Context open(std::span<const std::uint8_t> png) {
  Context context(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32), spng_ctx_free);
  if (!context) raiseError(kErrOutOfMemory);
  check(spng_set_png_buffer(context.get(), png.data(), png.size()));
  check(spng_set_chunk_limits(context.get(), kMaxChunkBytes, kMaxChunkCache));
  return context;
}

spng_ihdr header(spng_ctx* context) {
  spng_ihdr ihdr{};
  check(spng_get_ihdr(context, &ihdr));
  return ihdr;
}

FormatHeader readPngHeader(std::span<const std::uint8_t> png) {
  try {
    const Context context = open(png);
    const spng_ihdr ihdr = header(context.get());
    return {static_cast<int>(ihdr.width), static_cast<int>(ihdr.height), 1};
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
}

RgbaImage renderPng(std::span<const std::uint8_t> png, int width, int height, std::string&) {
  try {
    const Context context = open(png);
    const spng_ihdr ihdr = header(context.get());
    if (std::uint64_t{ihdr.width} * ihdr.height > static_cast<std::uint64_t>(kMaxPicturePixels)) {
      raiseDecodeError("PNG", "over the pixel limit");
    }
    spng_trns trns{};
    const bool transparency = spng_get_trns(context.get(), &trns) == 0;
    // Straight alpha where the picture has any (an alpha channel, or a tRNS chunk). 8-bit RGB,
    // RGBA and grey rows are taken as stored (libspng's conversion costs as much as the
    // decoding); the others are converted by libspng, 16 bits to 8 too.
    SourcePixels pixels = SourcePixels::kRgb;
    int format = SPNG_FMT_RGB8;
    int channels = 3;
    if (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
        ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || transparency) {
      pixels = SourcePixels::kRgbaStraight;
      format = SPNG_FMT_RGBA8;
      channels = 4;
    }
    if (ihdr.bit_depth == 8 && !transparency) {
      if (ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR ||
          ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA) {
        format = SPNG_FMT_PNG;
      } else if (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE) {
        pixels = SourcePixels::kGrey;
        format = SPNG_FMT_PNG;
        channels = 1;
      }
    }
    const size_t rowBytes = size_t{ihdr.width} * channels;
    check(spng_decode_image(context.get(), nullptr, 0, format,
                            SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE));
    spng_iccp iccp{};
    std::span<const std::uint8_t> profile;
    if (spng_get_iccp(context.get(), &iccp) == 0) {
      profile = {reinterpret_cast<const std::uint8_t*>(iccp.profile), iccp.profile_len};
    }
    DecodedRows rows(pixels, static_cast<int>(ihdr.width), static_cast<int>(ihdr.height), width,
                     height, profile);
    std::vector<std::uint8_t> buffer;
    const bool interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;
    buffer.resize(interlaced ? rowBytes * ihdr.height : rowBytes);
    for (;;) {
      spng_row_info info{};
      check(spng_get_row_info(context.get(), &info));
      std::uint8_t* row = interlaced ? &buffer[rowBytes * info.row_num] : buffer.data();
      const int status = spng_decode_row(context.get(), row, rowBytes);
      if (status != 0 && status != SPNG_EOI) check(status);
      if (!interlaced) rows.addRow(row);
      if (status == SPNG_EOI) break;
    }
    if (interlaced) {
      for (std::uint32_t y = 0; y < ihdr.height; ++y) rows.addRow(&buffer[rowBytes * y]);
    }
    return rows.finish();
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
}

}  // namespace

const FormatDecoder kPngDecoder{readPngHeader, renderPng};

}  // namespace platform
