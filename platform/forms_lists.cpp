// The drive, folder and file lists.
#include <QComboBox>
#include <QListWidget>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QStyle>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <system_error>

#include "platform/forms_impl.h"
#include "platform/runtime_error.h"

namespace platform {
namespace fs = std::filesystem;

namespace {

constexpr int kPathRole = Qt::UserRole;

// A folder that cannot be listed: the runtime's error for it, with the folder's name.
[[noreturn]] void raiseFolderError(const std::error_code& error, const std::string& path) {
  if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
    raiseError(kErrPathNotFound, "Path not found: " + path);
  }
  raiseFileError(error.value(), path);
}

// Names in the order a person expects: without regard to case, and runs of digits by their value
// (img9 before img10).
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

// The folder's entries whose names do not start with a dot, sorted as a person expects
// (case-insensitive, numbers by value). Raises when the folder cannot be read.
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

// An absolute, tidy form of a folder path; the root stays "/".
std::string normalFolder(const std::string& path) {
  fs::path absolute = fs::absolute(fs::path(path)).lexically_normal();
  std::string text = absolute.string();
  while (text.size() > 1 && text.ends_with('/')) text.pop_back();
  return text;
}

bool isBrowsableMount(const QStorageInfo& volume) {
  static const std::set<QByteArray> kPseudo = {
      "proc",   "sysfs",   "devtmpfs",   "devpts",  "cgroup",  "cgroup2",     "securityfs",
      "pstore", "debugfs", "tracefs",    "mqueue",  "hugetlbfs", "bpf",       "fusectl",
      "configfs", "autofs", "binfmt_misc", "nsfs",  "efivarfs", "ramfs",      "rpc_pipefs"};
  const QString root = volume.rootPath();
  if (root == QStringLiteral("/")) return true;
  if (!volume.isValid() || !volume.isReady() || kPseudo.count(volume.fileSystemType())) return false;
  for (const char* hidden : {"/proc", "/sys", "/dev", "/run", "/boot/efi", "/snap"}) {
    const QString prefix = QString::fromLatin1(hidden);
    if (root == prefix || root.startsWith(prefix + '/')) {
      if (!root.startsWith(QStringLiteral("/run/media/"))) return false;
    }
  }
  return true;
}

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

// The drive (mount point) that holds a path: the longest mount point that is a prefix of it.
std::string driveOf(const std::vector<std::string>& drives, const std::string& path) {
  std::string best = "/";
  for (const std::string& drive : drives) {
    const bool holds = path == drive || path.starts_with(drive.ends_with('/') ? drive : drive + '/');
    if (holds && drive.size() > best.size()) best = drive;
  }
  return best;
}

template <typename W>
W* widgetOf(const Control& control) {
  return static_cast<W*>(control.impl().widget.data());
}

struct DriveImpl final : Control::Impl {
  using Impl::Impl;
  std::vector<std::string> drives;
  std::string drive;
  std::function<void()> change;
};

struct DirImpl final : Control::Impl {
  using Impl::Impl;
  std::string path;
  std::function<void()> change;
};

struct FileImpl final : Control::Impl {
  using Impl::Impl;
  std::string path;
  std::string pattern;
  std::vector<QRegularExpression> matchers;
  std::function<void()> click;
};

template <typename T>
T& implOf(const Control& control) {
  return static_cast<T&>(control.impl());
}

}  // namespace

// ---- DriveListBox

DriveListBox::DriveListBox(Form& form)
    : Control(std::make_unique<DriveImpl>(new QComboBox(form.impl().window.get()))) {
  form.impl().tabStops.push_back(this);
  auto& self = implOf<DriveImpl>(*this);
  auto* combo = widgetOf<QComboBox>(*this);
  self.drives = mountedDrives();
  const QIcon icon = combo->style()->standardIcon(QStyle::SP_DriveHDIcon);
  for (const std::string& drive : self.drives) combo->addItem(icon, QString::fromStdString(drive));
  self.drive = driveOf(self.drives, normalFolder(fs::current_path().string()));
  combo->setCurrentIndex(combo->findText(QString::fromStdString(self.drive)));
  QObject::connect(combo, &QComboBox::activated, [this](int index) {
    auto& impl = implOf<DriveImpl>(*this);
    const std::string previous = impl.drive;
    const std::string chosen = impl.drives.at(static_cast<size_t>(index));
    if (chosen == previous) return;
    const bool ok = runHandler([&] { setDrive(chosen); });
    if (!ok) {  // the lists stay where they could be read; so does the drive shown
      impl.drive = previous;
      QSignalBlocker blocker(widgetOf<QComboBox>(*this));
      widgetOf<QComboBox>(*this)->setCurrentIndex(
          widgetOf<QComboBox>(*this)->findText(QString::fromStdString(previous)));
    }
  });
}

