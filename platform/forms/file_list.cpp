// The file list: the files of a folder that match its patterns.
#include <QListWidget>
#include <QMouseEvent>
#include <QRegularExpression>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/base/runtime_error.h"
#include "platform/forms/folder_listing.h"
#include "platform/forms/forms_impl.h"

namespace platform {
namespace fs = std::filesystem;
namespace {

// Each entry keeps its name's bytes beside the text shown, which has U+FFFD for bytes that are not
// UTF-8: the file is opened by its bytes.
constexpr int kNameRole = Qt::UserRole;

std::string nameOf(const QListWidgetItem* item) {
  return item->data(kNameRole).toByteArray().toStdString();
}

struct FileImpl final : Control::Impl {
  using Impl::Impl;
  std::string path;
  std::string pattern;
  std::vector<QRegularExpression> matchers;
  std::function<void()> click;
};

void refill(FileListBox& box) {
  auto& self = implOf<FileImpl>(box);
  auto* list = widgetOf<QListWidget>(box);
  QSignalBlocker blocker(list);
  list->clear();
  if (self.path.empty()) return;
  for (const auto& entry : listFolder(self.path)) {
    std::error_code error;
    if (entry.is_directory(error)) continue;
    const std::string name = entry.path().filename().string();
    const QString shown = QString::fromUtf8(name);
    const bool matches =
        std::any_of(self.matchers.begin(), self.matchers.end(),
                    [&](const QRegularExpression& m) { return m.match(shown).hasMatch(); });
    if (!matches) continue;
    auto* item = new QListWidgetItem(shown);
    item->setData(kNameRole, QByteArray::fromStdString(name));
    list->addItem(item);
  }
}

// Remembers whether the file under the latest mouse press was selected already: a click on it
// changes no selection, yet is a click all the same (it redraws the preview at a new size).
// A chosen file stays chosen until another is: neither Ctrl+click nor Ctrl+Space on it nor a click
// below the last file deselects it, which would leave the canvas showing a file not chosen.
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
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override {
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (!index.isValid() ||
        (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))) {
      return QItemSelectionModel::NoUpdate;
    }
    return command;
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
  QObject::connect(list, &QListWidget::itemClicked, [this, list](QListWidgetItem* item) {
    auto& self = implOf<FileImpl>(*this);
    const bool onSelected = std::exchange(list->pressedOnSelected, false);
    if (onSelected && item->isSelected() && self.click) runHandler(self.click);
  });
  // The same folder as the folder list, even when it cannot be read after all (the list is empty).
  implOf<FileImpl>(*this).path = startFolder(form);
  runHandler([this] { setPattern("*"); });
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
  return selected.isEmpty() ? std::string() : nameOf(selected.front());
}

int FileListBox::ListCount() const { return widgetOf<QListWidget>(*this)->count(); }

std::string FileListBox::List(int index) const {
  return nameOf(widgetOf<QListWidget>(*this)->item(index));
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
