#include "platform/forms/temp_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/base/runtime_error.h"

namespace platform {

TempFile::TempFile(const std::string& prefix, const std::string& suffix) {
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/" +
                        prefix + "XXXXXX" + suffix;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemps(name.data(), static_cast<int>(suffix.size()));
  if (fd < 0 && errno == ENOENT) raiseError(kErrPathNotFound, "Path not found: " + pattern);
  if (fd < 0) raiseFileError(errno, pattern);
  ::close(fd);
  path_ = name.data();
}

TempFile::~TempFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

}  // namespace platform
