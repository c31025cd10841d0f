#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "records/decimal.h"
#include "records/field_output.h"

namespace korven {
namespace {

std::string fixed(float v, int w = 12, int d = 6) {
  std::string s;
  format_fixed(s, v, w, d);
  return s;
}

std::string expo(float v, int w = 12, int d = 5, int k = 1) {
  std::string s;
  format_exponent(s, v, w, d, k);
  return s;
}

std::string integer(std::int32_t v, int w) {
  std::string s;
  format_integer(s, v, w);
  return s;
}

struct RealCase {
  float value;
  bool exponent;  // 1P,E12.5 instead of F12.6
  const char* text;
  int blanks;
};

// Every row of the program's table of real conversions.
TEST(RealConversion, ExampleTable) {
  const RealCase cases[] = {
      {0.5f, false, ".500000", 5},
      {-0.25f, false, "-.250000", 4},
      {0.0f, false, ".000000", 5},
      {-0.0f, false, ".000000", 5},
      {1234.5678f, false, "1234.568000", 1},
      {15.994915f, false, "15.994920", 3},
      {12.345678f, false, "12.345680", 3},
      {0.99999995f, false, "1.000000", 4},
      {-4.0E-7f, false, ".000000", 5},
      {-5.5E-7f, false, "-.000001", 4},
      {99999.99f, false, "99999.990000", 0},
      {100000.0f, false, "************", 0},
      {-10000.0f, false, "************", 0},
      {1234.5f, true, "1.23450E+03", 1},
      {-1.5E-5f, true, "-1.50000E-05", 0},
      {-0.5f, true, "-5.00000E-01", 0},
      {0.000123456f, true, "1.23456E-04", 1},
      {0.0f, true, "0.00000E+00", 1},
      {1.0E30f, true, "1.00000E+30", 1},
  };
  for (const RealCase& c : cases) {
    const std::string got = c.exponent ? expo(c.value) : fixed(c.value);
    EXPECT_EQ(got, std::string(static_cast<std::size_t>(c.blanks), ' ') + c.text) << "value " << c.value;
  }
}

TEST(RealConversion, CarriesAndSmallValues) {
  EXPECT_EQ(expo(9.999996f), " 1.00000E+01");
  EXPECT_EQ(fixed(6.0E-7f), "     .000001");  // rounds up from no digits at all
  EXPECT_EQ(fixed(4.0E-8f), "     .000000");  // below the last decimal: zeros, no rounding
  EXPECT_EQ(fixed(-1.0f), "   -1.000000");
  EXPECT_EQ(fixed(1.0f, 3, 0), " 1.");
  EXPECT_EQ(fixed(0.0f, 3, 0), " 0.");  // no digit before or after the point: a zero stands before it
  EXPECT_EQ(fixed(0.4f, 3, 0), " 0.");
  EXPECT_EQ(fixed(3.4028235E38f), "************");
  EXPECT_EQ(expo(3.4028235E38f), " 3.40282E+38");
  EXPECT_EQ(expo(1.0E-45f), " 1.40130E-45");
  EXPECT_EQ(expo(-1.0E-40f), "-9.99995E-41");
}

TEST(IntegerConversion, WidthsSignsAndAsterisks) {
  EXPECT_EQ(integer(5, 3), "  5");
  EXPECT_EQ(integer(-5, 3), " -5");
  EXPECT_EQ(integer(999, 3), "999");
  EXPECT_EQ(integer(1000, 3), "***");
  EXPECT_EQ(integer(-100, 3), "***");
  EXPECT_EQ(integer(std::numeric_limits<std::int32_t>::min(), 3), "***");
  EXPECT_EQ(integer(std::numeric_limits<std::int32_t>::min(), 11), "-2147483648");
  EXPECT_EQ(integer(0, 6), "     0");
}

// The exact expansion agrees with the C library's correctly rounded 17-digit
// output whenever the 18th digit does not decide a tie differently.
TEST(DecimalDigits, AgreesWithExactExpansion) {
  std::mt19937 gen(12345);
  std::uniform_int_distribution<std::uint32_t> bits;
  for (int i = 0; i < 20000; ++i) {
    std::uint32_t b = bits(gen);
    float v;
    std::memcpy(&v, &b, sizeof v);
    if (!std::isfinite(v) || v == 0.0f) continue;
    const DecimalDigits d = decimal_digits(v);
    // 40 significant digits through the C library are exact enough to
    // find the first 18 and round half up on the 18th.
    char buf[128];
    std::snprintf(buf, sizeof buf, "%.60e", static_cast<double>(std::fabs(v)));
    std::string digits;
    for (const char* p = buf; *p && *p != 'e'; ++p)
      if (*p >= '0' && *p <= '9') digits.push_back(*p);
    const int exp10 = std::atoi(std::strchr(buf, 'e') + 1) + 1;
    std::string head = digits.substr(0, 17);
    int expected_exp = exp10;
    if (digits[17] >= '5') {
      int k = 16;
      while (k >= 0 && head[static_cast<std::size_t>(k)] == '9') head[static_cast<std::size_t>(k--)] = '0';
      if (k < 0) {
        head = "1" + std::string(16, '0');
        ++expected_exp;
      } else {
        ++head[static_cast<std::size_t>(k)];
      }
    }
    while (head.size() > 1 && head.back() == '0') head.pop_back();
    ASSERT_EQ(std::string(d.digits, static_cast<std::size_t>(d.count)), head) << buf;
    ASSERT_EQ(d.exponent, expected_exp) << buf;
    ASSERT_EQ(d.negative, v < 0);
  }
}

}  // namespace
}  // namespace korven
