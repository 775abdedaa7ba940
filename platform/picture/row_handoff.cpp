#include "platform/picture/row_handoff.h"

#include <cstring>
#include <utility>

namespace platform {

RowHandoff::RowHandoff(std::size_t rowBytes, std::function<void(const std::uint8_t*)> take)
    : rowBytes_(rowBytes), take_(std::move(take)) {
  filling_.bytes.resize(rowBytes_ * kRowsPerChunk);
  taker_ = std::thread([this] { takeChunks(); });
}

RowHandoff::~RowHandoff() { stop(); }

void RowHandoff::give(const std::uint8_t* row) {
  std::memcpy(&filling_.bytes[rowBytes_ * static_cast<std::size_t>(filling_.rows)], row, rowBytes_);
  if (++filling_.rows == kRowsPerChunk) handOver();
}

void RowHandoff::handOver() {
  Chunk next;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ready_.size() < kChunks || failure_ || closed_; });
    if (!failure_ && !closed_) ready_.push_back(std::move(filling_));
    if (!spare_.empty()) {
      next = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  changed_.notify_all();
  next.rows = 0;
  next.bytes.resize(rowBytes_ * kRowsPerChunk);
  filling_ = std::move(next);
}

void RowHandoff::takeChunks() {
  for (;;) {
    Chunk chunk;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !ready_.empty() || closed_; });
      if (ready_.empty()) return;  // closed, and every chunk taken
      chunk = std::move(ready_.front());
      ready_.pop_front();
    }
    changed_.notify_all();
    bool failed = false;
    try {
      for (int i = 0; i < chunk.rows; ++i) take_(&chunk.bytes[rowBytes_ * static_cast<size_t>(i)]);
    } catch (...) {
      failed = true;
      const std::lock_guard lock(mutex_);
      failure_ = std::current_exception();
      ready_.clear();
    }
    if (failed) {
      changed_.notify_all();
      return;
    }
    {
      const std::lock_guard lock(mutex_);
      spare_.push_back(std::move(chunk));
    }
  }
}

void RowHandoff::finish() {
  if (filling_.rows > 0) handOver();
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
  if (taker_.joinable()) taker_.join();
  if (failure_) std::rethrow_exception(failure_);
}

void RowHandoff::stop() {
  if (!taker_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    ready_.clear();
  }
  changed_.notify_all();
  taker_.join();
}

}  // namespace platform
