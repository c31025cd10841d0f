// Infrared intensities, Raman activities, reduced masses and mode force
// constants. Each is checked against a computation written out here: the
// normal modes from diagonalising M^-½ H M^-½ with Eigen's own solver, the
// intensity formula in SI with ε₀ (not the library's route through the
// hartree), the Raman invariants in their trace form; against closed forms
// (a diatomic's reduced mass); and against psi4's printed harmonic analysis
// of the Hessians in tests/kit/data/psi4.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "kit/base/elements.h"
#include "kit/io/hessian_input.h"
#include "kit/vibrations/frame_fit.h"
#include "kit/vibrations/intensities.h"
#include "kit/vibrations/vibrations.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;
using testing::ForceFieldMolecule;
using testing::Geometry;

// CODATA 2018, written out for the reference computation.
constexpr double kNA = 6.02214076e23;          // 1/mol
constexpr double kE = 1.602176634e-19;         // C
constexpr double kEpsilon0 = 8.8541878128e-12;  // F/m
constexpr double kC = 299792458.0;             // m/s
constexpr double kU = 1.66053906660e-27;       // kg
constexpr double kBohrAngstrom = 0.529177210903;

// ---- The reference: modes and intensities computed here ------------------

struct ReferenceMode {
  double lambda = 0;      // mdyn/(Å·u)
  double infrared = 0;    // km/mol
  double raman = 0;       // Å⁴/u
};

// The 3×3 tensor of six components xx, xy, yy, xz, yz, zz.
Mat3 tensor(const Matrix& p, Eigen::Index row) {
  Mat3 t;
  t << p(row, 0), p(row, 1), p(row, 3), p(row, 1), p(row, 2), p(row, 4), p(row, 3), p(row, 4), p(row, 5);
  return t;
}

// Eigenvectors L of M^-½ H M^-½ (the `external` eigenvalues nearest zero
// left out), and per mode A = N_A/(12 ε₀ c²) |Σ_i (∂μ/∂x_i) L_ik/√m_i|² in SI
// and S = 45 a'² + 7 γ'² with γ'² = (3 tr α'² − (tr α')²)/2.
std::vector<ReferenceMode> reference_modes(const Matrix& h, const std::vector<double>& m, int external,
                                           const Matrix& dipole, const std::optional<Matrix>& polar) {
  const Eigen::Index n = h.rows();
  Matrix hm = h;
  for (Eigen::Index i = 0; i < n; ++i)
    for (Eigen::Index j = 0; j < n; ++j) hm(i, j) /= std::sqrt(m[i / 3] * m[j / 3]);
  const Eigen::SelfAdjointEigenSolver<Matrix> solver(hm);
  std::vector<Eigen::Index> order(static_cast<std::size_t>(n));
  for (Eigen::Index k = 0; k < n; ++k) order[static_cast<std::size_t>(k)] = k;
  std::sort(order.begin(), order.end(),
            [&](Eigen::Index a, Eigen::Index b) { return std::abs(solver.eigenvalues()(a)) < std::abs(solver.eigenvalues()(b)); });
  order.erase(order.begin(), order.begin() + external);
  std::sort(order.begin(), order.end(), [&](Eigen::Index a, Eigen::Index b) { return solver.eigenvalues()(a) < solver.eigenvalues()(b); });
  std::vector<ReferenceMode> out;
  for (Eigen::Index k : order) {
    ReferenceMode r;
    r.lambda = solver.eigenvalues()(k);
    Vec3 dmu = Vec3::Zero();  // C/√kg
    Mat3 da = Mat3::Zero();   // bohr²/√u
    for (Eigen::Index i = 0; i < n; ++i) {
      const double l = solver.eigenvectors()(i, k);
      dmu += dipole.row(i).transpose() * kE * l / std::sqrt(m[i / 3] * kU);
      if (polar) da += tensor(*polar, i) * l / std::sqrt(m[i / 3]);
    }
    r.infrared = kNA / (12 * kEpsilon0 * kC * kC) * dmu.squaredNorm() / 1000;
    const double a = da.trace() / 3, g2 = (3 * (da * da).trace() - da.trace() * da.trace()) / 2;
    r.raman = (45 * a * a + 7 * g2) * std::pow(kBohrAngstrom, 4);
    out.push_back(r);
  }
  return out;
}

