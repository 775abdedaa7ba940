#include "tests/support/images.h"

#include <algorithm>
#include <cstdlib>

namespace testsupport {
namespace {

Mean meanOfPixels(const std::uint8_t* pixels, int width, int channels, int x0, int y0, int x1,
                  int y1) {
  Mean mean;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const std::uint8_t* p = pixels + (static_cast<size_t>(y) * width + x) * channels;
      mean.r += p[0];
      mean.g += p[1];
      mean.b += p[2];
      mean.a += channels == 4 ? p[3] : 255;
    }
  }
  const double count = static_cast<double>(x1 - x0) * (y1 - y0);
  if (count <= 0) return {};
  mean.r /= count;
  mean.g /= count;
  mean.b /= count;
  mean.a /= count;
  return mean;
}

}  // namespace

RgbImage makeImage(int width, int height, const std::function<Rgb(int x, int y)>& colourAt) {
  RgbImage image{width, height, std::vector<std::uint8_t>(static_cast<size_t>(width) * height * 3)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgb c = colourAt(x, y);
      std::uint8_t* p = image.at(x, y);
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
    }
  }
  return image;
}

RgbImage quadrants(int width, int height) {
  return makeImage(width, height, [=](int x, int y) {
    return kQuadrantColours[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
  });
}

const std::uint8_t* pixel(const platform::RgbaImage& image, int x, int y) {
  return &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
}

Mean meanOf(const RgbImage& image, int x0, int y0, int x1, int y1) {
  return meanOfPixels(image.pixels.data(), image.width, 3, x0, y0, x1, y1);
}

Mean meanOf(const RgbImage& image) { return meanOf(image, 0, 0, image.width, image.height); }

Mean meanOf(const platform::RgbaImage& image, int x0, int y0, int x1, int y1) {
  return meanOfPixels(image.pixels.data(), image.width, 4, x0, y0, x1, y1);
}

Mean meanOf(const platform::RgbaImage& image) {
  return meanOf(image, 0, 0, image.width, image.height);
}

int maxDifference(const std::vector<Rgb>& a, const std::vector<Rgb>& b) {
  if (a.size() != b.size()) return 256;
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    worst = std::max(
        {worst, std::abs(a[i].r - b[i].r), std::abs(a[i].g - b[i].g), std::abs(a[i].b - b[i].b)});
  }
  return worst;
}

}  // namespace testsupport
