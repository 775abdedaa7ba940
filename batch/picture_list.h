// Which pictures a command line names: files as given, folders searched for the window's pattern
// ("*.jpg;*.gif", any case, no hidden files), without the thumbnails themselves.
#pragma once

#include <string>
#include <vector>

namespace thumb {

struct ListFailure {
  std::string path;
  std::string reason;
};

struct PictureList {
  std::vector<std::string> pictures;  // in the order given; a folder's by the bytes of its names
  std::vector<ListFailure> failures;  // folders that could not be read
};

// True for a name a folder search takes: *.jpg or *.gif in any case, not hidden, not thumb_*.
bool isListedPicture(const std::string& name);

// Files are taken whatever their name (a missing one fails when it is read); folders are
// searched, subfolders too when `recursive` (not through links to folders). Each path once.
PictureList listPictures(const std::vector<std::string>& operands, bool recursive);

// Where the thumbnail of `picture` goes: thumb_<name> in the same folder.
std::string thumbnailPath(const std::string& picture);

}  // namespace thumb
