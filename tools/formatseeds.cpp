// quorvane-formatseeds DIR: small PNG, WebP, TIFF and HEIF/AVIF pictures of every kind the
// decoders handle, in DIR/png, DIR/webp, DIR/tiff and DIR/heif: the fuzzers' seeds.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/format_writer.h"

namespace fs = std::filesystem;
using tools::SampleImage;

namespace {

constexpr std::array<std::array<std::uint8_t, 3>, 4> kColours = {
    {{220, 30, 30}, {30, 200, 60}, {40, 60, 220}, {240, 220, 40}}};

void save(const fs::path& folder, const std::string& name, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(folder);
  std::ofstream(folder / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

SampleImage withBits(const SampleImage& image, int channels, int bits) {
  SampleImage out(image.width, image.height, channels, bits);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const int from = std::min(c, image.channels - 1);
        const unsigned v =
            image.data[(static_cast<size_t>(y) * image.width + x) * image.channels + from];
        out.set(x, y, c, bits == 16 ? v * 257 : v);
      }
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quorvane-formatseeds DIR\n");
    return 2;
  }
  const fs::path dir = argv[1];
  const SampleImage rgb = tools::quadrants(24, 16, kColours);
  const SampleImage rgba = tools::quadrants(24, 16, kColours, 128);
  const SampleImage tall = tools::quadrants(8, 20, kColours);

  const fs::path png = dir / "png";
  save(png, "rgb.png", tools::encodePng(rgb));
  save(png, "rgba.png", tools::encodePng(rgba));
  save(png, "interlaced.png", tools::encodePng(rgba, true));
  save(png, "grey.png", tools::encodePng(withBits(rgb, 1, 8)));
  save(png, "grey-alpha16.png", tools::encodePng(withBits(rgba, 2, 16), true));
  save(png, "rgb16.png", tools::encodePng(withBits(rgb, 3, 16)));
  // Large enough for the image data to be inflated on a thread of its own, yet a small file.
  const SampleImage large = tools::quadrants(512, 512, kColours, 200);
  save(png, "large.png", tools::encodePng(large));
  save(png, "large-interlaced.png", tools::encodePng(large, true));
  SampleImage described = rgb;  // colours said by gAMA and cHRM (Display P3's, a power of 1.8)
  described.pngGamma = 55556;
  described.pngChromaticities = {31270, 32900, 68000, 32000, 26500, 69000, 15000, 6000};
  save(png, "gama-chrm.png", tools::encodePng(described));
  save(png, "palette.png",
       tools::encodePalettePng(
           4, 4, std::vector<std::uint8_t>{0, 1, 2, 3, 3, 2, 1, 0, 0, 0, 1, 1, 2, 2, 3, 3},
           {{0, 0, 0, 0}, {255, 0, 0, 255}, {0, 255, 0, 128}, {0, 0, 255, 255}}));

  const fs::path webp = dir / "webp";
  save(webp, "lossy.webp", tools::encodeWebp(rgb));
  save(webp, "lossless.webp", tools::encodeWebp(rgb, true));
  save(webp, "alpha-lossy.webp", tools::encodeWebp(rgba));
  save(webp, "alpha-lossless.webp", tools::encodeWebp(rgba, true));
  save(webp, "tall.webp", tools::encodeWebp(tall, false, 50));

  const fs::path tiff = dir / "tiff";
  save(tiff, "plain.tif", tools::encodeTiff(rgb));
  save(tiff, "lzw-tiled.tif", tools::encodeTiff(rgba, {.compression = 5, .tiled = true}));
  save(tiff, "jpeg.tif", tools::encodeTiff(rgb, {.compression = 7}));
  save(tiff, "deflate16.tif", tools::encodeTiff(withBits(rgb, 3, 16), {.compression = 8}));
  save(tiff, "grey-alpha.tif", tools::encodeTiff(withBits(rgba, 2, 8)));
  save(tiff, "cmyk.tif", tools::encodeTiff(withBits(rgba, 4, 8), {.cmyk = true}));
  save(tiff, "cmyk16-tiled.tif",
       tools::encodeTiff(withBits(rgba, 4, 16), {.tiled = true, .cmyk = true}));
  save(tiff, "rotated.tif", tools::encodeTiff(tall, {.orientation = 6}));
  save(tiff, "levels.tif",
       tools::encodeTiff(rgb, {.levels = {tools::quadrants(12, 8, kColours)}, .secondPage = true}));
  save(tiff, "subifds.tif",
       tools::encodeTiff(rgb,
                         {.levels = {tools::quadrants(12, 8, kColours)}, .levelsInSubIfds = true}));

  const fs::path heif = dir / "heif";
  const SampleImage big = tools::quadrants(64, 48, kColours);
  save(heif, "plain.heic", tools::encodeHeif(rgb, {.quality = 30}));
  save(heif, "rotated.heic", tools::encodeHeif(tall, {.orientation = 6, .quality = 30}));
  save(heif, "thumbnail.heic",
       tools::encodeHeif(big, {.thumbnail = &big, .thumbnailBox = 16, .quality = 30}));
  save(heif, "plain.avif", tools::encodeHeif(rgb, {.avif = true, .quality = 30}));
  save(heif, "alpha.avif",
       tools::encodeHeif(rgba, {.avif = true, .orientation = 3, .quality = 30}));
  save(heif, "grey-alpha.avif",
       tools::encodeHeif(withBits(rgba, 2, 8), {.avif = true, .quality = 30}));
  save(heif, "premultiplied.heic", tools::encodeHeif(rgba, {.quality = 30, .premultiplied = true}));
  save(heif, "ten-bit.heic", tools::encodeHeif(withBits(rgb, 3, 16), {.quality = 30}));
  // nclx boxes: Display P3 with sRGB's curve, BT.2020 with BT.709's.
  save(heif, "nclx-p3.heic",
       tools::encodeHeif(rgb, {.quality = 30, .nclxPrimaries = 12, .nclxTransfer = 13}));
  save(heif, "nclx-bt2020.avif",
       tools::encodeHeif(rgb,
                         {.avif = true, .quality = 30, .nclxPrimaries = 9, .nclxTransfer = 14}));
  // Colours in the narrow range of BT.709's matrix; chroma not subsampled.
  save(heif, "narrow-range.avif",
       tools::encodeHeif(rgb, {.avif = true,
                               .quality = 30,
                               .nclxPrimaries = 1,
                               .nclxTransfer = 13,
                               .nclxMatrix = 1,
                               .nclxFullRange = false}));
  save(heif, "chroma-444.heic", tools::encodeHeif(rgb, {.quality = 30, .chroma = "444"}));
  return 0;
}
