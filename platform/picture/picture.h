// Pictures read from JPEG, GIF, PNG, WebP, TIFF and HEIF/AVIF files, and drawn at any size. Plain
// C++: Qt and the codec libraries stay in the .cpp files; GIF and the formats after it are decoded
// by decoders a program installs.
//
// A picture is read once (loadPicture: the file's bytes and its header facts, no pixels) and can
// then be drawn many times at any size (renderPicture). Drawing decodes only what the size needs:
// a JPEG at the smallest 1/8-step scale that keeps at least twice the drawn size, then one
// Lanczos3 resample to exactly the drawn size. A large photo never has its full-size pixels in
// memory.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/base/limits.h"

namespace platform {

struct GifLayout;

// kHeif covers AVIF too: both are HEIF files, told apart by the library that reads them.
enum class PictureFormat { kJpeg, kGif, kPng, kWebp, kTiff, kHeif };

// Natural size in pixels, upright: a JPEG's EXIF orientation (a TIFF's, a HEIF's rotation and
// mirroring) is already applied.
struct PictureInfo {
  PictureFormat format = PictureFormat::kJpeg;
  int width = 0;
  int height = 0;
};

// An immutable picture file: its bytes, in memory, and what its header says. Shared between
// threads freely. It holds no open file and no mapping: the file may change or its drive go once
// it is read.
class EncodedPicture final {
 public:
  // What the decoders need beyond PictureInfo (stored size, orientation, the GIF's layout).
  struct Facts;

  EncodedPicture(std::vector<std::uint8_t> bytes, const PictureInfo& info,
                 std::unique_ptr<const Facts> facts);
  ~EncodedPicture();
  EncodedPicture(const EncodedPicture&) = delete;
  EncodedPicture& operator=(const EncodedPicture&) = delete;

  const PictureInfo& info() const { return info_; }
  std::span<const std::uint8_t> bytes() const { return bytes_; }
  const Facts& facts() const { return *facts_; }

 private:
  std::vector<std::uint8_t> bytes_;
  PictureInfo info_;
  std::unique_ptr<const Facts> facts_;
};

// Reads a picture file whole and its header; decodes no pixels. The file is closed before it
// returns. Raises RuntimeError 53 (file not found), 70 (permission denied), 57 (a read that fails,
// or a file cut short while it is read) or another file error, and 481 "Invalid picture" for
// anything that is not a picture it can draw (a format without an installed decoder too),
// including one whose header says it is over kMaxPicturePixels.
std::shared_ptr<const EncodedPicture> loadPicture(const std::string& path);

// The same for bytes already in memory (tests, fuzzing).
std::shared_ptr<const EncodedPicture> loadPictureFromBytes(std::vector<std::uint8_t> bytes);

// The picture with only the bytes that drawing it at width x height or smaller reads (upright
// sizes; it then draws exactly as before at those sizes): a large progressive JPEG drawn small
// leaves most of its bytes unread, and a program that draws a picture once (quorvane-thumb) need
// not hold them while it draws. Any other picture, or one drawn larger, is returned as it is.
std::shared_ptr<const EncodedPicture> keepBytesForDrawing(
    std::shared_ptr<const EncodedPicture> picture, int width, int height);

// RGBA, 8 bits a channel, top row first, rows packed (width * 4 bytes), straight alpha
// (255 = opaque). JPEG pictures are opaque; transparent GIF pixels have alpha 0.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

// Draws pictures; keeps its decoder between calls. One per thread: not thread-safe itself.
class PictureRenderer final {
 public:
  PictureRenderer();
  ~PictureRenderer();
  PictureRenderer(const PictureRenderer&) = delete;
  PictureRenderer& operator=(const PictureRenderer&) = delete;

  // The whole picture, upright, scaled to exactly width x height pixels. Raises RuntimeError 380
  // for a width or height below 1, 480 for one above kMaxPictureSide, 481 when the data cannot be
  // decoded. A picture is decoded to at most kMaxPicturePixels (a JPEG at its chosen 1/8-step
  // scale, a GIF's first frame; a progressive JPEG's stored size too, as it keeps all its
  // coefficients while decoding): one over that fails with 481 and says so. A truncated JPEG draws
  // what it holds.
  RgbaImage render(const EncodedPicture& picture, int width, int height);
  // What the decoder had to work around in the last render, in plain words (a JPEG that "ends
  // early; the rest is grey"); empty when the picture was sound.
  const std::string& lastWarning() const { return lastWarning_; }

 private:
  class Decoders;
  std::unique_ptr<Decoders> decoders_;
  std::string lastWarning_;
};

// render() on a renderer of the calling thread.
RgbaImage renderPicture(const EncodedPicture& picture, int width, int height);

// Draws a GIF's first frame on its logical screen at exactly width x height, transparent pixels
// with alpha 0; raises RuntimeError 481. GIF decoding needs Qt, which this library does not link:
// a program installs a GIF renderer before it draws a GIF (the window: installQtGifDecoder();
// quorvane-thumb: its GIF module). Without one a GIF fails with 481.
using GifRenderer = RgbaImage (*)(std::span<const std::uint8_t> gif, const GifLayout& layout,
                                  int width, int height);
void setGifRenderer(GifRenderer renderer);

// What a decoder of one of the other formats (PNG, WebP, TIFF, HEIF) reads from a file's header.
struct FormatHeader {
  int width = 0;  // as stored: before `orientation` is applied
  int height = 0;
  int orientation = 1;  // as EXIF's, 1-8; applied by the picture reader after drawing
};

// A decoder of one of the other formats. Both functions raise RuntimeError 481 (7 when memory runs
// out) and nothing else. readHeader decodes no pixels; render draws the whole picture as stored at
// exactly width x height (straight alpha) and says in `warning` what it had to work around.
struct FormatDecoder {
  FormatHeader (*readHeader)(std::span<const std::uint8_t> bytes);
  RgbaImage (*render)(std::span<const std::uint8_t> bytes, int width, int height,
                      std::string& warning);
};

// Installs the decoder of kPng, kWebp, kTiff or kHeif; `decoder` must live as long as the program
// (a static object). Without one, pictures of that format are plain 481s, as any other bytes
// that are no JPEG or GIF (the window installs none). The decoders
// are in platform/picture/formats; quorvane-thumb loads each as a module on the first picture of
// its format.
void setFormatDecoder(PictureFormat format, const FormatDecoder* decoder);

// "PNG", "WebP", "TIFF", "HEIF", "JPEG", "GIF".
const char* formatName(PictureFormat format);

}  // namespace platform
