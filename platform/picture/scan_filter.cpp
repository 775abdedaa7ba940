#include "platform/picture/scan_filter.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace platform {
namespace {

constexpr std::uint8_t kMarkerStart = 0xFF;
constexpr std::uint8_t kSos = 0xDA;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kFakeEoi[] = {0xFF, kEoi};

bool isRestart(std::uint8_t code) { return code >= 0xD0 && code <= 0xD7; }

// Markers that stand alone, without a length.
bool isStandalone(std::uint8_t code) {
  return code == 0x01 || code == 0xD8 || code == kEoi || isRestart(code);
}

// The position of the 0xFF that starts the next marker at or after `pos`, skipping stuffed
// bytes (FF 00) and restart markers inside entropy-coded data; the end when there is none.
size_t nextMarker(std::span<const std::uint8_t> jpeg, size_t pos) {
  const size_t n = jpeg.size();
  while (pos < n) {
    const void* found = std::memchr(jpeg.data() + pos, kMarkerStart, n - pos);
    if (found == nullptr) return n;
    const size_t ff = static_cast<size_t>(static_cast<const std::uint8_t*>(found) - jpeg.data());
    size_t code = ff + 1;
    while (code < n && jpeg[code] == kMarkerStart) ++code;  // fill bytes
    if (code >= n) return ff;
    if (jpeg[code] != 0x00 && !isRestart(jpeg[code])) return ff;
    pos = code + 1;
  }
  return n;
}

// Whether a scan with this SOS payload (after the length) must be decoded.
bool scanNeeded(std::span<const std::uint8_t> sos, const ComponentSet& dropped) {
  if (sos.empty()) return true;
  const size_t components = sos[0];
  const size_t ssAt = 1 + 2 * components;
  if (ssAt >= sos.size()) return true;  // malformed: let the decoder report it
  if (sos[ssAt] == 0) return true;      // DC scan
  for (size_t i = 0; i < components; ++i) {
    if (!dropped[sos[1 + 2 * i]]) return true;
  }
  return false;
}

}  // namespace

std::vector<ByteRange> keptRanges(std::span<const std::uint8_t> jpeg, size_t from,
                                  const ComponentSet& dropped) {
  std::vector<ByteRange> kept;
  const auto keep = [&kept](size_t begin, size_t end) {
    if (end <= begin) return;
    if (!kept.empty() && kept.back().end == begin) {
      kept.back().end = end;
    } else {
      kept.push_back({begin, end});
    }
  };
  const size_t n = jpeg.size();
  size_t pos = std::min(from, n);
  bool keepingData = true;  // the data after the current marker segment
  while (pos < n) {
    const size_t marker = nextMarker(jpeg, pos);
    if (keepingData) keep(pos, marker);
    if (marker >= n) break;
    size_t codeAt = marker + 1;
    while (codeAt < n && jpeg[codeAt] == kMarkerStart) ++codeAt;
    if (codeAt >= n) {
      keep(marker, n);
      break;
    }
    const std::uint8_t code = jpeg[codeAt];
    size_t segmentEnd = codeAt + 1;
    if (!isStandalone(code)) {
      if (codeAt + 2 >= n) {
        keep(marker, n);
        break;
      }
      const size_t length = std::max<size_t>(2, size_t{jpeg[codeAt + 1]} << 8 | jpeg[codeAt + 2]);
      segmentEnd = std::min(n, codeAt + 1 + length);
    }
    keepingData = true;
    if (code == kSos) {
      const size_t payload = std::min(n, codeAt + 3);
      keepingData = scanNeeded(jpeg.subspan(payload, segmentEnd - payload), dropped);
    }
    if (keepingData) keep(marker, segmentEnd);
    if (code == kEoi) break;
    pos = segmentEnd;
  }
  return kept;
}

ScanFilterSource::ScanFilterSource() {
  std::memset(&manager_, 0, sizeof manager_);
  manager_.pub.init_source = initSource;
  manager_.pub.fill_input_buffer = fillInputBuffer;
  manager_.pub.skip_input_data = skipInputData;
  manager_.pub.resync_to_restart = jpeg_resync_to_restart;
  manager_.pub.term_source = termSource;
  manager_.self = this;
}

void ScanFilterSource::attach(j_decompress_ptr cinfo, std::span<const std::uint8_t> jpeg) {
  jpeg_ = jpeg;
  ranges_.clear();
  if (!jpeg.empty()) ranges_.push_back({0, jpeg.size()});
  nextRange_ = 0;
  served_ = 0;
  manager_.pub.next_input_byte = nullptr;
  manager_.pub.bytes_in_buffer = 0;
  cinfo->src = &manager_.pub;
}

size_t ScanFilterSource::position() const {
  // Until scans are left out the whole file is served as one buffer: the read position is an
  // offset into it.
  const std::uint8_t* next = manager_.pub.next_input_byte;
  const std::less<const std::uint8_t*> before;
  if (nextRange_ != 1 || ranges_.size() != 1 || next == nullptr || before(next, jpeg_.data()) ||
      before(jpeg_.data() + jpeg_.size(), next)) {
    return 0;  // already filtered, or at the end of the data
  }
  return static_cast<size_t>(next - jpeg_.data());
}

void ScanFilterSource::dropAcScans(j_decompress_ptr, const ComponentSet& dropped) {
  const size_t position = this->position();
  if (position == 0) return;
  ranges_ = keptRanges(jpeg_, position, dropped);
  nextRange_ = 0;
  served_ = position;
  manager_.pub.next_input_byte = nullptr;
  manager_.pub.bytes_in_buffer = 0;
}

void ScanFilterSource::initSource(j_decompress_ptr) {}

boolean ScanFilterSource::fillInputBuffer(j_decompress_ptr cinfo) {
  auto* manager = reinterpret_cast<Manager*>(cinfo->src);
  ScanFilterSource& self = *manager->self;
  if (self.nextRange_ < self.ranges_.size()) {
    const ByteRange range = self.ranges_[self.nextRange_++];
    manager->pub.next_input_byte = self.jpeg_.data() + range.begin;
    manager->pub.bytes_in_buffer = range.end - range.begin;
    self.served_ += range.end - range.begin;
    return TRUE;
  }
  // Out of data: a truncated file ends here, drawn as far as it goes.
  WARNMS(cinfo, JWRN_JPEG_EOF);
  manager->pub.next_input_byte = kFakeEoi;
  manager->pub.bytes_in_buffer = sizeof kFakeEoi;
  return TRUE;
}

void ScanFilterSource::skipInputData(j_decompress_ptr cinfo, long count) {
  jpeg_source_mgr* source = cinfo->src;
  if (count <= 0) return;
  while (static_cast<size_t>(count) > source->bytes_in_buffer) {
    count -= static_cast<long>(source->bytes_in_buffer);
    fillInputBuffer(cinfo);
  }
  source->next_input_byte += count;
  source->bytes_in_buffer -= static_cast<size_t>(count);
}

void ScanFilterSource::termSource(j_decompress_ptr) {}

}  // namespace platform
