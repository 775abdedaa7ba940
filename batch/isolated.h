// Work run in a child process, for decoders whose libraries stop the process they run in on some
// damaged files (libheif and libde265 have assertions a crafted HEIF reaches): the child's death
// is then one picture's failure, not the end of the run. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace thumb {

// What the child left: the number `work` returned and its message, or how it died.
struct IsolatedOutcome {
  bool died = false;    // killed by a signal, or ended without returning
  int number = 0;       // what work returned, when it did
  std::string message;  // work's message, or what the child wrote to standard error
};

// While one lives on a thread, that thread's work (decoding, encoding, reporting) keeps children
// from being started: runIsolated() starts one only while no thread works, so that the child
// inherits no lock another thread held at that moment (the allocator's, a library's, a cache's)
// and never waits for it. A working thread that starts a child stops working while the child
// runs. The batch's workers each hold one per picture.
class WorkingScope {
 public:
  WorkingScope();
  ~WorkingScope();
  WorkingScope(const WorkingScope&) = delete;
  WorkingScope& operator=(const WorkingScope&) = delete;
};

// Runs work(payload, message, messageSize) in a child process: `payload` is payloadBytes of memory
// shared with this process (copied into `out` when work returned), message a buffer for its
// text. Nothing but the payload and the message comes back; the child ends as soon as work has
// returned. Its memory is capped (1.5 GiB more than it was started with): a file that makes its
// library ask for more fails. Raises RuntimeError 7 when no memory can be shared, 51 when no child
// can be started.
IsolatedOutcome runIsolated(
    std::size_t payloadBytes,
    const std::function<int(std::uint8_t* payload, char* message, std::size_t messageSize)>& work,
    std::uint8_t* out);

}  // namespace thumb
