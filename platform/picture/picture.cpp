#include "platform/picture/picture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>
#include <optional>
#include <string>

#include "platform/base/file_io.h"
#include "platform/base/runtime_error.h"
#include "platform/picture/jpeg_decode.h"
#include "platform/picture/orientation.h"
#include "platform/picture/picture_facts.h"
#include "platform/picture/resample.h"

namespace platform {
namespace {

// No JPEG or GIF worth drawing comes near this; a bigger file is not read into memory.
constexpr off_t kMaxFileBytes = off_t{1} << 30;

std::atomic<GifRenderer> gGifRenderer{nullptr};

// The installed decoders of kPng, kWebp, kTiff and kHeif, in that order.
constexpr int kFirstDecoded = static_cast<int>(PictureFormat::kPng);
std::atomic<const FormatDecoder*> gFormatDecoders[4] = {};

bool isDecodedByModule(PictureFormat format) { return static_cast<int>(format) >= kFirstDecoded; }

// Without an installed decoder the bytes are no picture this program reads: the plain 481 the
// window has always given for them.
const FormatDecoder& formatDecoder(PictureFormat format) {
  const FormatDecoder* decoder = gFormatDecoders[static_cast<int>(format) - kFirstDecoded].load();
  if (decoder == nullptr) raiseError(kErrInvalidPicture);
  return *decoder;
}

[[noreturn]] void raiseTooLarge(const std::string& path) {
  raiseError(kErrInvalidPicture, "Picture file too large: " + path);
}

// The whole file, read (not mapped): once it is read, nothing holds the file, so its drive can be
// unmounted, and a file cut short later changes nothing (a mapping would stop the program with
// SIGBUS). A file that ends before the size it had when opened was cut short while it was read.
// The buffer is zeroed and read over a piece at a time, while each piece is in the processor's
// cache, not zeroed whole first: a large file's memory is then written once.
std::vector<std::uint8_t> readAll(int fd, off_t size, const std::string& path) {
  constexpr size_t kPiece = size_t{1} << 18;
  const auto expected = static_cast<size_t>(std::max<off_t>(size, 0));
  std::vector<std::uint8_t> bytes;
  bytes.reserve(expected);
  while (bytes.size() < expected) {
    const size_t had = bytes.size();
    bytes.resize(had + std::min(kPiece, expected - had));
    const ssize_t got = readFully(fd, bytes.data() + had, bytes.size() - had);
    if (got < 0) raiseFileError(errno, path);
    if (static_cast<size_t>(got) < bytes.size() - had) {
      raiseError(kErrDeviceIO, "Device I/O error: " + path + " (cut short while it was read)");
    }
  }
  // The file may have grown since it was measured: read on to its end.
  std::uint8_t more[16384];
  for (;;) {
    const ssize_t extra = readFully(fd, more, sizeof more);
    if (extra < 0) raiseFileError(errno, path);
    if (extra == 0) break;
    if (bytes.size() + static_cast<size_t>(extra) > static_cast<size_t>(kMaxFileBytes)) {
      raiseTooLarge(path);
    }
    bytes.insert(bytes.end(), more, more + extra);
  }
  return bytes;
}

std::vector<std::uint8_t> readFile(const std::string& path) {
  // Non-blocking: opening a FIFO must not wait for a writer.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) raiseFileError(errno, path);
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) raiseFileError(errno, path);
  if (S_ISDIR(status.st_mode)) raiseFileError(EISDIR, path);
  if (!S_ISREG(status.st_mode)) raiseError(kErrInvalidPicture);
  if (status.st_size > kMaxFileBytes) raiseTooLarge(path);
  ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);  // read ahead on slow media
  return readAll(file.get(), status.st_size, path);
}

