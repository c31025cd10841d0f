// Output conversions: each turns one value and its edit into the characters
// of its field, right-justified (asterisks when the value does not fit).
// They write at `out` and return the end of what they wrote, which is width
// characters on from out, with one exception: under Ew.d with a scale factor
// above d + 1 (which E editing does not allow) the field holds every digit
// before the point and grows by the excess, scale - d - 1, when the value is
// shown. Integer arithmetic only: safe while floating-point traps are on.
#pragma once

#include <cstdint>
#include <cstring>

namespace korven {

// I3, the width of almost every integer a listing holds: the fields of
// -99 ... 999 spelt once, at compile time, and looked up.
struct I3Fields {
  static constexpr int kLow = -99;
  static constexpr int kHigh = 999;
  char field[kHigh - kLow + 1][4];
  constexpr I3Fields() : field{} {
    for (int v = kLow; v <= kHigh; ++v) {
      char* f = field[v - kLow];
      int mag = v < 0 ? -v : v;
      f[0] = f[1] = f[2] = ' ';
      for (int p = 2; p >= 0; --p) {
        f[p] = static_cast<char>('0' + mag % 10);
        mag /= 10;
        if (mag == 0) {
          if (v < 0) f[p - 1] = '-';
          break;
        }
      }
    }
  }
};
inline constexpr I3Fields kI3Fields{};

char* format_integer_plain(char* out, std::int32_t value, int width);
inline char* format_integer(char* out, std::int32_t value, int width) {
  if (width == 3 && value >= I3Fields::kLow && value <= I3Fields::kHigh) {
    std::memcpy(out, kI3Fields.field[value - I3Fields::kLow], 3);
    return out + 3;
  }
  return format_integer_plain(out, value, width);
}
char* format_fixed(char* out, float value, int width, int decimals);
// format_fixed without its shortcut for six decimals and small values; the
// tests hold each shortcut to the general way's bytes.
char* format_fixed_plain(char* out, float value, int width, int decimals);
char* format_exponent(char* out, float value, int width, int decimals, int scale);

// format_exponent without its shortcut for 1P,E12.5.
char* format_exponent_plain(char* out, float value, int width, int decimals, int scale);

// The room format_exponent needs at out.
constexpr int exponent_field_room(int width, int decimals, int scale) {
  return scale > decimals + 1 ? width + scale - decimals - 1 : width;
}

}  // namespace korven
