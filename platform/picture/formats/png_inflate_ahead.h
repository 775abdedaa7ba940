// A large PNG's image data inflated ahead, on a thread of its own, while libpng unfilters the rows
// already inflated. Inflating and unfiltering each take about half of the time of decoding a
// photo, and libpng does both in one thread.
//
// libpng is handed the same file with its run of IDAT chunks rewritten: they hold the inflated
// bytes as stored deflate blocks, which libpng's inflater only copies. libpng still reads every
// other chunk, and unfilters, de-interlaces and expands the rows as it would. The inflating is
// ISA-L's, about three times as fast as zlib's on a photo's data.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

struct inflate_state;

namespace platform {

class InflatedAhead final {
 public:
  // Starts inflating the image data of `png`, which must outlive the result. Gives nullptr when
  // the picture is too small to gain or its chunks are not laid out as libpng would read them:
  // libpng then reads the bytes as they are and reports what is wrong with them. The rewritten
  // chunks carry no CRCs, so libpng must not check those of critical chunks; the ones before the
  // image data are checked here.
  static std::unique_ptr<InflatedAhead> start(std::span<const std::uint8_t> png);
  ~InflatedAhead();
  InflatedAhead(const InflatedAhead&) = delete;
  InflatedAhead& operator=(const InflatedAhead&) = delete;

  // Copies the next `length` bytes of the rewritten file to `out`; false when the file ends first
  // or its image data cannot be inflated (error() says which).
  bool read(std::uint8_t* out, size_t length);
  // Why read() gave false (valid once it has).
  const char* error() const;

 private:
  InflatedAhead(std::span<const std::uint8_t> png, size_t dataBegin, size_t dataEnd);
  enum class Inflated { kMore, kEnded, kFailed, kStopped };

  void inflateAll();
  Inflated inflateChunk(std::span<const std::uint8_t> data, bool cut);
  Inflated failed(const char* error);
  bool takeFreeSlot();
  void handOver(bool last);
  void finish(const char* error);
  bool nextFilledSlot();

  // The file's bytes before and after its run of IDAT chunks are read as they stand.
  std::span<const std::uint8_t> png_;
  size_t dataBegin_;
  size_t dataEnd_;
  enum class Part { kBefore, kSlots, kAfter };  // what the reader reads
  Part part_ = Part::kBefore;
  size_t offset_ = 0;  // in the part being read: the file's bytes, or a slot

  // Slots each hold one rewritten IDAT chunk. The inflater fills them in turn and the reader
  // empties them in the same turn, so two counts say which are free; nothing is allocated once
  // the inflater runs.
  std::vector<std::vector<std::uint8_t>> slots_;
  std::vector<size_t> slotBegin_;  // where each filled slot's chunk begins and ends
  std::vector<size_t> slotEnd_;
  std::unique_ptr<inflate_state> stream_;  // the inflater's, allocated before it starts
  std::uint8_t header_[2] = {};            // the stream's zlib header, which a chunk may split
  int headerRead_ = 0;
  int writing_ = -1;         // the inflater's slot
  size_t written_ = 0;       // inflated bytes in it
  int reading_ = -1;         // the reader's slot
  std::uint64_t taken_ = 0;  // slots the reader has taken
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t handedOver_ = 0;  // slots the inflater has filled
  std::uint64_t released_ = 0;    // slots the reader has emptied
  bool finished_ = false;         // no more slots will come
  bool stop_ = false;             // the reader is gone
  char error_[160] = "";
  std::thread inflater_;
};

}  // namespace platform
