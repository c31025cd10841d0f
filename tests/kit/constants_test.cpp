// Molecular constants from chosen valence force fields (H = Bᵀ F B, B by
// central differences), each checked against a computation made here: closed
// forms for diatomics, the linear XY2 molecule, the planarity relations and
// the Coriolis sum rules; τ from central differences of the inertia tensor
// along the normal coordinates; mean amplitudes from a dense Cartesian
// mean-square matrix over modes found here; the reductions against the
// quartic Hamiltonian they come from.
#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>

#include <cmath>
#include <complex>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "kit/base/kit_error.h"
#include "kit/vibrations/molecular_constants.h"
#include "kit/vibrations/vibrations.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

using testing::b_matrix;
using testing::bend;
using testing::Coordinate;
using testing::ForceFieldMolecule;
using testing::Geometry;
using testing::kPi;
using testing::out_of_plane;
using testing::stretch;

// CODATA 2018, written out here rather than taken from the library.
constexpr double kH = 6.62607015e-34;        // J s
constexpr double kHbar = kH / (2 * kPi);
constexpr double kC = 299792458.0;           // m/s
constexpr double kKB = 1.380649e-23;         // J/K
constexpr double kU = 1.66053906660e-27;     // kg
// Isotope masses (u), AME 2016.
constexpr double mH = 1.00782503223, mD = 2.01410177812, mC = 12.0, m13C = 13.00335483507, mN = 14.00307400443,
                 mO = 15.99491461957, mCl = 34.968852682;

// ---- The molecules ----------------------------------------------------------

struct Model {
  Geometry x;
  std::vector<double> masses;
  std::vector<Coordinate> coords;
  Matrix f;  // over coords
};

Model from(const ForceFieldMolecule& m) { return {m.x, m.masses, m.independent, m.f}; }

Coordinate dihedral(int a, int b, int c, int d) {
  return [=](const Geometry& x) {
    const Vec3 b1 = x[b] - x[a], b2 = x[c] - x[b], b3 = x[d] - x[c];
    return std::atan2(b2.norm() * b1.dot(b2.cross(b3)), b1.cross(b2).dot(b2.cross(b3)));
  };
}

Model diatomic(double m1, double m2) {  // H–Cl, k = 5.16 mdyn/Å
  Model m{{{0, 0, 0}, {0, 0, 1.2746}}, {m1, m2}, {stretch(0, 1)}, Matrix::Constant(1, 1, 5.16)};
  return m;
}

// Tetrahedral CH4 (C at the origin, the cube's axes along x, y, z), four
// stretches and six bends.
Model methane() {
  const double s = 1.087 / std::sqrt(3.0);
  Model m{{{0, 0, 0}, {s, s, s}, {s, -s, -s}, {-s, s, -s}, {-s, -s, s}}, {mC, mH, mH, mH, mH}, {}, Matrix::Zero(10, 10)};
  for (int h = 1; h <= 4; ++h) m.coords.push_back(stretch(0, h));
  for (int h = 1; h <= 4; ++h)
    for (int g = h + 1; g <= 4; ++g) m.coords.push_back(bend(h, 0, g));
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m.f(i, j) = i == j ? 5.0 : 0.02;
  for (int i = 4; i < 10; ++i) m.f(i, i) = 0.55;
  return m;
}

// Planar C2H4 in the xy plane, C=C along x.
Model ethylene() {
  Model m{{{-0.6695, 0, 0}, {0.6695, 0, 0}, {-1.2321, 0.9289, 0}, {-1.2321, -0.9289, 0}, {1.2321, 0.9289, 0}, {1.2321, -0.9289, 0}},
          {mC, mC, mH, mH, mH, mH},
          {stretch(0, 1), stretch(0, 2), stretch(0, 3), stretch(1, 4), stretch(1, 5), bend(1, 0, 2), bend(1, 0, 3),
           bend(0, 1, 4), bend(0, 1, 5), out_of_plane(1, 0, 2, 3), out_of_plane(0, 1, 4, 5), dihedral(2, 0, 1, 4)},
          Matrix::Zero(12, 12)};
  m.f.diagonal() << 9.5, 5.1, 5.1, 5.1, 5.1, 0.5, 0.5, 0.5, 0.5, 0.25, 0.25, 0.15;
  m.f(1, 2) = m.f(2, 1) = m.f(3, 4) = m.f(4, 3) = 0.03;
  return m;
}

Model with_masses(Model m, std::vector<double> masses) {
  m.masses = std::move(masses);
  return m;
}

// The same molecule turned (and moved) in the deck's frame.
Model turned(Model m, const Mat3& r) {
  for (Vec3& p : m.x) p = r * p + Vec3(0.3, -1.1, 2.0);
  return m;
}

const Mat3& turn() {
  static const Mat3 r = Eigen::AngleAxisd(0.9, Vec3(1, -2, 0.5).normalized()).toRotationMatrix();
  return r;
}

