// Ctrl-C, SIGTERM and SIGHUP during a batch: the first stops the taking of new pictures and lets
// the ones in progress finish (for at most a short while); a second, or that while running out,
// removes the temporary files of the pictures still in progress and ends the process at once. No
// half-written file is ever left behind.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/base/atomic_file.h"

namespace thumb {

class Interruption final {
 public:
  // Blocks the three signals in the calling thread (and so in the threads it starts after this)
  // and watches for them on a thread of its own. `pending` holds the temporary files in flight;
  // `lastWords` is called just before an immediate exit (to say how many were made).
  Interruption(platform::PendingFiles& pending, std::function<void(int signal)> lastWords);
  // Stops watching and restores the signals' mask.
  ~Interruption();
  Interruption(const Interruption&) = delete;
  Interruption& operator=(const Interruption&) = delete;

  // True once a signal came: take no new picture.
  bool requested() const { return signal_.load(std::memory_order_relaxed) != 0; }
  // The signal that came, 0 when none.
  int signal() const { return signal_.load(std::memory_order_relaxed); }

  // How long the pictures in progress may take to finish after the first signal.
  static constexpr int kFinishMilliseconds = 2000;

 private:
  void watch();

  platform::PendingFiles& pending_;
  std::function<void(int)> lastWords_;
  std::atomic<int> signal_{0};
  int signalFd_ = -1;
  int stopFd_ = -1;  // an eventfd: written when the run is over
  bool masked_ = false;
  std::thread watcher_;
};

// The exit status of a program ended by `signal`, as a shell reports it (130 for SIGINT).
inline int exitStatusFor(int signal) { return 128 + signal; }

}  // namespace thumb
