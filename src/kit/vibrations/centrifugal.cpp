#include "kit/vibrations/centrifugal.h"

#include <algorithm>
#include <cmath>

#include "kit/base/constants.h"

namespace korven::kit {
namespace {

constexpr double kKiloPerMega = 1000;

std::size_t index(int a, int b, int c, int d) { return static_cast<std::size_t>(27 * a + 9 * b + 3 * c + d); }

// τ_αβγδ in MHz. With ħ/I_α = 4π B_α (B in Hz), τ/h = −(4π)⁴ B_α B_β B_γ B_δ
// Σ_k a_k^{αβ} a_k^{γδ} / λ_k / (2h); a a/λ from u Å² / (mdyn Å⁻¹ u⁻¹) to
// SI is a factor u² · 10⁻²² (a² in u Å², λ = ω² in 100 N m⁻¹ u⁻¹).
std::array<std::optional<double>, 81> quartic_tau(const PrincipalModes& m, const PrincipalFrame& frame,
                                                  const std::vector<Mat3>& da) {
  Eigen::Matrix<double, 9, 9> s = Eigen::Matrix<double, 9, 9>::Zero();  // Σ_k vec(a_k) vec(a_k)ᵀ / λ_k
  for (std::size_t k = 0; k < da.size(); ++k) {
    const Eigen::Map<const Eigen::Matrix<double, 9, 1>> v(da[k].data());
    s += v * v.transpose() / m.eigenvalues[k];
  }
  const double u = kAtomicMassConstant, four_pi = 4 * kPi;
  const double factor = -0.5 * std::pow(four_pi, 4) * u * u * 1e-22 / kPlanck / 1e6;
  const bool linear = frame.type == RotorType::linear;
  Vec3 b = Vec3::Zero();
  for (int a = linear ? 1 : 0; a < 3; ++a) b(a) = rotational_constant_mhz(frame.moments(a)) * 1e6;
  std::array<std::optional<double>, 81> tau;
  for (int a = 0; a < 3; ++a)
    for (int be = 0; be < 3; ++be)
      for (int g = 0; g < 3; ++g)
        for (int d = 0; d < 3; ++d) {
          if (linear && (a == 0 || be == 0 || g == 0 || d == 0)) continue;
          // Mat3 is column-major: a(α, β) sits at 3β + α of vec(a).
          tau[index(a, be, g, d)] = factor * b(a) * b(be) * b(g) * b(d) * s(3 * be + a, 3 * d + g);
        }
  return tau;
}

double at(const std::array<std::optional<double>, 81>& tau, int a, int b, int c, int d) {
  return tau[index(a, b, c, d)].value_or(0.0);
}

// The classical quartic Hamiltonian in the axes x, y, z, as
// c1 J⁴ + c2 J²J_z² + c3 J_z⁴ + c4 J²P + c5 J_z²P + c6 P² (P = J_x² − J_y²),
// from J_x² = (J² − J_z² + P)/2 and J_y² = (J² − J_z² − P)/2; MHz.
struct Quartic {
  double c1, c2, c3, c4, c5, c6;
};

Quartic quartic_form(const std::array<std::optional<double>, 81>& tau, const std::array<int, 3>& xyz) {
  const int x = xyz[0], y = xyz[1], z = xyz[2];
  const double tx = at(tau, x, x, x, x), ty = at(tau, y, y, y, y), tz = at(tau, z, z, z, z);
  const double txy = at(tau, x, x, y, y) + 2 * at(tau, x, y, x, y);
  const double txz = at(tau, x, x, z, z) + 2 * at(tau, x, z, x, z);
  const double tyz = at(tau, y, y, z, z) + 2 * at(tau, y, z, y, z);
  const double w2 = (tx + ty + 2 * txy) / 4;  // of W² = (J² − J_z²)² in 4 × the Hamiltonian
  return {w2 / 4,
          (-2 * w2 + txz + tyz) / 4,
          (w2 + tz - txz - tyz) / 4,
          (tx - ty) / 8,
          (-(tx - ty) / 2 + txz - tyz) / 4,
          (tx + ty - 2 * txy) / 16};
}

// The contact transformation adds ε (J⁴ − 4J²J_z² + 3J_z⁴ − P² + 2σ J_z²P),
// the classical limit of its commutator with B_x J_x² + B_y J_y² + B_z J_z².
Quartic transformed(Quartic q, double epsilon, double sigma) {
  q.c1 += epsilon;
  q.c2 -= 4 * epsilon;
  q.c3 += 3 * epsilon;
  q.c5 += 2 * sigma * epsilon;
  q.c6 -= epsilon;
  return q;
}

WatsonA a_reduction(const Quartic& q0, double sigma) {
  const Quartic q = transformed(q0, q0.c6, sigma);  // no P² left
  return {-q.c1 * kKiloPerMega, -q.c2 * kKiloPerMega, -q.c3 * kKiloPerMega, -q.c4 / 2 * kKiloPerMega,
          -q.c5 / 2 * kKiloPerMega};
}

// With J_+⁴ + J_−⁴ = 4P² − 2(J² − J_z²)² and J_+² + J_−² = 2P.
WatsonS s_reduction(const Quartic& q0, double sigma) {
  const Quartic q = transformed(q0, -q0.c5 / (2 * sigma), sigma);  // no J_z²P left
  return {-(q.c1 + q.c6 / 2) * kKiloPerMega, -(q.c2 - q.c6) * kKiloPerMega, -(q.c3 + q.c6 / 2) * kKiloPerMega,
          q.c4 / 2 * kKiloPerMega, q.c6 / 4 * kKiloPerMega};
}

// A symmetric top's orthorhombic part is cylindrical (c6 = 0) for threefold
// and higher axes; written as the S form it is the same D's for any choice of
// x and y in the degenerate plane.
SymmetricTopDistortion symmetric_top(const Quartic& q) {
  return {-(q.c1 + q.c6 / 2) * kKiloPerMega, -(q.c2 - q.c6) * kKiloPerMega, -(q.c3 + q.c6 / 2) * kKiloPerMega};
}

// D_J = −⟨F⟩ over the unit sphere of F(J) = (1/4) Σ τ J J J J, which is
// −(1/60) Σ_αβ (τ_ααββ + 2 τ_αβαβ). D_T from the map X ↦ S : X of F's fully
// symmetric tensor S on traceless symmetric 3 × 3 matrices: in cubic
// symmetry its eigenvalues are one value twice (the diagonal matrices of the
// cubic axes) and another three times, and their difference is D_T.
SphericalTopDistortion spherical_top(const std::array<std::optional<double>, 81>& tau) {
  double mean = 0;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) mean += (at(tau, a, a, b, b) + 2 * at(tau, a, b, a, b)) / 60;
  const double r2 = std::sqrt(0.5), r6 = std::sqrt(1.0 / 6);
  std::array<Mat3, 5> basis;
  basis[0] << r2, 0, 0, 0, -r2, 0, 0, 0, 0;
  basis[1] << r6, 0, 0, 0, r6, 0, 0, 0, -2 * r6;
  basis[2] << 0, r2, 0, r2, 0, 0, 0, 0, 0;
  basis[3] << 0, 0, r2, 0, 0, 0, r2, 0, 0;
  basis[4] << 0, 0, 0, 0, 0, r2, 0, r2, 0;
  Matrix k = Matrix::Zero(5, 5);
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j)
      for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b)
          for (int c = 0; c < 3; ++c)
            for (int d = 0; d < 3; ++d) {
              const double s = (at(tau, a, b, c, d) + at(tau, a, c, b, d) + at(tau, a, d, b, c)) / 12;
              k(i, j) += s * basis[static_cast<std::size_t>(i)](a, b) * basis[static_cast<std::size_t>(j)](c, d);
            }
  const Vector e = symmetric_eigenvalues(k);
  // The split into two and three with the smaller spread within each.
  const bool pair_low = e(1) - e(0) + e(4) - e(2) <= e(4) - e(3) + e(2) - e(0);
  const double pair = pair_low ? (e(0) + e(1)) / 2 : (e(3) + e(4)) / 2;
  const double triple = pair_low ? (e(2) + e(3) + e(4)) / 3 : (e(0) + e(1) + e(2)) / 3;
  return {-mean * kKiloPerMega, (pair - triple) * kKiloPerMega};
}