Model model(const std::string& name) {
  static const std::map<std::string, std::function<Model()>> table = {
      {"HCl", [] { return diatomic(mH, mCl); }},
      {"DCl", [] { return diatomic(mD, mCl); }},
      {"CO2", [] { return with_masses(from(testing::carbon_dioxide()), {mC, mO, mO}); }},
      {"13CO2", [] { return with_masses(from(testing::carbon_dioxide()), {m13C, mO, mO}); }},
      {"water", [] { return with_masses(from(testing::water()), {mO, mH, mH}); }},
      {"D2O", [] { return with_masses(from(testing::water()), {mO, mD, mD}); }},
      {"HDO", [] { return with_masses(from(testing::water()), {mO, mH, mD}); }},
      {"formaldehyde", [] { return with_masses(from(testing::formaldehyde()), {mC, mO, mH, mH}); }},
      {"D2CO", [] { return with_masses(from(testing::formaldehyde()), {mC, mO, mD, mD}); }},
      {"ammonia", [] { return with_masses(from(testing::ammonia()), {mN, mH, mH, mH}); }},
      {"ND3", [] { return with_masses(from(testing::ammonia()), {mN, mD, mD, mD}); }},
      {"NH2D", [] { return with_masses(from(testing::ammonia()), {mN, mH, mH, mD}); }},
      {"methane", [] { return methane(); }},
      {"CH3D", [] { return with_masses(methane(), {mC, mD, mH, mH, mH}); }},
      {"CD4_turned", [] { return turned(with_masses(methane(), {mC, mD, mD, mD, mD}), turn()); }},
      {"methane_turned", [] { return turned(methane(), turn()); }},
      {"ethylene", [] { return ethylene(); }},
      {"C2H3D", [] { return with_masses(ethylene(), {mC, mC, mH, mH, mH, mD}); }},
      {"C2D4", [] { return with_masses(ethylene(), {mC, mC, mD, mD, mD, mD}); }},
  };
  return table.at(name)();
}

Matrix hessian(const Model& m) {
  const Matrix b = b_matrix(m.x, m.coords);
  return b.transpose() * m.f * b;
}

NormalModes modes_of(const Model& m, const std::string& name) {
  const VibrationAnalysis v = analyze_vibrations({b_matrix(m.x, m.coords), m.masses, m.x, hessian(m), std::nullopt, {}, 1.0, name});
  return normal_modes(v, m.x, m.masses, name);
}

MolecularConstants constants_of(const std::string& name, double temperature = 298.15,
                                Representation representation = Representation::Ir) {
  ConstantsOptions options;
  options.temperature = temperature;
  options.representation = representation;
  return molecular_constants(modes_of(model(name), name), options);
}

// ---- Independent pieces: inertia, its derivatives, τ ------------------------

Mat3 inertia_about_centre(const Geometry& x, const std::vector<double>& m) {
  Vec3 centre = Vec3::Zero();
  double total = 0;
  for (std::size_t i = 0; i < x.size(); ++i) centre += m[i] * x[i], total += m[i];
  centre /= total;
  Mat3 t = Mat3::Zero();
  for (std::size_t i = 0; i < x.size(); ++i) {
    const Vec3 r = x[i] - centre;
    t += m[i] * (r.dot(r) * Mat3::Identity() - r * r.transpose());
  }
  return t;
}

// ∂I/∂Q_k by central differences of the inertia tensor (about the moving
// centre of mass) along each normal coordinate, turned into the frame `axes`.
std::vector<Mat3> inertia_derivatives_by_differences(const NormalModes& nm, const Mat3& axes) {
  const double h = 1e-3;
  std::vector<Mat3> out;
  for (Eigen::Index k = 0; k < nm.modes.cols(); ++k) {
    Geometry plus = nm.positions, minus = nm.positions;
    for (std::size_t i = 0; i < plus.size(); ++i) {
      const Vec3 d = h * nm.modes.block<3, 1>(static_cast<Eigen::Index>(3 * i), k) / std::sqrt(nm.masses[i]);
      plus[i] += d;
      minus[i] -= d;
    }
    const Mat3 diff = (inertia_about_centre(plus, nm.masses) - inertia_about_centre(minus, nm.masses)) / (2 * h);
    out.push_back(axes.transpose() * diff * axes);
  }
  return out;
}

// τ_αβγδ = −(ħ⁴/2) Σ_k a_k^{αβ} a_k^{γδ} / (λ_k I_α I_β I_γ I_δ), all in SI, then
// over h in MHz. Indices through a for a linear molecule are left at 0.
std::array<double, 81> tau_by_differences(const NormalModes& nm, const Mat3& axes, bool linear) {
  const std::vector<Mat3> a = inertia_derivatives_by_differences(nm, axes);
  const Mat3 inertia = axes.transpose() * inertia_about_centre(nm.positions, nm.masses) * axes;
  std::array<double, 81> tau{};
  for (int p = 0; p < 3; ++p)
    for (int q = 0; q < 3; ++q)
      for (int r = 0; r < 3; ++r)
        for (int s = 0; s < 3; ++s) {
          if (linear && (p == 0 || q == 0 || r == 0 || s == 0)) continue;
          double sum = 0;
          for (std::size_t k = 0; k < a.size(); ++k) {
            const double lambda = nm.eigenvalues[k] * 100 / kU;     // s⁻²
            const double a_si = kU * 1e-20;                          // (u^½ Å)² in kg m²
            sum += a[k](p, q) * a[k](r, s) * a_si / lambda;
          }
          const double i4 = inertia(p, p) * inertia(q, q) * inertia(r, r) * inertia(s, s) * std::pow(kU * 1e-20, 4);
          tau[static_cast<std::size_t>(27 * p + 9 * q + 3 * r + s)] = -0.5 * std::pow(kHbar, 4) * sum / i4 / kH / 1e6;
        }
  return tau;
}

// ---- Closed forms, one table ----------------------------------------------

struct ClosedForm {
  const char* name;
  const char* molecule;
  double temperature;
  int on_axis;  // atoms on a symmetric top's axis (for the ζ sum over degenerate pairs); 0 none
  std::function<void(const ClosedForm&, const Model&, const MolecularConstants&)> check;
};

class ClosedForms : public ::testing::TestWithParam<ClosedForm> {};

double reduced_mass(const Model& m) { return m.masses[0] * m.masses[1] / (m.masses[0] + m.masses[1]) * kU; }

