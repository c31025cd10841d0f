// Single-precision 3-vectors for the B-row routines. Every operation forms
// its result in double and rounds it to float once, as the stored quantity
// of the geometry is a single: difference vectors, squared lengths, lengths,
// unit vectors, dot products (cosines) and cross products.
#pragma once

#include <array>
#include <cmath>

namespace korven {

using Vec3 = std::array<float, 3>;

// a - b.
inline Vec3 difference(const Vec3& a, const Vec3& b) {
  Vec3 d;
  for (int k = 0; k < 3; ++k) d[k] = static_cast<float>(double(a[k]) - double(b[k]));
  return d;
}

inline float dot(const Vec3& a, const Vec3& b) {
  const double sum = double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2];
  return static_cast<float>(sum);
}

inline float squared_length(const Vec3& a) { return dot(a, a); }

// |a|, taken from the single-precision squared length.
inline float length(const Vec3& a) {
  return static_cast<float>(std::sqrt(double(squared_length(a))));
}

// a / r. Coincident atoms give 0 / 0 here, an invalid operation that traps.
inline Vec3 scaled_down(const Vec3& a, float r) {
  Vec3 e;
  for (int k = 0; k < 3; ++k) e[k] = static_cast<float>(double(a[k]) / double(r));
  return e;
}

inline Vec3 cross(const Vec3& a, const Vec3& b) {
  Vec3 c;
  c[0] = static_cast<float>(double(a[1]) * b[2] - double(a[2]) * b[1]);
  c[1] = static_cast<float>(double(a[2]) * b[0] - double(a[0]) * b[2]);
  c[2] = static_cast<float>(double(a[0]) * b[1] - double(a[1]) * b[0]);
  return c;
}

}  // namespace korven
