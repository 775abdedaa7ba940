// Temporary folders and whole-file reads and writes for the tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// A fresh folder under $TMPDIR (else /tmp), removed with everything in it when the object goes,
// read-only subfolders too. Throws std::runtime_error when no folder can be made.
class TempFolder final {
 public:
  explicit TempFolder(std::string_view prefix = "quorvane-test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of a name (or a relative path) inside the folder.
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // The names in the folder, sorted.
  std::vector<std::string> names() const;

 private:
  std::filesystem::path path_;
};

// Removes a folder and everything in it, giving the owner back the rights that removal needs.
void removeAll(const std::filesystem::path& folder);

// The names in a folder, sorted; none when it cannot be read.
std::vector<std::string> namesIn(const std::filesystem::path& folder);

// A whole file; empty when it cannot be read.
std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);
std::string readText(const std::filesystem::path& path);

// Replaces a file with these bytes; false when it cannot be written.
bool writeBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
bool writeText(const std::filesystem::path& path, std::string_view text);

}  // namespace testsupport
