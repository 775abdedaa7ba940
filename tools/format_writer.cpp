#include "tools/format_writer.h"

#include <spng.h>
#include <tiffio.h>
#include <unistd.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

#include "tools/format_writer_require.h"

namespace tools {

void require(bool holds, const char* what) {
  if (!holds) throw std::runtime_error(std::string("cannot write the picture: ") + what);
}

namespace {

std::vector<std::uint8_t> pngFrom(spng_ctx* context) {
  size_t size = 0;
  int error = 0;
  void* png = spng_get_png_buffer(context, &size, &error);
  require(error == 0 && png != nullptr, spng_strerror(error));
  const auto* bytes = static_cast<const std::uint8_t*>(png);
  std::vector<std::uint8_t> out(bytes, bytes + size);
  std::free(png);
  return out;
}

using SpngContext = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

SpngContext pngEncoder() {
  SpngContext context(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
  require(context != nullptr, "no encoder");
  spng_set_option(context.get(), SPNG_ENCODE_TO_BUFFER, 1);
  return context;
}

}  // namespace

SampleImage::SampleImage(int w, int h, int c, int b)
    : width(w),
      height(h),
      channels(c),
      bits(b),
      data(static_cast<size_t>(w) * h * c * (b / 8), 0) {}

void SampleImage::set(int x, int y, int c, unsigned value) {
  const size_t index = (static_cast<size_t>(y) * width + x) * channels + c;
  if (bits == 16) {
    const auto sample = static_cast<std::uint16_t>(value);
    std::memcpy(&data[index * 2], &sample, 2);
  } else {
    data[index] = static_cast<std::uint8_t>(value);
  }
}

SampleImage quadrants(int width, int height,
                      const std::array<std::array<std::uint8_t, 3>, 4>& colours, int alpha) {
  SampleImage image(width, height, alpha >= 0 ? 4 : 3, 8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto& colour = colours[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
      for (int c = 0; c < 3; ++c) image.set(x, y, c, colour[c]);
      if (alpha >= 0) image.set(x, y, 3, static_cast<unsigned>(alpha));
    }
  }
  return image;
}

std::vector<std::uint8_t> encodePng(const SampleImage& image, bool interlaced) {
  static constexpr std::uint8_t kColourTypes[] = {
      0, SPNG_COLOR_TYPE_GRAYSCALE, SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, SPNG_COLOR_TYPE_TRUECOLOR,
      SPNG_COLOR_TYPE_TRUECOLOR_ALPHA};
  const SpngContext context = pngEncoder();
  spng_ihdr ihdr{};
  ihdr.width = static_cast<std::uint32_t>(image.width);
  ihdr.height = static_cast<std::uint32_t>(image.height);
  ihdr.bit_depth = static_cast<std::uint8_t>(image.bits);
  ihdr.color_type = kColourTypes[image.channels];
  ihdr.interlace_method = interlaced ? 1 : 0;
  require(spng_set_ihdr(context.get(), &ihdr) == 0, "PNG header");
  if (!image.icc.empty()) {
    spng_iccp iccp{};
    std::strcpy(iccp.profile_name, "ICC profile");
    iccp.profile_len = image.icc.size();
    iccp.profile = const_cast<char*>(reinterpret_cast<const char*>(image.icc.data()));
    require(spng_set_iccp(context.get(), &iccp) == 0, "PNG profile");
  }
  if (image.pngGamma != 0) require(spng_set_gama_int(context.get(), image.pngGamma) == 0, "gAMA");
  if (image.pngChromaticities != decltype(image.pngChromaticities){}) {
    const auto& c = image.pngChromaticities;
    spng_chrm_int chrm{c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]};
    require(spng_set_chrm_int(context.get(), &chrm) == 0, "cHRM");
  }
  if (image.pngSrgb) require(spng_set_srgb(context.get(), 0) == 0, "sRGB");
  if (!image.exif.empty()) {
    spng_exif exif{};
    exif.length = image.exif.size();
    exif.data = const_cast<char*>(reinterpret_cast<const char*>(image.exif.data()));
    require(spng_set_exif(context.get(), &exif) == 0, "PNG EXIF");
  }
  const int status = spng_encode_image(context.get(), image.data.data(), image.data.size(),
                                       SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  require(status == 0, spng_strerror(status));
  return pngFrom(context.get());
}

std::vector<std::uint8_t> encodePalettePng(
    int width, int height, const std::vector<std::uint8_t>& indices,
    const std::vector<std::array<std::uint8_t, 4>>& palette) {
  const SpngContext context = pngEncoder();
  spng_ihdr ihdr{};
  ihdr.width = static_cast<std::uint32_t>(width);
  ihdr.height = static_cast<std::uint32_t>(height);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_INDEXED;
  require(spng_set_ihdr(context.get(), &ihdr) == 0, "PNG header");
  spng_plte plte{};
  spng_trns trns{};
  plte.n_entries = static_cast<std::uint32_t>(palette.size());
  for (size_t i = 0; i < palette.size(); ++i) {
    plte.entries[i] = {palette[i][0], palette[i][1], palette[i][2], 255};
    trns.type3_alpha[i] = palette[i][3];
    if (palette[i][3] != 255) trns.n_type3_entries = static_cast<std::uint32_t>(i + 1);
  }
  require(spng_set_plte(context.get(), &plte) == 0, "palette");
  if (trns.n_type3_entries > 0) require(spng_set_trns(context.get(), &trns) == 0, "tRNS");
  const int status = spng_encode_image(context.get(), indices.data(), indices.size(), SPNG_FMT_PNG,
                                       SPNG_ENCODE_FINALIZE);
  require(status == 0, spng_strerror(status));
  return pngFrom(context.get());
}

std::vector<std::uint8_t> encodeWebp(const SampleImage& image, bool lossless, float quality) {
  require(image.bits == 8 && (image.channels == 3 || image.channels == 4),
          "WebP takes 8-bit RGB(A)");
  std::uint8_t* output = nullptr;
  const int stride = image.width * image.channels;
  size_t size = 0;
  if (image.channels == 4) {
    size = lossless ? WebPEncodeLosslessRGBA(image.data.data(), image.width, image.height, stride,
                                             &output)
                    : WebPEncodeRGBA(image.data.data(), image.width, image.height, stride, quality,
                                     &output);
  } else {
    size =
        lossless
            ? WebPEncodeLosslessRGB(image.data.data(), image.width, image.height, stride, &output)
            : WebPEncodeRGB(image.data.data(), image.width, image.height, stride, quality, &output);
  }
  require(size > 0, "WebP encoding");
  std::vector<std::uint8_t> out(output, output + size);
  WebPFree(output);
  if (!image.icc.empty() || !image.exif.empty()) {
    // A profile or EXIF needs the extended format: libwebpmux rewrites the file around them.
    std::unique_ptr<WebPMux, decltype(&WebPMuxDelete)> mux(WebPMuxNew(), WebPMuxDelete);
    const WebPData bitstream{out.data(), out.size()};
    require(mux && WebPMuxSetImage(mux.get(), &bitstream, 1) == WEBP_MUX_OK, "WebP container");
    for (const auto& [name, chunk] : {std::pair{"ICCP", &image.icc}, {"EXIF", &image.exif}}) {
      const WebPData data{chunk->data(), chunk->size()};
      require(chunk->empty() || WebPMuxSetChunk(mux.get(), name, &data, 1) == WEBP_MUX_OK,
              "WebP chunk");
    }
    WebPData assembled{};
    require(WebPMuxAssemble(mux.get(), &assembled) == WEBP_MUX_OK, "WebP container");
    out.assign(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
  }
  return out;
}

namespace {

void writeTiffDirectory(TIFF* tiff, const SampleImage& image, const TiffOptions& options,
                        std::uint32_t subfileType) {
  TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, subfileType);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image.width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image.height));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(image.bits));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(image.channels));
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(options.orientation));
  const bool grey = image.channels <= 2;
  std::uint16_t photometric = grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
  if (options.cmyk) {
    photometric = PHOTOMETRIC_SEPARATED;
    TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
  }
  const bool jpeg = options.compression == COMPRESSION_JPEG;
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, static_cast<std::uint16_t>(options.compression));
  if (jpeg && !grey && !options.cmyk) {
    photometric = PHOTOMETRIC_YCBCR;
    TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 90);
  }
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
  if (!image.icc.empty()) {
    TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(image.icc.size()),
                 image.icc.data());
  }
  if (jpeg && photometric == PHOTOMETRIC_YCBCR) {
    TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  }
  if ((image.channels == 2 || image.channels == 4) && !options.cmyk) {
    const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  const size_t rowBytes = static_cast<size_t>(image.width) * image.channels * (image.bits / 8);
  if (options.tiled) {
    const std::uint32_t tile = 16;
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, tile);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, tile);
    const size_t pixelBytes = rowBytes / image.width;
    std::vector<std::uint8_t> buffer(pixelBytes * tile * tile);
    for (int top = 0; top < image.height; top += tile) {
      for (int left = 0; left < image.width; left += tile) {
        std::fill(buffer.begin(), buffer.end(), 0);
        for (int y = 0; y < static_cast<int>(tile) && top + y < image.height; ++y) {
          const int across = std::min<int>(tile, image.width - left);
          std::memcpy(&buffer[pixelBytes * tile * y],
                      &image.data[rowBytes * (top + y) + pixelBytes * left], pixelBytes * across);
        }
        require(TIFFWriteTile(tiff, buffer.data(), left, top, 0, 0) >= 0, "TIFF tile");
      }
    }
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, jpeg ? 16u : 8u);
    for (int y = 0; y < image.height; ++y) {
      require(
          TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(&image.data[rowBytes * y]), y, 0) >= 0,
          "TIFF row");
    }
  }
}

}  // namespace

