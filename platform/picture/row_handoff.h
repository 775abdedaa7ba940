// Decoded rows handed from the thread that decodes them to a second thread that takes them (the
// resampler), a chunk of rows at a time, so that decoding and resampling overlap on two cores.
// The taker gets every row as it was given, in the same order, on one thread: the result is the
// same as taking them directly.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

class RowHandoff final {
 public:
  // Rows of `rowBytes` bytes each go to `take` on the handoff's own thread.
  RowHandoff(std::size_t rowBytes, std::function<void(const std::uint8_t* row)> take);
  // Stops the taker's thread: rows not yet taken are dropped (the decoding failed).
  ~RowHandoff();
  RowHandoff(const RowHandoff&) = delete;
  RowHandoff& operator=(const RowHandoff&) = delete;

  // Copies the row for the taker; waits while the taker is kChunks chunks behind.
  void give(const std::uint8_t* row);
  // Waits until every row given has been taken; rethrows what `take` threw.
  void finish();

 private:
  static constexpr int kRowsPerChunk = 16;
  static constexpr std::size_t kChunks = 3;
  struct Chunk {
    std::vector<std::uint8_t> bytes;
    int rows = 0;
  };

  void handOver();
  void takeChunks();
  void stop();

  std::size_t rowBytes_;
  std::function<void(const std::uint8_t*)> take_;
  Chunk filling_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> ready_;   // filled, for the taker; guarded by mutex_
  std::vector<Chunk> spare_;  // taken, for the giver to fill again; guarded by mutex_
  bool closed_ = false;       // no more rows come; guarded by mutex_
  std::exception_ptr failure_;
  std::thread taker_;
};

}  // namespace platform
