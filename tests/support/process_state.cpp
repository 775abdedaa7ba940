#include "tests/support/process_state.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

namespace testsupport {

namespace fs = std::filesystem;

WithoutPermissionOverride::WithoutPermissionOverride() {
  if (syscall(SYS_capget, &header_, saved_) != 0) return;
  __user_cap_data_struct reduced[2];
  std::memcpy(reduced, saved_, sizeof reduced);
  reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
  active_ = syscall(SYS_capset, &header_, reduced) == 0;
}

WithoutPermissionOverride::~WithoutPermissionOverride() {
  if (active_) syscall(SYS_capset, &header_, saved_);
}

InFolder::InFolder(const fs::path& folder) : previous_(::open(".", O_RDONLY | O_DIRECTORY)) {
  EXPECT_GE(previous_, 0);
  EXPECT_EQ(::chdir(folder.c_str()), 0) << folder;
}

InFolder::~InFolder() {
  EXPECT_EQ(::fchdir(previous_), 0);
  ::close(previous_);
}

bool holdsFile(const fs::path& file) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.ends_with(" " + file.string())) return true;
  }
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
    std::error_code ignored;
    if (fs::read_symlink(entry.path(), ignored) == file) return true;
  }
  return false;
}

}  // namespace testsupport
