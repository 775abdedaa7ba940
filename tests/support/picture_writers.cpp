#include "tests/support/picture_writers.h"

#include <algorithm>
#include <cstdlib>

// clang-format off
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <jpeglib.h>
// clang-format on

#include "tests/support/temp_folder.h"

namespace testsupport {
namespace {

// A libjpeg compressor writing to memory; encoding test patterns cannot fail.
class Compressor final {
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

}  // namespace

std::ostream& operator<<(std::ostream& out, Sampling sampling) {
  switch (sampling) {
    case Sampling::k444:
      return out << "4:4:4";
    case Sampling::k422:
      return out << "4:2:2";
    case Sampling::k420:
      return out << "4:2:0";
    case Sampling::kGrey:
      return out << "grey";
    case Sampling::kOther:
      break;
  }
  return out << "other sampling";
}

namespace {

// A valid progressive script: the DC of all components, then for each component and each AC
// coefficient a first scan of its top bits and one refinement scan for every bit below.
std::vector<jpeg_scan_info> everyBitAScan(int components) {
  constexpr int kFirstBit = 10;
  std::vector<jpeg_scan_info> script;
  jpeg_scan_info dc{};
  dc.comps_in_scan = components;
  for (int c = 0; c < components; ++c) dc.component_index[c] = c;
  script.push_back(dc);
  for (int c = 0; c < components; ++c) {
    for (int k = 1; k < 64; ++k) {
      for (int bit = kFirstBit; bit >= 0; --bit) {
        jpeg_scan_info scan{};
        scan.comps_in_scan = 1;
        scan.component_index[0] = c;
        scan.Ss = k;
        scan.Se = k;
        scan.Ah = bit == kFirstBit ? 0 : bit + 1;
        scan.Al = bit;
        script.push_back(scan);
      }
    }
  }
  return script;
}

}  // namespace

std::vector<std::uint8_t> encodeJpeg(const RgbImage& image, const JpegOptions& options) {
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
  std::vector<jpeg_scan_info> script;
  if (options.everyBitAScan) {
    script = everyBitAScan(c.num_components);
    c.scan_info = script.data();
    c.num_scans = static_cast<int>(script.size());
  }
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

std::vector<std::uint8_t> encodeCmykJpeg(const RgbImage& image, bool adobe, bool ycck) {
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

bool writeJpeg(const std::filesystem::path& path, const RgbImage& image,
               const JpegOptions& options) {
  return writeBytes(path, encodeJpeg(image, options));
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

std::vector<std::uint8_t> paletteOf(const std::vector<Rgb>& colours) {
  std::vector<std::uint8_t> palette;
  for (const Rgb& c : colours) palette.insert(palette.end(), {c.r, c.g, c.b});
  return palette;
}

tools::GifFrame gifFrameOf(const RgbImage& image) {
  tools::GifFrame frame{image.width, image.height, {}};
  frame.rgba.reserve(static_cast<size_t>(image.width) * image.height * 4);
  for (size_t i = 0; i + 2 < image.pixels.size(); i += 3) {
    frame.rgba.insert(frame.rgba.end(),
                      {image.pixels[i], image.pixels[i + 1], image.pixels[i + 2], 255});
  }
  return frame;
}

}  // namespace testsupport