bool startsWith(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

std::shared_ptr<const EncodedPicture> readJpeg(std::vector<std::uint8_t> bytes) {
  thread_local JpegDecoder headerReader;
  const JpegHeader header = headerReader.readHeader(bytes);
  auto facts = std::make_unique<EncodedPicture::Facts>();
  facts->storedWidth = header.width;
  facts->storedHeight = header.height;
  facts->orientation = header.orientation;
  facts->progressive = header.progressive;
  facts->colour = header.colour;
  const bool swap = swapsAxes(header.orientation);
  const PictureInfo info{PictureFormat::kJpeg, swap ? header.height : header.width,
                         swap ? header.width : header.height};
  return std::make_shared<const EncodedPicture>(std::move(bytes), info, std::move(facts));
}

std::shared_ptr<const EncodedPicture> readGif(std::vector<std::uint8_t> bytes) {
  auto facts = std::make_unique<EncodedPicture::Facts>();
  facts->gif = readGifLayout(bytes);
  facts->storedWidth = facts->gif.width;
  facts->storedHeight = facts->gif.height;
  facts->colour = colourConversion(gifIccProfile(bytes, facts->gif), ColourPixels::kRgb);
  const PictureInfo info{PictureFormat::kGif, facts->gif.width, facts->gif.height};
  return std::make_shared<const EncodedPicture>(std::move(bytes), info, std::move(facts));
}

// A picture whose format's decoder was installed: its header from that decoder, its size checked
// before anything is decoded.
std::shared_ptr<const EncodedPicture> readDecodedFormat(std::vector<std::uint8_t> bytes,
                                                        PictureFormat format) {
  const FormatHeader header = formatDecoder(format).readHeader(bytes);
  if (header.width < 1 || header.height < 1) raiseError(kErrInvalidPicture);
  if (std::int64_t{header.width} * header.height > kMaxPicturePixels) {
    raisePictureTooLarge(header.width, header.height);
  }
  auto facts = std::make_unique<EncodedPicture::Facts>();
  facts->storedWidth = header.width;
  facts->storedHeight = header.height;
  facts->orientation = header.orientation >= 1 && header.orientation <= 8 ? header.orientation : 1;
  const bool swap = swapsAxes(facts->orientation);
  const PictureInfo info{format, swap ? header.height : header.width,
                         swap ? header.width : header.height};
  return std::make_shared<const EncodedPicture>(std::move(bytes), info, std::move(facts));
}

// The format the first bytes say; none for bytes of no format it knows.
std::optional<PictureFormat> sniffFormat(std::span<const std::uint8_t> bytes) {
  if (startsWith(bytes, {0xFF, 0xD8})) return PictureFormat::kJpeg;
  if (startsWith(bytes, {'G', 'I', 'F'})) return PictureFormat::kGif;
  if (startsWith(bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'})) return PictureFormat::kPng;
  if (bytes.size() >= 12 && startsWith(bytes, {'R', 'I', 'F', 'F'}) &&
      std::equal(bytes.begin() + 8, bytes.begin() + 12, "WEBP")) {
    return PictureFormat::kWebp;
  }
  // Little- and big-endian, classic and BigTIFF.
  if (startsWith(bytes, {'I', 'I', 42, 0}) || startsWith(bytes, {'M', 'M', 0, 42}) ||
      startsWith(bytes, {'I', 'I', 43, 0}) || startsWith(bytes, {'M', 'M', 0, 43})) {
    return PictureFormat::kTiff;
  }
  // An ISO media file (HEIC, HEIF, AVIF): a file-type box first; the decoder checks the brands.
  if (bytes.size() >= 12 && std::equal(bytes.begin() + 4, bytes.begin() + 8, "ftyp")) {
    return PictureFormat::kHeif;
  }
  return std::nullopt;
}

}  // namespace

void raisePictureTooLarge(int width, int height) {
  raiseError(kErrInvalidPicture, "Picture too large to draw: " + std::to_string(width) + " x " +
                                     std::to_string(height) + " pixels (the limit is " +
                                     std::to_string(kMaxPicturePixels / 1'000'000) +
                                     " megapixels)");
}

namespace {

std::shared_ptr<const EncodedPicture> readPicture(std::vector<std::uint8_t> bytes) {
  try {
    const std::optional<PictureFormat> format = sniffFormat(bytes);
    if (format == PictureFormat::kJpeg) return readJpeg(std::move(bytes));
    if (format == PictureFormat::kGif) return readGif(std::move(bytes));
    if (format) return readDecodedFormat(std::move(bytes), *format);
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
  raiseError(kErrInvalidPicture);
}

}  // namespace

EncodedPicture::EncodedPicture(std::vector<std::uint8_t> bytes, const PictureInfo& info,
                               std::unique_ptr<const Facts> facts)
    : bytes_(std::move(bytes)), info_(info), facts_(std::move(facts)) {}

EncodedPicture::~EncodedPicture() = default;

std::shared_ptr<const EncodedPicture> loadPicture(const std::string& path) {
  return readPicture(readFile(path));
}

std::shared_ptr<const EncodedPicture> loadPictureFromBytes(std::vector<std::uint8_t> bytes) {
  return readPicture(std::move(bytes));
}

std::shared_ptr<const EncodedPicture> keepBytesForDrawing(
    std::shared_ptr<const EncodedPicture> picture, int width, int height) {
  const EncodedPicture::Facts& facts = picture->facts();
  if (picture->info().format != PictureFormat::kJpeg || !facts.progressive || width < 1 ||
      height < 1) {
    return picture;
  }
  const bool swap = swapsAxes(facts.orientation);
  std::vector<std::uint8_t> used;
  try {
    thread_local JpegDecoder decoder;
    used = decoder.usedBytes(picture->bytes(), swap ? height : width, swap ? width : height);
  } catch (const RuntimeError&) {
    return picture;  // drawing it will say what is wrong
  }
  if (used.empty()) return picture;
  return std::make_shared<const EncodedPicture>(std::move(used), picture->info(),
                                                std::make_unique<EncodedPicture::Facts>(facts));
}

void setGifRenderer(GifRenderer renderer) { gGifRenderer.store(renderer); }

class PictureRenderer::Decoders {
 public:
  JpegDecoder jpeg;
};

PictureRenderer::PictureRenderer() : decoders_(std::make_unique<Decoders>()) {}
PictureRenderer::~PictureRenderer() = default;

RgbaImage PictureRenderer::render(const EncodedPicture& picture, int width, int height) {
  if (width < 1 || height < 1) raiseError(kErrInvalidPropertyValue);
  if (width > kMaxPictureSide || height > kMaxPictureSide)
    raiseError(kErrCantCreateAutoRedrawImage);
  const EncodedPicture::Facts& facts = picture.facts();
  lastWarning_.clear();
  try {
    if (picture.info().format == PictureFormat::kGif) {
      const GifRenderer gif = gGifRenderer.load();
      if (gif == nullptr) raiseError(kErrInvalidPicture, "Invalid picture: no GIF decoder");
      if (facts.colour == nullptr) return gif(picture.bytes(), facts.gif, width, height);
      const std::vector<std::uint8_t> converted =
          withPalettesInSrgb(picture.bytes(), facts.gif, *facts.colour);
      return gif(converted, facts.gif, width, height);
    }
    // Drawn as stored, then turned upright: cheaper than turning the decoded rows.
    const bool swap = swapsAxes(facts.orientation);
    const int storedWidth = swap ? height : width;
    const int storedHeight = swap ? width : height;
    if (isDecodedByModule(picture.info().format)) {
      RgbaImage stored = formatDecoder(picture.info().format)
                             .render(picture.bytes(), storedWidth, storedHeight, lastWarning_);
      if (stored.width != storedWidth || stored.height != storedHeight ||
          stored.pixels.size() != static_cast<size_t>(storedWidth) * storedHeight * 4) {
        raiseError(kErrInternal, "The picture was drawn at the wrong size");
      }
      return orientUpright(std::move(stored), facts.orientation);
    }
    RgbaImage stored =
        decoders_->jpeg.render(picture.bytes(), storedWidth, storedHeight, facts.colour.get());
    lastWarning_ = decoders_->jpeg.warning();
    return orientUpright(std::move(stored), facts.orientation);
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
}

RgbaImage renderPicture(const EncodedPicture& picture, int width, int height) {
  thread_local PictureRenderer renderer;
  return renderer.render(picture, width, height);
}

void setFormatDecoder(PictureFormat format, const FormatDecoder* decoder) {
  if (isDecodedByModule(format)) {
    gFormatDecoders[static_cast<int>(format) - kFirstDecoded].store(decoder);
  }
}

const char* formatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::kJpeg:
      return "JPEG";
    case PictureFormat::kGif:
      return "GIF";
    case PictureFormat::kPng:
      return "PNG";
    case PictureFormat::kWebp:
      return "WebP";
    case PictureFormat::kTiff:
      return "TIFF";
    case PictureFormat::kHeif:
      return "HEIF";
  }
  return "picture";
}

}  // namespace platform
