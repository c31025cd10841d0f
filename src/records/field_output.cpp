#include "records/field_output.h"

#include <bit>
#include <cstring>

#include "records/decimal.h"

namespace korven {
namespace {

constexpr std::uint32_t kPow10[10] = {1,      10,      100,      1000,      10000,
                                      100000, 1000000, 10000000, 100000000, 1000000000};

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The two digits of v < 100.
void put_pair(char* p, std::uint32_t v) { std::memcpy(p, kDigitPairs + 2 * v, 2); }

// The short stretches of a field are written with a few overlapping stores
// rather than a library call.
char* put_run(char* p, int n, char c) {
  if (n <= 0) return p;
  const std::uint64_t word = 0x0101010101010101ull * static_cast<unsigned char>(c);
  if (n > 16) {
    std::memset(p, c, static_cast<std::size_t>(n));
  } else if (n >= 8) {
    std::memcpy(p, &word, 8);
    std::memcpy(p + n - 8, &word, 8);
  } else if (n >= 4) {
    const auto half = static_cast<std::uint32_t>(word);
    std::memcpy(p, &half, 4);
    std::memcpy(p + n - 4, &half, 4);
  } else {
    p[0] = c;
    p[n / 2] = c;
    p[n - 1] = c;
  }
  return p + n;
}

// Copies n <= 8 characters.
char* put_short(char* p, const char* from, int n) {
  if (n >= 4) {
    std::memcpy(p, from, 4);
    std::memcpy(p + n - 4, from + n - 4, 4);
  } else if (n > 0) {
    p[0] = from[0];
    p[n / 2] = from[n / 2];
    p[n - 1] = from[n - 1];
  }
  return p + (n > 0 ? n : 0);
}

// The eight digits of v < 10^8 as characters, most significant first, those
// from position `shown` on read as zeros. Each step splits every lane of the
// word in two with a multiplication that divides exactly in its range: two
// halves of four digits, then four pairs, then eight digits.
void spell_digits(std::uint32_t v, int shown, char (&out)[8]) {
  std::uint64_t x = v / 10000 | static_cast<std::uint64_t>(v % 10000) << 32;
  std::uint64_t q = (x * 10486 >> 20) & 0x0000007f0000007full;  // y / 100 for y < 10^4
  x = q | (x - 100 * q) << 16;
  q = (x * 103 >> 10) & 0x000f000f000f000full;  // y / 10 for y < 100
  x = q | (x - 10 * q) << 8;                    // byte i holds digit i
  if (shown < 8) x &= (std::uint64_t{1} << (8 * shown)) - 1;
  x |= 0x3030303030303030ull;
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  std::memcpy(out, &x, 8);
}

// The digits of a real being written, and their rounding to the digits a
// field shows (at most 7, the precision of a single real). Only D's first
// eight digits can reach a field: seven shown and one that rounds them.
struct Digits {
  bool negative;
  std::uint32_t lead;  // D's first eight digits as an integer; 0 for zero
  int shown;           // how many of them stand: the rest read as zeros
  int exponent;

  explicit Digits(float value) {
    const DecimalDigits d = decimal_digits(value);
    negative = d.negative;
    lead = static_cast<std::uint32_t>(d.significand / 1000000000u);
    shown = 8;
    exponent = d.exponent;
  }

  bool zero() const { return lead == 0; }

