// The process's own state as tests change and inspect it: permission overrides, the current
// folder, the files it holds open or mapped. No Qt.
#pragma once

#include <linux/capability.h>

#include <filesystem>
#include <string>

namespace testsupport {

// Takes the permission overrides out of this thread's effective capabilities while it lives, so
// that root too is refused a file or folder without the permission. Code under test that reads
// on this thread is refused as an ordinary user would be; active() is false when that could not
// be arranged (the test should then skip).
class WithoutPermissionOverride final {
 public:
  WithoutPermissionOverride();
  ~WithoutPermissionOverride();
  WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
  WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;
  bool active() const { return active_; }

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
  bool active_ = false;
};

// Changes the process's current folder while it lives; the earlier one comes back even when the
// folder it moved to has been removed since.
class InFolder final {
 public:
  explicit InFolder(const std::filesystem::path& folder);
  ~InFolder();
  InFolder(const InFolder&) = delete;
  InFolder& operator=(const InFolder&) = delete;

 private:
  int previous_;
};

// A small tmpfs mounted on a folder (made when missing) while it lives: a USB stick, a full disk.
// Mounting needs root; mounted() is false, with the reason in error(), when it could not be done.
class MountedTmpfs final {
 public:
  // `size` as mount's option takes it: "64k", "4m".
  MountedTmpfs(const std::filesystem::path& folder, const std::string& size);
  ~MountedTmpfs();  // detaches it, if it is still mounted
  MountedTmpfs(const MountedTmpfs&) = delete;
  MountedTmpfs& operator=(const MountedTmpfs&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }
  // Unmounts it now as a user would, refused while a file on it is open: 0, or the errno.
  int unmount();

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
  std::string error_;
};

// Whether this process holds the file open or mapped.
bool holdsFile(const std::filesystem::path& file);

}  // namespace testsupport
