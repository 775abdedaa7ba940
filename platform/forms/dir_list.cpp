// The folder list: a folder's ancestors (open) and its subfolders.
#include <QListWidget>
#include <QStyle>
#include <filesystem>
#include <system_error>

#include "platform/base/runtime_error.h"
#include "platform/forms/folder_listing.h"
#include "platform/forms/forms_impl.h"

namespace platform {
namespace fs = std::filesystem;
namespace {

// Each entry keeps its folder's path as bytes beside the name shown, which has U+FFFD for bytes
// that are not UTF-8: the folder is opened by its bytes.
constexpr int kPathRole = Qt::UserRole;

QListWidgetItem* folderItem(const QIcon& icon, int depth, const std::string& name,
                            const fs::path& path) {
  auto* item =
      new QListWidgetItem(icon, QString(qsizetype{depth} * 2, ' ') + QString::fromUtf8(name));
  item->setData(kPathRole, QByteArray::fromStdString(path.string()));
  return item;
}

struct DirImpl final : Control::Impl {
  using Impl::Impl;
  Form* form = nullptr;
  std::string path;
  std::function<void()> change;
};

}  // namespace

DirListBox::DirListBox(Form& form)
    : Control(std::make_unique<DirImpl>(new QListWidget(form.impl().window.get()))) {
  form.impl().tabStops.push_back(this);
  implOf<DirImpl>(*this).form = &form;
  auto* list = widgetOf<QListWidget>(*this);
  QObject::connect(list, &QListWidget::itemActivated,
                   [this, list](QListWidgetItem* item) { openEntry(list->row(item)); });
  const std::string& start = startFolder(form);
  runHandler([&] { setPath(start); });
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
  for (fs::path p = folder;; p = p.parent_path()) {
    ancestors.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it, ++depth) {
    const std::string name = it->has_filename() ? it->filename().string() : it->string();
    list->addItem(folderItem(open, depth, name, *it));
  }
  list->setCurrentRow(depth - 1);
  for (const auto& entry : entries) {
    std::error_code error;
    if (!entry.is_directory(error)) continue;
    list->addItem(folderItem(closed, depth, entry.path().filename().string(), entry.path()));
  }
  const bool changed = folder != self.path;
  self.path = folder;
  if (!changed) return;
  if (const auto& shown = self.form->impl().folderShown) shown(folder);
  if (self.change) self.change();
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
  return widgetOf<QListWidget>(*this)->item(index)->data(kPathRole).toByteArray().toStdString();
}

}  // namespace platform