double relative(double left, double right, double scale) {
  const double s = std::max({std::abs(left), std::abs(right), scale});
  return s > 0 ? std::abs(left - right) / s : 0.0;
}

PlanarityCheck planarity(const std::array<std::optional<double>, 81>& tau, const Vec3& i) {
  const double aaaa = at(tau, 0, 0, 0, 0), bbbb = at(tau, 1, 1, 1, 1), aabb = at(tau, 0, 0, 1, 1);
  const double ia2 = i(0) * i(0), ib2 = i(1) * i(1), ic2 = i(2) * i(2);
  PlanarityCheck p;
  p.relative_residuals = {
      relative(ic2 * ic2 * at(tau, 2, 2, 2, 2), ia2 * ia2 * aaaa + 2 * ia2 * ib2 * aabb + ib2 * ib2 * bbbb, 0),
      relative(ia2 * ic2 * at(tau, 0, 0, 2, 2), ia2 * ia2 * aaaa + ia2 * ib2 * aabb, 0),
      relative(ib2 * ic2 * at(tau, 1, 1, 2, 2), ib2 * ib2 * bbbb + ia2 * ib2 * aabb, 0),
      relative(at(tau, 0, 2, 0, 2), 0, std::abs(aaaa)),
      relative(at(tau, 1, 2, 1, 2), 0, std::abs(aaaa)),
  };
  p.largest = *std::max_element(p.relative_residuals.begin(), p.relative_residuals.end());
  return p;
}

}  // namespace

