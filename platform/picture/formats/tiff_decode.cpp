// TIFF on libtiff: the first page, or a reduced-resolution version of it (a pyramid level, in the
// page's SubIFDs or following it) when one is at least twice the drawn size; read a strip or a row
// of tiles at a time. Colour models, bit depths, JPEG compression and alpha go through libtiff's
// RGBA reader; CMYK through a conversion of its own, which keeps 16-bit samples too.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/base/runtime_error.h"
#include "platform/picture/decoded_rows.h"
#include "platform/picture/formats/formats.h"
#include "platform/picture/formats/tiff_file.h"

namespace platform {
namespace {

// Pyramid levels looked at; real files have fewer than twenty.
constexpr int kMaxLevels = 32;

// A tile may be larger than a small picture (many writers use one tile size for every picture),
// but no sound file's tile is larger than both the whole picture and this.
constexpr size_t kMaxSpareTileBytes = size_t{64} << 20;

struct Size {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

Size sizeOf(TIFF* tiff) {
  Size size;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &size.width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &size.height);
  return size;
}

bool isReduced(TIFF* tiff) {
  std::uint32_t type = 0;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SUBFILETYPE, &type);
  return (type & FILETYPE_REDUCEDIMAGE) != 0;
}

FormatHeader readTiffHeader(std::span<const std::uint8_t> tiff) {
  try {
    const TiffFile file(tiff);
    const Size size = sizeOf(file.get());
    if (size.width < 1 || size.height < 1 || size.width > INT32_MAX || size.height > INT32_MAX) {
      file.fail("no picture");
    }
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(file.get(), TIFFTAG_ORIENTATION, &orientation);
    // TIFF's orientations are EXIF's: EXIF took them from TIFF.
    return {static_cast<int>(size.width), static_cast<int>(size.height), orientation};
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
}

// The directory to draw from: the first page, or its smallest reduced-resolution version that is
// at least twice the drawn size on both sides and of the page's proportions. Its offset, or 0 for
// the page itself.
std::uint64_t chooseLevel(TiffFile& file, Size page, int width, int height) {
  TIFF* tiff = file.get();
  std::vector<std::uint64_t> offsets;
  // Pyramid levels that follow the page.
  for (int i = 0; i < kMaxLevels && TIFFReadDirectory(tiff) && isReduced(tiff); ++i) {
    offsets.push_back(TIFFCurrentDirOffset(tiff));
  }
  // Levels in the page's SubIFDs.
  if (TIFFSetDirectory(tiff, 0)) {
    std::uint16_t count = 0;
    std::uint64_t* subIfds = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_SUBIFD, &count, &subIfds) && subIfds != nullptr) {
      offsets.insert(offsets.end(), subIfds, subIfds + std::min<int>(count, kMaxLevels));
    }
  }
  std::uint64_t best = 0;
  std::uint64_t bestPixels = std::uint64_t{page.width} * page.height;
  for (const std::uint64_t offset : offsets) {
    if (!TIFFSetSubDirectory(tiff, offset) || !isReduced(tiff)) continue;
    const Size level = sizeOf(tiff);
    const std::uint64_t pixels = std::uint64_t{level.width} * level.height;
    const double drift = std::abs(static_cast<double>(level.width) * page.height -
                                  static_cast<double>(level.height) * page.width);
    if (level.width >= 2 * std::uint64_t(width) && level.height >= 2 * std::uint64_t(height) &&
        drift <= std::max(page.width, page.height) && pixels < bestPixels) {
      best = offset;
      bestPixels = pixels;
    }
  }
  file.forgetErrors();  // a damaged level that was not chosen does not matter
  return best;
}

// Samples read here as libtiff decodes them (contiguous, unsigned), not through its RGBA reader:
// CMYK of 8 or 16 bits, and RGB of 8 bits (turned into RGBA and back by that reader otherwise).
enum class Samples { kOther, kCmyk, kRgb8 };

Samples plainSamples(TIFF* tiff) {
  std::uint16_t photometric = 0, inkSet = INKSET_CMYK, samples = 1, bits = 1, planar = 1,
                format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inkSet);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  if (planar != PLANARCONFIG_CONTIG || format != SAMPLEFORMAT_UINT) return Samples::kOther;
  if (photometric == PHOTOMETRIC_SEPARATED && inkSet == INKSET_CMYK && samples >= 4 &&
      (bits == 8 || bits == 16)) {
    return Samples::kCmyk;
  }
  if (photometric == PHOTOMETRIC_RGB && samples == 3 && bits == 8 &&
      compression != COMPRESSION_OJPEG) {
    return Samples::kRgb8;
  }
  return Samples::kOther;
}