// Sums over runs of equal eigenvalues (the partners of a degenerate mode).
std::vector<double> summed_over_partners(const std::vector<double>& lambda, const std::vector<double>& values) {
  std::vector<double> out;
  const double scale = std::abs(lambda.back());
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (k > 0 && std::abs(lambda[k] - lambda[k - 1]) < 1e-7 * scale) out.back() += values[k];
    else out.push_back(values[k]);
  }
  return out;
}

void expect_relative(const std::vector<double>& got, const std::vector<double>& want, double relative, double floor,
                     const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t k = 0; k < got.size(); ++k)
    EXPECT_NEAR(got[k], want[k], std::max(relative * std::abs(want[k]), floor)) << what << " " << k;
}

// Atomic polar tensors of point charges (∂μ/∂x_{ak} = q_a e_k, Σ q_a = 0),
// and a chosen polarizability derivative with no symmetry of its own.
Matrix charge_dipoles(const std::vector<double>& q) {
  Matrix d = Matrix::Zero(static_cast<Eigen::Index>(3 * q.size()), 3);
  for (std::size_t a = 0; a < q.size(); ++a)
    for (int k = 0; k < 3; ++k) d(static_cast<Eigen::Index>(3 * a) + k, k) = q[a];
  return d;
}
Matrix chosen_polarizability(Eigen::Index rows) {
  Matrix p(rows, 6);
  for (Eigen::Index i = 0; i < rows; ++i)
    for (Eigen::Index j = 0; j < 6; ++j) p(i, j) = std::sin(1.3 * static_cast<double>(i) + 0.7 * static_cast<double>(j) + 0.2);
  return p;
}

// ---- Synthetic force fields through each file format ---------------------

struct IntensityCase {
  const char* name;
  ForceFieldMolecule (*molecule)();
  std::vector<double> charges;
  std::vector<double> masses;  // empty: the molecule's own; else an isotopologue's
  HessianFormat format;        // text: the Hessian as text, the dipoles in their own file
  bool turned;                 // the file in another frame
};

class Intensities : public ::testing::TestWithParam<IntensityCase> {};

