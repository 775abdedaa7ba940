// The size box's text to number conversion (CDbl) on any text, and CStr's promise that its text
// reads back as the same number to 15 significant digits. Runs in the locale of the environment
// (LC_ALL, LANG).
#include <cmath>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/base/runtime_error.h"
#include "platform/forms/numbers.h"

namespace {

using namespace platform;

void roundTrip(double value) {
  const std::string text = CStr(value);
  double back = 0;
  try {
    back = CDbl(text);
  } catch (const RuntimeError&) {
    fuzz::check(false, "CStr's text is read by CDbl");
  }
  fuzz::check(std::fabs(back - value) <= 1e-14 * std::fabs(value),
              "CDbl(CStr(x)) is x to 15 digits");
  fuzz::check(CStr(back) == text, "CStr(CDbl(CStr(x))) == CStr(x)");
  fuzz::check(std::signbit(back) == std::signbit(value), "the sign survives, zero's too");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz::startQt(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const double value = CDbl(text);
    fuzz::check(std::isfinite(value), "CDbl gives finite numbers");
    roundTrip(value);
  } catch (const RuntimeError& error) {
    fuzz::check(error.number() == kErrTypeMismatch, "text that is no number is error 13");
  }
  // The same bytes as a Double, any bit pattern.
  if (size >= sizeof(double)) {
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    if (std::isfinite(value)) roundTrip(value);
  }
  return 0;
}
