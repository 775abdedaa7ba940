// What the drive, folder and file lists show: a folder's entries in the order a person expects,
// tidy folder paths, and the mounted file systems a person can browse. Private to the forms layer.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

class QString;

namespace platform {

class Form;

// Names in the order a person expects: without regard to case, and runs of digits by their value
// (img9 before img10).
bool naturalLess(const QString& a, const QString& b);

// The folder's entries whose names do not start with a dot, sorted by naturalLess. Raises 76 for a
// folder that does not exist, else the file error of what went wrong.
std::vector<std::filesystem::directory_entry> listFolder(const std::string& path);

// A folder that cannot be listed: the runtime's error for it, with the folder's name.
[[noreturn]] void raiseFolderError(const std::error_code& error, const std::string& path);

// An absolute, tidy form of a folder path; the root stays "/".
std::string normalFolder(const std::string& path);

// The folder all the lists of a form start on: the process's current folder or, when it is gone
// or cannot be read, the nearest folder above it that can be, else the home folder, else "/". The
// first list to ask finds it and reports the first error met in one box; the others get the same.
const std::string& startFolder(Form& form);

// The mounted file systems a person can browse, "/" first, the rest sorted.
std::vector<std::string> mountedDrives();

// The drive (mount point) that holds a path: the longest mount point that is a prefix of it.
std::string driveOf(const std::vector<std::string>& drives, const std::string& path);

}  // namespace platform
