#include "batch/isolated.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>

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
  // Standard error's lock is held across the fork, so that no other thread can have it then: the
  // child writes a library's assertion through it.
  ::flockfile(stderr);
  const pid_t child = ::fork();
  ::funlockfile(stderr);
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // the run was stopped at once: so is the child
    ::dup2(errors[1], STDERR_FILENO);
    capMemory();
    shared->number = work(payload, shared->message, sizeof shared->message);
    shared->returned = 1;
    ::_exit(0);
  }
  ::close(errors[1]);
  IsolatedOutcome outcome;
  if (child < 0) {
    ::close(errors[0]);
    ::munmap(memory, bytes);
    platform::raiseError(platform::kErrInternal,
                         std::string("cannot start a decoder: ") + std::strerror(errno));
  }
  // Until the child ends (its end of the pipe closes with it).
  std::string text;
  char buffer[1024];
  for (;;) {
    const ssize_t got = ::read(errors[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (text.size() < kMaxErrorText) text.append(buffer, static_cast<size_t>(got));
  }
  ::close(errors[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (shared->returned == 1 && WIFEXITED(status)) {
    outcome.number = shared->number;
    outcome.message = shared->message;
    if (outcome.number == 0 && out != nullptr) std::memcpy(out, payload, payloadBytes);
  } else {
    outcome.died = true;
    outcome.message = lastLine(text);
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
