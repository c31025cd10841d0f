#include "records/decimal.h"

#include <bit>

namespace korven {
namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr std::uint64_t kPow10[19] = {1ull,
                                      10ull,
                                      100ull,
                                      1000ull,
                                      10000ull,
                                      100000ull,
                                      1000000ull,
                                      10000000ull,
                                      100000000ull,
                                      1000000000ull,
                                      10000000000ull,
                                      100000000000ull,
                                      1000000000000ull,
                                      10000000000000ull,
                                      100000000000000ull,
                                      1000000000000000ull,
                                      10000000000000000ull,
                                      100000000000000000ull,
                                      1000000000000000000ull};

// D is the first 18 significant digits of the exact value rounded half up
// on the 18th: (head18 + 5) / 10. Rounding 17 nines up gives 10^17, which
// is D = 10^16 with the exponent one more.
DecimalDigits carried(bool negative, std::uint64_t d, int exponent) {
  if (d == kDecimalDigitsHigh) return {kDecimalDigitsLow, exponent + 1, negative};
  return {d, exponent, negative};
}

// ------------------------------------------------- the 128-bit integer path

// 5^0 ... 5^44; 2^24 * 5^44 is below 2^127.
struct Pow5Table {
  Uint128 p[45];
  constexpr Pow5Table() : p{} {
    p[0] = 1;
    for (int i = 1; i < 45; ++i) p[i] = p[i - 1] * 5;
  }
};
constexpr Pow5Table kPow5{};

// value = mantissa * 2^exp2, mantissa 2^23 ... 2^24 - 1 (a normal real).
// With 10^k <= value < 2 * 10^(k+1), the integer part of value * 10^(17-k)
// is below 2 * 10^18 and has 18 or 19 digits, the first 18 of which are the
// first 18 of the value. Exact in 128 bits for 0 <= 17 - k <= 44, which
// takes in every normal real from 2^-89 (about 1.6E-27) up to 2^60 (about
// 1.2E18); false for the rest.
bool digits_from_integers(bool negative, std::uint32_t mantissa, int exp2, DecimalDigits& out) {
  const int binade = exp2 + 23;        // 2^binade <= value < 2^(binade+1)
  const int k = (binade * 78913) >> 18;  // floor(binade * log10(2)) for |binade| < 1650
  const int j = 17 - k;
  if (j < 0 || j > 44) return false;
  // value * 10^j = mantissa * 5^j * 2^(exp2 + j)
  const Uint128 scaled = mantissa * kPow5.p[j];
  const int binary = exp2 + j;
  const std::uint64_t whole = binary >= 0 ? static_cast<std::uint64_t>(scaled << binary)
                                          : static_cast<std::uint64_t>(scaled >> -binary);
  // With 19 digits the first 18 are whole / 10, and (whole / 10 + 5) / 10
  // is (whole + 50) / 100: nested floor divisions combine.
  if (whole >= kPow10[18]) {
    out = carried(negative, (whole + 50) / 100, k + 2);
  } else {
    out = carried(negative, (whole + 5) / 10, k + 1);
  }
  return true;
}

// ------------------------------------------------- the big-number path

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

int decimal_length(std::uint32_t v) {
  int n = 1;
  while (n < 10 && v >= kPow10[n]) ++n;
  return n;
}

// Any real, subnormals included: the exact value as a big integer.
DecimalDigits digits_from_big_number(bool negative, std::uint32_t mantissa, int exp2) {
  // The exact value is mantissa * 2^exp2 = N * 10^-shift with N an integer.
  BigDecimal n{{mantissa % kLimbBase, mantissa / kLimbBase}, mantissa >= kLimbBase ? 2 : 1};
  int shift = 0;
  if (exp2 >= 0) {
    for (int e = exp2; e > 0; e -= 29) n.multiply(1u << (e < 29 ? e : 29));
  } else {
    shift = -exp2;
    for (int e = shift; e > 0; e -= 13) n.multiply(static_cast<std::uint32_t>(kPow5.p[e < 13 ? e : 13]));
  }
  // The first 18 digits of N, or all of them when it has fewer.
  const std::uint32_t top = n.limb[n.size - 1];
  int len = decimal_length(top);
  const int total = len + 9 * (n.size - 1);
  std::uint64_t head = top;
  for (int i = n.size - 2; i >= 0 && len < 18; --i) {
    const int take = 18 - len < 9 ? 18 - len : 9;
    head = head * kPow10[take] + n.limb[i] / kPow10[9 - take];
    len += take;
  }
  return carried(negative, (head * kPow10[18 - len] + 5) / 10, total - shift);
}

}  // namespace

DecimalDigits decimal_digits(float value) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  const std::uint32_t biased = (bits >> 23) & 0xffu;
  const std::uint32_t fraction = bits & 0x7fffffu;
  if (biased == 0 && fraction == 0) return {0, 0, false};
  const bool negative = (bits >> 31) != 0;
  if (biased == 0) return digits_from_big_number(negative, fraction, -149);
  const std::uint32_t mantissa = fraction | 0x800000u;
  const int exp2 = static_cast<int>(biased) - 150;
  DecimalDigits d;
  if (digits_from_integers(negative, mantissa, exp2, d)) return d;
  return digits_from_big_number(negative, mantissa, exp2);
}

}  // namespace korven
