#include "records/field_output.h"

#include <cstring>

#include "records/decimal.h"

namespace korven {
namespace {

// The digit string of a real being written, and its rounding to the digits
// a field shows (at most 7, the precision of a single real).
struct Digits {
  bool negative;
  int count;
  char d[17];
  int exponent;

  char at(int i) const { return i < count ? d[i] : '0'; }

  // Rounds to n digits; returns true on a carry into a new leading digit.
  bool round_to(int n) {
    if (n > 7) n = 7;
    if (n >= count) return false;
    if (n == 0) {
      const bool up = d[0] >= '5';
      count = up ? 1 : 0;
      if (up) d[0] = '1';
      else if (negative) negative = false;
      return up;
    }
    if (d[n] >= '5') {
      int i = n - 1;
      while (i >= 0 && d[i] == '9') --i;
      if (i < 0) {
        d[0] = '1';
        count = 1;
        return true;
      }
      ++d[i];
      count = i + 1;
      return false;
    }
    count = n;
    while (count > 0 && d[count - 1] == '0') --count;
    if (count == 0) negative = false;
    return false;
  }
};

Digits digits_of(float value) {
  const DecimalDigits dd = decimal_digits(value);
  Digits g{dd.negative, dd.count, {}, dd.exponent};
  std::memcpy(g.d, dd.digits, static_cast<std::size_t>(dd.count));
  if (dd.count == 1 && dd.digits[0] == '0') g.count = 0;  // zero: no digits at all
  return g;
}

// The characters of a real field: the sign, b digits before the point, the
// point, -b zeros, then the rest of the s digits.
int mantissa_length(const Digits& g, int b, int s) {
  const int before = b > 0 ? b : (s == 0 && b == 0 ? 1 : 0);
  return (g.negative ? 1 : 0) + before + 1 + (b < 0 ? -b : 0) + s - (b > 0 ? b : 0);
}

void append_mantissa(std::string& out, const Digits& g, int b, int s) {
  if (g.negative) out.push_back('-');
  int next = 0;
  if (b > 0) {
    for (; next < b; ++next) out.push_back(g.at(next));
  } else if (s == 0 && b == 0) {
    out.push_back('0');
  }
  out.push_back('.');
  if (b < 0) out.append(static_cast<std::size_t>(-b), '0');
  const int after = s - (b > 0 ? b : 0);
  for (int i = 0; i < after; ++i) out.push_back(g.at(next++));
}

}  // namespace

void format_integer(std::string& out, std::int32_t value, int width) {
  char buf[12];
  int n = 12;
  std::uint32_t mag = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  do {
    buf[--n] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  if (value < 0) buf[--n] = '-';
  if (12 - n > width) {
    out.append(static_cast<std::size_t>(width), '*');
    return;
  }
  out.append(static_cast<std::size_t>(width - (12 - n)), ' ');
  out.append(buf + n, static_cast<std::size_t>(12 - n));
}

void format_fixed(std::string& out, float value, int width, int decimals) {
  Digits g = digits_of(value);
  int b = 0;
  int s = decimals;
  if (g.count != 0) {
    b = g.exponent;
    s = g.exponent + decimals;
    if (b < -decimals) {  // below the last decimal shown: all zeros, no sign
      b = -decimals;
      s = 0;
      g.count = 0;
      g.negative = false;
    } else if (g.round_to(s)) {
      ++b;
      ++s;
    }
  }
  const int length = mantissa_length(g, b, s);
  if (length > width) {
    out.append(static_cast<std::size_t>(width), '*');
    return;
  }
  out.append(static_cast<std::size_t>(width - length), ' ');
  append_mantissa(out, g, b, s);
}

void format_exponent(std::string& out, float value, int width, int decimals, int scale) {
  Digits g = digits_of(value);
  const bool zero = g.count == 0;
  const int b = scale;
  const int s = scale > 0 ? decimals + 1 : decimals + scale;
  int x = g.exponent;
  if (!zero && g.round_to(s < 0 ? 0 : s) && s > 0) ++x;
  const int e = zero ? 0 : x - scale;
  const int mag = e < 0 ? -e : e;
  const int length = mantissa_length(g, b, s < 0 ? 0 : s) + 4;
  if (length > width) {
    out.append(static_cast<std::size_t>(width), '*');
    return;
  }
  out.append(static_cast<std::size_t>(width - length), ' ');
  append_mantissa(out, g, b, s < 0 ? 0 : s);
  if (mag <= 99) out.push_back('E');
  out.push_back(e < 0 ? '-' : '+');
  if (mag > 99) out.push_back(static_cast<char>('0' + mag / 100 % 10));
  out.push_back(static_cast<char>('0' + mag / 10 % 10));
  out.push_back(static_cast<char>('0' + mag % 10));
}

}  // namespace korven
