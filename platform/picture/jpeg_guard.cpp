#include "platform/picture/jpeg_guard.h"

#include <cstring>

namespace platform {
namespace {

JpegErrorManager& managerOf(j_common_ptr cinfo) {
  return *reinterpret_cast<JpegErrorManager*>(cinfo->err);
}

[[noreturn]] void errorExit(j_common_ptr cinfo) {
  JpegErrorManager& manager = managerOf(cinfo);
  cinfo->err->format_message(cinfo, manager.message);
  std::longjmp(manager.jump, 1);
}

// Warnings are tolerated: a truncated or slightly corrupt file still draws. The first is kept, so
// that a caller can say what was wrong.
void emitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  JpegErrorManager& manager = managerOf(cinfo);
  if (manager.warnings++ == 0) {
    manager.firstWarningCode = cinfo->err->msg_code;
    cinfo->err->format_message(cinfo, manager.firstWarning);
  }
}

void outputMessage(j_common_ptr) {}

}  // namespace

void installErrorManager(j_common_ptr cinfo, JpegErrorManager& manager) {
  cinfo->err = jpeg_std_error(&manager.pub);
  manager.pub.error_exit = errorExit;
  manager.pub.emit_message = emitMessage;
  manager.pub.output_message = outputMessage;
  manager.message[0] = '\0';
  clearWarnings(manager);
}

void clearWarnings(JpegErrorManager& manager) {
  manager.warnings = 0;
  manager.firstWarningCode = 0;
  manager.firstWarning[0] = '\0';
}

bool runJpegGuarded(JpegErrorManager& manager, void (*body)(void*), void* context) {
  if (setjmp(manager.jump) != 0) return false;
  body(context);
  return true;
}

void failJpeg(j_common_ptr cinfo, const char* message) {
  JpegErrorManager& manager = managerOf(cinfo);
  std::strncpy(manager.message, message, sizeof manager.message - 1);
  manager.message[sizeof manager.message - 1] = '\0';
  std::longjmp(manager.jump, 1);
}

}  // namespace platform
