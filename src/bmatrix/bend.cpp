// Angle bend: the row of s * theta, theta the angle I-J-K at the apex J.
#include <cmath>

#include "bmatrix/kind_support.h"
#include "bmatrix/kinds.h"

namespace korven {

void bend_row(ElementList& b, const Positions& x, std::int32_t atoms, std::int32_t row,
              std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t l,
              std::int32_t ix, std::int32_t jx, std::int32_t& error) {
  if (!scale_fields_valid(ix, jx, atoms) || !names_atom(k, atoms) || !names_atom(j, atoms) ||
      !names_atom(i, atoms) || l != 0) {
    error = kFieldOutOfRange;
    return;
  }

  const Vec3 u = difference(position(x, i), position(x, j));
  const Vec3 v = difference(position(x, k), position(x, j));
  const float ru = length(u);
  const float rv = length(v);
  const Vec3 eu = scaled_down(u, ru);
  const Vec3 ev = scaled_down(v, rv);
  const float c = dot(eu, ev);  // cos theta
  if (!(1.0 - std::fabs(double(c)) > 0.0)) {
    error = kDegenerateGeometry;  // I, J, K in a line
    return;
  }
  const float sine = static_cast<float>(std::sqrt(1.0 - double(c) * c));
  const double s = scale_length(x, ix, jx);

  // Wilson, Decius and Cross, "Molecular Vibrations" (1955), the s vectors of
  // a valence angle bend:
  //   s_I = (cos theta e_u - e_v) / (r_u sin theta)
  //   s_K = (cos theta e_v - e_u) / (r_v sin theta)
  //   s_J = -(s_I + s_K)
  // The size tests are made on the scaled values.
  for (int n = 0; n < 3; ++n) {
    const float ti = static_cast<float>(s * (double(c) * eu[n] - ev[n]) / (double(ru) * sine));
    if (passes_size_test(ti)) append_element(b, row, column(i, n), ti);
    const float tk = static_cast<float>(s * (double(c) * ev[n] - eu[n]) / (double(rv) * sine));
    if (passes_size_test(tk)) append_element(b, row, column(k, n), tk);
    const double tj = double(ti) + tk;
    if (passes_size_test(tj)) append_element(b, row, column(j, n), -tj);
  }
}

}  // namespace korven
