#include "tests/support/process_state.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
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

MountedTmpfs::MountedTmpfs(const fs::path& folder, const std::string& size) : folder_(folder) {
  if (::geteuid() != 0) {
    error_ = "mounting a file system needs root";
    return;
  }
  std::error_code ignored;
  fs::create_directories(folder_, ignored);
  mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  if (!mounted_) error_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
}

MountedTmpfs::~MountedTmpfs() {
  if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

int MountedTmpfs::unmount() {
  if (!mounted_) return EINVAL;
  if (::umount2(folder_.c_str(), 0) != 0) return errno;
  mounted_ = false;
  return 0;
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
