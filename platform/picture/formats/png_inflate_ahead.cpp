#include "platform/picture/formats/png_inflate_ahead.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/picture/picture.h"

namespace platform {
namespace {

// Below this many pixels a PNG decodes in a few milliseconds, and a second thread gains nothing.
constexpr std::uint64_t kMinPixels = std::uint64_t{1} << 18;

// Slots: a chunk header (8 bytes), the zlib header in the first chunk (2), a stored block's
// header (5), at most 65535 inflated bytes, then in the last chunk an empty final block (5) and
// the stream's Adler-32 (4), and the chunk's CRC (4). Eight of them keep the memory small while
// the two threads rarely wait for each other.
constexpr size_t kSlots = 8;
constexpr size_t kPayload = 15;
constexpr size_t kMaxBlock = 65535;
constexpr size_t kSlotBytes = kPayload + kMaxBlock + 13;

constexpr std::uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

std::uint32_t bigEndian(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void putBigEndian(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

bool isType(const std::uint8_t* chunk, const char* type) {
  return std::memcmp(chunk + 4, type, 4) == 0;
}

bool crcMatches(const std::uint8_t* chunk, std::uint32_t length) {
  return crc32_gzip_refl(0, chunk + 4, length + 4) == bigEndian(chunk + 8 + length);
}

// The checks zlib makes of a stream's two-byte header, with its messages.
const char* headerError(std::uint8_t cmf, std::uint8_t flg) {
  if ((cmf << 8 | flg) % 31 != 0) return "IDAT: incorrect header check";
  if ((cmf & 0x0F) != 8) return "IDAT: unknown compression method";
  if (cmf >> 4 > 7) return "IDAT: invalid window size";
  if ((flg & 0x20) != 0) return "IDAT: missing dictionary";
  return nullptr;
}

const char* inflateError(int result) {
  switch (result) {
    case ISAL_INVALID_BLOCK:
      return "IDAT: invalid deflate block";
    case ISAL_INVALID_SYMBOL:
      return "IDAT: invalid code";
    case ISAL_INVALID_LOOKBACK:
      return "IDAT: invalid distance too far back";
    default:
      return "IDAT: damaged image data";
  }
}

}  // namespace

std::unique_ptr<InflatedAhead> InflatedAhead::start(std::span<const std::uint8_t> png) {
  if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0) return nullptr;
  // The chunks before the image data: whole, with their CRCs where libpng would check them.
  size_t at = 8;
  std::uint64_t pixels = 0;
  for (;;) {
    if (png.size() - at < 12) return nullptr;
    const std::uint8_t* chunk = &png[at];
    const std::uint32_t length = bigEndian(chunk);
    if (length > 0x7FFFFFFFu || length > png.size() - at - 12) return nullptr;
    if (isType(chunk, "IDAT")) break;
    if (isType(chunk, "IEND")) return nullptr;
    const bool critical = (chunk[4] & 0x20) == 0;
    if (critical && !crcMatches(chunk, length)) return nullptr;
    if (isType(chunk, "IHDR") && length >= 8) {
      pixels = std::uint64_t{bigEndian(chunk + 8)} * bigEndian(chunk + 12);
    }
    at += 12 + size_t{length};
  }
  if (pixels < kMinPixels || pixels > static_cast<std::uint64_t>(kMaxPicturePixels)) {
    return nullptr;
  }
  // The run of IDAT chunks, up to the end of the file when its last one is cut short.
  const size_t dataBegin = at;
  while (png.size() - at >= 8 && isType(&png[at], "IDAT")) {
    const std::uint32_t length = bigEndian(&png[at]);
    if (png.size() - at < 12 || length > png.size() - at - 12) {
      at = png.size();
      break;
    }
    at += 12 + size_t{length};
  }
  try {
    return std::unique_ptr<InflatedAhead>(new InflatedAhead(png, dataBegin, at));
  } catch (const std::system_error&) {
    return nullptr;  // no thread to be had: libpng inflates as usual
  }
}

InflatedAhead::InflatedAhead(std::span<const std::uint8_t> png, size_t dataBegin, size_t dataEnd)
    : png_(png),
      dataBegin_(dataBegin),
      dataEnd_(dataEnd),
      slots_(kSlots, std::vector<std::uint8_t>(kSlotBytes)),
      slotBegin_(kSlots),
      slotEnd_(kSlots),
      stream_(std::make_unique<inflate_state>()) {
  inflater_ = std::thread([this] { inflateAll(); });
}

InflatedAhead::~InflatedAhead() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  inflater_.join();
}

bool InflatedAhead::read(std::uint8_t* out, size_t length) {
  while (length > 0) {
    std::span<const std::uint8_t> from;
    if (part_ == Part::kBefore) {
      if (offset_ == dataBegin_) {
        part_ = Part::kSlots;
        continue;
      }
      from = png_.subspan(offset_, dataBegin_ - offset_);
    } else if (part_ == Part::kSlots) {
      if (reading_ < 0 || offset_ == slotEnd_[reading_]) {
        if (!nextFilledSlot()) {
          if (error_[0] != '\0') return false;
          part_ = Part::kAfter;
          offset_ = dataEnd_;
          continue;
        }
      }
      from = std::span(slots_[reading_]).subspan(offset_, slotEnd_[reading_] - offset_);
    } else {
      from = png_.subspan(offset_);
      if (from.empty()) return false;
    }
    const size_t n = std::min(length, from.size());
    std::memcpy(out, from.data(), n);
    out += n;
    length -= n;
    offset_ += n;
  }
  return true;
}

const char* InflatedAhead::error() const {
  return error_[0] != '\0' ? error_ : "the file ends early";
}

bool InflatedAhead::nextFilledSlot() {
  std::unique_lock lock(mutex_);
  if (reading_ >= 0) {
    ++released_;
    reading_ = -1;
    changed_.notify_all();
  }
  changed_.wait(lock, [this] { return taken_ < handedOver_ || finished_; });
  if (taken_ == handedOver_) return false;
  reading_ = static_cast<int>(taken_++ % kSlots);
  offset_ = slotBegin_[reading_];
  return true;
}

void InflatedAhead::inflateAll() {
  // Raw deflate data after the header read here. The Adler-32 after it is not checked, as libpng
  // is told not to (each chunk's CRC is).
  isal_inflate_init(stream_.get());
  Inflated state = Inflated::kMore;
  bool cut = false;  // the file ends inside the last chunk
  for (size_t at = dataBegin_; at < dataEnd_ && state == Inflated::kMore;) {
    const std::uint8_t* chunk = &png_[at];
    const std::uint32_t length = bigEndian(chunk);
    const size_t remaining = dataEnd_ - at;
    cut = remaining < 12 || length > remaining - 12;
    if (!cut && !crcMatches(chunk, length)) {
      state = failed("IDAT: CRC error");
      break;
    }
    const size_t available = cut ? std::min<size_t>(length, remaining - 8) : length;
    state = inflateChunk(png_.subspan(at + 8, available), cut);
    at += cut ? remaining : 12 + size_t{length};
  }
  // A stream that the data ends before: libpng reads on into the chunks after it, and reports
  // the rows that are missing.
  if (state == Inflated::kMore && writing_ >= 0 && written_ > 0) handOver(false);
  if (state == Inflated::kMore || state == Inflated::kEnded) {
    finish(cut ? "the file ends early" : nullptr);
  }
}

// Inflates one chunk's data into slots, handing over each that fills. A chunk the file cuts short
// never hands over the stream's end: libpng must not finish the picture on it.
InflatedAhead::Inflated InflatedAhead::inflateChunk(std::span<const std::uint8_t> data, bool cut) {
  while (headerRead_ < 2 && !data.empty()) {
    header_[headerRead_++] = data.front();
    data = data.subspan(1);
    if (headerRead_ < 2) continue;
    if (const char* error = headerError(header_[0], header_[1])) return failed(error);
    stream_->hist_bits = (header_[0] >> 4) + 8;  // the window the header declares bounds distances
  }
  if (data.empty()) return Inflated::kMore;
  inflate_state* stream = stream_.get();
  stream->next_in = const_cast<std::uint8_t*>(data.data());
  stream->avail_in = static_cast<std::uint32_t>(data.size());
  for (;;) {
    if (writing_ < 0 && !takeFreeSlot()) return Inflated::kStopped;
    stream->next_out = slots_[writing_].data() + kPayload + written_;
    stream->avail_out = static_cast<std::uint32_t>(kMaxBlock - written_);
    const int result = isal_inflate(stream);
    written_ = kMaxBlock - stream->avail_out;
    if (result != ISAL_DECOMP_OK) return failed(inflateError(result));
    if (stream->block_state == ISAL_BLOCK_FINISH) {
      if (!cut) handOver(true);
      return Inflated::kEnded;
    }
    if (stream->avail_out == 0) {
      handOver(false);
    } else if (stream->avail_in == 0) {
      return Inflated::kMore;  // this chunk's data is used up
    } else {
      return failed("IDAT: damaged image data");  // neither used up: not expected, never a spin
    }
  }
}

InflatedAhead::Inflated InflatedAhead::failed(const char* error) {
  finish(error);
  return Inflated::kFailed;
}

bool InflatedAhead::takeFreeSlot() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return handedOver_ - released_ < kSlots || stop_; });
  if (stop_) return false;
  writing_ = static_cast<int>(handedOver_ % kSlots);
  written_ = 0;
  return true;
}

