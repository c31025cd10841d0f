// Torsion: the row of s * tau, tau the dihedral angle of the chain I-J-K-L.
#include <cmath>

#include "bmatrix/kind_support.h"
#include "bmatrix/kinds.h"

namespace korven {

void torsion_row(ElementList& b, const Positions& x, std::int32_t atoms, std::int32_t row,
                 std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t l,
                 std::int32_t ix, std::int32_t jx, std::int32_t& error) {
  if (!four_atom_fields_valid(i, j, k, l, ix, jx, atoms)) {
    error = kFieldOutOfRange;
    return;
  }

  const Vec3 d1 = difference(position(x, j), position(x, i));
  const Vec3 d2 = difference(position(x, k), position(x, j));
  const Vec3 d3 = difference(position(x, l), position(x, k));
  const float r1 = length(d1);
  const float r2 = length(d2);
  const float r3 = length(d3);
  const Vec3 e1 = scaled_down(d1, r1);
  const Vec3 e2 = scaled_down(d2, r2);
  const Vec3 e3 = scaled_down(d3, r3);
  const Vec3 m = cross(e1, e2);
  const Vec3 nv = cross(e2, e3);
  const float c2 = -dot(e1, e2);  // cos of the angle I-J-K
  const float c3 = -dot(e3, e2);  // cos of the angle J-K-L
  if (!(1.0 - std::fabs(double(c2)) > 0.0) || !(1.0 - std::fabs(double(c3)) > 0.0)) {
    error = kDegenerateGeometry;  // a straight angle leaves the torsion undefined
    return;
  }
  // The squared sines, as squares of the single-precision sines.
  const float sin2 = static_cast<float>(std::sqrt(1.0 - double(c2) * c2));
  const float sin3 = static_cast<float>(std::sqrt(1.0 - double(c3) * c3));
  const float q2 = static_cast<float>(double(sin2) * sin2);
  const float q3 = static_cast<float>(double(sin3) * sin3);
  const double s = scale_length(x, ix, jx);

  // Wilson, Decius and Cross, "Molecular Vibrations" (1955), the s vectors of
  // a torsion, with m = e1 x e2 and n = e2 x e3:
  //   s_I = -m / (r1 sin^2 phi2)
  //   s_J = m (r2 - r1 cos phi2) / (r2 r1 sin^2 phi2) - n cos phi3 / (r2 sin^2 phi3)
  //   s_L = n / (r3 sin^2 phi3)
  //   s_K = -(s_I + s_J + s_L)
  // The size tests are made on the unscaled values.
  for (int n = 0; n < 3; ++n) {
    const float ai = static_cast<float>(-double(m[n]) / (double(r1) * q2));
    if (passes_size_test(ai)) append_element(b, row, column(i, n), s * ai);
    const float aj = static_cast<float>(
        double(m[n]) * (double(r2) - double(r1) * c2) / (double(r2) * r1 * q2) -
        double(nv[n]) * c3 / (double(r2) * q3));
    if (passes_size_test(aj)) append_element(b, row, column(j, n), s * aj);
    const float al = static_cast<float>(double(nv[n]) / (double(q3) * r3));
    if (passes_size_test(al)) append_element(b, row, column(l, n), s * al);
    const double ak = double(ai) + al + aj;
    if (passes_size_test(ak)) append_element(b, row, column(k, n), -s * ak);
  }
}

}  // namespace korven
