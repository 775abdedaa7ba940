#include "platform/picture.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <new>
#include <string>

#include "platform/gif_decode.h"
#include "platform/jpeg_decode.h"
#include "platform/picture_facts.h"
#include "platform/resample.h"
#include "platform/runtime_error.h"

namespace platform {
namespace {

// No JPEG or GIF worth drawing comes near this; a bigger file is not read into memory.
constexpr off_t kMaxFileBytes = off_t{1} << 30;

// Decoding a large progressive JPEG allocates its coefficients (tens of megabytes) afresh for
// every picture. Freed memory is kept for the next picture instead of being returned to the
// system: faulting fresh pages in costs more than the decode itself on a virtual machine.
void keepFreedMemoryForReuse() {
#ifdef __GLIBC__
  static std::once_flag once;
  std::call_once(once, [] {
    constexpr int kMegabyte = 1 << 20;
    mallopt(M_MMAP_THRESHOLD, 256 * kMegabyte);
    mallopt(M_TRIM_THRESHOLD, 512 * kMegabyte);
  });
#endif
}

class FileDescriptor final {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::vector<std::uint8_t> readWholeFile(const std::string& path) {
  // Non-blocking: opening a FIFO must not wait for a writer.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) raiseFileError(errno, path);
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) raiseFileError(errno, path);
  if (S_ISDIR(status.st_mode)) raiseFileError(EISDIR, path);
  if (!S_ISREG(status.st_mode)) raiseError(kErrInvalidPicture);
  if (status.st_size > kMaxFileBytes)
    raiseError(kErrInvalidPicture, "Picture file too large: " + path);
  std::vector<std::uint8_t> bytes(static_cast<size_t>(std::max<off_t>(status.st_size, 0)));
  size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(filled + 65536);  // the file may have grown
    const ssize_t got = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) raiseFileError(errno, path);
    if (got == 0) break;
    filled += static_cast<size_t>(got);
    if (filled > static_cast<size_t>(kMaxFileBytes)) {
      raiseError(kErrInvalidPicture, "Picture file too large: " + path);
    }
  }
  bytes.resize(filled);
  return bytes;
}

bool startsWith(const std::vector<std::uint8_t>& bytes,
                std::initializer_list<std::uint8_t> prefix) {
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
  const PictureInfo info{PictureFormat::kGif, facts->gif.width, facts->gif.height};
  return std::make_shared<const EncodedPicture>(std::move(bytes), info, std::move(facts));
}

}  // namespace

void raisePictureTooLarge(int width, int height) {
  raiseError(kErrInvalidPicture, "Picture too large to draw: " + std::to_string(width) + " x " +
                                     std::to_string(height) + " pixels (the limit is " +
                                     std::to_string(kMaxDecodedPixels / 1'000'000) +
                                     " megapixels)");
}

EncodedPicture::EncodedPicture(std::vector<std::uint8_t> bytes, const PictureInfo& info,
                               std::unique_ptr<const Facts> facts)
    : bytes_(std::move(bytes)), info_(info), facts_(std::move(facts)) {}

EncodedPicture::~EncodedPicture() = default;

std::shared_ptr<const EncodedPicture> loadPicture(const std::string& path) {
  return loadPictureFromBytes(readWholeFile(path));
}

std::shared_ptr<const EncodedPicture> loadPictureFromBytes(std::vector<std::uint8_t> bytes) {
  try {
    if (startsWith(bytes, {0xFF, 0xD8})) return readJpeg(std::move(bytes));
    if (startsWith(bytes, {'G', 'I', 'F'})) return readGif(std::move(bytes));
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
  raiseError(kErrInvalidPicture);
}

class PictureRenderer::Decoders {
 public:
  JpegDecoder jpeg;
};

PictureRenderer::PictureRenderer() : decoders_(std::make_unique<Decoders>()) {
  keepFreedMemoryForReuse();
}
PictureRenderer::~PictureRenderer() = default;

RgbaImage PictureRenderer::render(const EncodedPicture& picture, int width, int height) {
  if (width < 1 || height < 1) raiseError(kErrInvalidPropertyValue);
  if (width > kMaxRenderSide || height > kMaxRenderSide) raiseError(kErrCantCreateAutoRedrawImage);
  const EncodedPicture::Facts& facts = picture.facts();
  try {
    if (picture.info().format == PictureFormat::kGif) {
      return renderGif(picture.bytes(), facts.gif, width, height);
    }
    // Drawn as stored, then turned upright: cheaper than turning the decoded rows.
    const bool swap = swapsAxes(facts.orientation);
    RgbaImage stored =
        decoders_->jpeg.render(picture.bytes(), swap ? height : width, swap ? width : height);
    return orientUpright(std::move(stored), facts.orientation);
  } catch (const std::bad_alloc&) {
    raiseError(kErrOutOfMemory);
  }
}

RgbaImage renderPicture(const EncodedPicture& picture, int width, int height) {
  thread_local PictureRenderer renderer;
  return renderer.render(picture, width, height);
}

}  // namespace platform