TEST_P(Intensities, AgreeWithTheFormulaAppliedToModesFoundHere) {
  const IntensityCase& c = GetParam();
  const ForceFieldMolecule m = c.molecule();
  const std::vector<double> masses = c.masses.empty() ? m.masses : c.masses;
  const Matrix b = testing::b_matrix(m.x, m.independent);
  const Matrix h = b.transpose() * m.f * b;
  const Eigen::Index n3 = h.rows();
  const Matrix dipole = charge_dipoles(c.charges);
  const std::optional<Matrix> polar =
      c.format == HessianFormat::fchk ? std::optional<Matrix>(chosen_polarizability(n3)) : std::nullopt;

  // The file's frame: x' = R x + t; H' = K H Kᵀ, D' = K D Rᵀ, P' row-mixed and each tensor R α Rᵀ.
  Geometry xf = m.x;
  Matrix hf = h, df = dipole;
  std::optional<Matrix> pf = polar;
  if (c.turned) {
    const Mat3 r = Eigen::AngleAxisd(1.1, Vec3(-1, 2, 0.5).normalized()).toRotationMatrix();
    Matrix k = Matrix::Zero(n3, n3);
    for (Eigen::Index a = 0; a < n3; a += 3) k.block<3, 3>(a, a) = r;
    hf = k * h * k.transpose();
    df = k * dipole * r.transpose();
    if (polar) {
      for (Eigen::Index i = 0; i < n3; ++i) {
        const Mat3 t = r * tensor(*polar, i) * r.transpose();
        (*pf).row(i) << t(0, 0), t(1, 0), t(1, 1), t(2, 0), t(2, 1), t(2, 2);
      }
      pf = k * *pf;
    }
    for (Vec3& p : xf) p = r * p + Vec3(0.4, -1.0, 2.0);
  }
  testing::TempDir dir;
  HessianFile read;
  const int atoms = static_cast<int>(m.z.size());
  if (c.format == HessianFormat::text) {
    testing::spill(dir / "h.txt", testing::plain_text(hf));
    testing::spill(dir / "d.txt", testing::dipole_text(df));
    read = read_hessian(dir / "h.txt", HessianFormat::text, HessianUnits::mdyn_per_angstrom, atoms);
    read.dipole_derivatives = read_dipole_derivatives(dir / "d.txt", atoms);
  } else {
    const std::string text = c.format == HessianFormat::fchk ? testing::fchk_text(m.z, xf, hf, df, pf)
                                                             : testing::orca_text(m.z, xf, hf, df);
    testing::spill(dir / "file", text);
    read = read_hessian(dir / "file", c.format, HessianUnits::hartree_per_bohr2, atoms);
  }
  ASSERT_TRUE(read.dipole_derivatives);
  ASSERT_EQ(read.polarizability_derivatives.has_value(), polar.has_value());
  if (read.positions) {
    const FrameFit fit = fit_frame(*read.positions, m.x);
    read.hessian = rotate_hessian(read.hessian, fit.rotation);
    read.dipole_derivatives = rotate_dipole_derivatives(*read.dipole_derivatives, fit.rotation);
    if (polar) read.polarizability_derivatives = rotate_polarizability_derivatives(*read.polarizability_derivatives, fit.rotation);
  }

  const VibrationInput in{b, masses, m.x, read.hessian, std::nullopt, {}, 1.0, "deck"};
  const VibrationAnalysis v = analyze_vibrations(in);
  const ModeIntensities got = mode_intensities(v, masses, read.dipole_derivatives, read.polarizability_derivatives);
  const std::vector<ReferenceMode> want = reference_modes(h, masses, static_cast<int>(n3 - b.rows()), dipole, polar);
  ASSERT_EQ(v.modes.size(), want.size());
  ASSERT_TRUE(got.infrared);
  std::vector<double> lambda, ir_want, raman_want;
  for (const ReferenceMode& r : want) lambda.push_back(r.lambda), ir_want.push_back(r.infrared), raman_want.push_back(r.raman);
  for (std::size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(v.modes[k].eigenvalue, lambda[k], 1e-6 * lambda.back());
  const double strongest = *std::max_element(ir_want.begin(), ir_want.end());
  expect_relative(summed_over_partners(lambda, *got.infrared), summed_over_partners(lambda, ir_want), 1e-3,
                  1e-6 * strongest, "infrared");
  if (polar) {
    ASSERT_TRUE(got.raman);
    expect_relative(summed_over_partners(lambda, *got.raman), summed_over_partners(lambda, raman_want), 1e-3, 1e-9,
                    "Raman");
  }
  EXPECT_GT(strongest, 1.0);  // the charges make the modes visible: the comparison is not of zeros
}

const double kH = 1.007825, kD = 2.014102, kO = 15.994915, kC12 = 12.0, kN = 14.003074;

INSTANTIATE_TEST_SUITE_P(
    SyntheticForceFields, Intensities,
    ::testing::Values(
        IntensityCase{"water_fchk_turned", testing::water, {-0.66, 0.33, 0.33}, {}, HessianFormat::fchk, true},
        IntensityCase{"d2o_orca_turned", testing::water, {-0.66, 0.33, 0.33}, {kO, kD, kD}, HessianFormat::orca, true},
        IntensityCase{"hdo_text", testing::water, {-0.66, 0.33, 0.33}, {kO, kH, kD}, HessianFormat::text, false},
        IntensityCase{"formaldehyde_fchk_turned", testing::formaldehyde, {0.25, -0.45, 0.1, 0.1}, {},
                      HessianFormat::fchk, true},
        IntensityCase{"d2co_orca", testing::formaldehyde, {0.25, -0.45, 0.1, 0.1}, {kC12, kO, kD, kD},
                      HessianFormat::orca, false},
        IntensityCase{"ammonia_fchk_turned", testing::ammonia, {-0.9, 0.3, 0.3, 0.3}, {}, HessianFormat::fchk, true},
        IntensityCase{"nd3_text", testing::ammonia, {-0.9, 0.3, 0.3, 0.3}, {kN, kD, kD, kD}, HessianFormat::text,
                      false},
        IntensityCase{"nh2d_orca_turned", testing::ammonia, {-0.9, 0.3, 0.3, 0.3}, {kN, kH, kH, kD},
                      HessianFormat::orca, true}),
    [](const ::testing::TestParamInfo<IntensityCase>& info) { return std::string(info.param.name); });

// ---- Degenerate partners --------------------------------------------------

TEST(Intensities, ADegeneratePairsSumDoesNotDependOnHowThePairIsChosen) {
  const ForceFieldMolecule m = testing::ammonia();
  const Matrix b = testing::b_matrix(m.x, m.independent);
  const Matrix h = b.transpose() * m.f * b;
  const VibrationAnalysis v = analyze_vibrations({b, m.masses, m.x, h, std::nullopt, {}, 1.0, "deck"});
  // Derivatives without the molecule's symmetry, so that the partners'
  // own intensities change when the pair is turned (point charges would give
  // both partners the same value however they are chosen).
  Matrix d(h.rows(), 3);
  for (Eigen::Index i = 0; i < d.rows(); ++i)
    for (Eigen::Index j = 0; j < 3; ++j) d(i, j) = std::cos(0.8 * static_cast<double>(i) + 2.1 * static_cast<double>(j));
  const Matrix p = chosen_polarizability(h.rows());
  int pairs = 0;
  for (std::size_t k = 0; k + 1 < v.modes.size(); ++k) {
    if (std::abs(v.modes[k].wavenumber - v.modes[k + 1].wavenumber) > 1e-6) continue;
    ++pairs;
    Matrix turned = v.cartesian_modes;
    const double angle = 0.6;
    const auto i = static_cast<Eigen::Index>(k);
    turned.col(i) = std::cos(angle) * v.cartesian_modes.col(i) + std::sin(angle) * v.cartesian_modes.col(i + 1);
    turned.col(i + 1) = -std::sin(angle) * v.cartesian_modes.col(i) + std::cos(angle) * v.cartesian_modes.col(i + 1);
    const std::vector<double> before = ir_intensities(v.cartesian_modes, m.masses, d);
    const std::vector<double> after = ir_intensities(turned, m.masses, d);
    EXPECT_NEAR(before[k] + before[k + 1], after[k] + after[k + 1], 1e-10 * (before[k] + before[k + 1]));
    EXPECT_GT(std::abs(before[k] - after[k]), 1e-3 * (before[k] + before[k + 1]));  // the partners themselves change
    const std::vector<double> s0 = raman_activities(v.cartesian_modes, m.masses, p);
    const std::vector<double> s1 = raman_activities(turned, m.masses, p);
    EXPECT_NEAR(s0[k] + s0[k + 1], s1[k] + s1[k + 1], 1e-10 * (s0[k] + s0[k + 1]));
    ++k;
  }
  EXPECT_EQ(pairs, 2);  // ammonia's two E modes
}

// ---- Reduced masses: a diatomic's closed form -----------------------------
//
// The stretch's mass-weighted mode is e ∝ M^-½ Bᵀ, so its Cartesian
// displacement c = M^-½ e is ∝ (−u/m1, u/m2) and |c|² = (1/m1² + 1/m2²) /
// (1/m1 + 1/m2). The reduced mass in this convention is therefore
// μ = m1 m2 (m1 + m2) / (m1² + m2²), not the textbook m1 m2 / (m1 + m2)
// (which is 1/G of the bond, checked too): for H2 it is the mass of one
// atom, 1.0078 u, as Gaussian and psi4 print. The mode force constant is
// λ μ with λ = k (1/m1 + 1/m2), i.e. k (m1 + m2)² / (m1² + m2²).

struct Diatomic {
  const char* name;
  int z1, z2;
  double m1, m2;  // u
  double r;       // Å
  double k;       // mdyn/Å
};

class Diatomics : public ::testing::TestWithParam<Diatomic> {};

TEST_P(Diatomics, ReducedMassAndForceConstantFollowTheClosedForm) {
  const Diatomic& c = GetParam();
  const Geometry x{{0.1, -0.2, 0.3}, Vec3(0.1, -0.2, 0.3) + c.r * Vec3(1, 2, 2) / 3};
  const Matrix b = testing::b_matrix(x, {testing::stretch(0, 1)});
  const Matrix f = Matrix::Constant(1, 1, c.k);
  const VibrationAnalysis v = analyze_vibrations({b, {c.m1, c.m2}, x, b.transpose() * f * b, std::nullopt, {}, 1.0, "deck"});
  ASSERT_EQ(v.modes.size(), 1u);
  const std::vector<ModeShape> s = mode_shapes(v.cartesian_modes, {v.modes[0].eigenvalue}, {c.m1, c.m2});
  const double m1 = c.m1, m2 = c.m2;
  EXPECT_NEAR(s[0].reduced_mass, m1 * m2 * (m1 + m2) / (m1 * m1 + m2 * m2), 1e-9);
  EXPECT_NEAR(s[0].force_constant, c.k * (m1 + m2) * (m1 + m2) / (m1 * m1 + m2 * m2), 1e-6 * c.k);
  EXPECT_NEAR(1 / v.g(0, 0), m1 * m2 / (m1 + m2), 1e-9);  // the textbook reduced mass, for contrast
  EXPECT_NEAR(s[0].displacement.norm(), 1.0, 1e-12);
  // Both atoms move along the bond, against each other, in the ratio of their masses' inverse.
  const Vec3 d1 = s[0].displacement.head<3>(), d2 = s[0].displacement.tail<3>();
  EXPECT_NEAR(std::abs(d1.normalized().dot(Vec3(1, 2, 2) / 3)), 1.0, 1e-9);
  EXPECT_NEAR((c.m1 * d1 + c.m2 * d2).norm(), 0.0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(ClosedForm, Diatomics,
                         ::testing::Values(Diatomic{"HCl", 1, 17, 1.007825, 34.968853, 1.2746, 5.16},
                                           Diatomic{"DCl", 1, 17, 2.014102, 34.968853, 1.2746, 5.16},
                                           Diatomic{"CO", 6, 8, 12.0, 15.994915, 1.1283, 19.02},
                                           Diatomic{"H2", 1, 1, 1.007825, 1.007825, 0.7414, 5.75}),
                         [](const ::testing::TestParamInfo<Diatomic>& info) { return std::string(info.param.name); });

TEST(Intensities, TheConstantIsThatOfTheSIFormula) {
  // N_A/(12 ε₀ c²) · e²/u in km/mol, with ε₀ of CODATA 2018.
  EXPECT_NEAR(ir_intensity_constant(), kNA * kE * kE / (12 * kEpsilon0 * kC * kC * kU) / 1000, 1e-6);
  EXPECT_NEAR(ir_intensity_constant(), 974.880, 1e-3);
}

// ---- psi4's harmonic analysis of the same Hessians ------------------------

struct Psi4Case {
  const char* name;
  const char* file;
  HessianFormat format;
  std::vector<testing::Coordinate> coordinates;
  std::vector<double> wavenumber, reduced_mass, force_constant, infrared;  // psi4's printed values
  std::vector<double> raman;  // empty, or Å⁴/u from a separate numpy computation made with the file
};

class Psi4Files : public ::testing::TestWithParam<Psi4Case> {};

TEST_P(Psi4Files, ModesAndIntensitiesAreThoseItPrinted) {
  const Psi4Case& c = GetParam();
  const HessianFile read = read_hessian(testing::kit_data(std::string("psi4/") + c.file), c.format,
                                        HessianUnits::hartree_per_bohr2, 0);
  ASSERT_TRUE(read.positions && read.atomic_numbers && read.dipole_derivatives);
  std::vector<double> masses;
  for (int z : *read.atomic_numbers) masses.push_back(most_abundant_mass(z));
  const Matrix b = testing::b_matrix(*read.positions, c.coordinates);
  const VibrationAnalysis v =
      analyze_vibrations({b, masses, *read.positions, read.hessian, std::nullopt, {}, 1.0, "deck"});
  const ModeIntensities got = mode_intensities(v, masses, read.dipole_derivatives, read.polarizability_derivatives);
  ASSERT_EQ(v.modes.size(), c.wavenumber.size());
  std::vector<double> wavenumber, reduced_mass, force_constant;
  for (std::size_t k = 0; k < v.modes.size(); ++k) {
    wavenumber.push_back(v.modes[k].wavenumber);
    reduced_mass.push_back(got.shapes[k].reduced_mass);
    force_constant.push_back(got.shapes[k].force_constant);
  }
  expect_relative(wavenumber, c.wavenumber, 0, 0.01, "wavenumber");
  expect_relative(reduced_mass, c.reduced_mass, 0, 1e-4, "reduced mass");
  expect_relative(force_constant, c.force_constant, 0, 1e-4, "force constant");
  // psi4's values come from its analytic dipole derivatives, the file's from
  // finite differences; they agree to 2e-5.
  expect_relative(*got.infrared, c.infrared, 1e-4, 1e-4, "infrared");
  if (!c.raman.empty()) {
    ASSERT_TRUE(got.raman);
    expect_relative(*got.raman, c.raman, 2e-5, 1e-4, "Raman");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Psi4, Psi4Files,
    ::testing::Values(
        Psi4Case{"water_fchk", "water.fchk", HessianFormat::fchk,
                 {testing::stretch(0, 1), testing::stretch(0, 2), testing::bend(1, 0, 2)},
                 {1826.5537, 4070.4592, 4188.7040}, {1.0823, 1.0455, 1.0828}, {2.1275, 10.2064, 11.1938},
                 {107.2705, 18.2090, 58.1104}, {5.7237, 75.5370, 39.0865}},
        Psi4Case{"formaldehyde_orca", "formaldehyde.hess", HessianFormat::orca,
                 {testing::stretch(1, 0), testing::stretch(1, 2), testing::stretch(1, 3), testing::bend(0, 1, 2),
                  testing::bend(0, 1, 3), testing::out_of_plane(0, 1, 2, 3)},
                 {1335.9674, 1383.2549, 1679.6723, 2027.7953, 3160.0809, 3231.7576},
                 {1.3690, 1.3442, 1.1042, 7.2365, 1.0491, 1.1206},
                 {1.4396, 1.5154, 1.8355, 17.5318, 6.1724, 6.8955},
                 {0.3671, 23.1536, 8.6616, 150.1428, 49.7230, 135.9430},
                 {}}),
    [](const ::testing::TestParamInfo<Psi4Case>& info) { return std::string(info.param.name); });


// ---- 60 atoms, three mass sets: analysis and intensities under 2 s --------
// In the suite of the other timed 60-atom test, so that it runs alone.

TEST(Vibrations, SixtyAtomsWithIntensitiesThreeMassSetsUnderTwoSeconds) {
  if (testing::under_valgrind()) GTEST_SKIP() << "under Valgrind";
  const testing::BracedLattice l = testing::braced_lattice(54321);
  const Geometry& x = l.x;
  const Matrix& b = l.b;
  const Matrix& h = l.h;
  const std::vector<std::vector<double>>& masses = l.masses;
  std::vector<double> q(60);
  for (int a = 0; a < 60; ++a) q[static_cast<std::size_t>(a)] = a % 2 == 0 ? 0.2 : -0.2;
  const Matrix d = charge_dipoles(q), p = chosen_polarizability(180);

  const double start = testing::cpu_seconds();
  double seconds_intensities = 0;
  std::vector<ModeIntensities> got;
  std::vector<VibrationAnalysis> analyses;
  for (const auto& m : masses) {
    analyses.push_back(analyze_vibrations({b, m, x, h, std::nullopt, {}, 1.0, "deck"}));
    const double before = testing::cpu_seconds();
    got.push_back(mode_intensities(analyses.back(), m, d, p));
    seconds_intensities += testing::cpu_seconds() - before;
  }
  const double seconds = testing::cpu_seconds() - start;
  RecordProperty("seconds", std::to_string(seconds));
  // The results: the sum of all modes' intensities is the trace of
  // Dᵀ M^-½ P M^-½ D over the vibrations (P the projector on the modes),
  // formed here densely.
  for (std::size_t s = 0; s < 3; ++s) {
    ASSERT_TRUE(got[s].infrared && got[s].raman);
    ASSERT_EQ(got[s].infrared->size(), 174u);
    Vector w(180);
    for (Eigen::Index i = 0; i < 180; ++i) w(i) = 1 / std::sqrt(masses[s][static_cast<std::size_t>(i / 3)]);
    const Matrix e = analyses[s].cartesian_modes;
    const Matrix dq = d.transpose() * w.asDiagonal() * (e * e.transpose()) * w.asDiagonal() * d;
    double sum = 0;
    for (double v : *got[s].infrared) sum += v;
    EXPECT_NEAR(sum, ir_intensity_constant() * dq.trace(), 1e-9 * sum);
  }
  if (testing::kTimedBuild) {
    EXPECT_LT(seconds, 2.0);
    EXPECT_LT(seconds_intensities, 0.1);  // linear in the modes: a small part of the whole
  }
}

}  // namespace
}  // namespace korven::kit
