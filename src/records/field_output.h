// Output conversions: each turns one value and its edit into the characters
// of its field, right-justified (asterisks when the value does not fit).
// They write at `out` and return the end of what they wrote, which is width
// characters on from out, with one exception: under Ew.d with a scale factor
// above d + 1 (which E editing does not allow) the field holds every digit
// before the point and grows by the excess, scale - d - 1, when the value is
// shown. Integer arithmetic only: safe while floating-point traps are on.
#pragma once

#include <cstdint>

namespace korven {

char* format_integer(char* out, std::int32_t value, int width);
char* format_fixed(char* out, float value, int width, int decimals);
char* format_exponent(char* out, float value, int width, int decimals, int scale);

// The room format_exponent needs at out.
constexpr int exponent_field_room(int width, int decimals, int scale) {
  return scale > decimals + 1 ? width + scale - decimals - 1 : width;
}

}  // namespace korven
