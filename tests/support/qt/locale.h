// The user's locale in tests: numbers as it writes them, and a locale set for a while. The suite
// also runs under a locale whose decimal separator is a comma.
#pragma once

#include <QLocale>
#include <string>

namespace testsupport {

// A number's text as the user's locale writes it: "17.5" becomes "17,5" where the decimal
// separator is a comma.
std::string localNumber(std::string text);

// Makes `locale` the user's (Qt's default) for the guard's lifetime.
class ScopedLocale final {
 public:
  explicit ScopedLocale(const QLocale& locale);
  ~ScopedLocale();
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

 private:
  QLocale previous_;
};

}  // namespace testsupport
