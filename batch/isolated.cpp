#include "batch/isolated.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

#include "platform/base/runtime_error.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUORVANE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVANE_ADDRESS_SANITIZER 1
#endif
#endif

namespace thumb {
namespace {

constexpr std::size_t kMessageBytes = 512;
// What is kept of the child's standard error (a library's assertion is one line).
constexpr std::size_t kMaxErrorText = 4096;

// What the child may allocate beyond what it was forked with: a picture at the pixel limit needs
// about half of it (libheif's planes, its RGBA copy); a crafted file can ask libheif for far more.
constexpr std::uint64_t kChildMemoryBytes = std::uint64_t{3} << 29;  // 1.5 GiB

// Caps the process's data memory at what it uses now and kChildMemoryBytes more. Not under the
// address sanitizer, whose shadow memory counts as data.
void capMemory() {
#ifndef QUORVANE_ADDRESS_SANITIZER
  std::ifstream status("/proc/self/status");
  std::string key;
  std::uint64_t kilobytes = 0;
  while (status >> key) {
    if (key == "VmData:" && status >> kilobytes) break;
    status.ignore(1 << 20, '\n');
  }
  const rlim_t limit = static_cast<rlim_t>(kilobytes * 1024 + kChildMemoryBytes);
  const struct rlimit data { limit, limit };
  ::setrlimit(RLIMIT_DATA, &data);
#endif
}

// Who works and who starts a child. A thread that wants to start one waits until no thread
// works, and threads that begin work wait while one waits to start a child (so that children are
// not held back for long by a stream of pictures).
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  int working = 0;
  int waitingToFork = 0;
  bool forking = false;
};

Gate& gate() {
  static Gate instance;
  return instance;
}

thread_local int tWorkingScopes = 0;

void beginWork() {
  Gate& g = gate();
  std::unique_lock lock(g.mutex);
  g.changed.wait(lock, [&g] { return g.waitingToFork == 0 && !g.forking; });
  ++g.working;
}

void endWork() {
  Gate& g = gate();
  const std::lock_guard lock(g.mutex);
  --g.working;
  g.changed.notify_all();
}

// While it lives, no thread works: children started now inherit no held lock. A working thread
// stops working for as long as its child runs (ChildRunning).
class Forking {
 public:
  Forking() {
    Gate& g = gate();
    std::unique_lock lock(g.mutex);
    ++g.waitingToFork;
    g.changed.wait(lock, [&g] { return g.working == 0 && !g.forking; });
    --g.waitingToFork;
    g.forking = true;
  }
  ~Forking() {
    Gate& g = gate();
    const std::lock_guard lock(g.mutex);
    g.forking = false;
    g.changed.notify_all();
  }
  Forking(const Forking&) = delete;
  Forking& operator=(const Forking&) = delete;
};

// The calling thread's work paused while its child runs, when it was working.
class ChildRunning {
 public:
  ChildRunning() : paused_(tWorkingScopes > 0) {
    if (paused_) endWork();
  }
  ~ChildRunning() {
    if (paused_) beginWork();
  }
  ChildRunning(const ChildRunning&) = delete;
  ChildRunning& operator=(const ChildRunning&) = delete;

 private:
  bool paused_;
};

struct Shared {
  int returned = 0;  // 1 once work has returned
  int number = 0;
  char message[kMessageBytes] = {};
};

// The last line of a text, without its line end, nor the program's name before it (as an
// assertion's message has it).
std::string lastLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const size_t newline = text.rfind('\n');
  std::string line = newline == std::string::npos ? text : text.substr(newline + 1);
  const std::string program = std::string(program_invocation_short_name) + ": ";
  if (line.starts_with(program)) line.erase(0, program.size());
  return line;
}

}  // namespace

WorkingScope::WorkingScope() {
  if (tWorkingScopes++ == 0) beginWork();
}

WorkingScope::~WorkingScope() {
  if (--tWorkingScopes == 0) endWork();
}

IsolatedOutcome runIsolated(std::size_t payloadBytes,
                            const std::function<int(std::uint8_t*, char*, std::size_t)>& work,
                            std::uint8_t* out) {
  const std::size_t bytes = sizeof(Shared) + payloadBytes;
  void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) platform::raiseError(platform::kErrOutOfMemory);
  auto* shared = new (memory) Shared();
  auto* payload = static_cast<std::uint8_t*>(memory) + sizeof(Shared);
  int errors[2];
  if (::pipe2(errors, O_CLOEXEC) != 0) {
    ::munmap(memory, bytes);
    platform::raiseError(platform::kErrInternal,
                         std::string("cannot start a decoder: ") + std::strerror(errno));
  }
  // What the child wrote to standard error, kept in place: this thread does not allocate while
  // its child runs (it does not work then, see WorkingScope).
  char text[kMaxErrorText];
  size_t kept = 0;
  int status = 0;
  {
    const ChildRunning running;
    pid_t child = -1;
    {
      const Forking forking;
      // Standard error's lock is held across the fork, so that no other thread can have it
      // then: the child writes a library's assertion through it.
      ::flockfile(stderr);
      child = ::fork();
      ::funlockfile(stderr);
      if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // the run was stopped at once: so is the child
        ::dup2(errors[1], STDERR_FILENO);
        capMemory();
        shared->number = work(payload, shared->message, sizeof shared->message);
        shared->returned = 1;
        ::_exit(0);
      }
    }
    ::close(errors[1]);
    if (child < 0) {
      const int error = errno;
      ::close(errors[0]);
      ::munmap(memory, bytes);
      platform::raiseError(platform::kErrInternal,
                           std::string("cannot start a decoder: ") + std::strerror(error));
    }
    // Until the child ends (its end of the pipe closes with it).
    char buffer[1024];
    for (;;) {
      const ssize_t got = ::read(errors[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      const size_t room = std::min(sizeof text - kept, static_cast<size_t>(got));
      std::memcpy(text + kept, buffer, room);
      kept += room;
    }
    ::close(errors[0]);
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  IsolatedOutcome outcome;
  if (shared->returned == 1 && WIFEXITED(status)) {
    outcome.number = shared->number;
    outcome.message = shared->message;
    if (outcome.number == 0 && out != nullptr) std::memcpy(out, payload, payloadBytes);
  } else {
    outcome.died = true;
    outcome.message = lastLine(std::string(text, kept));
    if (outcome.message.empty()) {
      outcome.message = WIFSIGNALED(status)
                            ? std::string("signal ") + std::to_string(WTERMSIG(status))
                            : "exit status " + std::to_string(WEXITSTATUS(status));
    }
  }
  ::munmap(memory, bytes);
  return outcome;
}

}  // namespace thumb