std::vector<std::uint8_t> encodeTiff(const SampleImage& image, const TiffOptions& options) {
  char path[] = "/tmp/quorvane-tiff-XXXXXX";
  const int fd = ::mkstemp(path);
  require(fd >= 0, "temporary file");
  ::close(fd);
  TIFF* tiff = TIFFOpen(path, "w");
  require(tiff != nullptr, "TIFF file");
  if (options.levelsInSubIfds && !options.levels.empty()) {
    std::vector<toff_t> offsets(options.levels.size(), 0);
    TIFFSetField(tiff, TIFFTAG_SUBIFD, static_cast<std::uint16_t>(offsets.size()), offsets.data());
  }
  writeTiffDirectory(tiff, image, options, 0);
  require(TIFFWriteDirectory(tiff), "TIFF directory");
  TiffOptions levelOptions = options;
  for (const SampleImage& level : options.levels) {
    writeTiffDirectory(tiff, level, levelOptions, FILETYPE_REDUCEDIMAGE);
    require(TIFFWriteDirectory(tiff), "TIFF level");
  }
  if (options.secondPage) {
    SampleImage other =
        quadrants(image.width, image.height, {{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}}});
    TiffOptions plain;
    writeTiffDirectory(tiff, other, plain, FILETYPE_PAGE);
    require(TIFFWriteDirectory(tiff), "TIFF page");
  }
  TIFFClose(tiff);
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
  ::unlink(path);
  return bytes;
}

}  // namespace tools
