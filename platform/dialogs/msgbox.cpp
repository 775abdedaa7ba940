#include "platform/dialogs/msgbox.h"

#include <cstdio>
#include <utility>

namespace platform {
namespace {

MsgBoxHandler& handlerSlot() {
  static MsgBoxHandler handler;
  return handler;
}

MsgBoxHandler& presenterSlot() {
  static MsgBoxHandler presenter;
  return presenter;
}

// No dialog installed (a command-line use of the libraries): the box becomes a line on stderr.
int printBox(const MsgBoxRequest& request) {
  std::fprintf(stderr, "%s: %s\n", request.title.c_str(), request.prompt.c_str());
  return vbOK;
}

}  // namespace

int MsgBox(const std::string& prompt, int style, const std::string& title) {
  const MsgBoxRequest request{prompt, style, title.empty() ? std::string(kProgramTitle) : title};
  if (handlerSlot()) return handlerSlot()(request);
  if (presenterSlot()) return presenterSlot()(request);
  return printBox(request);
}

void setMsgBoxHandler(MsgBoxHandler handler) { handlerSlot() = std::move(handler); }

void setMsgBoxPresenter(MsgBoxHandler presenter) { presenterSlot() = std::move(presenter); }

}  // namespace platform
