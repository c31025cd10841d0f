// Conversion of the integer and real input fields.
//
// Both conversions walk the field once and never look past its end. The
// integer conversion is pure integer arithmetic. The real conversion checks
// the syntax and gathers the significant digits and the decimal exponent
// itself. A short value is then finished with one exact-operand operation
// that cannot trap; any other value is placed by the library's correctly
// rounded decimal parser, run with the traps held off.
#include "records/field_input.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "records/fp_trap.h"
#include "records/run_end.h"

namespace korven {

namespace {

// Significant digits handed to the library parser. Any decimal is placed
// correctly between two neighbouring doubles by its first 768 significant
// digits together with the knowledge whether anything nonzero follows, so a
// single 1 appended after the kept digits stands in for whatever was cut off.
constexpr std::size_t kKeptDigits = 800;

// A decimal exponent past this, either way, leaves no doubt: the value is
// beyond the double range or it underflows to zero. Clamping keeps the
// exponent printable and the library parser on its simple paths.
constexpr std::int64_t kExponentClamp = 100000;

// Exponent digits stop being accumulated once the exponent is this large; it
// is clamped anyway, and this keeps 1E99999999999999 from overflowing.
constexpr std::int64_t kExponentDigitsCap = 1000000000;

// The largest magnitude a real field may have.
constexpr double kSingleLimit = 3.40282347E38;

// A value below 10^kSafeOrder cannot exceed kSingleLimit, so the range check
// (a second parse at double precision) is skipped for it.
constexpr std::int64_t kSafeOrder = 38;

// Short values: up to seven significant digits (below 2^24) and a power of
// ten up to 10^10 (5^10 is below 2^24) are exact singles, so a single
// multiplication or division rounds the value correctly. With such operands
// neither can overflow, divide by zero or be invalid, so this path needs no
// pause of the traps; it saves the cost of switching the floating-point
// environment for the common fields.
constexpr std::size_t kShortDigits = 7;
constexpr std::int64_t kShortScale = 10;
constexpr float kExactPowers[kShortScale + 1] = {1E0f, 1E1f, 1E2f, 1E3f, 1E4f, 1E5f,
                                                1E6f, 1E7f, 1E8f, 1E9f, 1E10f};

constexpr std::uint64_t kIntegerMagnitudeLimit = 2147483648u;  // |INT32_MIN|

inline unsigned digit_value(char c) {
  return static_cast<unsigned>(static_cast<unsigned char>(c)) - unsigned{'0'};
}

inline bool is_digit(char c) { return digit_value(c) <= 9; }

inline bool is_sign(char c) { return c == '+' || c == '-'; }

inline bool is_exponent_letter(char c) {
  return c == 'E' || c == 'e' || c == 'D' || c == 'd';
}

// Takes an optional leading sign; true for a minus.
inline bool take_sign(const char*& p, const char* end) {
  if (p == end || !is_sign(*p)) return false;
  return *p++ == '-';
}

inline float signed_zero(bool negative) { return negative ? -0.0f : 0.0f; }

inline std::int64_t clamp_exponent(std::int64_t e) {
  if (e > kExponentClamp) return kExponentClamp;
  if (e < -kExponentClamp) return -kExponentClamp;
  return e;
}

}  // namespace

IntegerField convert_integer_field(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();

  const bool negative = take_sign(p, end);

  // Accumulation stops once the magnitude is past the 32-bit range; the rest
  // of the field is still checked for invalid characters, which take
  // precedence over the range failure.
  std::uint64_t magnitude = 0;
  for (; p != end; ++p) {
    const unsigned digit = digit_value(*p);
    if (digit > 9) return {0, kInvalidInteger};
    if (magnitude <= kIntegerMagnitudeLimit) magnitude = magnitude * 10 + digit;
  }

  const std::uint64_t limit = negative ? kIntegerMagnitudeLimit : kIntegerMagnitudeLimit - 1;
  if (magnitude > limit) return {0, kIntegerOutOfRange};

  const std::int64_t value =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return {static_cast<std::int32_t>(value), 0};
}

RealField convert_real_field(std::string_view text, int implied_decimals) {
  const char* p = text.data();
  const char* const end = p + text.size();

  const bool negative = take_sign(p, end);

  // Mantissa. The value is (all its digits read as one integer) x
  // 10^(exponent - fraction_digits), or with the implied decimals in place
  // of fraction_digits when there is no point. Leading zeros are dropped;
  // digits beyond kKeptDigits are only counted and remembered as nonzero.
  // The buffer also takes the sticky digit, 'e' and the exponent.
  char number[kKeptDigits + 1 + 1 + 24];
  std::size_t kept = 0;
  std::int64_t dropped = 0;
  bool dropped_nonzero = false;
  std::int64_t fraction_digits = 0;
  bool point = false;
  bool mantissa_seen = false;

  for (; p != end; ++p) {
    const char c = *p;
    if (is_digit(c)) {
      mantissa_seen = true;
      if (point) ++fraction_digits;
      if (kept == 0 && c == '0') continue;
      if (kept < kKeptDigits) {
        number[kept++] = c;
      } else {
        ++dropped;
        dropped_nonzero = dropped_nonzero || c != '0';
      }
    } else if (c == '.' && !point) {
      point = true;
      mantissa_seen = true;
    } else {
      break;
    }
  }

  // Exponent: a letter with an optionally signed integer, or a sign directly
  // after the mantissa. The digits may be absent (exponent 0).
  std::int64_t exponent = 0;
  if (p != end) {
    if (is_exponent_letter(*p)) {
      ++p;
    } else if (!(is_sign(*p) && mantissa_seen)) {
      return {0.0f, kInvalidReal};
    }
    bool exponent_negative = false;
    if (p != end && is_sign(*p)) {
      exponent_negative = *p == '-';
      ++p;
    }
    for (; p != end; ++p) {
      const unsigned digit = digit_value(*p);
      if (digit > 9) return {0.0f, kInvalidReal};
      if (exponent < kExponentDigitsCap) exponent = exponent * 10 + digit;
    }
    if (exponent_negative) exponent = -exponent;
  }

  if (kept == 0) return {signed_zero(negative), 0};

  std::int64_t scale = exponent - (point ? fraction_digits : implied_decimals) + dropped;
  std::size_t length = kept;
  if (dropped_nonzero) {
    number[length++] = '1';
    --scale;
  } else {
    while (number[length - 1] == '0') {
      --length;
      ++scale;
    }
  }
  scale = clamp_exponent(scale);

  if (length <= kShortDigits && scale >= -kShortScale && scale <= kShortScale) {
    std::uint32_t digits = 0;
    for (std::size_t k = 0; k < length; ++k) digits = digits * 10 + digit_value(number[k]);
    const float mantissa = static_cast<float>(digits);
    const float value = scale >= 0 ? mantissa * kExactPowers[scale] : mantissa / kExactPowers[-scale];
    return {negative ? -value : value, 0};
  }

  // The value lies in [10^(order-1), 10^order).
  const std::int64_t order = scale + static_cast<std::int64_t>(length);

  number[length++] = 'e';
  const std::to_chars_result printed =
      std::to_chars(number + length, number + sizeof number, static_cast<int>(scale));
  const char* const last = printed.ptr;

  RealField result{0.0f, 0};
  {
    TrapPause pause;
    bool in_range = true;
    if (order > kSafeOrder) {
      double wide = 0.0;
      const std::from_chars_result r = std::from_chars(number, last, wide);
      if (r.ec != std::errc{}) {
        // A value this large can only be out of range upwards.
        result.failure = kRealBeyondDouble;
        in_range = false;
      } else if (wide > kSingleLimit) {
        result.failure = kRealOverflow;
        in_range = false;
      }
    }
    if (in_range) {
      float narrow = 0.0f;
      // Out of range here can only be an underflow to zero: overflow was
      // excluded above, and a subnormal result is returned normally.
      if (std::from_chars(number, last, narrow).ec != std::errc{}) narrow = 0.0f;
      result.value = negative ? -narrow : narrow;
    }
  }
  return result;
}

}  // namespace korven
