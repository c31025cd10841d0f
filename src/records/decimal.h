// The exact decimal expansion of a single real, the one source of the digits
// that every real output field shows.
#pragma once

#include <cstdint>

namespace korven {

// value = sign 0.D x 10^exponent, D the first 17 significant digits of the
// exact value rounded half up on the 18th. The digits are carried as one
// integer: D = significand / 10^17, so significand is 10^16 ... 10^17 - 1
// (trailing zeros kept). Zero is significand 0, exponent 0, not negative
// (a negative zero included).
struct DecimalDigits {
  std::uint64_t significand;
  int exponent;
  bool negative;
};

inline constexpr std::uint64_t kDecimalDigitsLow = 10000000000000000ull;    // 10^16
inline constexpr std::uint64_t kDecimalDigitsHigh = 100000000000000000ull;  // 10^17

// Integer arithmetic only: safe while floating-point traps are on.
DecimalDigits decimal_digits(float value);

}  // namespace korven
