#include "batch/interruption.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

namespace thumb {
namespace {

sigset_t interruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

constexpr int kRunEnded = -1;
constexpr int kTimedOut = 0;

// The next signal's number, kRunEnded when the run ended first, kTimedOut when `timeoutMs` (-1:
// no limit) ran out.
int nextSignal(int signalFd, int stopFd, int timeoutMs) {
  pollfd fds[2] = {{signalFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, 2, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return kTimedOut;
    if (ready < 0 || (fds[1].revents & POLLIN) != 0) return kRunEnded;
    signalfd_siginfo info{};
    if (::read(signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
    return static_cast<int>(info.ssi_signo);
  }
}

}  // namespace

Interruption::Interruption(platform::PendingFiles& pending,
                           std::function<void(int signal)> lastWords)
    : pending_(pending), lastWords_(std::move(lastWords)) {
  const sigset_t set = interruptSignals();
  masked_ = ::pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
  signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  // Without the kernel's help the signals keep their usual effect: the process ends at once.
  if (signalFd_ < 0 || stopFd_ < 0) {
    if (masked_) ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    masked_ = false;
    return;
  }
  watcher_ = std::thread([this] { watch(); });
}

Interruption::~Interruption() {
  if (watcher_.joinable()) {
    const std::uint64_t one = 1;
    while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    watcher_.join();
  }
  if (signalFd_ >= 0) ::close(signalFd_);
  if (stopFd_ >= 0) ::close(stopFd_);
  if (masked_) {
    const sigset_t set = interruptSignals();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  }
}

void Interruption::watch() {
  const int first = nextSignal(signalFd_, stopFd_, -1);
  if (first <= 0) return;
  signal_.store(first, std::memory_order_relaxed);
  // A second signal, or pictures that take too long to finish: stop now, leaving no part behind.
  if (nextSignal(signalFd_, stopFd_, kFinishMilliseconds) == kRunEnded) return;
  pending_.removeAll();
  if (lastWords_) lastWords_(first);
  ::_exit(exitStatusFor(first));
}

}  // namespace thumb
