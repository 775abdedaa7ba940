#include "platform/forms/folder_listing.h"

#include <QRegularExpression>
#include <QStorageInfo>
#include <QString>
#include <algorithm>
#include <set>

#include "platform/base/runtime_error.h"

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
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return naturalLess(QString::fromStdString(a.path().filename().string()),
                       QString::fromStdString(b.path().filename().string()));
  });
  return entries;
}

std::string normalFolder(const std::string& path) {
  fs::path absolute = fs::absolute(fs::path(path)).lexically_normal();
  std::string text = absolute.string();
  while (text.size() > 1 && text.ends_with('/')) text.pop_back();
  return text;
}

namespace {

bool isBrowsableMount(const QStorageInfo& volume) {
  static const std::set<QByteArray> kPseudo = {
      "proc",     "sysfs",   "devtmpfs",    "devpts", "cgroup",    "cgroup2", "securityfs",
      "pstore",   "debugfs", "tracefs",     "mqueue", "hugetlbfs", "bpf",     "fusectl",
      "configfs", "autofs",  "binfmt_misc", "nsfs",   "efivarfs",  "ramfs",   "rpc_pipefs"};
  const QString root = volume.rootPath();
  if (root == QStringLiteral("/")) return true;
  if (!volume.isValid() || !volume.isReady() || kPseudo.count(volume.fileSystemType()))
    return false;
  for (const char* hidden : {"/proc", "/sys", "/dev", "/run", "/boot/efi", "/snap"}) {
    const QString prefix = QString::fromLatin1(hidden);
    if (root == prefix || root.startsWith(prefix + '/')) {
      if (!root.startsWith(QStringLiteral("/run/media/"))) return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> mountedDrives() {
  std::vector<std::string> drives{"/"};
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const std::string root = volume.rootPath().toStdString();
    if (isBrowsableMount(volume) && std::find(drives.begin(), drives.end(), root) == drives.end()) {
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
