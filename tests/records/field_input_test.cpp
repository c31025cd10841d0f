#include "records/field_input.h"

#include <fenv.h>
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "records/fp_trap.h"
#include "records/run_end.h"

namespace korven {
namespace {

struct IntegerCase {
  const char* text;
  std::int32_t value;
  int failure;
};

TEST(IntegerField, ConvertsOrRejects) {
  const IntegerCase cases[] = {
      {"", 0, 0},
      {"-", 0, 0},
      {"+", 0, 0},
      {"-9", -9, 0},
      {"999", 999, 0},
      {"+007", 7, 0},
      {"2147483647", 2147483647, 0},
      {"-2147483648", INT32_MIN, 0},
      {"00000000000000000002147483647", 2147483647, 0},
      {"2147483648", 0, kIntegerOutOfRange},
      {"-2147483649", 0, kIntegerOutOfRange},
      {"99999999999999999999999999", 0, kIntegerOutOfRange},
      {"18446744073709551621", 0, kIntegerOutOfRange},  // 2^64 + 5
      {"12A", 0, kInvalidInteger},
      {"1.0", 0, kInvalidInteger},
      {"1-", 0, kInvalidInteger},
      {"+-1", 0, kInvalidInteger},
      {"1E3", 0, kInvalidInteger},
      {"/", 0, kInvalidInteger},
      {":", 0, kInvalidInteger},
      {"99999999999999999999A", 0, kInvalidInteger},
  };
  for (const IntegerCase& c : cases) {
    const IntegerField r = convert_integer_field(c.text);
    EXPECT_EQ(r.failure, c.failure) << '"' << c.text << '"';
    if (c.failure == 0) {
      EXPECT_EQ(r.value, c.value) << '"' << c.text << '"';
    }
  }
}

struct RealCase {
  std::string text;
  int decimals;
  float value;
  int failure;
};

void expect_reads(const RealCase& c) {
  const RealField r = convert_real_field(c.text, c.decimals);
  EXPECT_EQ(r.failure, c.failure) << '"' << c.text << "\" d=" << c.decimals;
  if (c.failure == 0) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(r.value), std::bit_cast<std::uint32_t>(c.value))
        << '"' << c.text << "\" d=" << c.decimals << " read " << r.value;
  }
}

TEST(RealField, SyntaxAndImpliedDecimals) {
  const RealCase cases[] = {
      {"", 6, 0.0f, 0},         {"+", 6, 0.0f, 0},          {".", 6, 0.0f, 0},
      {"1.5E-3", 6, 1.5E-3f, 0}, {"1.5-3", 6, 1.5E-3f, 0},   {"1.5+3", 6, 1500.0f, 0},
      {"15", 6, 0.000015f, 0},  {"12.", 6, 12.0f, 0},       {"12.000000", 6, 12.0f, 0},
      {"1200000", 6, 1.2f, 0},  {"15E2", 6, 0.0015f, 0},    {"15-2", 6, 1.5E-7f, 0},
      {"1.5D3", 6, 1500.0f, 0}, {"1.5d+3", 6, 1500.0f, 0},  {"1.5e3", 6, 1500.0f, 0},
      {".5", 6, 0.5f, 0},       {"5.", 6, 5.0f, 0},         {"-.25", 6, -0.25f, 0},
      {"-0012.5", 2, -12.5f, 0}, {"1E", 6, 1E-6f, 0},       {"1.5E+", 6, 1.5f, 0},
      {"123", 0, 123.0f, 0},    {"0.000000", 6, 0.0f, 0},   {"5.-3", 6, 0.005f, 0},
      {"1.2.3", 6, 0, kInvalidReal},    {"1.5E-3-2", 6, 0, kInvalidReal},
      {"abc", 6, 0, kInvalidReal},      {"1.5E3.0", 6, 0, kInvalidReal},
      {"1.5EE3", 6, 0, kInvalidReal},   {"1.5E+-3", 6, 0, kInvalidReal},
      {"+-1", 6, 0, kInvalidReal},      {"--", 6, 0, kInvalidReal},
      {"1 5", 6, 0, kInvalidReal},      {"1.5F3", 6, 0, kInvalidReal},
      {std::string("1\0", 2), 6, 0, kInvalidReal},  {"1\xC9", 6, 0, kInvalidReal},
  };
  for (const RealCase& c : cases) expect_reads(c);
  // A negative zero keeps its sign.
  EXPECT_TRUE(std::signbit(convert_real_field("-0.0", 6).value));
}

