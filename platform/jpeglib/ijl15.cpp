#include "platform/jpeglib/ijl15.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <new>

#include "platform/base/atomic_file.h"
#include "platform/jpeglib/ijl15_testing.h"
#include "platform/jpeglib/jpeg_encode.h"

namespace platform {
namespace {

constexpr std::uint32_t kPrepared = 0x314C4A49;   // "IJL1"
constexpr std::int64_t kMaxDimension = 65500;     // the largest side a JPEG encoder takes
constexpr std::int64_t kMaxDibBytes = INT32_MAX;  // a DIB's size is a 32-bit number

std::atomic<IjlHooks*> gHooks{nullptr};

using Compressor = JpegCompressor;

// One idle compressor is kept between records: making one allocates the encoder's whole state.
std::mutex gIdleMutex;
Compressor& idleCompressor() {
  static Compressor idle;
  return idle;
}

Compressor acquireCompressor() {
  {
    const std::lock_guard lock(gIdleMutex);
    if (idleCompressor()) return std::move(idleCompressor());
  }
  return makeJpegCompressor();
}

void releaseCompressor(Compressor compressor) {
  const std::lock_guard lock(gIdleMutex);
  if (!idleCompressor()) idleCompressor() = std::move(compressor);
}

bool isPrepared(const JPEG_CORE_PROPERTIES* jcprops) {
  return jcprops != nullptr && jcprops->jprops.state == kPrepared &&
         jcprops->jprops.encoder != nullptr;
}

// What the encoder is given once the record has been checked.
struct EncodeJob {
  BgrPixels pixels;
  int quality = 0;
};

// Checks the record's fields against each other; no pixel is read here.
int checkRecord(const JPEG_CORE_PROPERTIES& r, EncodeJob& job) {
  if (r.DIBBytes == nullptr) return IJL_INVALID_DIB_BYTES;
  if (r.JPGFile == nullptr || r.JPGFile[0] == '\0') return IJL_INVALID_FILENAME;
  if (r.DIBChannels != 3 && r.DIBChannels != 4) return IJL_UNSUPPORTED_BYTES_PER_PIXEL;
  const bool fourBytes = r.DIBChannels == 4;
  if (r.DIBColor != (fourBytes ? IJL_RGBA_FPX : IJL_BGR) ||
      r.JPGColor != (fourBytes ? IJL_YCBCRA_FPX : IJL_YCBCR) || r.JPGChannels != r.DIBChannels) {
    return IJL_UNSUPPORTED_COLOR;
  }
  if (r.JPGSubsampling != (fourBytes ? IJL_4114 : IJL_411)) return IJL_UNSUPPORTED_SUBSAMPLING;
  if (r.jquality < 0 || r.jquality > 100) return IJL_INVALID_QUALITY;

  // 64-bit arithmetic, so that no check can overflow itself.
  const std::int64_t width = r.DIBWidth;
  const std::int64_t height = r.DIBHeight < 0 ? -std::int64_t{r.DIBHeight} : r.DIBHeight;
  if (width < 1 || width > kMaxDimension || height < 1 || height > kMaxDimension) {
    return IJL_INVALID_DIB_SIZE;
  }
  if (r.JPGWidth != width || r.JPGHeight != height) return IJL_INVALID_DIB_SIZE;
  const std::int64_t rowBytes = width * r.DIBChannels;
  if (r.DIBPadBytes < 0 || r.DIBPadBytes > 3 || (rowBytes + r.DIBPadBytes) % 4 != 0) {
    return IJL_INVALID_DIB_SIZE;
  }
  const std::int64_t pitch = rowBytes + r.DIBPadBytes;
  if (pitch * height > kMaxDibBytes) return IJL_INVALID_DIB_SIZE;

  job.pixels.data = r.DIBBytes;
  job.pixels.width = static_cast<int>(width);
  job.pixels.height = static_cast<int>(height);
  job.pixels.pitch = static_cast<int>(pitch);
  // Memory order blue, green, red (and the unused byte): a DIB's pixel, whatever DIBColor says.
  job.pixels.layout = fourBytes ? BgrLayout::kBgrx : BgrLayout::kBgr;
  job.pixels.bottomUp = r.DIBHeight < 0;
  job.quality = std::max(r.jquality, 1);  // the encoder's scale starts at 1
  return IJL_OK;
}

int codeForWrite(const WriteResult& result) {
  if (result.ok()) return IJL_OK;
  switch (result.errnoValue) {
    case ENOSPC:
    case EDQUOT:
      return IJL_ERR_DISKFULL;
    case ENOMEM:
      return IJL_MEMORY_ERROR;
    default:
      return result.failedStep == WriteStep::kWrite ? IJL_ERR_FILEWRITE : IJL_ERR_FILECREATE;
  }
}

int encodeToFile(const JPEG_CORE_PROPERTIES& r, const EncodeJob& job) {
  JpegBytes jpeg;
  if (!encodeJpeg(r.jprops.encoder, job.pixels, job.quality, jpeg)) return IJL_ENCODER_ERROR;
  return codeForWrite(writeFileAtomically(r.JPGFile, jpeg.data.get(), jpeg.size));
}

}  // namespace

void setIjlHooks(IjlHooks* hooks) { gHooks.store(hooks); }

int ijlInit(JPEG_CORE_PROPERTIES* jcprops) {
  if (IjlHooks* hooks = gHooks.load()) {
    ++hooks->initCalls;
    if (hooks->initResult != IJL_OK) return hooks->initResult;
  }
  if (jcprops == nullptr) return IJL_INVALID_JPEG_PROPERTIES;
  Compressor compressor = acquireCompressor();
  if (!compressor) return IJL_MEMORY_ERROR;

  *jcprops = JPEG_CORE_PROPERTIES{};
  jcprops->DIBChannels = 3;
  jcprops->DIBColor = IJL_BGR;
  jcprops->JPGChannels = 3;
  jcprops->JPGColor = IJL_YCBCR;
  jcprops->JPGSubsampling = IJL_411;
  jcprops->jquality = 75;
  jcprops->jprops.encoder = compressor.release();
  jcprops->jprops.state = kPrepared;
  return IJL_OK;
}

int ijlWrite(JPEG_CORE_PROPERTIES* jcprops, int iotype) {
  if (IjlHooks* hooks = gHooks.load()) {
    ++hooks->writeCalls;
    if (jcprops != nullptr) {
      hooks->lastWrite = *jcprops;
      hooks->lastFile = jcprops->JPGFile != nullptr ? jcprops->JPGFile : "";
    }
    if (hooks->writeResult != IJL_OK) return hooks->writeResult;
  }
  if (!isPrepared(jcprops)) return IJL_INVALID_JPEG_PROPERTIES;
  if (iotype != IJL_JFILE_WRITEWHOLEIMAGE) return IJL_UNSUPPORTED_IOTYPE;
  EncodeJob job;
  if (const int code = checkRecord(*jcprops, job); code != IJL_OK) return code;
  try {
    return encodeToFile(*jcprops, job);
  } catch (const std::bad_alloc&) {
    return IJL_MEMORY_ERROR;
  }
}

int ijlFree(JPEG_CORE_PROPERTIES* jcprops) {
  if (IjlHooks* hooks = gHooks.load()) ++hooks->freeCalls;
  if (!isPrepared(jcprops)) return IJL_INVALID_JPEG_PROPERTIES;
  releaseCompressor(Compressor(jcprops->jprops.encoder));
  jcprops->jprops = JPEG_PROPERTIES{};
  return IJL_OK;
}

}  // namespace platform
