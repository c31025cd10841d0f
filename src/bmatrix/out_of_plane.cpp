// Out-of-plane angle: the row of s * theta, theta the angle between the bond
// J->I and the plane of K, J and L.
#include <cmath>

#include "bmatrix/kind_support.h"
#include "bmatrix/kinds.h"

namespace korven {

void out_of_plane_row(ElementList& b, const Positions& x, std::int32_t atoms, std::int32_t row,
                      std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t l,
                      std::int32_t ix, std::int32_t jx, std::int32_t& error) {
  if (!four_atom_fields_valid(i, j, k, l, ix, jx, atoms)) {
    error = kFieldOutOfRange;
    return;
  }

  const Vec3& centre = position(x, j);
  const Vec3 d1 = difference(position(x, i), centre);
  const Vec3 d2 = difference(position(x, k), centre);
  const Vec3 d3 = difference(position(x, l), centre);
  const float r1 = length(d1);
  const float r2 = length(d2);
  const float r3 = length(d3);
  const Vec3 e1 = scaled_down(d1, r1);
  const Vec3 e2 = scaled_down(d2, r2);
  const Vec3 e3 = scaled_down(d3, r3);
  const Vec3 n23 = cross(e2, e3);
  const Vec3 n31 = cross(e3, e1);
  const Vec3 n12 = cross(e1, e2);
  const float triple = dot(e1, n23);

  const float c = dot(e2, e3);  // cos phi, phi the angle K-J-L
  if (!(1.0 - std::fabs(double(c)) > 0.0)) {
    error = kDegenerateGeometry;  // K, J, L in a line: no plane
    return;
  }
  const float sin_phi = static_cast<float>(std::sqrt(1.0 - double(c) * c));
  const float sin_theta = static_cast<float>(double(triple) / sin_phi);
  if (!(1.0 - std::fabs(double(sin_theta)) > 0.0)) {
    error = kPerpendicularOutOfPlane;  // the bond stands normal to the plane
    return;
  }
  const float cos_theta = static_cast<float>(std::sqrt(1.0 - double(sin_theta) * sin_theta));
  const float tan_theta = static_cast<float>(double(sin_theta) / cos_theta);
  const float p = static_cast<float>(double(cos_theta) * sin_phi);
  const float q = static_cast<float>(double(sin_phi) * sin_phi);
  const double s = scale_length(x, ix, jx);

  // Wilson, Decius and Cross, "Molecular Vibrations" (1955), the s vectors of
  // an out-of-plane wag, sin theta = e1 . (e2 x e3) / sin phi:
  //   s_I = ((e2 x e3) / (cos theta sin phi) - tan theta e1) / r1
  //   s_K = ((e3 x e1) / (cos theta sin phi) - tan theta (e2 - cos phi e3) / sin^2 phi) / r2
  //   s_L = ((e1 x e2) / (cos theta sin phi) - tan theta (e3 - cos phi e2) / sin^2 phi) / r3
  //   s_J = -(s_I + s_K + s_L)
  // The size tests are made on the unscaled values.
  for (int n = 0; n < 3; ++n) {
    const float ai =
        static_cast<float>((double(n23[n]) / p - double(tan_theta) * e1[n]) / r1);
    if (passes_size_test(ai)) append_element(b, row, column(i, n), s * ai);
    const float ak = static_cast<float>(
        (double(n31[n]) / p - double(tan_theta) * (double(e2[n]) - double(c) * e3[n]) / q) / r2);
    if (passes_size_test(ak)) append_element(b, row, column(k, n), s * ak);
    const float al = static_cast<float>(
        (double(n12[n]) / p - double(tan_theta) * (double(e3[n]) - double(c) * e2[n]) / q) / r3);
    if (passes_size_test(al)) append_element(b, row, column(l, n), s * al);
    const float aj = static_cast<float>(double(al) + ak + ai);
    if (passes_size_test(aj)) append_element(b, row, column(j, n), -s * aj);
  }
}

}  // namespace korven
