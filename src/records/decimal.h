// The exact decimal expansion of a single real, the one source of the digits
// that every real output field shows.
#pragma once

#include <cstdint>

namespace korven {

// value = sign 0.D x 10^exponent, D rounded to at most 17 significant digits
// (half up on the 18th) with trailing zeros dropped. Zero is D = "0",
// exponent 0, not negative (a negative zero included).
struct DecimalDigits {
  bool negative;
  int count;         // digits in D, 1 ... 17
  char digits[17];   // '0' ... '9', no leading zero unless the value is zero
  int exponent;
};

DecimalDigits decimal_digits(float value);

}  // namespace korven
