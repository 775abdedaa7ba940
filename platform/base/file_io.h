// File I/O on POSIX descriptors: one owner of an open descriptor, and the read and write loops
// every reader and writer of the program uses (they retry on EINTR and on short transfers).
// Plain C++, no toolkit types.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace platform {

// Owns an open file descriptor and closes it when it goes; movable, not copyable. A negative
// descriptor owns nothing.
class FileDescriptor final {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor now; 0, or the errno of a failed close (the descriptor is gone either
  // way).
  int close();

 private:
  void reset();
  int fd_ = -1;
};

// Reads up to `size` bytes into `out`, looping until that many are read or the file ends. Returns
// the number read, or -1 with errno set.
ssize_t readFully(int fd, void* out, std::size_t size);

// Reads exactly `size` bytes at `offset`. False on an error or when the file ends first (it may
// have shrunk under the reader).
bool readAt(int fd, std::uint64_t offset, void* out, std::size_t size);

// Writes all `size` bytes. 0, or the errno of the failed write (EIO when nothing could be written).
int writeFully(int fd, const void* data, std::size_t size);

}  // namespace platform