// CMYK (no ink: 0) to RGB, each sample scaled to 8 bits with rounding first.
void cmykRowToRgb(const std::uint8_t* samples, int width, int samplesPerPixel, bool sixteen,
                  std::uint8_t* rgb) {
  for (int x = 0; x < width; ++x, rgb += 3) {
    int ink[4];
    for (int c = 0; c < 4; ++c) {
      const size_t index = static_cast<size_t>(x) * samplesPerPixel + c;
      ink[c] = sixteen ? (reinterpret_cast<const std::uint16_t*>(samples)[index] + 128) / 257
                       : samples[index];
    }
    const int white = 255 - ink[3];
    for (int c = 0; c < 3; ++c)
      rgb[c] = static_cast<std::uint8_t>(((255 - ink[c]) * white + 127) / 255);
  }
}

// Whether the directory's strips hold their rows as they are drawn: uncompressed 8-bit samples
// in their natural bit order. libtiff would only copy such a strip.
bool stripsAsStored(TIFF* tiff) {
  std::uint16_t compression = COMPRESSION_NONE, fillOrder = FILLORDER_MSB2LSB, bits = 1;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_FILLORDER, &fillOrder);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  return compression == COMPRESSION_NONE && fillOrder == FILLORDER_MSB2LSB && bits == 8;
}

// Where such a strip holds `length` bytes in the file, for its rows to be added as they stand
// there; null when the strip is not whole in the file (libtiff then reads it, and reports what is
// wrong).
const std::uint8_t* stripInPlace(const TiffFile& file, std::uint32_t strip, std::uint64_t length) {
  int failed = 0;
  const std::uint64_t offset = TIFFGetStrileOffsetWithErr(file.get(), strip, &failed);
  const std::uint64_t stored = TIFFGetStrileByteCountWithErr(file.get(), strip, &failed);
  const std::span<const std::uint8_t> bytes = file.bytes();
  if (failed != 0 || stored < length || offset > bytes.size() || length > bytes.size() - offset) {
    return nullptr;
  }
  return bytes.data() + offset;
}

// Every row of a directory of plain samples, a strip or a row of tiles at a time, as RGB.
void readPlain(TiffFile& file, Size size, Samples kind, DecodedRows& rows) {
  TIFF* tiff = file.get();
  std::uint16_t samples = 4, bits = 8;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  const bool sixteen = bits == 16;
  const size_t pixelBytes = size_t{samples} * (sixteen ? 2 : 1);
  const size_t rowBytes = pixelBytes * size.width;
  std::vector<std::uint8_t> rgb(kind == Samples::kCmyk ? size_t{size.width} * 3 : 0);
  const auto addRgb = [&](const std::uint8_t* row) {
    if (kind == Samples::kCmyk) {
      cmykRowToRgb(row, static_cast<int>(size.width), samples, sixteen, rgb.data());
      row = rgb.data();
    }
    rows.addRow(row);
  };
  if (!TIFFIsTiled(tiff)) {
    std::uint32_t rowsPerStrip = size.height;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, size.height);
    const tmsize_t stripBytes = TIFFStripSize(tiff);
    if (stripBytes <= 0) file.fail("a strip of no size");
    const bool asStored = stripsAsStored(tiff);
    std::vector<std::uint8_t> strip;
    for (std::uint32_t top = 0; top < size.height; top += rowsPerStrip) {
      const std::uint32_t count = std::min(rowsPerStrip, size.height - top);
      const std::uint32_t index = TIFFComputeStrip(tiff, top, 0);
      const std::uint8_t* stored = asStored ? stripInPlace(file, index, rowBytes * count) : nullptr;
      if (stored == nullptr) {
        strip.resize(static_cast<size_t>(stripBytes));
        if (TIFFReadEncodedStrip(tiff, index, strip.data(),
                                 static_cast<tmsize_t>(rowBytes * count)) < 0) {
          file.fail("a damaged strip");
        }
        stored = strip.data();
      }
      for (std::uint32_t y = 0; y < count; ++y) addRgb(stored + rowBytes * y);
    }
    return;
  }
  std::uint32_t tileWidth = 0, tileHeight = 0;
  TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
  const tmsize_t tileBytes = TIFFTileSize(tiff);
  if (tileWidth == 0 || tileHeight == 0 || tileBytes <= 0) file.fail("tiles of no size");
  if (static_cast<size_t>(tileBytes) > std::max(rowBytes * size.height, kMaxSpareTileBytes)) {
    file.fail("tiles larger than the picture");
  }
  std::vector<std::uint8_t> tile(static_cast<size_t>(tileBytes));
  std::vector<std::uint8_t> band(rowBytes * std::min(tileHeight, size.height));
  for (std::uint32_t top = 0; top < size.height; top += tileHeight) {
    const std::uint32_t count = std::min(tileHeight, size.height - top);
    for (std::uint32_t left = 0; left < size.width; left += tileWidth) {
      if (TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, left, top, 0, 0), tile.data(),
                              tileBytes) < 0) {
        file.fail("a damaged tile");
      }
      const size_t across = pixelBytes * std::min(tileWidth, size.width - left);
      for (std::uint32_t y = 0; y < count; ++y) {
        std::memcpy(&band[rowBytes * y + pixelBytes * left], &tile[pixelBytes * tileWidth * y],
                    across);
      }
    }
    for (std::uint32_t y = 0; y < count; ++y) addRgb(&band[rowBytes * y]);
  }
}

