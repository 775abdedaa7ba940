// The modal message box on Qt Widgets.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "platform/dialogs/msgbox.h"
#include "platform/forms/forms.h"

namespace platform {
namespace {

int showDialog(const MsgBoxRequest& request) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    // No window system: the box becomes a line on stderr.
    std::fprintf(stderr, "%s: %s\n", request.title.c_str(), request.prompt.c_str());
    return vbOK;
  }
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QString::fromStdString(request.title));
  box.setText(QString::fromStdString(request.prompt));
  switch (request.style & 0x70) {
    case vbCritical:
      box.setIcon(QMessageBox::Critical);
      break;
    case 32:
      box.setIcon(QMessageBox::Question);
      break;
    case vbExclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case 64:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return vbOK;
}

}  // namespace

void installMessageBoxDialog() { setMsgBoxPresenter(showDialog); }

}  // namespace platform
