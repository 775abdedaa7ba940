// A fresh temporary file, created exclusively under a unique name in the system's temporary
// folder ($TMPDIR, else /tmp), so no existing file is ever replaced and two running copies of the
// program cannot collide. It is removed when the owner goes, on every way out.
#pragma once

#include <string>

namespace platform {

class TempFile final {
 public:
  // Raises a run-time error when the file cannot be created.
  TempFile(const std::string& prefix, const std::string& suffix);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  // The file has been removed (or handed on) by other means: the owner no longer removes it.
  void release() { path_.clear(); }

 private:
  std::string path_;
};

}  // namespace platform
