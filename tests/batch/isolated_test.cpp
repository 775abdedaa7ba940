// Children for decoders are started only while no thread works, so that none inherits a lock
// another thread held; a working thread that starts one goes on, and so do two at once.
#include "batch/isolated.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Runs a child that reports `flag` as it saw it when it was started (its memory is a copy of
// this process's at that moment).
int flagAsTheChildSawIt(const std::atomic<int>& flag) {
  int seen = -1;
  const thumb::IsolatedOutcome outcome = thumb::runIsolated(
      sizeof seen,
      [&flag](std::uint8_t* payload, char*, std::size_t) {
        const int value = flag.load();
        std::memcpy(payload, &value, sizeof value);
        return 0;
      },
      reinterpret_cast<std::uint8_t*>(&seen));
  EXPECT_FALSE(outcome.died) << outcome.message;
  EXPECT_EQ(outcome.number, 0);
  return seen;
}

TEST(Isolated, AChildStartsOnlyOnceOtherThreadsStopWorking) {
  std::atomic<int> working{0};
  std::atomic<bool> inside{false};
  std::thread other([&] {
    const thumb::WorkingScope scope;
    working = 1;
    inside = true;
    std::this_thread::sleep_for(200ms);
    working = 0;  // still inside the scope, but about to leave it
  });
  while (!inside) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(flagAsTheChildSawIt(working), 0);
  other.join();
}

TEST(Isolated, WorkingThreadsStartChildrenOfTheirOwnAtOnce) {
  std::atomic<int> done{0};
  const auto worker = [&] {
    const thumb::WorkingScope scope;
    for (int i = 0; i < 20; ++i) {
      const std::atomic<int> seven{7};
      EXPECT_EQ(flagAsTheChildSawIt(seven), 7);
    }
    ++done;
  };
  std::thread first(worker);
  std::thread second(worker);
  first.join();
  second.join();
  EXPECT_EQ(done, 2);
}

}  // namespace
