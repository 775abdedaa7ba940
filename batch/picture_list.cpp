#include "batch/picture_list.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

namespace thumb {
namespace {

namespace fs = std::filesystem;

constexpr char kThumbnailPrefix[] = "thumb_";

bool endsWithNoCase(const std::string& name, const char* suffix) {
  const size_t length = std::strlen(suffix);
  return name.size() >= length && ::strcasecmp(name.c_str() + name.size() - length, suffix) == 0;
}

class Lister {
 public:
  explicit Lister(bool recursive) : recursive_(recursive) {}

  void add(const std::string& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
      searchFolder(path);
    } else {
      take(path);
    }
  }

  PictureList result() { return std::move(list_); }

 private:
  void take(const std::string& path) {
    if (seen_.insert(fs::path(path).lexically_normal().string()).second) {
      list_.pictures.push_back(path);
    }
  }

  void searchFolder(const std::string& folder) {
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    std::vector<std::string> files;
    std::vector<std::string> folders;
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
      const fs::directory_entry& entry = *entries;
      const std::string name = entry.path().filename().string();
      if (name.starts_with('.')) continue;
      std::error_code ignored;
      if (entry.is_directory(ignored)) {
        if (recursive_ && !entry.is_symlink(ignored)) folders.push_back(name);
      } else if (isListedPicture(name)) {
        files.push_back(name);
      }
    }
    if (error) {
      list_.failures.push_back({folder, error.message()});
      return;
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
    for (const std::string& name : files) take(prefix + name);
    for (const std::string& name : folders) searchFolder(prefix + name);
  }

  bool recursive_;
  PictureList list_;
  std::set<std::string> seen_;
};

}  // namespace

bool isListedPicture(const std::string& name) {
  return !name.starts_with('.') && !name.starts_with(kThumbnailPrefix) &&
         (endsWithNoCase(name, ".jpg") || endsWithNoCase(name, ".gif"));
}

PictureList listPictures(const std::vector<std::string>& operands, bool recursive) {
  Lister lister(recursive);
  for (const std::string& operand : operands) lister.add(operand);
  return lister.result();
}

std::string thumbnailPath(const std::string& picture) {
  const size_t slash = picture.rfind('/');
  if (slash == std::string::npos) return kThumbnailPrefix + picture;
  return picture.substr(0, slash + 1) + kThumbnailPrefix + picture.substr(slash + 1);
}

}  // namespace thumb