// B = h/(8π² I) and D = 4B³/ν² (Hz) of a diatomic, ν = √(k/μ)/(2π).
void diatomic_distortion(const ClosedForm&, const Model& m, const MolecularConstants& c) {
  const double mu = reduced_mass(m), r = (m.x[1] - m.x[0]).norm() * 1e-10;
  const double b = kH / (8 * kPi * kPi * mu * r * r), nu = std::sqrt(m.f(0, 0) * 100 / mu) / (2 * kPi);
  ASSERT_TRUE(c.centrifugal.linear_d);
  EXPECT_NEAR(*c.centrifugal.linear_d, 4 * b * b * b / (nu * nu) / 1e3, 1e-7 * *c.centrifugal.linear_d);
  EXPECT_NEAR(*c.rotation.mhz[1], b / 1e6, 1e-10 * b / 1e6);
  EXPECT_FALSE(c.rotation.mhz[0]);
}

// l² = h/(8π² μ ν) coth(hν/2kT) and no perpendicular motion.
void diatomic_amplitude(const ClosedForm& cf, const Model& m, const MolecularConstants& c) {
  const double mu = reduced_mass(m), nu = std::sqrt(m.f(0, 0) * 100 / mu) / (2 * kPi);
  double l2 = kH / (8 * kPi * kPi * mu * nu) * 1e20;
  if (cf.temperature > 0) l2 /= std::tanh(kH * nu / (2 * kKB * cf.temperature));
  ASSERT_EQ(c.amplitudes.size(), 1u);
  EXPECT_NEAR(c.amplitudes[0].parallel_mean_square, l2, 1e-8 * l2);
  EXPECT_NEAR(c.amplitudes[0].amplitude, std::sqrt(l2), 1e-8 * std::sqrt(l2));
  EXPECT_LT(std::abs(c.amplitudes[0].perpendicular_correction), 1e-12);
  EXPECT_NEAR(c.amplitudes[0].distance, 1.2746, 1e-12);
}

// Linear Y–X–Y: only the symmetric stretch changes I, with a = 2√I and
// λ₁ = (f_r + f_rr)/m_Y, so D = 4B³/ν₁², ν₁ = √((f_r + f_rr)/m_Y)/(2π).
void linear_xy2_distortion(const ClosedForm&, const Model& m, const MolecularConstants& c) {
  const double my = m.masses[1] * kU, r = (m.x[1] - m.x[0]).norm() * 1e-10;
  const double b = kH / (8 * kPi * kPi * 2 * my * r * r), nu = std::sqrt((m.f(0, 0) + m.f(0, 1)) * 100 / my) / (2 * kPi);
  ASSERT_TRUE(c.centrifugal.linear_d);
  EXPECT_NEAR(*c.centrifugal.linear_d, 4 * b * b * b / (nu * nu) / 1e3, 1e-6 * *c.centrifugal.linear_d);
}

// Dowling's planarity relations, from τ and the moments, c normal to the plane.
void planarity(const ClosedForm&, const Model&, const MolecularConstants& c) {
  ASSERT_TRUE(c.rotation.planar);
  ASSERT_TRUE(c.centrifugal.planarity);
  const auto t = [&](int p, int q, int r, int s) { return *c.centrifugal.tau(p, q, r, s); };
  const double ia = c.rotation.frame.moments(0), ib = c.rotation.frame.moments(1), ic = c.rotation.frame.moments(2);
  const double scale = std::abs(t(0, 0, 0, 0)) * std::pow(ia, 4);
  EXPECT_NEAR(std::pow(ic, 4) * t(2, 2, 2, 2),
              std::pow(ia, 4) * t(0, 0, 0, 0) + 2 * ia * ia * ib * ib * t(0, 0, 1, 1) + std::pow(ib, 4) * t(1, 1, 1, 1), 1e-6 * scale);
  EXPECT_NEAR(ia * ia * ic * ic * t(0, 0, 2, 2), std::pow(ia, 4) * t(0, 0, 0, 0) + ia * ia * ib * ib * t(0, 0, 1, 1), 1e-6 * scale);
  EXPECT_NEAR(ib * ib * ic * ic * t(1, 1, 2, 2), std::pow(ib, 4) * t(1, 1, 1, 1) + ia * ia * ib * ib * t(0, 0, 1, 1), 1e-6 * scale);
  EXPECT_LT(std::abs(t(0, 2, 0, 2)), 1e-6 * std::abs(t(0, 0, 0, 0)));
  EXPECT_LT(std::abs(t(1, 2, 1, 2)), 1e-6 * std::abs(t(0, 0, 0, 0)));
  EXPECT_LT(c.centrifugal.planarity->largest, 1e-6);
  EXPECT_LT(std::abs(c.rotation.inertial_defect), 1e-8 * ic);
}