DriveListBox::~DriveListBox() = default;

std::string DriveListBox::Drive() const { return implOf<DriveImpl>(*this).drive; }

void DriveListBox::setDrive(const std::string& drive) {
  auto& self = implOf<DriveImpl>(*this);
  const std::string chosen = driveOf(self.drives, normalFolder(drive));
  std::error_code error;
  if (!fs::is_directory(fs::path(chosen), error)) {
    raiseError(kErrDeviceUnavailable, "Device unavailable: " + drive);
  }
  if (chosen == self.drive) return;
  self.drive = chosen;
  {
    QSignalBlocker blocker(widgetOf<QComboBox>(*this));
    widgetOf<QComboBox>(*this)->setCurrentIndex(
        widgetOf<QComboBox>(*this)->findText(QString::fromStdString(chosen)));
  }
  if (self.change) self.change();
}

void DriveListBox::onChange(std::function<void()> handler) {
  implOf<DriveImpl>(*this).change = std::move(handler);
}

// ---- DirListBox

DirListBox::DirListBox(Form& form)
    : Control(std::make_unique<DirImpl>(new QListWidget(form.impl().window.get()))) {
  form.impl().tabStops.push_back(this);
  auto* list = widgetOf<QListWidget>(*this);
  QObject::connect(list, &QListWidget::itemActivated, [this, list](QListWidgetItem* item) {
    openEntry(list->row(item));
  });
  // Start on the process's current folder, or the nearest folder above it that can be read.
  std::string start = normalFolder(fs::current_path().string());
  for (;;) {
    if (runHandler([&] { setPath(start); }) || start == "/") break;
    start = fs::path(start).parent_path().string();
  }
}

DirListBox::~DirListBox() = default;

std::string DirListBox::Path() const { return implOf<DirImpl>(*this).path; }

void DirListBox::setPath(const std::string& path) {
  auto& self = implOf<DirImpl>(*this);
  const std::string folder = normalFolder(path);
  const auto entries = listFolder(folder);  // raises before anything changes
  auto* list = widgetOf<QListWidget>(*this);
  QSignalBlocker blocker(list);
  list->clear();
  const QIcon open = list->style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = list->style()->standardIcon(QStyle::SP_DirClosedIcon);
  int depth = 0;
  std::vector<fs::path> ancestors;
  for (fs::path p = folder; ; p = p.parent_path()) {
    ancestors.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it, ++depth) {
    const std::string name = it->has_filename() ? it->filename().string() : it->string();
    auto* item = new QListWidgetItem(open, QString(depth * 2, ' ') + QString::fromStdString(name));
    item->setData(kPathRole, QString::fromStdString(it->string()));
    list->addItem(item);
  }
  list->setCurrentRow(depth - 1);
  for (const auto& entry : entries) {
    std::error_code error;
    if (!entry.is_directory(error)) continue;
    auto* item = new QListWidgetItem(
        closed, QString(depth * 2, ' ') + QString::fromStdString(entry.path().filename().string()));
    item->setData(kPathRole, QString::fromStdString(entry.path().string()));
    list->addItem(item);
  }
  const bool changed = folder != self.path;
  self.path = folder;
  if (changed && self.change) self.change();
}

void DirListBox::onChange(std::function<void()> handler) {
  implOf<DirImpl>(*this).change = std::move(handler);
}

void DirListBox::openEntry(int index) {
  if (index < 0 || index >= ListCount()) return;
  const std::string target = List(index);
  runHandler([&] { setPath(target); });
}

int DirListBox::ListCount() const { return widgetOf<QListWidget>(*this)->count(); }

