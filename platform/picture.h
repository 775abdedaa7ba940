// Pictures read from JPEG and GIF files, and drawn at any size. Plain C++: Qt and libjpeg-turbo
// stay in the .cpp files.
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

namespace platform {

struct GifLayout;

enum class PictureFormat { kJpeg, kGif };

// Natural size in pixels, upright: a JPEG's EXIF orientation is already applied.
struct PictureInfo {
  PictureFormat format = PictureFormat::kJpeg;
  int width = 0;
  int height = 0;
};

// The most pixels a picture may be decoded to (a JPEG at its chosen 1/8-step scale, a GIF's first
// frame). A progressive JPEG keeps all its coefficients while decoding, so its stored size is held
// to the same limit. A picture over it fails with error 481 and says so.
inline constexpr std::int64_t kMaxDecodedPixels = 100'000'000;

// The largest drawn width or height; a bigger one fails with error 480.
inline constexpr int kMaxRenderSide = 16384;

// An immutable picture file: its bytes and what its header says. Shared between threads freely.
class EncodedPicture final {
 public:
  // What the decoders need beyond PictureInfo (stored size, orientation, the GIF's layout).
  struct Facts;
  // Where the bytes are: in memory, or (a large file) mapped read-only, so that only the parts a
  // decoder reads are ever loaded.
  class Storage;

  EncodedPicture(std::unique_ptr<const Storage> storage, const PictureInfo& info,
                 std::unique_ptr<const Facts> facts);
  ~EncodedPicture();
  EncodedPicture(const EncodedPicture&) = delete;
  EncodedPicture& operator=(const EncodedPicture&) = delete;

  const PictureInfo& info() const { return info_; }
  std::span<const std::uint8_t> bytes() const { return bytes_; }
  const Facts& facts() const { return *facts_; }
  // Lets the system take back the memory of bytes read so far; they are read again from the file
  // when needed. Does nothing for bytes that are not a file mapping.
  void releaseReadPages() const;

 private:
  std::unique_ptr<const Storage> storage_;
  std::span<const std::uint8_t> bytes_;
  PictureInfo info_;
  std::unique_ptr<const Facts> facts_;
};

// Reads a JPEG or GIF file and its header; decodes no pixels. Raises RuntimeError 53 (file not
// found), 70 (permission denied) or another file error, and 481 "Invalid picture" for anything
// that is not a JPEG or GIF it can draw, including one over kMaxDecodedPixels.
std::shared_ptr<const EncodedPicture> loadPicture(const std::string& path);

// The same for bytes already in memory (tests, fuzzing).
std::shared_ptr<const EncodedPicture> loadPictureFromBytes(std::vector<std::uint8_t> bytes);

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
  // for a width or height below 1, 480 for one above kMaxRenderSide, 481 when the data cannot be
  // decoded. A truncated JPEG draws what it holds.
  RgbaImage render(const EncodedPicture& picture, int width, int height);

 private:
  class Decoders;
  std::unique_ptr<Decoders> decoders_;
};

// render() on a renderer of the calling thread.
RgbaImage renderPicture(const EncodedPicture& picture, int width, int height);

// Draws a GIF's first frame on its logical screen at exactly width x height, transparent pixels
// with alpha 0; raises RuntimeError 481. GIF decoding needs Qt: the platform library installs Qt's
// reader by itself; a program built on platform_core alone installs one before drawing a GIF.
using GifRenderer = RgbaImage (*)(std::span<const std::uint8_t> gif, const GifLayout& layout,
                                  int width, int height);
void setGifRenderer(GifRenderer renderer);

}  // namespace platform
