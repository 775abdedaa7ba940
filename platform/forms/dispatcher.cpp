// The event dispatcher: every handler runs through runHandler, which reports what it raises.
#include <new>
#include <string>

#include "platform/base/runtime_error.h"
#include "platform/dialogs/msgbox.h"
#include "platform/forms/forms.h"

namespace platform {

bool runHandler(const std::function<void()>& handler) {
  int number = 0;
  std::string description;
  try {
    handler();
    return true;
  } catch (const RuntimeError& error) {
    number = error.number();
    description = error.description();
  } catch (const std::bad_alloc&) {
    number = kErrOutOfMemory;
    description = errorDescription(kErrOutOfMemory);
  } catch (const std::exception& error) {  // a fault of the program's own: reported, not fatal
    number = kErrInternal;
    description = errorDescription(kErrInternal) + ": " + error.what();
  } catch (...) {
    number = kErrInternal;
    description = errorDescription(kErrInternal);
  }
  MsgBox("Run-time error '" + std::to_string(number) + "':\n\n" + description, vbCritical,
         kProgramTitle);
  return false;
}

}  // namespace platform