// The Coriolis sum rules, closed values computed here: the total from the
// principal moments alone (P_α = (I_β + I_γ − I_α)/2), each mode's from its
// displacements and inertia derivatives by differences, and for symmetric
// tops the sum of first-order ζ over the degenerate pairs.
void coriolis_sums(const ClosedForm& cf, const Model& m, const MolecularConstants& c) {
  const NormalModes nm = modes_of(m, cf.molecule);
  const Mat3& axes = c.rotation.frame.axes;
  const Vec3 moments = Eigen::SelfAdjointEigenSolver<Mat3>(inertia_about_centre(m.x, m.masses)).eigenvalues();
  const bool linear = c.rotation.frame.type == RotorType::linear;
  const auto n_atoms = static_cast<double>(m.x.size());
  for (int a = 0; a < 3; ++a) {
    const int b = (a + 1) % 3, g = (a + 2) % 3;
    const auto p = [&](int k) { return (moments.sum() - 2 * moments(k)) / 2; };
    const double closed = linear ? n_atoms - 2 : n_atoms - 4 + p(g) / moments(b) + p(b) / moments(g) + p(a) * p(a) / (moments(b) * moments(g));
    EXPECT_NEAR(0.5 * c.coriolis.zeta[static_cast<std::size_t>(a)].squaredNorm(), closed, 1e-8) << "axis " << a;
  }
  const std::vector<Mat3> da = inertia_derivatives_by_differences(nm, axes);
  const Mat3 inertia = axes.transpose() * inertia_about_centre(m.x, m.masses) * axes;
  for (Eigen::Index r = 0; r < nm.modes.cols(); ++r)
    for (int a = 0; a < 3; ++a) {
      double closed = 1;
      for (std::size_t i = 0; i < m.x.size(); ++i) {
        const Vec3 l = axes.transpose() * nm.modes.block<3, 1>(static_cast<Eigen::Index>(3 * i), r);
        closed -= l(a) * l(a);
      }
      for (int k = linear ? 1 : 0; k < 3; ++k) closed -= std::pow(da[static_cast<std::size_t>(r)](a, k), 2) / (4 * inertia(k, k));
      EXPECT_NEAR(c.coriolis.zeta[static_cast<std::size_t>(a)].row(r).squaredNorm(), closed, 1e-8) << "mode " << r << " axis " << a;
    }
  EXPECT_LT(c.coriolis.largest_sum_deviation, 1e-8);
  if (cf.on_axis == 0) return;
  // Σ ζ_t = n_axis − 1 − P_z/I_⊥ over the pairs, z the top's axis.
  const int z = *c.rotation.frame.unique_axis, x = (z + 1) % 3;
  const double pz = (inertia.trace() - 2 * inertia(z, z)) / 2;
  double sum = 0;
  for (const DegenerateCoriolis& d : c.coriolis.degenerate) {
    EXPECT_FALSE(d.operation.empty());
    EXPECT_LE(std::abs(d.zeta), 1 + 1e-12);
    sum += d.zeta;
  }
  EXPECT_NEAR(sum, cf.on_axis - 1 - pz / inertia(x, x), 1e-8);
  ASSERT_EQ(c.coriolis.degenerate_sums.size(), 1u);
  EXPECT_NEAR(c.coriolis.degenerate_sums[0].sum, c.coriolis.degenerate_sums[0].expected, 1e-8);
}

TEST_P(ClosedForms, Hold) {
  const ClosedForm& cf = GetParam();
  GetParam().check(cf, model(cf.molecule), constants_of(cf.molecule, cf.temperature));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClosedForms,
    ::testing::Values(ClosedForm{"HCl_D", "HCl", 298.15, 0, diatomic_distortion},
                      ClosedForm{"DCl_D", "DCl", 298.15, 0, diatomic_distortion},
                      ClosedForm{"HCl_l_zero_point", "HCl", 0, 0, diatomic_amplitude},
                      ClosedForm{"HCl_l_298K", "HCl", 298.15, 0, diatomic_amplitude},
                      ClosedForm{"DCl_l_2000K", "DCl", 2000, 0, diatomic_amplitude},
                      ClosedForm{"CO2_D", "CO2", 298.15, 0, linear_xy2_distortion},
                      ClosedForm{"13CO2_D", "13CO2", 298.15, 0, linear_xy2_distortion},
                      ClosedForm{"water_planarity", "water", 298.15, 0, planarity},
                      ClosedForm{"HDO_planarity", "HDO", 298.15, 0, planarity},
                      ClosedForm{"formaldehyde_planarity", "formaldehyde", 298.15, 0, planarity},
                      ClosedForm{"ethylene_planarity", "ethylene", 298.15, 0, planarity},
                      ClosedForm{"C2H3D_planarity", "C2H3D", 298.15, 0, planarity},
                      ClosedForm{"water_zeta_sums", "water", 298.15, 0, coriolis_sums},
                      ClosedForm{"HDO_zeta_sums", "HDO", 298.15, 0, coriolis_sums},
                      ClosedForm{"formaldehyde_zeta_sums", "formaldehyde", 298.15, 0, coriolis_sums},
                      ClosedForm{"ethylene_zeta_sums", "ethylene", 298.15, 0, coriolis_sums},
                      ClosedForm{"ammonia_zeta_sums", "ammonia", 298.15, 1, coriolis_sums},
                      ClosedForm{"ND3_zeta_sums", "ND3", 298.15, 1, coriolis_sums},
                      ClosedForm{"NH2D_zeta_sums", "NH2D", 298.15, 0, coriolis_sums},
                      ClosedForm{"CH3D_zeta_sums", "CH3D", 298.15, 2, coriolis_sums},
                      ClosedForm{"methane_zeta_sums", "methane", 298.15, 0, coriolis_sums},
                      ClosedForm{"CO2_zeta_sums", "CO2", 298.15, 3, coriolis_sums},
                      ClosedForm{"HCl_zeta_sums", "HCl", 298.15, 0, coriolis_sums}),
    [](const ::testing::TestParamInfo<ClosedForm>& info) { return std::string(info.param.name); });

// ---- τ against differences of the inertia tensor ---------------------------

class TauOf : public ::testing::TestWithParam<const char*> {};

