#include "picture_samples.h"

#include <algorithm>
#include <cstdlib>

// clang-format off
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <jpeglib.h>
// clang-format on

namespace samples {
namespace {

// A libjpeg compressor writing to memory; encoding test patterns cannot fail.
class Compressor {
 public:
  Compressor() {
    cinfo_.err = jpeg_std_error(&errors_);
    jpeg_create_compress(&cinfo_);
    jpeg_mem_dest(&cinfo_, &buffer_, &size_);
  }
  ~Compressor() {
    jpeg_destroy_compress(&cinfo_);
    std::free(buffer_);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  jpeg_compress_struct& cinfo() { return cinfo_; }

  std::vector<std::uint8_t> write(const std::vector<std::uint8_t>& pixels, int components,
                                  const std::vector<std::uint8_t>& app1) {
    jpeg_start_compress(&cinfo_, TRUE);
    if (!app1.empty()) {
      jpeg_write_marker(&cinfo_, JPEG_APP0 + 1, app1.data(), static_cast<unsigned>(app1.size()));
    }
    const size_t stride = static_cast<size_t>(cinfo_.image_width) * components;
    while (cinfo_.next_scanline < cinfo_.image_height) {
      JSAMPROW row = const_cast<JSAMPROW>(&pixels[cinfo_.next_scanline * stride]);
      jpeg_write_scanlines(&cinfo_, &row, 1);
    }
    jpeg_finish_compress(&cinfo_);
    return std::vector<std::uint8_t>(buffer_, buffer_ + size_);
  }

 private:
  jpeg_compress_struct cinfo_{};
  jpeg_error_mgr errors_{};
  unsigned char* buffer_ = nullptr;
  unsigned long size_ = 0;
};

void put16(std::vector<std::uint8_t>& out, int value, bool bigEndian) {
  const auto low = static_cast<std::uint8_t>(value & 0xFF);
  const auto high = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  out.push_back(bigEndian ? high : low);
  out.push_back(bigEndian ? low : high);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value, bool bigEndian) {
  put16(out, static_cast<int>(bigEndian ? value >> 16 : value & 0xFFFF), bigEndian);
  put16(out, static_cast<int>(bigEndian ? value & 0xFFFF : value >> 16), bigEndian);
}

// The rows of a frame in the order an interlaced GIF stores them.
std::vector<int> rowOrder(int height, bool interlaced) {
  std::vector<int> order;
  if (!interlaced) {
    for (int y = 0; y < height; ++y) order.push_back(y);
    return order;
  }
  const int starts[] = {0, 4, 2, 1};
  const int steps[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int y = starts[pass]; y < height; y += steps[pass]) order.push_back(y);
  }
  return order;
}

}  // namespace

Rgb makeImage(int width, int height, const std::function<Colour(int x, int y)>& colourAt) {
  Rgb image{width, height, std::vector<std::uint8_t>(static_cast<size_t>(width) * height * 3)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Colour c = colourAt(x, y);
      std::uint8_t* p = image.at(x, y);
      p[0] = static_cast<std::uint8_t>(c.r);
      p[1] = static_cast<std::uint8_t>(c.g);
      p[2] = static_cast<std::uint8_t>(c.b);
    }
  }
  return image;
}

std::vector<std::uint8_t> encodeJpeg(const Rgb& image, const JpegOptions& options) {
  Compressor compressor;
  jpeg_compress_struct& c = compressor.cinfo();
  c.image_width = static_cast<JDIMENSION>(image.width);
  c.image_height = static_cast<JDIMENSION>(image.height);
  const bool grey = options.sampling == Sampling::kGrey;
  c.input_components = grey ? 1 : 3;
  c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, options.quality, TRUE);
  if (!grey) {
    c.comp_info[0].h_samp_factor = options.sampling == Sampling::k444 ? 1 : 2;
    c.comp_info[0].v_samp_factor = options.sampling == Sampling::k420 ? 2 : 1;
  }
  c.arith_code = options.arithmetic ? TRUE : FALSE;
  if (options.progressive) jpeg_simple_progression(&c);
  std::vector<std::uint8_t> pixels = image.pixels;
  if (grey) {
    pixels.clear();
    for (size_t i = 0; i < image.pixels.size(); i += 3) {
      pixels.push_back(static_cast<std::uint8_t>(
          (image.pixels[i] * 299 + image.pixels[i + 1] * 587 + image.pixels[i + 2] * 114 + 500) /
          1000));
    }
  }
  return compressor.write(pixels, c.input_components, options.app1);
}

std::vector<std::uint8_t> encodeCmykJpeg(const Rgb& image, bool adobe, bool ycck) {
  Compressor compressor;
  jpeg_compress_struct& c = compressor.cinfo();
  c.image_width = static_cast<JDIMENSION>(image.width);
  c.image_height = static_cast<JDIMENSION>(image.height);
  c.input_components = 4;
  c.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_colorspace(&c, ycck ? JCS_YCCK : JCS_CMYK);
  jpeg_set_quality(&c, 95, TRUE);
  c.write_Adobe_marker = adobe ? TRUE : FALSE;
  std::vector<std::uint8_t> cmyk;
  for (size_t i = 0; i < image.pixels.size(); i += 3) {
    // Plain ink amounts: C = 255 - R and so on, K = the darkness they share.
    const int k = 255 - std::max({image.pixels[i], image.pixels[i + 1], image.pixels[i + 2]});
    for (int ch = 0; ch < 3; ++ch) {
      const int ink = k == 255 ? 0 : ((255 - image.pixels[i + ch]) - k) * 255 / (255 - k);
      cmyk.push_back(static_cast<std::uint8_t>(adobe ? 255 - ink : ink));
    }
    cmyk.push_back(static_cast<std::uint8_t>(adobe ? 255 - k : k));
  }
  return compressor.write(cmyk, 4, {});
}

