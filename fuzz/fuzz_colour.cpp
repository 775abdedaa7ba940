// Embedded colour profiles: any bytes as the ICC profile of a small JPEG (grey, RGB, CMYK or
// Adobe's inverted CMYK, the profile split over one to three APP2 markers) or GIF, read and drawn.
// Little CMS parses the profile and builds the conversion; a profile it cannot use draws the
// picture untagged. The input is the profile: the colour space its header names picks the kind of
// picture (so that real profiles, the seeds, reach the conversion), a hash of it the rest.
#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

// clang-format off
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <jpeglib.h>
// clang-format on

#include "fuzz/fuzz_support.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/picture.h"

namespace {

using namespace platform;

constexpr int kWidth = 24;
constexpr int kHeight = 16;

// A small JPEG of a colour ramp in the given colour space (written by libjpeg itself).
std::vector<std::uint8_t> rampJpeg(J_COLOR_SPACE space, int components, bool adobe) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = components;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  cinfo.write_Adobe_marker = adobe ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(kWidth) * components);
  while (cinfo.next_scanline < kHeight) {
    for (size_t i = 0; i < row.size(); ++i) {
      row[i] = static_cast<JSAMPLE>((i * 11 + cinfo.next_scanline * 16) & 0xFF);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<std::uint8_t> jpeg(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return jpeg;
}

// The JPEG with the profile in `markers` APP2 markers after its SOI.
std::vector<std::uint8_t> withProfile(const std::vector<std::uint8_t>& jpeg,
                                      const std::uint8_t* profile, size_t size, int markers) {
  static constexpr char kSignature[] = "ICC_PROFILE";
  constexpr size_t kMostInAMarker = 65519;
  markers = std::max(markers, static_cast<int>((size + kMostInAMarker - 1) / kMostInAMarker));
  std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  const size_t chunk = (size + markers - 1) / markers;
  for (int i = 0; i < markers; ++i) {
    const size_t begin = std::min(size, i * chunk);
    const size_t end = std::min(size, begin + chunk);
    const size_t length = 2 + sizeof kSignature + 2 + (end - begin);
    out.insert(out.end(), {0xFF, 0xE2, static_cast<std::uint8_t>(length >> 8),
                           static_cast<std::uint8_t>(length & 0xFF)});
    out.insert(out.end(), kSignature, kSignature + sizeof kSignature);
    out.push_back(static_cast<std::uint8_t>(i + 1));
    out.push_back(static_cast<std::uint8_t>(markers));
    out.insert(out.end(), profile + begin, profile + end);
  }
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

// A 2 x 1 GIF with a four-colour palette and the profile in its ICC extension.
std::vector<std::uint8_t> gifWithProfile(const std::uint8_t* profile, size_t size) {
  std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 2,  0,  1,   0,   0x81, 0,  0,
                                   200, 30,  30,  30,  200, 60,  30, 40, 210, 250, 250,  250};
  gif.insert(gif.end(), {0x21, 0xFF, 11});
  for (const char c : std::string_view("ICCRGBG1012")) gif.push_back(static_cast<std::uint8_t>(c));
  for (size_t pos = 0; pos < size; pos += 255) {
    const size_t length = std::min<size_t>(255, size - pos);
    gif.push_back(static_cast<std::uint8_t>(length));
    gif.insert(gif.end(), profile + pos, profile + pos + length);
  }
  gif.push_back(0);
  // The frame: indices 0 and 1, uncompressed (clear, 0, 1, end with 3-bit codes).
  gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x44, 0x0A, 0, 0x3B});
  return gif;
}

std::vector<std::uint8_t> gBase[4];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::startQt(argc, argv);
  gBase[0] = rampJpeg(JCS_GRAYSCALE, 1, false);
  gBase[1] = rampJpeg(JCS_RGB, 3, false);
  gBase[2] = rampJpeg(JCS_CMYK, 4, false);
  gBase[3] = rampJpeg(JCS_CMYK, 4, true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint32_t hash = fuzz::hashOf(data, size);
  const std::string_view space =
      size >= 20 ? std::string_view(reinterpret_cast<const char*>(data) + 16, 4) : "";
  const int markers = 1 + static_cast<int>(hash % 3);
  std::vector<std::uint8_t> file;
  if (space == "GRAY") {
    file = withProfile(gBase[0], data, size, markers);
  } else if (space == "CMYK") {
    file = withProfile(gBase[2 + (hash >> 4) % 2], data, size, markers);
  } else if ((hash >> 4) % 4 == 0) {
    file = gifWithProfile(data, size);
  } else {
    file = withProfile(gBase[1], data, size, markers);
  }
  try {
    const auto picture = loadPictureFromBytes(std::move(file));
    const int width = picture->info().width;
    const int height = picture->info().height;
    const RgbaImage image = renderPicture(*picture, width, height);
    fuzz::check(image.width == width && image.height == height, "drawn at the size asked");
  } catch (const RuntimeError&) {
    fuzz::check(false, "a profile, good or bad, never makes a sound picture fail");
  }
  return 0;
}