TEST(RealField, RangeLimits) {
  const std::string zeros1000(1000, '0');
  const RealCase cases[] = {
      {"3.40282347E38", 6, FLT_MAX, 0},
      {"-3.40282347E38", 6, -FLT_MAX, 0},
      {"340282347" + std::string(36, '0'), 6, FLT_MAX, 0},
      {"3.4028235E38", 6, 0, kRealOverflow},
      {"3.40282348E38", 6, 0, kRealOverflow},
      {"-3.40282348E38", 6, 0, kRealOverflow},
      {"1E39", 0, 0, kRealOverflow},
      {"1.7976931348623157E308", 6, 0, kRealOverflow},
      {"1.7976931348623159E308", 6, 0, kRealBeyondDouble},
      {"1E309", 0, 0, kRealBeyondDouble},
      {"-1E309", 0, 0, kRealBeyondDouble},
      {"1E99999999999999999999", 0, 0, kRealBeyondDouble},
      {"1E-50", 0, 0.0f, 0},
      {"-1E-50", 0, -0.0f, 0},
      {"1E-99999999999999999999", 0, 0.0f, 0},
      {"0E99999999999999999999", 0, 0.0f, 0},
      {"1.4E-45", 6, 0x1p-149f, 0},          // smallest subnormal
      {"7.1E-46", 6, 0x1p-149f, 0},          // just above half of it
      {"7E-46", 0, 0.0f, 0},                 // just below half of it
      {"1E-40", 0, 1E-40f, 0},
      {"0." + zeros1000 + "15E1001", 6, 1.5f, 0},
      {"1" + zeros1000 + "E-1000", 0, 1.0f, 0},
      {"1" + zeros1000, 1000, 1.0f, 0},
  };
  for (const RealCase& c : cases) expect_reads(c);
}

TEST(RealField, RoundsHalfwayCasesToEven) {
  // 1 + 2^-24 lies exactly halfway between 1 and the next single.
  const std::string half = "1.000000059604644775390625";
  const std::string zeros900(900, '0');
  const RealCase cases[] = {
      {"3355445E1", 0, 3355445E1f, 0},  // short fields exactly halfway
      {"3355447E1", 0, 3355447E1f, 0},
      {"9E9", 0, 9E9f, 0},
      {"16777217", 0, 16777216.0f, 0},
      {"16777219", 0, 16777220.0f, 0},
      {"16777217.000000000000000000000001", 0, 16777218.0f, 0},
      {"16777216999999999999999999999999", 24, 16777216.0f, 0},
      {half, 6, 1.0f, 0},
      {half + zeros900, 6, 1.0f, 0},
      {half + zeros900 + "1", 6, 0x1.000002p0f, 0},  // beyond the kept digits
      {"1000000059604644775390624" + zeros900 + "9", 925, 1.0f, 0},
  };
  for (const RealCase& c : cases) expect_reads(c);
}

// Random fields against the C library's own correctly rounded conversion,
// fed with the field rewritten as plain scientific notation.
TEST(RealField, MatchesReferenceConversion) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> length(1, 28), digit(0, 9), exponent(-50, 10), decimals(0, 9);
  for (int n = 0; n < 20000; ++n) {
    std::string digits;
    for (int k = length(rng); k > 0; --k) digits += static_cast<char>('0' + digit(rng));
    const int e = exponent(rng);
    const int d = decimals(rng);
    const bool negative = n % 3 == 0;
    std::string field = (negative ? "-" : "") + digits;
    std::string reference;
    if (n % 2 == 0) {
      const std::size_t at = static_cast<std::size_t>(n) % (digits.size() + 1);
      field.insert(field.size() - digits.size() + at, ".");
      reference = field + "E" + std::to_string(e);
    } else {
      reference = (negative ? "-" : "") + digits + "E" + std::to_string(e - d);
    }
    field += (n % 4 == 1 ? "D" : "E") + std::to_string(e);
    const float expected = std::strtof(reference.c_str(), nullptr);
    ASSERT_LT(std::fabs(expected), 3.4E38f);
    SCOPED_TRACE(reference);
    expect_reads({field, d, expected, 0});
  }
}

// The conversions must raise no floating-point condition of their own: none
// escapes to the caller, and with the traps armed none of them traps.
const char* const kHardFields[] = {
    "1E39", "1E309", "-1E309", "1E-50", "7E-46", "1.4E-45", "0.1", "3.40282347E38",
    "3.40282348E38", "1.7976931348623159E308", "1E99999999999999", "1E-99999999999999"};

TEST(RealField, LeavesNoFloatingPointFlags) {
  const int raised = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;
  std::feclearexcept(FE_ALL_EXCEPT);
  for (const char* text : kHardFields) {
    convert_real_field(text, 0);
    EXPECT_EQ(std::fetestexcept(raised), 0) << text;
  }
}

TEST(RealField, RaisesNoTrapWithTrapsArmed) {
  FpTrapScope scope;
  // The traps are really armed: an overflowing product traps.
  const int control = call_trapping(
      [](void*) {
        volatile float big = 1E38f;
        big = big * big;
      },
      nullptr);
  EXPECT_EQ(control, kTrapOverflow);

  int failures = 0;
  const int trap = call_trapping(
      [](void* count) {
        for (const char* text : kHardFields)
          *static_cast<int*>(count) += convert_real_field(text, 0).failure != 0;
      },
      &failures);
  EXPECT_EQ(trap, 0);
  EXPECT_EQ(failures, 6);
}

}  // namespace
}  // namespace korven
