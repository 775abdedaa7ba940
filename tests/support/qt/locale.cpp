#include "tests/support/qt/locale.h"

namespace testsupport {

std::string localNumber(std::string text) {
  const std::string point = QLocale().decimalPoint().toStdString();
  if (const auto dot = text.find('.'); dot != std::string::npos) text.replace(dot, 1, point);
  return text;
}

ScopedLocale::ScopedLocale(const QLocale& locale) { QLocale::setDefault(locale); }

ScopedLocale::~ScopedLocale() { QLocale::setDefault(previous_); }

}  // namespace testsupport
