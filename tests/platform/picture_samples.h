// Pictures that the picture tests make themselves: patterns, JPEG and GIF encoders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/picture/picture.h"

namespace samples {

// An RGB image, 3 bytes a pixel, top row first.
struct Rgb {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
  std::uint8_t* at(int x, int y) { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; }
  const std::uint8_t* at(int x, int y) const {
    return &pixels[(static_cast<size_t>(y) * width + x) * 3];
  }
};

struct Colour {
  int r = 0;
  int g = 0;
  int b = 0;
};

Rgb makeImage(int width, int height, const std::function<Colour(int x, int y)>& colourAt);

enum class Sampling { k444, k422, k420, kGrey };

struct JpegOptions {
  JpegOptions(Sampling sampling_ = Sampling::k420, int quality_ = 90, bool progressive_ = false,
              bool arithmetic_ = false)
      : sampling(sampling_),
        quality(quality_),
        progressive(progressive_),
        arithmetic(arithmetic_) {}
  Sampling sampling;
  int quality;
  bool progressive;
  bool arithmetic;
  std::vector<std::uint8_t> app1;  // an APP1 payload ("Exif\0\0..."), written after SOI
};

std::vector<std::uint8_t> encodeJpeg(const Rgb& image, const JpegOptions& options = {});

// A CMYK (or YCCK) JPEG of the colours; `adobe` writes the Adobe marker and inverted values.
std::vector<std::uint8_t> encodeCmykJpeg(const Rgb& image, bool adobe, bool ycck);

// An APP1 payload with an EXIF orientation in IFD0 (behind another tag, as cameras write it).
std::vector<std::uint8_t> exifWithOrientation(int orientation, bool bigEndian);

// A GIF of 256 palette colours; LZW data stays uncompressed (a clear code every few codes).
struct GifFrame {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> indices;  // width * height, top row first
  bool interlaced = false;
  int transparentIndex = -1;
};
struct GifSpec {
  int screenWidth = 0;
  int screenHeight = 0;
  std::vector<Colour> palette;  // up to 256
  std::vector<GifFrame> frames;
};
std::vector<std::uint8_t> encodeGif(const GifSpec& spec);

// LZW data for palette indices with the given minimum code size, uncompressed.
std::vector<std::uint8_t> lzwUncompressed(const std::vector<std::uint8_t>& indices, int codeSize);

// Mean of each RGBA channel over a rectangle of the image.
struct Mean {
  double r = 0, g = 0, b = 0, a = 0;
};
Mean meanOf(const platform::RgbaImage& image, int x0, int y0, int x1, int y1);
Mean meanOf(const platform::RgbaImage& image);
const std::uint8_t* pixel(const platform::RgbaImage& image, int x, int y);

}  // namespace samples
