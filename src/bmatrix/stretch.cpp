// Bond stretch: the row of the distance r = |x_J - x_I|.
#include "bmatrix/kind_support.h"
#include "bmatrix/kinds.h"

namespace korven {

void stretch_row(ElementList& b, const Positions& x, std::int32_t atoms, std::int32_t row,
                 std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t l,
                 std::int32_t ix, std::int32_t jx, std::int32_t& error) {
  if (!names_atom(j, atoms) || !names_atom(i, atoms) || k != 0 || l != 0 || ix != 0 ||
      jx != 0) {
    error = kFieldOutOfRange;
    return;
  }

  // Wilson, Decius and Cross, "Molecular Vibrations" (1955), the s vectors of
  // a stretch: the unit vector along the bond, -e at I and +e at J.
  const Vec3 d = difference(position(x, j), position(x, i));
  const float r = length(d);

  // The size test is made on the coordinate difference itself, so r is used
  // only for a component that passes: coincident atoms give no elements.
  for (int c = 0; c < 3; ++c) {
    if (!passes_size_test(d[c])) continue;
    append_element(b, row, column(i, c), -double(d[c]) / r);
    append_element(b, row, column(j, c), double(d[c]) / r);
  }
}

}  // namespace korven
