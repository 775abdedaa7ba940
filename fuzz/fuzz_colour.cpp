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
#include "tools/icc_embed.h"

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

// A 2 x 1 GIF with a four-colour palette: indices 0 and 1, uncompressed (clear, 0, 1, end with
// 3-bit codes).
const std::vector<std::uint8_t> kGif = {
    'G', 'I', 'F', '8', '9',  'a', 2, 0, 1, 0, 0x81, 0, 0, 200, 30, 30, 30,   200,  60, 30,  40,
    210, 250, 250, 250, 0x2C, 0,   0, 0, 0, 2, 0,    1, 0, 0,   2,  2,  0x44, 0x0A, 0,  0x3B};

// A marker holds at most this much of a profile.
constexpr size_t kMostInAMarker = 65519;

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
  const std::vector<std::uint8_t> profile(data, data + size);
  const int markers = std::max(1 + static_cast<int>(hash % 3),
                               static_cast<int>((size + kMostInAMarker - 1) / kMostInAMarker));
  std::vector<std::uint8_t> file;
  if (space == "GRAY") {
    file = tools::withIccProfile(gBase[0], profile, markers);
  } else if (space == "CMYK") {
    file = tools::withIccProfile(gBase[2 + (hash >> 4) % 2], profile, markers);
  } else if ((hash >> 4) % 4 == 0) {
    file = tools::gifWithIccProfile(kGif, profile);
  } else {
    file = tools::withIccProfile(gBase[1], profile, markers);
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