TEST_P(TauOf, MatchesDifferencesOfTheInertiaTensor) {
  const std::string name = GetParam();
  const NormalModes nm = modes_of(model(name), name);
  const MolecularConstants c = molecular_constants(nm);
  const bool linear = c.rotation.frame.type == RotorType::linear;
  const std::array<double, 81> expected = tau_by_differences(nm, c.rotation.frame.axes, linear);
  double largest = 0;
  for (double t : expected) largest = std::max(largest, std::abs(t));
  ASSERT_GT(largest, 0);
  for (std::size_t i = 0; i < 81; ++i) {
    const bool through_a = i / 27 == 0 || i / 9 % 3 == 0 || i / 3 % 3 == 0 || i % 3 == 0;
    if (linear && through_a) {
      EXPECT_FALSE(c.centrifugal.tau_mhz[i]) << i;
      continue;
    }
    ASSERT_TRUE(c.centrifugal.tau_mhz[i]) << i;
    EXPECT_NEAR(*c.centrifugal.tau_mhz[i], expected[i], 1e-5 * largest) << "τ index " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Molecules, TauOf,
                         ::testing::Values("water", "D2O", "formaldehyde", "D2CO", "ammonia", "NH2D", "methane", "CH3D",
                                           "ethylene", "C2H3D", "CO2", "methane_turned"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// ---- Mean amplitudes against a dense Cartesian mean-square matrix -----------

struct AmplitudeCase {
  const char* molecule;
  double temperature;
  const char* name;
};

class AmplitudesOf : public ::testing::TestWithParam<AmplitudeCase> {};

// Σ = M^-½ E Δ Eᵀ M^-½ over the eigenvectors E of M^-½ H M^-½ found here
// (the 3N − 6 or 3N − 5 farthest from zero), δ_k = h/(8π² c ν̃_k) coth(hcν̃_k/2kT).
Matrix cartesian_mean_square(const Model& m, double temperature, int vibrations) {
  const Matrix h = hessian(m);
  const auto n = h.rows();
  Matrix hm = h;
  for (Eigen::Index i = 0; i < n; ++i)
    for (Eigen::Index j = 0; j < n; ++j) hm(i, j) /= std::sqrt(m.masses[static_cast<std::size_t>(i / 3)] * m.masses[static_cast<std::size_t>(j / 3)]);
  const Eigen::SelfAdjointEigenSolver<Matrix> e(hm);  // ascending: the external ones (≈ 0) first
  Matrix sigma = Matrix::Zero(n, n);
  for (Eigen::Index k = n - vibrations; k < n; ++k) {
    const double omega = std::sqrt(e.eigenvalues()(k) * 100 / kU), wavenumber = omega / (2 * kPi * kC);
    double delta = kH / (8 * kPi * kPi * kC * wavenumber) / (kU * 1e-20);
    if (temperature > 0) delta /= std::tanh(kH * kC * wavenumber / (2 * kKB * temperature));
    Vector v = e.eigenvectors().col(k);
    for (Eigen::Index i = 0; i < n; ++i) v(i) /= std::sqrt(m.masses[static_cast<std::size_t>(i / 3)]);
    sigma += delta * v * v.transpose();
  }
  return sigma;
}

TEST_P(AmplitudesOf, MatchTheDenseMeanSquareMatrix) {
  const AmplitudeCase& ac = GetParam();
  const Model m = model(ac.molecule);
  const MolecularConstants c = constants_of(ac.molecule, ac.temperature);
  const int vibrations = static_cast<int>(3 * m.x.size()) - (c.rotation.frame.type == RotorType::linear ? 5 : 6);
  const Matrix sigma = cartesian_mean_square(m, ac.temperature, vibrations);
  std::size_t p = 0;
  for (int i = 0; i < static_cast<int>(m.x.size()); ++i)
    for (int j = i + 1; j < static_cast<int>(m.x.size()); ++j, ++p) {
      ASSERT_LT(p, c.amplitudes.size());
      const PairAmplitude& a = c.amplitudes[p];
      ASSERT_EQ(a.first, i);
      ASSERT_EQ(a.second, j);
      const Mat3 block = sigma.block<3, 3>(3 * i, 3 * i) + sigma.block<3, 3>(3 * j, 3 * j) - sigma.block<3, 3>(3 * i, 3 * j) -
                         sigma.block<3, 3>(3 * j, 3 * i);
      const Vec3 d = m.x[static_cast<std::size_t>(j)] - m.x[static_cast<std::size_t>(i)];
      const Vec3 e = d.normalized();
      const double l2 = e.dot(block * e), perpendicular = block.trace() - l2;
      EXPECT_NEAR(a.distance, d.norm(), 1e-12);
      EXPECT_NEAR(a.parallel_mean_square, l2, 1e-7 * l2) << i << "-" << j;
      EXPECT_NEAR(a.perpendicular_correction, perpendicular / (2 * d.norm()), 1e-7 * perpendicular) << i << "-" << j;
    }
  EXPECT_EQ(p, c.amplitudes.size());
}

INSTANTIATE_TEST_SUITE_P(Molecules, AmplitudesOf,
                         ::testing::Values(AmplitudeCase{"water", 0, "water_zero_point"}, AmplitudeCase{"water", 298.15, "water_298K"},
                                           AmplitudeCase{"HDO", 500, "HDO_500K"}, AmplitudeCase{"ammonia", 298.15, "ammonia_298K"},
                                           AmplitudeCase{"methane_turned", 298.15, "methane_turned_298K"},
                                           AmplitudeCase{"ethylene", 0, "ethylene_zero_point"}, AmplitudeCase{"CO2", 1000, "CO2_1000K"}),
                         [](const ::testing::TestParamInfo<AmplitudeCase>& info) { return std::string(info.param.name); });

// ---- The reductions against the quartic Hamiltonian they come from ---------

std::vector<Vec3> directions() {
  std::mt19937 random(7);
  std::normal_distribution<double> normal;
  std::vector<Vec3> out;
  for (int k = 0; k < 40; ++k) out.push_back(Vec3(normal(random), normal(random), normal(random)).normalized());
  return out;
}

// (1/4) Σ τ_αβγδ J_α J_β J_γ J_δ over the terms even in each component
// (those the reductions keep), J given along x, y, z of `xyz`.
double orthorhombic_form(const CentrifugalDistortion& c, const std::array<int, 3>& xyz, const Vec3& j) {
  double h = 0;
  for (int p = 0; p < 3; ++p)
    for (int q = 0; q < 3; ++q)
      for (int r = 0; r < 3; ++r)
        for (int s = 0; s < 3; ++s) {
          int count[3] = {0, 0, 0};
          ++count[p], ++count[q], ++count[r], ++count[s];
          if (count[0] % 2 || count[1] % 2 || count[2] % 2) continue;
          h += c.tau(xyz[p], xyz[q], xyz[r], xyz[s]).value_or(0) * j(p) * j(q) * j(r) * j(s) / 4;
        }
  return h;
}

// Fits H_reduced − H_orthorhombic = ε {J_xJ_yJ_z, Σ B_α J_α²} (the Poisson
// bracket, J · (∇f × ∇g)) over the directions; returns the largest misfit.
double misfit(const std::function<double(const Vec3&)>& reduced, const CentrifugalDistortion& c,
              const std::array<int, 3>& xyz, const Vec3& b, double& scale) {
  std::vector<double> diff, bracket;
  scale = 0;
  for (const Vec3& j : directions()) {
    const Vec3 grad_f(j.y() * j.z(), j.x() * j.z(), j.x() * j.y()), grad_g = 2 * b.cwiseProduct(j);
    const double h6 = orthorhombic_form(c, xyz, j);
    scale = std::max(scale, std::abs(h6));
    diff.push_back(reduced(j) - h6);
    bracket.push_back(j.dot(grad_f.cross(grad_g)));
  }
  double num = 0, den = 0, worst = 0;
  for (std::size_t k = 0; k < diff.size(); ++k) num += diff[k] * bracket[k], den += bracket[k] * bracket[k];
  for (std::size_t k = 0; k < diff.size(); ++k) worst = std::max(worst, std::abs(diff[k] - num / den * bracket[k]));
  return worst;
}

struct ReductionCase {
  const char* molecule;
  Representation representation;
  const char* name;
};

class ReductionsOf : public ::testing::TestWithParam<ReductionCase> {};

TEST_P(ReductionsOf, DifferFromTheQuarticHamiltonianByTheContactTransformation) {
  const ReductionCase& rc = GetParam();
  const MolecularConstants c = constants_of(rc.molecule, 298.15, rc.representation);
  ASSERT_EQ(c.rotation.frame.type, RotorType::asymmetric);
  ASSERT_TRUE(c.centrifugal.a_reduction && c.centrifugal.s_reduction);
  EXPECT_FALSE(c.centrifugal.symmetric_top || c.centrifugal.linear_d || c.centrifugal.spherical_top);
  const std::array<int, 3> xyz = representation_axes(rc.representation);
  const Vec3 b(*c.rotation.mhz[static_cast<std::size_t>(xyz[0])], *c.rotation.mhz[static_cast<std::size_t>(xyz[1])],
               *c.rotation.mhz[static_cast<std::size_t>(xyz[2])]);
  const WatsonA& a = *c.centrifugal.a_reduction;
  const WatsonS& s = *c.centrifugal.s_reduction;
  const auto a_form = [&](const Vec3& j) {  // kHz → MHz
    const double j2 = j.squaredNorm(), z2 = j.z() * j.z(), p = j.x() * j.x() - j.y() * j.y();
    return (-a.delta_j * j2 * j2 - a.delta_jk * j2 * z2 - a.delta_k * z2 * z2 - 2 * a.small_delta_j * j2 * p -
            2 * a.small_delta_k * z2 * p) / 1e3;
  };
  const auto s_form = [&](const Vec3& j) {
    const double j2 = j.squaredNorm(), z2 = j.z() * j.z();
    const std::complex<double> plus(j.x(), j.y());
    return (-s.d_j * j2 * j2 - s.d_jk * j2 * z2 - s.d_k * z2 * z2 + s.d1 * j2 * 2 * std::real(plus * plus) +
            s.d2 * 2 * std::real(std::pow(plus, 4))) / 1e3;
  };
  double a_scale = 0, s_scale = 0;
  const double a_misfit = misfit(a_form, c.centrifugal, xyz, b, a_scale);
  const double s_misfit = misfit(s_form, c.centrifugal, xyz, b, s_scale);
  ASSERT_GT(a_scale, 0);
  EXPECT_LT(a_misfit, 1e-9 * a_scale);
  EXPECT_LT(s_misfit, 1e-9 * s_scale);
  // Both reductions keep δ_J = −d_1 and Δ_J + Δ_JK + Δ_K = D_J + D_JK + D_K = −τ_zzzz/4.
  EXPECT_NEAR(a.small_delta_j, -s.d1, 1e-9 * std::abs(a.delta_j));
  const double tz = *c.centrifugal.tau(xyz[2], xyz[2], xyz[2], xyz[2]) * 1e3;
  EXPECT_NEAR(a.delta_j + a.delta_jk + a.delta_k, -tz / 4, 1e-9 * std::abs(tz));
  EXPECT_NEAR(s.d_j + s.d_jk + s.d_k, -tz / 4, 1e-9 * std::abs(tz));
}

INSTANTIATE_TEST_SUITE_P(Molecules, ReductionsOf,
                         ::testing::Values(ReductionCase{"water", Representation::Ir, "water_Ir"},
                                           ReductionCase{"water", Representation::IIIr, "water_IIIr"},
                                           ReductionCase{"D2O", Representation::Il, "D2O_Il"},
                                           ReductionCase{"HDO", Representation::IIr, "HDO_IIr"},
                                           ReductionCase{"formaldehyde", Representation::Ir, "formaldehyde_Ir"},
                                           ReductionCase{"ethylene", Representation::IIIl, "ethylene_IIIl"},
                                           ReductionCase{"C2H3D", Representation::IIl, "C2H3D_IIl"},
                                           ReductionCase{"NH2D", Representation::Ir, "NH2D_Ir"}),
                         [](const ::testing::TestParamInfo<ReductionCase>& info) { return std::string(info.param.name); });

TEST(MolecularConstants, RepresentationsAreNamedAndParsed) {
  for (const char* name : {"Ir", "IIr", "IIIr", "Il", "IIl", "IIIl"}) {
    const auto r = parse_representation(name);
    ASSERT_TRUE(r) << name;
    EXPECT_EQ(representation_name(*r), name);
    std::array<int, 3> axes = representation_axes(*r);
    std::sort(axes.begin(), axes.end());
    EXPECT_EQ(axes, (std::array<int, 3>{0, 1, 2}));
  }
  EXPECT_FALSE(parse_representation("IVr"));
  EXPECT_EQ(representation_axes(Representation::Ir), (std::array<int, 3>{1, 2, 0}));   // x b, y c, z a
  EXPECT_EQ(representation_axes(Representation::IIIr), (std::array<int, 3>{0, 1, 2}));  // x a, y b, z c
}

// Symmetric tops: the orthorhombic Hamiltonian is −D_J J⁴ − D_JK J²J_z² − D_K J_z⁴.
class SymmetricTopOf : public ::testing::TestWithParam<const char*> {};

TEST_P(SymmetricTopOf, DistortionIsTheQuarticHamiltonian) {
  const MolecularConstants c = constants_of(GetParam());
  ASSERT_TRUE(c.rotation.frame.unique_axis);
  ASSERT_TRUE(c.centrifugal.symmetric_top);
  EXPECT_FALSE(c.centrifugal.a_reduction || c.centrifugal.s_reduction);
  const int z = *c.rotation.frame.unique_axis;
  const std::array<int, 3> xyz = {(z + 1) % 3, (z + 2) % 3, z};
  const SymmetricTopDistortion& d = *c.centrifugal.symmetric_top;
  for (const Vec3& j : directions()) {
    const double j2 = j.squaredNorm(), z2 = j.z() * j.z();
    const double h6 = orthorhombic_form(c.centrifugal, xyz, j);
    EXPECT_NEAR((-d.d_j * j2 * j2 - d.d_jk * j2 * z2 - d.d_k * z2 * z2) / 1e3, h6, 1e-8 * std::abs(d.d_j) / 1e3);
  }
}

INSTANTIATE_TEST_SUITE_P(Molecules, SymmetricTopOf, ::testing::Values("ammonia", "ND3", "CH3D"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// Spherical tops: the whole quartic form (1/4) Σ τ J J J J is
// −D_J J⁴ + D_T (Σ J′_α⁴ − (3/5) J⁴) over the cube's axes, which the deck
// frame does not share here (the molecule is turned).
class SphericalTopOf : public ::testing::TestWithParam<const char*> {};

TEST_P(SphericalTopOf, DistortionIsTheCubicQuarticForm) {
  const MolecularConstants c = constants_of(GetParam());
  ASSERT_EQ(c.rotation.frame.type, RotorType::spherical);
  ASSERT_TRUE(c.centrifugal.spherical_top);
  const SphericalTopDistortion& d = *c.centrifugal.spherical_top;
  EXPECT_GT(std::abs(d.d_t), 1e-3 * std::abs(d.d_j));  // the case tests the tensor term
  const Mat3 cube = c.rotation.frame.axes.transpose() * turn();  // columns: the cube's axes in the principal frame
  for (const Vec3& j : directions()) {
    double f = 0;
    for (int p = 0; p < 3; ++p)
      for (int q = 0; q < 3; ++q)
        for (int r = 0; r < 3; ++r)
          for (int s = 0; s < 3; ++s) f += *c.centrifugal.tau(p, q, r, s) * j(p) * j(q) * j(r) * j(s) / 4;
    const Vec3 jc = cube.transpose() * j;
    const double tensor = jc.array().pow(4).sum() - 0.6;
    EXPECT_NEAR((-d.d_j + d.d_t * tensor) / 1e3, f, 1e-8 * std::abs(d.d_j) / 1e3);
  }
  EXPECT_FALSE(c.rotation.kappa);
}

INSTANTIATE_TEST_SUITE_P(Molecules, SphericalTopOf, ::testing::Values("methane_turned", "CD4_turned"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// ---- The rotor: frame, moments, constants, type ----------------------------

struct RotorCase {
  const char* molecule;
  RotorType type;
  std::array<std::optional<int>, 3> deck_axes;  // of a, b, c
};

class RotorOf : public ::testing::TestWithParam<RotorCase> {};

TEST_P(RotorOf, FrameMomentsAndConstantsAreTheInertiaTensors) {
  const RotorCase& rc = GetParam();
  const Model m = model(rc.molecule);
  const MolecularConstants c = constants_of(rc.molecule);
  const PrincipalFrame& f = c.rotation.frame;
  EXPECT_EQ(f.type, rc.type) << rotor_type_name(f.type);
  EXPECT_EQ(f.along_deck_axis, rc.deck_axes);
  const Mat3 inertia = inertia_about_centre(m.x, m.masses);
  const Vec3 moments = Eigen::SelfAdjointEigenSolver<Mat3>(inertia).eigenvalues();
  const double scale = moments(2);
  EXPECT_LT((f.axes.transpose() * f.axes - Mat3::Identity()).cwiseAbs().maxCoeff(), 1e-12);
  EXPECT_NEAR(f.axes.determinant(), 1, 1e-12);
  const Mat3 diagonal = f.axes.transpose() * inertia * f.axes;
  for (int a = 0; a < 3; ++a) {
    EXPECT_NEAR(f.moments(a), rc.type == RotorType::linear && a == 0 ? 0.0 : moments(a), 1e-10 * scale);
    EXPECT_NEAR(diagonal(a, a), moments(a), 1e-10 * scale);
    for (int b = 0; b < 3; ++b)
      if (a != b) {
        EXPECT_NEAR(diagonal(a, b), 0, 1e-10 * scale);
      }
    if (rc.type == RotorType::linear && a == 0) {
      EXPECT_FALSE(c.rotation.mhz[0]);
      EXPECT_FALSE(c.rotation.wavenumbers[0]);
      continue;
    }
    const double b_hz = kH / (8 * kPi * kPi * moments(a) * kU * 1e-20);
    EXPECT_NEAR(*c.rotation.mhz[static_cast<std::size_t>(a)], b_hz / 1e6, 1e-9 * b_hz / 1e6);
    EXPECT_NEAR(*c.rotation.wavenumbers[static_cast<std::size_t>(a)], b_hz / (100 * kC), 1e-9 * b_hz / (100 * kC));
  }
  if (rc.type == RotorType::linear || rc.type == RotorType::spherical) {
    EXPECT_FALSE(c.rotation.kappa);
  } else {
    const double a = 1 / moments(0), b = 1 / moments(1), cc = 1 / moments(2);
    ASSERT_TRUE(c.rotation.kappa);
    EXPECT_NEAR(*c.rotation.kappa, (2 * b - a - cc) / (a - cc), 1e-8);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Molecules, RotorOf,
    ::testing::Values(RotorCase{"HCl", RotorType::linear, {2, 0, 1}}, RotorCase{"CO2", RotorType::linear, {2, 0, 1}},
                      RotorCase{"water", RotorType::asymmetric, {1, 2, 0}},  // a along H···H, b the twofold axis, c normal to the plane
                      RotorCase{"HDO", RotorType::asymmetric, {std::nullopt, std::nullopt, 0}},
                      RotorCase{"formaldehyde", RotorType::asymmetric, {2, 1, 0}},
                      RotorCase{"ethylene", RotorType::asymmetric, {0, 1, 2}},
                      RotorCase{"ammonia", RotorType::oblate, {0, 1, 2}}, RotorCase{"ND3", RotorType::oblate, {0, 1, 2}},
                      RotorCase{"CH3D", RotorType::prolate, {std::nullopt, std::nullopt, std::nullopt}},
                      RotorCase{"methane", RotorType::spherical, {0, 1, 2}}),
    [](const ::testing::TestParamInfo<RotorCase>& info) { return std::string(info.param.molecule); });

// A linear molecule's bends: ζ^a = +1 for each pair, turned by a rotation
// about the axis as (T_x, T_y) are.
TEST(MolecularConstants, LinearBendsHaveFirstOrderZetaOne) {
  const MolecularConstants c = constants_of("CO2");
  ASSERT_EQ(c.coriolis.degenerate.size(), 1u);
  EXPECT_NEAR(c.coriolis.degenerate[0].zeta, 1.0, 1e-10);
  EXPECT_EQ(c.coriolis.degenerate[0].operation, "C12");
  EXPECT_EQ(c.coriolis.degenerate[0].turn, 1);
}

// ---- What is refused ---------------------------------------------------------

TEST(MolecularConstants, NonMinimaAndModesThatDoNotFitAreRefused) {
  Model bent = model("water");
  bent.f(2, 2) = -0.3;  // a saddle along the bend
  Model flat = model("water");
  flat.f.row(2).setZero();  // the bend uncoupled and nearly free: a flat direction
  flat.f.col(2).setZero();
  flat.f(2, 2) = 1e-12;
  const NormalModes good = modes_of(model("water"), "water.deck");
  NormalModes missing = good, stretched = good, moving = good;
  missing.modes = good.modes.leftCols(2);
  missing.eigenvalues.pop_back();
  stretched.modes.col(1) *= 1.01;
  for (std::size_t i = 0; i < 3; ++i) moving.modes(static_cast<Eigen::Index>(3 * i), 0) += 0.01 * std::sqrt(good.masses[i]);
  moving.modes.col(0).normalize();
  struct Refusal {
    const char* name;
    NormalModes modes;
    double temperature;
    const char* words;
  };
  const Refusal cases[] = {
      {"imaginary", modes_of(bent, "water.deck"), 298.15, "mode 1 is imaginary"},
      {"zero", modes_of(flat, "water.deck"), 298.15, "mode 1 has the wavenumber"},
      {"a mode missing", missing, 298.15, "2 normal modes for 3 vibrations"},
      {"not orthonormal", stretched, 298.15, "not orthonormal"},
      {"translating", moving, 298.15, "as a whole"},
      {"negative temperature", good, -1, "is not a temperature"},
  };
  for (const Refusal& r : cases) {
    SCOPED_TRACE(r.name);
    ConstantsOptions options;
    options.temperature = r.temperature;
    try {
      molecular_constants(r.modes, options);
      ADD_FAILURE() << "accepted";
    } catch (const InputError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind("water.deck: ", 0), 0u) << what;
      EXPECT_NE(what.find(r.words), std::string::npos) << what;
    }
  }
}

// ---- 60 atoms: every pair's amplitudes and every ζ well under a second ------

TEST(MolecularConstants, SixtyAtomsUnderOneSecond) {
  const testing::BracedLattice l = testing::braced_lattice();
  const std::vector<double>& masses = l.masses[0];
  const VibrationAnalysis v = analyze_vibrations({l.b, masses, l.x, l.h, std::nullopt, {}, 1.0, "lattice"});
  const NormalModes nm = normal_modes(v, l.x, masses, "lattice");
  ASSERT_EQ(nm.modes.cols(), 174);
  const double start = testing::cpu_seconds();
  const MolecularConstants c = molecular_constants(nm);
  const double seconds = testing::cpu_seconds() - start;
  RecordProperty("seconds", std::to_string(seconds));
  EXPECT_EQ(c.amplitudes.size(), 60u * 59u / 2);
  EXPECT_EQ(c.coriolis.zeta[0].rows(), 174);
  EXPECT_LT(c.coriolis.largest_sum_deviation, 1e-8);
  if (testing::kTimedBuild) {
    EXPECT_LT(seconds, 0.5);
  }
}

}  // namespace
}  // namespace korven::kit