std::string_view representation_name(Representation r) {
  switch (r) {
    case Representation::Ir: return "Ir";
    case Representation::IIr: return "IIr";
    case Representation::IIIr: return "IIIr";
    case Representation::Il: return "Il";
    case Representation::IIl: return "IIl";
    case Representation::IIIl: break;
  }
  return "IIIl";
}

std::optional<Representation> parse_representation(std::string_view text) {
  for (Representation r : {Representation::Ir, Representation::IIr, Representation::IIIr, Representation::Il,
                           Representation::IIl, Representation::IIIl})
    if (text == representation_name(r)) return r;
  return std::nullopt;
}

std::array<int, 3> representation_axes(Representation r) {
  switch (r) {
    case Representation::Ir: return {1, 2, 0};
    case Representation::IIr: return {2, 0, 1};
    case Representation::IIIr: return {0, 1, 2};
    case Representation::Il: return {2, 1, 0};
    case Representation::IIl: return {0, 2, 1};
    case Representation::IIIl: break;
  }
  return {1, 0, 2};
}

CentrifugalDistortion centrifugal_distortion(const PrincipalModes& modes, const PrincipalFrame& frame,
                                             const std::vector<Mat3>& inertia_derivatives,
                                             Representation representation, bool planar) {
  CentrifugalDistortion c;
  c.tau_mhz = quartic_tau(modes, frame, inertia_derivatives);
  c.representation = representation;
  switch (frame.type) {
    case RotorType::linear: c.linear_d = -at(c.tau_mhz, 1, 1, 1, 1) / 4 * kKiloPerMega; break;
    case RotorType::spherical: c.spherical_top = spherical_top(c.tau_mhz); break;
    case RotorType::prolate: c.symmetric_top = symmetric_top(quartic_form(c.tau_mhz, {1, 2, 0})); break;
    case RotorType::oblate: c.symmetric_top = symmetric_top(quartic_form(c.tau_mhz, {0, 1, 2})); break;
    case RotorType::asymmetric: {
      const std::array<int, 3> xyz = representation_axes(representation);
      const double bx = rotational_constant_mhz(frame.moments(xyz[0])), by = rotational_constant_mhz(frame.moments(xyz[1])),
                   bz = rotational_constant_mhz(frame.moments(xyz[2]));
      const double sigma = (2 * bz - bx - by) / (bx - by);
      const Quartic q = quartic_form(c.tau_mhz, xyz);
      c.a_reduction = a_reduction(q, sigma);
      c.s_reduction = s_reduction(q, sigma);
      break;
    }
  }
  if (planar) c.planarity = planarity(c.tau_mhz, frame.moments);
  return c;
}

}  // namespace korven::kit