  // Rounds to n >= 0 digits, half up: half a unit of the last digit kept is
  // added and the digits after it are dropped. Returns true on a carry into
  // a new leading digit. Rounded to nothing a value is a zero without a sign.
  bool round_to(int n) {
    if (n > 7) n = 7;
    lead += 5 * kPow10[7 - n];
    if (lead >= kPow10[8]) {
      lead = kPow10[7];
      shown = 1;
      return true;
    }
    shown = n;
    if (lead < kPow10[8 - n]) {
      lead = 0;
      negative = false;
    }
    return false;
  }
};

// The characters of a real field: the sign, b digits before the point, the
// point, -b zeros, then the rest of the s digits.
int mantissa_length(const Digits& g, int b, int s) {
  const int before = b > 0 ? b : (s == 0 && b == 0 ? 1 : 0);
  return (g.negative ? 1 : 0) + before + 1 + (b < 0 ? -b : 0) + s - (b > 0 ? b : 0);
}

// n digits from position `from` on; zeros past the eighth.
char* put_digits(char* p, const char (&d)[8], int from, int n) {
  if (n <= 0) return p;
  const int present = from >= 8 ? 0 : (8 - from < n ? 8 - from : n);
  return put_run(put_short(p, d + from, present), n - present, '0');
}

char* put_mantissa(char* p, const Digits& g, int b, int s) {
  char d[8];
  spell_digits(g.lead, g.shown, d);
  *p = '-';  // kept only when negative: the sign is as likely as not
  p += g.negative ? 1 : 0;
  if (b > 0) {
    p = put_digits(p, d, 0, b);
  } else if (s == 0 && b == 0) {
    *p++ = '0';
  }
  *p++ = '.';
  p = put_run(p, -b, '0');
  return put_digits(p, d, b > 0 ? b : 0, s - (b > 0 ? b : 0));
}


}  // namespace

char* format_integer_plain(char* out, std::int32_t value, int width) {
  std::uint32_t mag = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  int digits = 1;
  while (digits < 10 && mag >= kPow10[digits]) ++digits;
  if (digits + (value < 0 ? 1 : 0) > width) return put_run(out, width, '*');
  put_run(out, width, ' ');
  char* p = out + width;
  for (; mag >= 100; mag /= 100) put_pair(p -= 2, mag % 100);
  if (mag >= 10) {
    put_pair(p -= 2, mag);
  } else {
    *--p = static_cast<char>('0' + mag);
  }
  if (value < 0) *--p = '-';
  return out + width;
}

namespace {

// F editing with six decimals, the edit of every element a listing holds,
// for |value| < 8, straight from the binary value: X = |value| * 10^6 =
// P / 2^k with P = mantissa * 15625 exactly, and the field shows X rounded
// half up. The general way rounds the 17 digits of the decimal expansion
// instead, which differs only when X lies below a half by less than half a
// unit of the 17th digit (5E-11 here): a value within 2^-29 of a half is
// left to it, so the two always agree. Returns nullptr when it leaves the
// value to the general way.
char* format_six_decimals(char* out, float value, int width) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  const std::uint32_t biased = (bits >> 23) & 0xffu;
  if (biased > 129) return nullptr;  // 8 and above
  std::uint32_t q = 0;
  if (biased >= 100) {  // below 2^-27 X rounds to nothing
    const int k = 144 - static_cast<int>(biased);  // 15 ... 44
    const std::uint64_t p = static_cast<std::uint64_t>((bits & 0x7fffffu) | 0x800000u) * 15625u;
    const std::uint64_t unit = std::uint64_t{1} << k;
    const std::uint64_t fraction = p & (unit - 1);
    const std::uint64_t half = unit >> 1;
    q = static_cast<std::uint32_t>(p >> k);
    if (fraction >= half) {
      ++q;
    } else if (half - fraction <= unit >> 29) {
      return nullptr;
    }
  }
  // The sign stands only before a value that shows a digit; |value| < 8
  // shows at most "-8.000000", nine characters.
  const bool negative = (bits >> 31) != 0 && q != 0;
  const int length = (q >= 1000000u ? 8 : 7) + (negative ? 1 : 0);
  put_run(out, width - length, ' ');
  char* p = out + width - length;
  *p = '-';
  p += negative ? 1 : 0;
  if (q >= 1000000u) *p++ = static_cast<char>('0' + q / 1000000u);
  *p++ = '.';
  const std::uint32_t decimals = q % 1000000u;
  put_pair(p, decimals / 10000u);
  put_pair(p + 2, decimals / 100u % 100u);
  put_pair(p + 4, decimals % 100u);
  return p + 6;
}

}  // namespace

char* format_fixed(char* out, float value, int width, int decimals) {
  if (decimals == 6 && width >= 9) {
    if (char* end = format_six_decimals(out, value, width)) return end;
  }
  return format_fixed_plain(out, value, width, decimals);
}

char* format_fixed_plain(char* out, float value, int width, int decimals) {
  Digits g(value);
  int b = 0;
  int s = decimals;
  if (!g.zero()) {
    b = g.exponent;
    s = g.exponent + decimals;
    if (b < -decimals) {  // below the last decimal shown: all zeros, no sign
      b = -decimals;
      s = 0;
      g.lead = 0;
      g.negative = false;
    } else if (g.round_to(s)) {
      ++b;
      ++s;
    }
  }
  const int length = mantissa_length(g, b, s);
  if (length > width) return put_run(out, width, '*');
  put_run(out, width, ' ');
  return put_mantissa(out + width - length, g, b, s);
}

namespace {

// 1P,E12.5, the edit of every factoring report, written straight from the
// six digits shown: d.ddddd, then the exponent (a single real's is at most
// two digits), with the general way's rounding.
char* format_one_scaled_five(char* out, float value) {
  Digits g(value);
  int e = 0;
  if (!g.zero()) {
    e = g.exponent - 1;
    if (g.round_to(6)) ++e;
  }
  const std::uint32_t six = g.lead / 100u;  // the six digits shown, or 0
  out[0] = g.negative ? '-' : ' ';
  out[1] = static_cast<char>('0' + six / 100000u);
  out[2] = '.';
  const std::uint32_t rest = six % 100000u;
  out[3] = static_cast<char>('0' + rest / 10000u);
  put_pair(out + 4, rest / 100u % 100u);
  put_pair(out + 6, rest % 100u);
  out[8] = 'E';
  out[9] = e < 0 ? '-' : '+';
  put_pair(out + 10, static_cast<std::uint32_t>(e < 0 ? -e : e));
  return out + 12;
}

}  // namespace

char* format_exponent(char* out, float value, int width, int decimals, int scale) {
  if (width == 12 && decimals == 5 && scale == 1) return format_one_scaled_five(out, value);
  return format_exponent_plain(out, value, width, decimals, scale);
}

char* format_exponent_plain(char* out, float value, int width, int decimals, int scale) {
  Digits g(value);
  const bool zero = g.zero();
  const int b = scale;
  const int s = scale > 0 ? decimals + 1 : decimals + scale;
  int x = g.exponent;
  if (!zero && g.round_to(s < 0 ? 0 : s) && s > 0) ++x;
  const int e = zero ? 0 : x - scale;
  const int mag = e < 0 ? -e : e;
  const int length = mantissa_length(g, b, s < 0 ? 0 : s) + 4;
  if (length > width) return put_run(out, width, '*');
  put_run(out, width, ' ');
  char* p = put_mantissa(out + width - length, g, b, s < 0 ? 0 : s);
  if (mag <= 99) *p++ = 'E';
  *p++ = e < 0 ? '-' : '+';
  if (mag > 99) *p++ = static_cast<char>('0' + mag / 100 % 10);
  put_pair(p, static_cast<std::uint32_t>(mag % 100));
  return p + 2;
}

}  // namespace korven
