#include "platform/forms/numbers.h"

#include <QLocale>
#include <QString>
#include <algorithm>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/base/runtime_error.h"

namespace platform {
namespace {

// The largest Double whose fifteen-digit text reads back: the few above it round up past the
// largest Double, to 1.79769313486232E+308, which CDbl refuses as infinite.
constexpr double kLargestWritable = 1.79769313486231e308;

}  // namespace

double CDbl(const std::string& text) {
  const QString trimmed = QString::fromStdString(text).trimmed();
  bool ok = false;
  double value = QLocale().toDouble(trimmed, &ok);
  if (!ok) value = QLocale::c().toDouble(trimmed, &ok);
  if (!ok || !std::isfinite(value)) raiseError(kErrTypeMismatch);
  return value;
}

std::string CStr(double value) {
  // Fifteen significant digits, as the runtime writes a Double: 65.1 - 5 reads "60.1", not
  // "60.099999999999994". The largest values are rounded down, so that every text reads back.
  if (std::isfinite(value)) value = std::clamp(value, -kLargestWritable, kLargestWritable);
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  std::string text(buffer, result.ptr);
  if (const auto e = text.find('e'); e != std::string::npos) text[e] = 'E';
  const QString point = QLocale().decimalPoint();
  if (point != QStringLiteral(".")) {
    const auto dot = text.find('.');
    if (dot != std::string::npos) text.replace(dot, 1, point.toStdString());
  }
  return text;
}

float CSng(double value) {
  if (std::isnan(value) || std::fabs(value) > std::numeric_limits<float>::max()) {
    raiseError(kErrOverflow);
  }
  return static_cast<float>(value);
}

FloatCheck::FloatCheck() { std::feclearexcept(FE_ALL_EXCEPT); }

double FloatCheck::check(double value) const {
  if (std::fetestexcept(FE_DIVBYZERO)) raiseError(kErrDivisionByZero);
  if (std::fetestexcept(FE_OVERFLOW | FE_INVALID) || !std::isfinite(value)) {
    raiseError(kErrOverflow);
  }
  return value;
}

}  // namespace platform
