#include "records/decimal.h"

#include <bit>
#include <cstring>

namespace korven {
namespace {

constexpr std::uint32_t kLimbBase = 1000000000u;  // nine decimal digits a limb

// An unsigned integer in base 10^9, least significant limb first. A single
// real's exact value needs at most 2^24 * 5^149 (about 10^112) or 2^128.
struct BigDecimal {
  std::uint32_t limb[14];
  int size;

  void multiply(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (int i = 0; i < size; ++i) {
      const std::uint64_t t = static_cast<std::uint64_t>(limb[i]) * factor + carry;
      limb[i] = static_cast<std::uint32_t>(t % kLimbBase);
      carry = t / kLimbBase;
    }
    while (carry != 0) {
      limb[size++] = static_cast<std::uint32_t>(carry % kLimbBase);
      carry /= kLimbBase;
    }
  }
};

// Writes the decimal digits of v (1 ... 9 of them, no leading zeros) to out.
int limb_digits(std::uint32_t v, char* out) {
  char tmp[10];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (int i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
  return n;
}

}  // namespace

DecimalDigits decimal_digits(float value) {
  DecimalDigits d{};
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  const std::uint32_t biased = (bits >> 23) & 0xffu;
  std::uint32_t mantissa = bits & 0x7fffffu;
  if (biased == 0 && mantissa == 0) {
    d.count = 1;
    d.digits[0] = '0';
    d.exponent = 0;
    return d;
  }
  d.negative = (bits >> 31) != 0;
  int exp2;
  if (biased == 0) {
    exp2 = -149;
  } else {
    mantissa |= 0x800000u;
    exp2 = static_cast<int>(biased) - 150;
  }
  // The exact value is mantissa * 2^exp2 = N * 10^-shift with N an integer.
  BigDecimal n{{mantissa % kLimbBase, mantissa / kLimbBase}, mantissa >= kLimbBase ? 2 : 1};
  int shift = 0;
  if (exp2 >= 0) {
    for (int e = exp2; e > 0; e -= 29) n.multiply(1u << (e < 29 ? e : 29));
  } else {
    shift = -exp2;
    for (int e = shift; e > 0; e -= 13) {
      static constexpr std::uint32_t kPow5[14] = {1,      5,       25,       125,       625,
                                                  3125,   15625,   78125,    390625,    1953125,
                                                  9765625, 48828125, 244140625, 1220703125};
      n.multiply(kPow5[e < 13 ? e : 13]);
    }
  }
  // The first 18 significant digits (the 18th only decides the rounding).
  char head[27];
  int len = limb_digits(n.limb[n.size - 1], head);
  int total = len + 9 * (n.size - 1);
  for (int i = n.size - 2; i >= 0 && len < 18; --i) {
    std::uint32_t v = n.limb[i];
    for (int k = 8; k >= 0; --k) {
      head[len + k] = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    len += 9;
  }
  d.exponent = total - shift;
  int count = len < 17 ? len : 17;
  if (len > 17 && head[17] >= '5') {
    int i = 16;
    while (i >= 0 && head[i] == '9') head[i--] = '0';
    if (i >= 0) {
      ++head[i];
    } else {
      head[0] = '1';
      count = 1;
      ++d.exponent;
    }
  }
  while (count > 1 && head[count - 1] == '0') --count;
  d.count = count;
  std::memcpy(d.digits, head, static_cast<std::size_t>(count));
  return d;
}

}  // namespace korven
