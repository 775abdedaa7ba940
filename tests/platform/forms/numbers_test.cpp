// Numbers as the forms read and write them: text to Double and back, and the float checks.
#include "platform/forms/numbers.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <cmath>
#include <limits>
#include <string>

#include "platform/base/runtime_error.h"
#include "tests/support/qt/locale.h"
#include "tests/support/runtime_errors.h"

namespace platform {
namespace {

using testsupport::ScopedLocale;

std::string local(const std::string& text) { return testsupport::localNumber(text); }

TEST(Numbers, ReadsNumbersAndRejectsEverythingElse) {
  EXPECT_EQ(CDbl("125"), 125.0);
  EXPECT_EQ(CDbl(" 12.5 "), 12.5);  // the C form, in any locale
  EXPECT_EQ(CDbl(local("12.5")), 12.5);
  EXPECT_EQ(CDbl("-3"), -3.0);
  EXPECT_EQ(CDbl("1e3"), 1000.0);
  for (const char* bad : {"", " ", "abc", "12abc", "1..2", "inf", "nan", "1e999"}) {
    EXPECT_RUNTIME_ERROR(CDbl(bad), kErrTypeMismatch) << '"' << bad << '"';
  }
}

TEST(Numbers, WritesTheShortestForm) {
  EXPECT_EQ(CStr(130.0), "130");
  EXPECT_EQ(CStr(17.5), local("17.5"));
  EXPECT_EQ(CStr(-5.0), "-5");
  EXPECT_EQ(CStr(0.1 + 0.2), local("0.3"));
  EXPECT_EQ(CStr(65.1 - 5), local("60.1"));
  EXPECT_EQ(CStr(12.3 - 5), local("7.3"));
  EXPECT_EQ(CStr(1e20), "1E+20");
  EXPECT_EQ(CStr(1.0 / 3.0), local("0.333333333333333"));
  EXPECT_EQ(CStr(CDbl(CStr(1.0 / 3.0))), CStr(1.0 / 3.0));
}

// Found by fuzz_numbers: the largest Double's fifteen digits rounded up past it, and the text
// read back as infinity, a type mismatch.
TEST(Numbers, EveryFiniteDoubleIsWrittenAsTextThatReadsBackTheSame) {
  const double largest = std::numeric_limits<double>::max();
  for (const double x : {largest, -largest, std::nextafter(largest, 0.0), 1.797693134862315e308,
                         1.79769313486231e308, std::numeric_limits<double>::denorm_min(),
                         std::numeric_limits<double>::min(), -0.0, 1e-300, 123456789012345678.0}) {
    const std::string text = CStr(x);
    EXPECT_NO_THROW(EXPECT_EQ(CStr(CDbl(text)), text)) << text;
  }
  EXPECT_EQ(CStr(largest), local("1.79769313486231E+308"));
  EXPECT_EQ(CStr(-largest), local("-1.79769313486231E+308"));
  EXPECT_EQ(CStr(1.79769313486231e308), local("1.79769313486231E+308"));
}

TEST(Numbers, ReadAndWrittenByTheUsersLocale) {
  {
    const ScopedLocale german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(CDbl("12,5"), 12.5);
    EXPECT_EQ(CDbl("12.5"), 12.5) << "the C form is read in every locale";
    EXPECT_EQ(CStr(17.5), "17,5");
    EXPECT_EQ(CStr(1.0 / 3.0), "0,333333333333333");
    EXPECT_EQ(CStr(-1.5e-20), "-1,5E-20");
    EXPECT_EQ(CDbl(CStr(65.1 - 5)), CDbl("60,1"));
  }
  const ScopedLocale c(QLocale::c());
  EXPECT_EQ(CStr(17.5), "17.5");
  EXPECT_RUNTIME_ERROR(CDbl("12,5"), kErrTypeMismatch) << "a comma is no decimal point here";
}

TEST(Numbers, FloatCheckRaisesOnOverflowAndDivisionByZero) {
  volatile double big = std::numeric_limits<double>::max();
  volatile double zero = 0.0;
  EXPECT_RUNTIME_ERROR(
      {
        FloatCheck c;
        c.check(big * 15.0);
      },
      kErrOverflow);
  EXPECT_RUNTIME_ERROR(
      {
        FloatCheck c;
        c.check(1.0 / zero);
      },
      kErrDivisionByZero);
  EXPECT_RUNTIME_ERROR(
      {
        FloatCheck c;
        c.check(zero / zero);
      },
      kErrOverflow);
  FloatCheck ok;
  EXPECT_EQ(ok.check(125.0 * 15.0 + 55.0), 1930.0);
}

}  // namespace
}  // namespace platform
