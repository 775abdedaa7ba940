// Which pictures a command line names, and where each one's thumbnail goes: files as given,
// folders searched for the picture names (any case; hidden files and folders, and thumbnails
// themselves, left out).
#pragma once

#include <string>
#include <vector>

namespace thumb {

struct ListFailure {
  std::string path;
  std::string reason;
};

// One picture to make and the path of its thumbnail.
struct Job {
  std::string picture;
  std::string thumbnail;
};

struct PictureList {
  std::vector<Job> jobs;              // in the order given; a folder's by the bytes of its names
  std::vector<ListFailure> failures;  // folders that could not be read, thumbnail names taken twice
};

// True for a name a folder search takes: *.jpg, *.jpeg, *.jpe, *.jfif, *.gif, *.png, *.webp,
// *.tif, *.tiff, *.heic, *.heif or *.avif in any case, not hidden, not thumb_*.
bool isListedPicture(const std::string& name);

// The name of a picture's thumbnail: thumb_ and the picture's name, as the window writes it; for
// a name of the formats after JPEG and GIF (*.png to *.avif), thumb_ and the name and .jpg
// (IMG_0001.HEIC: thumb_IMG_0001.HEIC.jpg), so that the name says what the file holds and
// photo.png and photo.jpg never share one.
std::string thumbnailName(const std::string& pictureName);

// The thumbnail beside a picture: thumbnailName in the picture's folder.
std::string thumbnailPath(const std::string& picture);

// Files are taken whatever their name (a missing one fails when it is read); folders are
// searched, subfolders too when `recursive` (not through links to folders). Each path once.
// Thumbnails go beside their pictures, or, with an `outputDir`, under it: a folder operand's tree
// is kept below it, a file operand's thumbnail goes straight in. Two pictures whose thumbnails
// would take one name: the second is a failure.
PictureList listPictures(const std::vector<std::string>& operands, bool recursive,
                         const std::string& outputDir = {});

// The entries of a list of pictures: lines, or NUL-terminated names; empty entries are skipped.
std::vector<std::string> splitList(const std::string& text, bool nullSeparated);

}  // namespace thumb