std::string DirListBox::List(int index) const {
  return widgetOf<QListWidget>(*this)->item(index)->data(kPathRole).toString().toStdString();
}

// ---- FileListBox

namespace {

void refill(FileListBox& box) {
  auto& self = implOf<FileImpl>(box);
  auto* list = widgetOf<QListWidget>(box);
  QSignalBlocker blocker(list);
  list->clear();
  if (self.path.empty()) return;
  for (const auto& entry : listFolder(self.path)) {
    std::error_code error;
    if (entry.is_directory(error)) continue;
    const QString name = QString::fromStdString(entry.path().filename().string());
    const bool matches = std::any_of(self.matchers.begin(), self.matchers.end(),
                                     [&](const QRegularExpression& m) { return m.match(name).hasMatch(); });
    if (matches) list->addItem(name);
  }
}

}  // namespace

namespace {

// Remembers whether the file under the latest mouse press was selected already: a click on it
// changes no selection, yet is a click all the same (it redraws the preview at a new size).
class FileListWidget final : public QListWidget {
 public:
  using QListWidget::QListWidget;
  bool pressedOnSelected = false;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    const QListWidgetItem* item = itemAt(event->position().toPoint());
    pressedOnSelected = item != nullptr && item->isSelected();
    QListWidget::mousePressEvent(event);
  }
};

}  // namespace

FileListBox::FileListBox(Form& form)
    : Control(std::make_unique<FileImpl>(new FileListWidget(form.impl().window.get()))) {
  form.impl().tabStops.push_back(this);
  auto* list = widgetOf<FileListWidget>(*this);
  // A click is a new selection (by mouse or keys), or a mouse click on the selected file. Focus
  // alone, which gives the list a current row without selecting it, is none.
  QObject::connect(list, &QListWidget::itemSelectionChanged, [this, list] {
    auto& self = implOf<FileImpl>(*this);
    if (!list->selectedItems().isEmpty() && self.click) runHandler(self.click);
  });
  QObject::connect(list, &QListWidget::itemClicked, [this, list](QListWidgetItem*) {
    auto& self = implOf<FileImpl>(*this);
    if (std::exchange(list->pressedOnSelected, false) && self.click) runHandler(self.click);
  });
  implOf<FileImpl>(*this).path = normalFolder(fs::current_path().string());
  if (!runHandler([this] { setPattern("*"); })) implOf<FileImpl>(*this).path.clear();
}

FileListBox::~FileListBox() = default;

std::string FileListBox::Path() const { return implOf<FileImpl>(*this).path; }

void FileListBox::setPath(const std::string& path) {
  auto& self = implOf<FileImpl>(*this);
  const std::string previous = self.path;
  self.path = normalFolder(path);
  try {
    refill(*this);
  } catch (...) {
    self.path = previous;
    throw;
  }
}

std::string FileListBox::Pattern() const { return implOf<FileImpl>(*this).pattern; }

void FileListBox::setPattern(const std::string& pattern) {
  auto& self = implOf<FileImpl>(*this);
  self.pattern = pattern;
  self.matchers.clear();
  for (const QString& part : QString::fromStdString(pattern).split(';', Qt::SkipEmptyParts)) {
    self.matchers.push_back(QRegularExpression::fromWildcard(part.trimmed(), Qt::CaseInsensitive));
  }
  refill(*this);
}

std::string FileListBox::FileName() const {
  const QList<QListWidgetItem*> selected = widgetOf<QListWidget>(*this)->selectedItems();
  return selected.isEmpty() ? std::string() : selected.front()->text().toStdString();
}

int FileListBox::ListCount() const { return widgetOf<QListWidget>(*this)->count(); }

std::string FileListBox::List(int index) const {
  return widgetOf<QListWidget>(*this)->item(index)->text().toStdString();
}

void FileListBox::onClick(std::function<void()> handler) {
  implOf<FileImpl>(*this).click = std::move(handler);
}

void FileListBox::click(int index) {
  auto* list = widgetOf<QListWidget>(*this);
  if (list->item(index)->isSelected()) {
    if (implOf<FileImpl>(*this).click) runHandler(implOf<FileImpl>(*this).click);
  } else {
    list->setCurrentRow(index);
  }
}

}  // namespace platform