std::vector<std::uint8_t> exifWithOrientation(int orientation, bool bigEndian) {
  std::vector<std::uint8_t> out = {'E', 'x', 'i', 'f', 0, 0};
  out.push_back(bigEndian ? 'M' : 'I');
  out.push_back(bigEndian ? 'M' : 'I');
  put16(out, 42, bigEndian);
  put32(out, 8, bigEndian);       // IFD0 right after the header
  put16(out, 2, bigEndian);       // entries
  put16(out, 0x010F, bigEndian);  // Make, ASCII, 4 bytes inline
  put16(out, 2, bigEndian);
  put32(out, 4, bigEndian);
  for (char c : {'Q', 'V', 'N', '\0'}) out.push_back(static_cast<std::uint8_t>(c));
  put16(out, 0x0112, bigEndian);  // Orientation, SHORT, 1
  put16(out, 3, bigEndian);
  put32(out, 1, bigEndian);
  put16(out, orientation, bigEndian);
  put16(out, 0, bigEndian);
  put32(out, 0, bigEndian);  // no next IFD
  return out;
}

std::vector<std::uint8_t> lzwUncompressed(const std::vector<std::uint8_t>& indices, int codeSize) {
  const int clear = 1 << codeSize;
  const int width = codeSize + 1;
  // Each literal after the first adds a table entry; clear before the code width would grow.
  const int literalsPerClear = std::max(1, (1 << width) - clear - 2);
  std::vector<std::uint8_t> out;
  std::uint32_t bits = 0;
  int count = 0;
  const auto emit = [&](int code) {
    bits |= static_cast<std::uint32_t>(code) << count;
    count += width;
    while (count >= 8) {
      out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
      bits >>= 8;
      count -= 8;
    }
  };
  for (size_t i = 0; i < indices.size(); ++i) {
    if (i % literalsPerClear == 0) emit(clear);
    emit(indices[i]);
  }
  emit(clear + 1);
  if (count > 0) out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
  return out;
}

std::vector<std::uint8_t> encodeGif(const GifSpec& spec) {
  std::vector<std::uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
  put16(out, spec.screenWidth, false);
  put16(out, spec.screenHeight, false);
  out.push_back(0xF7);  // global palette of 256 colours
  out.push_back(0);
  out.push_back(0);
  for (int i = 0; i < 256; ++i) {
    const Colour c = i < static_cast<int>(spec.palette.size()) ? spec.palette[i] : Colour{};
    out.push_back(static_cast<std::uint8_t>(c.r));
    out.push_back(static_cast<std::uint8_t>(c.g));
    out.push_back(static_cast<std::uint8_t>(c.b));
  }
  for (const GifFrame& frame : spec.frames) {
    if (frame.transparentIndex >= 0) {
      out.insert(out.end(),
                 {0x21, 0xF9, 4, 0x01, 0, 0, static_cast<std::uint8_t>(frame.transparentIndex), 0});
    }
    out.push_back(0x2C);
    put16(out, frame.left, false);
    put16(out, frame.top, false);
    put16(out, frame.width, false);
    put16(out, frame.height, false);
    out.push_back(frame.interlaced ? 0x40 : 0x00);
    std::vector<std::uint8_t> ordered;
    for (int y : rowOrder(frame.height, frame.interlaced)) {
      ordered.insert(ordered.end(),
                     frame.indices.begin() + static_cast<std::ptrdiff_t>(y) * frame.width,
                     frame.indices.begin() + static_cast<std::ptrdiff_t>(y + 1) * frame.width);
    }
    out.push_back(8);
    const std::vector<std::uint8_t> data = lzwUncompressed(ordered, 8);
    for (size_t pos = 0; pos < data.size(); pos += 255) {
      const size_t length = std::min<size_t>(255, data.size() - pos);
      out.push_back(static_cast<std::uint8_t>(length));
      out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
                 data.begin() + static_cast<std::ptrdiff_t>(pos + length));
    }
    out.push_back(0);
  }
  out.push_back(0x3B);
  return out;
}

Mean meanOf(const platform::RgbaImage& image, int x0, int y0, int x1, int y1) {
  Mean mean;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const std::uint8_t* p = pixel(image, x, y);
      mean.r += p[0];
      mean.g += p[1];
      mean.b += p[2];
      mean.a += p[3];
    }
  }
  const double count = static_cast<double>(x1 - x0) * (y1 - y0);
  mean.r /= count;
  mean.g /= count;
  mean.b /= count;
  mean.a /= count;
  return mean;
}

Mean meanOf(const platform::RgbaImage& image) {
  return meanOf(image, 0, 0, image.width, image.height);
}

const std::uint8_t* pixel(const platform::RgbaImage& image, int x, int y) {
  return &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
}

}  // namespace samples
