#include "tests/support/runtime_errors.h"

#include "platform/base/runtime_error.h"

namespace testsupport {

int runtimeErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const platform::RuntimeError& error) {
    return error.number();
  }
  return 0;
}

}  // namespace testsupport