// Every row through libtiff's RGBA reader, as stored (no turning: the orientation is applied to
// the drawing), a strip or a row of tiles at a time so that each is decoded once.
void readRgba(TiffFile& file, Size size, DecodedRows* rows, bool& alpha) {
  TIFF* tiff = file.get();
  char message[1024] = "";
  TIFFRGBAImage image{};
  if (!TIFFRGBAImageOK(tiff, message) || !TIFFRGBAImageBegin(&image, tiff, 1, message)) {
    file.fail(message);
  }
  std::unique_ptr<TIFFRGBAImage, decltype(&TIFFRGBAImageEnd)> end(&image, TIFFRGBAImageEnd);
  alpha = image.alpha != 0;
  if (rows == nullptr) return;
  image.req_orientation = ORIENTATION_TOPLEFT;
  image.orientation = ORIENTATION_TOPLEFT;
  std::uint32_t band = size.height;
  if (TIFFIsTiled(tiff)) {
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &band);
  } else {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &band);
  }
  band = std::clamp<std::uint32_t>(band, 1, size.height);
  std::vector<std::uint32_t> raster(size_t{size.width} * band);
  std::vector<std::uint8_t> row(size_t{size.width} * (alpha ? 4 : 3));
  for (std::uint32_t top = 0; top < size.height; top += band) {
    const std::uint32_t count = std::min(band, size.height - top);
    image.row_offset = static_cast<int>(top);
    image.col_offset = 0;
    if (!TIFFRGBAImageGet(&image, raster.data(), size.width, count)) file.fail("damaged data");
    for (std::uint32_t y = 0; y < count; ++y) {
      const std::uint32_t* pixel = &raster[size_t{size.width} * y];
      std::uint8_t* out = row.data();
      for (std::uint32_t x = 0; x < size.width; ++x, ++pixel) {
        const std::uint32_t p = *pixel;
        if (alpha) {
          // libtiff gives alpha premultiplied; the drawing wants it straight.
          const std::uint32_t a = TIFFGetA(p);
          for (const std::uint32_t c : {TIFFGetR(p), TIFFGetG(p), TIFFGetB(p)}) {
            *out++ = a == 0 ? 0
                            : static_cast<std::uint8_t>(
                                  std::min<std::uint32_t>(255, (c * 255 + a / 2) / a));
          }
          *out++ = static_cast<std::uint8_t>(a);
        } else {
          *out++ = static_cast<std::uint8_t>(TIFFGetR(p));
          *out++ = static_cast<std::uint8_t>(TIFFGetG(p));
          *out++ = static_cast<std::uint8_t>(TIFFGetB(p));
        }
      }
      rows->addRow(row.data());
    }
  }
}

std::vector<std::uint8_t> iccProfile(TIFF* tiff) {
  std::uint32_t length = 0;
  const void* profile = nullptr;
  if (!TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &profile) || profile == nullptr) return {};
  const auto* bytes = static_cast<const std::uint8_t*>(profile);
  return {bytes, bytes + length};
}

RgbaImage renderTiff(std::span<const std::uint8_t> bytes, int width, int height, std::string&) {
  try {
    TiffFile file(bytes);
    const Size page = sizeOf(file.get());
    if (page.width < 1 || page.height < 1 ||
        std::uint64_t{page.width} * page.height > static_cast<std::uint64_t>(kMaxPicturePixels)) {
      file.fail("no picture, or one over the pixel limit");
    }
    const std::uint64_t level = chooseLevel(file, page, width, height);
    if (level != 0 ? !TIFFSetSubDirectory(file.get(), level) : !TIFFSetDirectory(file.get(), 0)) {
      file.fail("its first page cannot be read again");
    }
    const Size size = sizeOf(file.get());
    const std::vector<std::uint8_t> profile = iccProfile(file.get());
    const Samples kind = plainSamples(file.get());
    if (kind != Samples::kOther) {
      DecodedRows rows(SourcePixels::kRgb, static_cast<int>(size.width),
                       static_cast<int>(size.height), width, height, profile);
      readPlain(file, size, kind, rows);
      return rows.finish();
    }
    bool alpha = false;
    readRgba(file, size, nullptr, alpha);  // whether the reader gives alpha
    DecodedRows rows(alpha ? SourcePixels::kRgbaStraight : SourcePixels::kRgb,
                     static_cast<int>(size.width), static_cast<int>(size.height), width, height,
                     profile);
    readRgba(file, size, &rows, alpha);
    return rows.finish();
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
}

}  // namespace

const FormatDecoder kTiffDecoder{readTiffHeader, renderTiff};

}  // namespace platform
