#include "batch/picture_list.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

namespace thumb {
namespace {

namespace fs = std::filesystem;

constexpr char kThumbnailPrefix[] = "thumb_";
constexpr const char* kPictureEndings[] = {".jpg", ".jpeg", ".jpe", ".jfif", ".gif"};
// Formats whose thumbnail (a JPEG) takes a name of its own: thumb_NAME.jpg.
constexpr const char* kOtherFormatEndings[] = {".png",  ".webp", ".tif", ".tiff",
                                               ".heic", ".heif", ".avif"};

bool endsWithNoCase(const std::string& name, const char* suffix) {
  const size_t length = std::strlen(suffix);
  return name.size() >= length && ::strcasecmp(name.c_str() + name.size() - length, suffix) == 0;
}

// A folder's path with one '/' at its end ("" stays the current folder's "").
std::string withSlash(const std::string& folder) {
  return folder.empty() || folder.ends_with('/') ? folder : folder + "/";
}

class Lister {
 public:
  Lister(bool recursive, std::string outputDir)
      : recursive_(recursive), outputDir_(std::move(outputDir)) {}

  void add(const std::string& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
      searchFolder(withSlash(path), "");
      return;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    take(path, outputDir_.empty() ? folder : withSlash(outputDir_), path.substr(slash + 1));
  }

  PictureList result() { return std::move(list_); }

 private:
  // A picture whose thumbnail goes into `thumbnailFolder` (with its '/', or empty).
  void take(const std::string& path, const std::string& thumbnailFolder, const std::string& name) {
    if (!seenPictures_.insert(fs::path(path).lexically_normal().string()).second) return;
    const std::string thumbnail = thumbnailFolder + thumbnailName(name);
    const auto [taken, added] =
        thumbnails_.emplace(fs::path(thumbnail).lexically_normal().string(), path);
    if (!added) {
      list_.failures.push_back(
          {path, "its thumbnail " + thumbnail + " is already that of " + taken->second});
      return;
    }
    list_.jobs.push_back({path, thumbnail});
  }

  // `folder` ends with '/'; `relative` is its path below the operand searched, for the output.
  void searchFolder(const std::string& folder, const std::string& relative) {
    std::error_code error;
    fs::directory_iterator entries(folder.empty() ? "." : folder, error);
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
      const bool root = folder.size() == 1;
      list_.failures.push_back(
          {root ? folder : folder.substr(0, folder.size() - 1), error.message()});
      return;
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    const std::string thumbnails = outputDir_.empty() ? folder : withSlash(outputDir_) + relative;
    for (const std::string& name : files) take(folder + name, thumbnails, name);
    for (const std::string& name : folders)
      searchFolder(folder + name + "/", relative + name + "/");
  }

  bool recursive_;
  std::string outputDir_;
  PictureList list_;
  std::set<std::string> seenPictures_;
  std::map<std::string, std::string> thumbnails_;  // thumbnail path -> its picture
};

}  // namespace

bool isListedPicture(const std::string& name) {
  if (name.starts_with('.') || name.starts_with(kThumbnailPrefix)) return false;
  const auto ends = [&name](const char* ending) { return endsWithNoCase(name, ending); };
  return std::any_of(std::begin(kPictureEndings), std::end(kPictureEndings), ends) ||
         std::any_of(std::begin(kOtherFormatEndings), std::end(kOtherFormatEndings), ends);
}

std::string thumbnailName(const std::string& pictureName) {
  const auto ends = [&pictureName](const char* ending) {
    return endsWithNoCase(pictureName, ending);
  };
  if (std::any_of(std::begin(kOtherFormatEndings), std::end(kOtherFormatEndings), ends)) {
    return kThumbnailPrefix + pictureName + ".jpg";
  }
  return kThumbnailPrefix + pictureName;
}

std::string thumbnailPath(const std::string& picture) {
  const size_t slash = picture.rfind('/');
  if (slash == std::string::npos) return thumbnailName(picture);
  return picture.substr(0, slash + 1) + thumbnailName(picture.substr(slash + 1));
}

PictureList listPictures(const std::vector<std::string>& operands, bool recursive,
                         const std::string& outputDir) {
  Lister lister(recursive, outputDir);
  for (const std::string& operand : operands) lister.add(operand);
  return lister.result();
}

std::vector<std::string> splitList(const std::string& text, bool nullSeparated) {
  const char separator = nullSeparated ? '\0' : '\n';
  std::vector<std::string> entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) entries.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

}  // namespace thumb
