// The drive list: the mounted file systems a person can browse.
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

struct DriveImpl final : Control::Impl {
  using Impl::Impl;
  std::vector<std::string> drives;
  std::string drive;
  std::function<void()> change;
};

}  // namespace

DriveListBox::DriveListBox(Form& form)
    : Control(std::make_unique<DriveImpl>(new QComboBox(form.impl().window.get()))) {
  form.impl().tabStops.push_back(this);
  auto& self = implOf<DriveImpl>(*this);
  auto* combo = widgetOf<QComboBox>(*this);
  self.drives = mountedDrives();
  const QIcon icon = combo->style()->standardIcon(QStyle::SP_DriveHDIcon);
  for (const std::string& drive : self.drives) combo->addItem(icon, QString::fromStdString(drive));
  self.drive = driveOf(self.drives, startFolder(form));
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

}  // namespace platform
