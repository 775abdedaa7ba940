// Numbers and text, as the size box and the handlers use them.
#pragma once

#include <string>

namespace platform {

// The user's locale is Qt's default locale: the system's, unless a program (or a test) sets
// another with QLocale::setDefault.

// A text used as a number, read by the user's locale (the C form is also accepted, so "12.5"
// works everywhere). Surrounding blanks are ignored. Anything else, including an empty text or an
// infinite or NaN value, raises run-time error 13 "Type mismatch".
double CDbl(const std::string& text);

// The shortest text of a Double at 15 significant digits, with the locale's decimal separator:
// 130, not 130.0; 17.5; 60.1 for 65.1 - 5. CDbl reads the text of any finite Double back, to a
// number whose text is the same (the few above 1.79769313486231E+308 are written as that).
std::string CStr(double value);

// A Double given to a Single property: rounded to the nearest Single; outside Single's range (or
// NaN) it raises run-time error 6 (Overflow).
float CSng(double value);

// Tests the floating-point status of one computation: construct before it, call check() on its
// result. Division by zero raises error 11; overflow or an invalid operation raises error 6.
class FloatCheck final {
 public:
  FloatCheck();
  double check(double value) const;
};

}  // namespace platform