// Frames the slot's inflated bytes as an IDAT chunk holding one stored block (the first chunk
// also the zlib header, the last an empty final block and the Adler-32), and hands it over.
void InflatedAhead::handOver(bool last) {
  std::uint8_t* slot = slots_[writing_].data();
  // Only the inflater changes the count, so it reads it without the lock.
  const bool first = handedOver_ == 0;
  const size_t begin = first ? 0 : 2;
  if (first) {
    slot[8] = 0x78;  // deflate with a 32 KB window; the check bits make 0x7801 a multiple of 31
    slot[9] = 0x01;
  }
  const auto blockLength = static_cast<std::uint16_t>(written_);
  const auto complement = static_cast<std::uint16_t>(~blockLength);
  const std::uint8_t header[5] = {
      0, static_cast<std::uint8_t>(blockLength & 0xFF), static_cast<std::uint8_t>(blockLength >> 8),
      static_cast<std::uint8_t>(complement & 0xFF), static_cast<std::uint8_t>(complement >> 8)};
  std::memcpy(slot + kPayload - 5, header, 5);
  size_t end = kPayload + written_;
  if (last) {
    const std::uint8_t finalBlock[9] = {1, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0};
    std::memcpy(slot + end, finalBlock, sizeof finalBlock);
    end += sizeof finalBlock;
  }
  putBigEndian(slot + begin, static_cast<std::uint32_t>(end - begin - 8));
  constexpr std::uint8_t kIdat[4] = {'I', 'D', 'A', 'T'};
  std::memcpy(slot + begin + 4, kIdat, 4);
  putBigEndian(slot + end, 0);  // the CRC, not checked
  end += 4;
  const std::lock_guard lock(mutex_);
  slotBegin_[writing_] = begin;
  slotEnd_[writing_] = end;
  ++handedOver_;
  writing_ = -1;
  changed_.notify_all();
}

void InflatedAhead::finish(const char* error) {
  const std::lock_guard lock(mutex_);
  finished_ = true;
  if (error != nullptr) std::snprintf(error_, sizeof error_, "%s", error);
  changed_.notify_all();
}

}  // namespace platform
