// quorvane-previewbench: times the preview of pictures (read the file, draw it with its longer
// side at the thumbnail size) and can write each drawing as a PPM file for quality checks.
//
//   quorvane-previewbench [--size N] [--runs N] [--ppm DIR] FILE...
//
// Prints one line per file: file, natural size, drawn size, median and first run's milliseconds.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/runtime_error.h"
#include "platform/picture/picture.h"
#include "platform/picture/qt/gif_decode.h"

namespace {

struct Options {
  int size = 125;
  int runs = 5;
  std::string ppmFolder;
  std::vector<std::string> files;
};

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--size" && hasValue) {
      options.size = std::atoi(argv[++i]);
    } else if (arg == "--runs" && hasValue) {
      options.runs = std::atoi(argv[++i]);
    } else if (arg == "--ppm" && hasValue) {
      options.ppmFolder = argv[++i];
    } else if (arg.starts_with("--")) {
      return false;
    } else {
      options.files.push_back(arg);
    }
  }
  return options.size > 0 && options.runs > 0 && !options.files.empty();
}

// The preview's drawn size: the longer side at `size`, the other rounded, halves up.
std::pair<int, int> drawnSize(const platform::PictureInfo& info, int size) {
  const auto side = [](double pixels) {
    return std::max(1, static_cast<int>(std::floor(pixels + 0.5)));
  };
  const double ratio = static_cast<double>(info.width) / info.height;
  return ratio > 1 ? std::pair{size, side(size / ratio)} : std::pair{side(size * ratio), size};
}

// RGB on white (a GIF's transparent pixels show the canvas's white).
bool writePpm(const std::string& path, const platform::RgbaImage& image) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::fprintf(file, "P6\n%d %d\n255\n", image.width, image.height);
  std::vector<unsigned char> rgb;
  rgb.reserve(static_cast<size_t>(image.width) * image.height * 3);
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    const int alpha = image.pixels[i + 3];
    for (int c = 0; c < 3; ++c) {
      rgb.push_back(static_cast<unsigned char>(
          (image.pixels[i + c] * alpha + 255 * (255 - alpha) + 127) / 255));
    }
  }
  const bool written = std::fwrite(rgb.data(), 1, rgb.size(), file) == rgb.size();
  return std::fclose(file) == 0 && written;
}

int benchFile(const std::string& path, const Options& options) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> times;
  double first = 0;
  platform::RgbaImage image;
  platform::PictureInfo info;
  for (int run = 0; run < options.runs; ++run) {
    const auto start = Clock::now();
    const auto picture = platform::loadPicture(path);
    info = picture->info();
    const auto [width, height] = drawnSize(info, options.size);
    image = platform::renderPicture(*picture, width, height);
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (run == 0) first = times.back();
  }
  std::sort(times.begin(), times.end());
  std::printf("%s\t%dx%d\t%dx%d\t%.2f\t%.2f\n", path.c_str(), info.width, info.height, image.width,
              image.height, times[times.size() / 2], first);
  if (!options.ppmFolder.empty()) {
    const std::string out =
        options.ppmFolder + "/" + std::filesystem::path(path).stem().string() + ".ppm";
    if (!writePpm(out, image)) {
      std::fprintf(stderr, "cannot write %s\n", out.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s [--size N] [--runs N] [--ppm DIR] FILE...\n", argv[0]);
    return 2;
  }
  platform::installQtGifDecoder();
  int failures = 0;
  for (const std::string& file : options.files) {
    try {
      failures += benchFile(file, options);
    } catch (const platform::RuntimeError& error) {
      std::printf("%s\terror %d: %s\n", file.c_str(), error.number(), error.description().c_str());
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
