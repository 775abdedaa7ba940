#include "platform/forms/folder_listing.h"

#include <limits.h>
#include <mntent.h>
#include <sys/statvfs.h>

#include <QRegularExpression>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

#include "platform/base/runtime_error.h"
#include "platform/forms/forms.h"
#include "platform/forms/forms_impl.h"

namespace platform {
namespace fs = std::filesystem;

void raiseFolderError(const std::error_code& error, const std::string& path) {
  if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
    raiseError(kErrPathNotFound, "Path not found: " + path);
  }
  raiseFileError(error.value(), path);
}

bool naturalLess(const QString& a, const QString& b) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      qsizetype endA = i, endB = j;
      while (endA < a.size() && a[endA].isDigit()) ++endA;
      while (endB < b.size() && b[endB].isDigit()) ++endB;
      // Compare the digit runs by value: without leading zeros, the longer run is larger.
      QStringView runA = QStringView(a).mid(i, endA - i), runB = QStringView(b).mid(j, endB - j);
      while (runA.size() > 1 && runA.front() == u'0') runA = runA.mid(1);
      while (runB.size() > 1 && runB.front() == u'0') runB = runB.mid(1);
      if (runA.size() != runB.size()) return runA.size() < runB.size();
      if (const int order = runA.compare(runB); order != 0) return order < 0;
      i = endA;
      j = endB;
      continue;
    }
    const int order = QString::compare(a.mid(i, 1), b.mid(j, 1), Qt::CaseInsensitive);
    if (order != 0) return order < 0;
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
  return a < b;  // equal but for case or zeros: a fixed order all the same
}

std::vector<fs::directory_entry> listFolder(const std::string& path) {
  std::error_code error;
  fs::directory_iterator it(fs::path(path), error);
  if (error) raiseFolderError(error, path);
  std::vector<fs::directory_entry> entries;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) raiseFolderError(error, path);
    if (it->path().filename().string().starts_with('.')) continue;
    entries.push_back(*it);
  }
  if (error) raiseFolderError(error, path);
  // By the names shown; names shown alike (bytes that are not UTF-8) by their bytes.
  std::vector<std::pair<QString, fs::directory_entry>> named;
  named.reserve(entries.size());
  for (auto& entry : entries) {
    named.emplace_back(QString::fromUtf8(entry.path().filename().string()), std::move(entry));
  }
  std::sort(named.begin(), named.end(), [](const auto& a, const auto& b) {
    if (naturalLess(a.first, b.first)) return true;
    if (naturalLess(b.first, a.first)) return false;
    return a.second.path().filename().string() < b.second.path().filename().string();
  });
  for (size_t i = 0; i < named.size(); ++i) entries[i] = std::move(named[i].second);
  return entries;
}

std::string normalFolder(const std::string& path) {
  fs::path absolute = fs::absolute(fs::path(path)).lexically_normal();
  std::string text = absolute.string();
  while (text.size() > 1 && text.ends_with('/')) text.pop_back();
  return text;
}

namespace {

// The process's current folder by name, even when it has been removed since (the kernel still
// names it); empty when no name can be had.
std::string currentFolderName() {
  std::error_code error;
  const fs::path current = fs::current_path(error);
  if (!error) return current.string();
  std::string named = fs::read_symlink("/proc/self/cwd", error).string();
  if (error || !named.starts_with('/')) return {};
  constexpr std::string_view kRemoved = " (deleted)";
  if (named.ends_with(kRemoved)) named.resize(named.size() - kRemoved.size());
  return named;
}

// Raises the runtime's error for a folder whose entries cannot be read.
void checkListable(const std::string& folder) {
  std::error_code error;
  const fs::directory_iterator it(fs::path(folder), error);
  if (error) raiseFolderError(error, folder);
}

std::string findStartFolder() {
  std::vector<std::string> candidates;
  if (const std::string current = currentFolderName(); !current.empty()) {
    for (fs::path p = normalFolder(current);; p = p.parent_path()) {
      candidates.push_back(p.string());
      if (p == p.parent_path()) break;
    }
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    candidates.push_back(normalFolder(home));
  }
  std::optional<RuntimeError> firstError;
  for (const std::string& candidate : candidates) {
    try {
      checkListable(candidate);
    } catch (const RuntimeError& error) {
      if (!firstError) firstError = error;
      continue;
    }
    if (firstError) runHandler([&] { throw *firstError; });
    return candidate;
  }
  if (firstError) runHandler([&] { throw *firstError; });
  return "/";
}

// A file system a person browses: not the kernel's own, nor one under the system's folders (but
// for sticks the desktop mounts under /run/media), and one that answers.
bool isBrowsableMount(const std::string& root, const std::string& type) {
  static const std::set<std::string> kPseudo = {
      "proc",     "sysfs",   "devtmpfs",    "devpts", "cgroup",    "cgroup2", "securityfs",
      "pstore",   "debugfs", "tracefs",     "mqueue", "hugetlbfs", "bpf",     "fusectl",
      "configfs", "autofs",  "binfmt_misc", "nsfs",   "efivarfs",  "ramfs",   "rpc_pipefs"};
  if (kPseudo.count(type) != 0) return false;
  for (const std::string hidden : {"/proc", "/sys", "/dev", "/run", "/boot/efi", "/snap"}) {
    if ((root == hidden || root.starts_with(hidden + '/')) && !root.starts_with("/run/media/")) {
      return false;
    }
  }
  struct statvfs status {};
  return ::statvfs(root.c_str(), &status) == 0;
}

}  // namespace

const std::string& startFolder(Form& form) {
  std::optional<std::string>& found = form.impl().startFolder;
  if (!found) found = findStartFolder();
  return *found;
}

std::vector<std::string> mountedDrives() {
  std::vector<std::string> drives{"/"};
  // The mount table as the kernel has it now; its names are bytes, kept as they are.
  std::unique_ptr<FILE, int (*)(FILE*)> table(::setmntent("/proc/self/mounts", "r"), ::endmntent);
  if (table == nullptr) return drives;
  mntent entry{};
  std::vector<char> buffer(std::size_t{4} * PATH_MAX);
  while (::getmntent_r(table.get(), &entry, buffer.data(), static_cast<int>(buffer.size()))) {
    const std::string root = entry.mnt_dir;
    if (std::find(drives.begin(), drives.end(), root) == drives.end() &&
        isBrowsableMount(root, entry.mnt_type)) {
      drives.push_back(root);
    }
  }
  std::sort(drives.begin() + 1, drives.end());
  return drives;
}

std::string driveOf(const std::vector<std::string>& drives, const std::string& path) {
  std::string best = "/";
  for (const std::string& drive : drives) {
    const bool holds =
        path == drive || path.starts_with(drive.ends_with('/') ? drive : drive + '/');
    if (holds && drive.size() > best.size()) best = drive;
  }
  return best;
}

}  // namespace platform
