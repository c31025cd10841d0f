#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "records/decimal.h"
#include "records/field_output.h"

namespace korven {
namespace {

// A conversion must write exactly its field: what it leaves of the '?'
// filling or writes past it shows.
template <class Convert>
std::string field(int width, int room, Convert convert) {
  std::string s(static_cast<std::size_t>(room) + 8, '?');
  const char* end = convert(s.data());
  EXPECT_LE(end - s.data(), room);
  s.resize(static_cast<std::size_t>(end - s.data()));
  EXPECT_EQ(s.find('?'), std::string::npos) << s;
  EXPECT_GE(static_cast<int>(s.size()), width);
  return s;
}

std::string fixed(float v, int w = 12, int d = 6) {
  return field(w, w, [&](char* out) { return format_fixed(out, v, w, d); });
}

std::string expo(float v, int w = 12, int d = 5, int k = 1) {
  return field(w, exponent_field_room(w, d, k), [&](char* out) { return format_exponent(out, v, w, d, k); });
}

std::string integer(std::int32_t v, int w) {
  return field(w, w, [&](char* out) { return format_integer(out, v, w); });
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

TEST(IntegerConversion, AgreesWithToString) {
  std::vector<std::int32_t> values = {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
  for (std::int64_t p = 1; p <= 1000000000; p *= 10) {
    for (const std::int64_t v : {p - 1, p, p + 1, -p + 1, -p, -p - 1}) values.push_back(static_cast<std::int32_t>(v));
  }
  for (std::int32_t v = -20000; v <= 20000; v += 7) values.push_back(v);
  for (std::int32_t v = -120; v <= 1020; ++v) values.push_back(v);  // every I3 field
  for (const std::int32_t v : values) {
    const std::string text = std::to_string(v);
    for (int w = 1; w <= 13; ++w) {
      const std::string want = static_cast<int>(text.size()) > w
                                   ? std::string(static_cast<std::size_t>(w), '*')
                                   : std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
      ASSERT_EQ(integer(v, w), want) << v << " I" << w;
    }
  }
}

// What decimal_digits must give, from the C library's complete expansion:
// 120 digits after the point hold every digit of a single real, so the
// first 17 can be rounded half up on the 18th here the slow, plain way.
struct Expansion {
  std::string significand;  // 17 digits
  int exponent;
};

Expansion expected_digits(float v) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%.120e", static_cast<double>(std::fabs(v)));
  std::string digits;
  for (const char* p = buf; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits.push_back(*p);
  Expansion e{digits.substr(0, 17), std::atoi(std::strchr(buf, 'e') + 1) + 1};
  if (digits[17] >= '5') {
    int k = 16;
    while (k >= 0 && e.significand[static_cast<std::size_t>(k)] == '9') e.significand[static_cast<std::size_t>(k--)] = '0';
    if (k < 0) {
      e.significand = "1" + std::string(16, '0');
      ++e.exponent;
    } else {
      ++e.significand[static_cast<std::size_t>(k)];
    }
  }
  return e;
}

void expect_expansion(std::uint32_t bits) {
  const float v = std::bit_cast<float>(bits);
  if (!std::isfinite(v) || v == 0.0f) return;
  const DecimalDigits d = decimal_digits(v);
  const Expansion e = expected_digits(v);
  EXPECT_EQ(std::to_string(d.significand), e.significand) << std::hex << bits;
  EXPECT_EQ(d.exponent, e.exponent) << std::hex << bits;
  EXPECT_EQ(d.negative, v < 0) << std::hex << bits;
}

TEST(DecimalDigits, AgreesWithExactExpansion) {
  std::mt19937 gen(12345);
  std::uniform_int_distribution<std::uint32_t> bits;
  for (int i = 0; i < 20000; ++i) expect_expansion(bits(gen));
}

// The digits come from 128-bit integers for the normal reals from 2^-89 up
// to 2^60 and from a big decimal number for the rest: both ways, and the
// places where one hands over to the other, against the expansion.
TEST(DecimalDigits, BothWaysAndTheirEdges) {
  for (std::uint32_t biased = 0; biased < 255; ++biased) {  // each binade's ends and middle
    for (std::uint32_t fraction : {0x000000u, 0x000001u, 0x400000u, 0x7ffffeu, 0x7fffffu}) {
      expect_expansion(biased << 23 | fraction);
      expect_expansion(0x80000000u | biased << 23 | fraction);
    }
  }
  const std::uint32_t edges[] = {
      0x13000000,  // 2^-89, the smallest real taken by the integer way
      0x5d800000,  // 2^60, the first left to the big number
      0x35000000,  // 2^-21
      0x350637bd,  // 5E-7
      0x73800000,  // 2^104
      0x00800000,  // the smallest normal real
      0x00000040,  // subnormals
      0x3f800000,  // 1
  };
  for (const std::uint32_t edge : edges) {
    for (std::uint32_t b = edge - 64; b != edge + 64; ++b) expect_expansion(b);
  }
  for (std::uint32_t b = 0x7f7fffff - 64; b <= 0x7f7fffff; ++b) expect_expansion(b);  // up to the largest
  for (int k = -45; k <= 38; ++k) {  // around the powers of ten
    const std::string text = "1e" + std::to_string(k);
    const std::uint32_t p = std::bit_cast<std::uint32_t>(std::strtof(text.c_str(), nullptr));
    for (std::uint32_t b = p - 8; b != p + 8; ++b) expect_expansion(b);
  }
  for (std::uint64_t b = 0; b <= 0xffffffffu; b += 65521) expect_expansion(static_cast<std::uint32_t>(b));
}

// The fields written the plain way, a character at a time, from the digits
// of the expansion: a check on the integer arithmetic and word stores of the
// conversions over many values and edits.
class PlainField {
 public:
  explicit PlainField(float v) {
    const Expansion e = expected_digits(v);
    if (v != 0.0f) {
      digits_ = e.significand;
      while (!digits_.empty() && digits_.back() == '0') digits_.pop_back();
      exponent_ = e.exponent;
      negative_ = v < 0;
    }
  }

  std::string fixed(int w, int d) {
    int b = 0, s = d;
    if (!digits_.empty()) {
      b = exponent_;
      s = exponent_ + d;
      if (b < -d) {
        b = -d;
        s = 0;
        digits_.clear();
        negative_ = false;
      } else if (round_to(s)) {
        ++b;
        ++s;
      }
    }
    return justify(mantissa(b, s), w);
  }

  std::string exponent(int w, int d, int k) {
    const bool zero = digits_.empty();
    const int s = k > 0 ? d + 1 : d + k;
    int x = exponent_;
    if (!zero && round_to(s < 0 ? 0 : s) && s > 0) ++x;
    const int e = zero ? 0 : x - k;
    const int mag = e < 0 ? -e : e;
    std::string text = mantissa(k, s < 0 ? 0 : s);
    // The width taken: with k above d + 1 (not allowed under E) the digits
    // before the point outnumber those shown and the field grows by the excess.
    const int shown = s < 0 ? 0 : s;
    const int before = k > 0 ? k : (shown == 0 && k == 0 ? 1 : 0);
    const int nominal = (negative_ ? 1 : 0) + before + 1 + (k < 0 ? -k : 0) + shown - (k > 0 ? k : 0) + 4;
    if (nominal > w) return std::string(static_cast<std::size_t>(w), '*');
    if (mag <= 99) text += 'E';
    text += e < 0 ? '-' : '+';
    if (mag > 99) text += static_cast<char>('0' + mag / 100 % 10);
    text += static_cast<char>('0' + mag / 10 % 10);
    text += static_cast<char>('0' + mag % 10);
    return std::string(static_cast<std::size_t>(w - nominal), ' ') + text;
  }

 private:
  char at(int i) const { return i < static_cast<int>(digits_.size()) ? digits_[static_cast<std::size_t>(i)] : '0'; }

  // Rounds half up to n digits (at most 7); true on a carry into a new digit.
  bool round_to(int n) {
    n = n > 7 ? 7 : n;
    if (n >= static_cast<int>(digits_.size())) return false;
    const bool up = digits_[static_cast<std::size_t>(n)] >= '5';
    digits_.resize(static_cast<std::size_t>(n));
    bool carry = false;
    if (up) {
      int i = n - 1;
      while (i >= 0 && digits_[static_cast<std::size_t>(i)] == '9') digits_[static_cast<std::size_t>(i--)] = '0';
      if (i < 0) {
        digits_ = "1";
        carry = true;
      } else {
        ++digits_[static_cast<std::size_t>(i)];
      }
    }
    while (!digits_.empty() && digits_.back() == '0') digits_.pop_back();
    if (digits_.empty()) negative_ = false;
    return carry;
  }

  std::string mantissa(int b, int s) const {
    std::string t = negative_ ? "-" : "";
    int next = 0;
    if (b > 0) {
      for (; next < b; ++next) t += at(next);
    } else if (s == 0 && b == 0) {
      t += '0';
    }
    t += '.';
    if (b < 0) t += std::string(static_cast<std::size_t>(-b), '0');
    for (int i = 0; i < s - (b > 0 ? b : 0); ++i) t += at(next++);
    return t;
  }

  static std::string justify(const std::string& text, int w) {
    if (static_cast<int>(text.size()) > w) return std::string(static_cast<std::size_t>(w), '*');
    return std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
  }

  std::string digits_;  // without trailing zeros; empty for zero
  int exponent_ = 0;
  bool negative_ = false;
};

TEST(RealConversion, AgreesWithThePlainWay) {
  struct FixedEdit {
    int w, d;
  };
  struct ExponentEdit {
    int w, d, k;
  };
  const FixedEdit fixed_edits[] = {{12, 6}, {10, 4}, {8, 2}, {15, 9}, {6, 0}, {3, 0}, {1, 0}, {40, 30}, {25, 20}};
  const ExponentEdit exponent_edits[] = {{12, 5, 1}, {15, 7, 0}, {14, 6, -2}, {10, 3, 0}, {8, 2, -3},  {30, 20, 2},
                                         {12, 5, 6}, {12, 1, 3}, {9, 2, 5},   {7, 0, 0},  {11, 4, -4}, {6, 1, 0}};
  std::mt19937 gen(2024);
  std::uniform_int_distribution<std::uint32_t> any;
  std::uniform_int_distribution<std::uint32_t> ordinary(0x33000000, 0x4b000000);  // about 3E-8 ... 8E6
  for (int i = 0; i < 30000; ++i) {
    const float v = std::bit_cast<float>(i % 2 == 0 ? any(gen) : ordinary(gen) | (any(gen) & 0x80000000u));
    if (!std::isfinite(v)) continue;
    const PlainField plain(v);
    for (const FixedEdit& e : fixed_edits) ASSERT_EQ(fixed(v, e.w, e.d), PlainField(plain).fixed(e.w, e.d)) << v;
    for (const ExponentEdit& e : exponent_edits)
      ASSERT_EQ(expo(v, e.w, e.d, e.k), PlainField(plain).exponent(e.w, e.d, e.k)) << v << " " << e.k;
  }
}

// F12.6 below 8 has a shortcut from the binary value; it must give the
// general way's bytes for every real it takes (checked once for all 2^31
// of them). A stride through every binade
// from 2^-28 up to 16, both signs; with KORVEN_LONG_TESTS=1 every real there.
TEST(RealConversion, ShortcutsAsTheGeneralWay) {
  const char* long_tests = std::getenv("KORVEN_LONG_TESTS");
  const std::uint32_t stride = long_tests != nullptr && long_tests[0] == '1' ? 1 : 251;
  for (std::uint32_t bits = 99u << 23; bits < 131u << 23; bits += stride) {
    for (const std::uint32_t sign : {0u, 0x80000000u}) {
      const float v = std::bit_cast<float>(bits | sign);
      char fast[12], plain[12];
      ASSERT_EQ(format_fixed(fast, v, 12, 6), fast + 12);
      format_fixed_plain(plain, v, 12, 6);
      ASSERT_EQ(std::string(fast, 12), std::string(plain, 12)) << std::hex << (bits | sign);
    }
  }
  // 1P,E12.5 has a shortcut too, for every real: a stride through them all.
  for (std::uint64_t bits = 0; bits < 0xff800000u; bits += 4093u * stride) {
    for (const std::uint32_t sign : {0u, 0x80000000u}) {
      const float v = std::bit_cast<float>(static_cast<std::uint32_t>(bits) | sign);
      char fast[12], plain[12];
      ASSERT_EQ(format_exponent(fast, v, 12, 5, 1), fast + 12);
      format_exponent_plain(plain, v, 12, 5, 1);
      ASSERT_EQ(std::string(fast, 12), std::string(plain, 12)) << std::hex << bits;
    }
  }
  // 5E-7 lies just below a half: the shortcut leaves it to the general way.
  EXPECT_EQ(fixed(5.0E-7f), "     .000000");
  EXPECT_EQ(fixed(-7.9999995f), "   -8.000000");
}

}  // namespace
}  // namespace korven
