// Conversion of one numeric input field. The read statement gathers the
// field's characters (blanks and tabs already left out, the field ended by
// its width, a comma or the end of the record) and hands them here.
#pragma once

#include <cstdint>
#include <string_view>

namespace korven {

struct IntegerField {
  std::int32_t value;
  int failure;  // 0, kInvalidInteger or kIntegerOutOfRange
};

struct RealField {
  float value;
  int failure;  // 0, kInvalidReal, kRealOverflow or kRealBeyondDouble
};

// Iw: optional sign, then decimal digits only; empty or a lone sign is 0.
IntegerField convert_integer_field(std::string_view text);

// Fw.d: optional sign, digits with at most one point, optional exponent
// (E, D, e or d with an optionally signed integer, or a sign right after the
// digits). Without a point the digits carry `implied_decimals` decimals.
// Correctly rounded to the nearest single; empty is 0.
RealField convert_real_field(std::string_view text, int implied_decimals);

}  // namespace korven
