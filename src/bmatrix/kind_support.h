// Small pieces shared by the B-row routines: atom and column numbers, the
// range checks, the size test, the scale length and appending an element.
#pragma once

#include <cmath>
#include <cstdint>

#include "bmatrix/b_matrix.h"
#include "bmatrix/element_list.h"
#include "bmatrix/kinds.h"
#include "bmatrix/vec3.h"
#include "deck/problem.h"

namespace korven {

// A field used as an atom must name one of the problem's atoms.
inline bool names_atom(std::int32_t field, std::int32_t atoms) {
  return field >= 1 && field <= atoms;
}

// IX and JX are checked against N even when no scale length is asked for;
// with IX positive, JX must name an atom as well.
inline bool scale_fields_valid(std::int32_t ix, std::int32_t jx, std::int32_t atoms) {
  if (ix > atoms || jx > atoms) return false;
  return ix <= 0 || jx >= 1;
}

// The range checks of the kinds with four atoms and a scale length.
inline bool four_atom_fields_valid(std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t l,
                                   std::int32_t ix, std::int32_t jx, std::int32_t atoms) {
  return scale_fields_valid(ix, jx, atoms) && names_atom(l, atoms) && names_atom(k, atoms) &&
         names_atom(j, atoms) && names_atom(i, atoms);
}

inline const Vec3& position(const Positions& x, std::int32_t atom) { return x[atom - 1]; }

// Column of component k (0 for x, 1 for y, 2 for z) of an atom.
inline std::int32_t column(std::int32_t atom, int k) { return 3 * (atom - 1) + k + 1; }

// The size test: strictly above the threshold in magnitude.
inline bool passes_size_test(double q) {
  return std::fabs(q) - double(kSizeThreshold) > 0.0;
}

// Appends one element, its value rounded to single precision.
inline void append_element(ElementList& b, std::int32_t row, std::int32_t col, double value) {
  b.push_back(Element{row, col, static_cast<float>(value)});
}

// |x_JX - x_IX| when IX is positive and the distance is not zero, else 1.
// The scale length multiplies a row; it is not differentiated.
inline float scale_length(const Positions& x, std::int32_t ix, std::int32_t jx) {
  if (ix <= 0) return 1.0f;
  const float r = length(difference(position(x, jx), position(x, ix)));
  return r == 0.0f ? 1.0f : r;
}

}  // namespace korven
