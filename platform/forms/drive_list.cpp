// The drive list: the mounted file systems a person can browse. It shows the drive that holds the
// folder list's folder, and reads the mounted file systems afresh each time it is opened.
#include <QComboBox>
#include <QStyle>
#include <filesystem>
#include <system_error>

#include "platform/base/runtime_error.h"
#include "platform/forms/folder_listing.h"
#include "platform/forms/forms_impl.h"

namespace platform {
namespace fs = std::filesystem;
namespace {

// Each entry keeps its mount point's bytes beside the text shown.
constexpr int kDriveRole = Qt::UserRole;

class DriveCombo final : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> opening;

  void showPopup() override {
    if (opening) opening();  // a stick mounted since the last look is there to choose
    QComboBox::showPopup();
  }
};

struct DriveImpl final : Control::Impl {
  using Impl::Impl;
  Form* form = nullptr;
  std::vector<std::string> drives;
  std::string drive;
  std::string folder;  // the folder list's folder, which the drive shown holds
  std::function<void()> change;
};

// Shows the chosen drive without raising Change.
void showDrive(DriveListBox& box) {
  auto& self = implOf<DriveImpl>(box);
  auto* combo = widgetOf<DriveCombo>(box);
  const QSignalBlocker blocker(combo);
  combo->setCurrentIndex(combo->findData(QByteArray::fromStdString(self.drive), kDriveRole));
}

// Reads the mounted file systems afresh; the drive shown is the one that holds the folder.
void readDrives(DriveListBox& box) {
  auto& self = implOf<DriveImpl>(box);
  auto* combo = widgetOf<DriveCombo>(box);
  self.drives = mountedDrives();
  const QSignalBlocker blocker(combo);
  combo->clear();
  const QIcon icon = combo->style()->standardIcon(QStyle::SP_DriveHDIcon);
  for (const std::string& drive : self.drives) {
    combo->addItem(icon, QString::fromUtf8(drive), QByteArray::fromStdString(drive));
  }
  self.drive = driveOf(self.drives, self.folder);
  showDrive(box);
}

}  // namespace

DriveListBox::DriveListBox(Form& form)
    : Control(std::make_unique<DriveImpl>(new DriveCombo(form.impl().window.get()))) {
  form.impl().tabStops.push_back(this);
  auto& self = implOf<DriveImpl>(*this);
  auto* combo = widgetOf<DriveCombo>(*this);
  self.form = &form;
  self.folder = startFolder(form);
  readDrives(*this);
  combo->opening = [this] { readDrives(*this); };
  // The folder list moving (into a mount or out of one) moves the drive shown, and nothing else.
  form.impl().folderShown = [this](const std::string& folder) {
    auto& impl = implOf<DriveImpl>(*this);
    impl.folder = folder;
    impl.drive = driveOf(impl.drives, folder);
    showDrive(*this);
  };
  QObject::connect(combo, &QComboBox::activated, [this](int index) {
    auto& impl = implOf<DriveImpl>(*this);
    const std::string chosen = List(index);
    if (chosen == impl.drive) return;
    // When it cannot be read, the lists stay where they could be read; so does the drive shown.
    if (!runHandler([&] { setDrive(chosen); })) {
      impl.drive = driveOf(impl.drives, impl.folder);
      showDrive(*this);
    }
  });
}

DriveListBox::~DriveListBox() { implOf<DriveImpl>(*this).form->impl().folderShown = nullptr; }

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
  showDrive(*this);
  if (self.change) self.change();
}

void DriveListBox::onChange(std::function<void()> handler) {
  implOf<DriveImpl>(*this).change = std::move(handler);
}

int DriveListBox::ListCount() const { return widgetOf<DriveCombo>(*this)->count(); }

std::string DriveListBox::List(int index) const {
  return widgetOf<DriveCombo>(*this)->itemData(index, kDriveRole).toByteArray().toStdString();
}

}  // namespace platform
