#include "platform/msgbox.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <utility>

namespace platform {
namespace {

MsgBoxHandler& handlerSlot() {
  static MsgBoxHandler handler;
  return handler;
}

int showDialog(const MsgBoxRequest& request) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    // No window system (a command-line use of the libraries): the box becomes a line on stderr.
    std::fprintf(stderr, "%s: %s\n", request.title.c_str(), request.prompt.c_str());
    return vbOK;
  }
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QString::fromStdString(request.title));
  box.setText(QString::fromStdString(request.prompt));
  switch (request.style & 0x70) {
    case vbCritical: box.setIcon(QMessageBox::Critical); break;
    case 32: box.setIcon(QMessageBox::Question); break;
    case vbExclamation: box.setIcon(QMessageBox::Warning); break;
    case 64: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return vbOK;
}

}  // namespace

int MsgBox(const std::string& prompt, int style, const std::string& title) {
  MsgBoxRequest request{prompt, style, title.empty() ? std::string(kProgramTitle) : title};
  if (handlerSlot()) return handlerSlot()(request);
  return showDialog(request);
}

void setMsgBoxHandler(MsgBoxHandler handler) { handlerSlot() = std::move(handler); }

}  // namespace platform
