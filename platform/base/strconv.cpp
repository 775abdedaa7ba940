#include "platform/base/strconv.h"

#include "platform/base/runtime_error.h"

namespace platform {

std::string StrConv(const std::string& text, int conversion) {
  if (conversion != vbFromUnicode) raiseError(kErrInvalidProcedureCall);
  return text;
}

}  // namespace platform
