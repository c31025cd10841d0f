// The scaled force field and its fit: F from the Hessian against the GF
// analysis and a pseudo-inverse taken here by SVD; wavenumbers made from a
// Hessian scaled with known factors (H = Bᵀ S F S B, with the reference
// wavenumbers from det(H − λM) = 0 and from G F′ block by block, both solved
// here) fitted back to those factors; eigenvalue derivatives against central
// differences; undetermined groups; refined elements on water and its
// isotopologues; and the time of benzene- and 60-atom-sized fits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "kit/base/kit_error.h"
#include "kit/vibrations/force_field.h"
#include "kit/vibrations/vibrations.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

using testing::Coordinate;
using testing::ForceFieldMolecule;
using testing::Geometry;
using testing::b_matrix;
using testing::bend;
using testing::direct_wavenumbers;
using testing::out_of_plane;
using testing::stretch;

constexpr double kDeuterium = 2.014102;  // u
constexpr double kCarbon13 = 13.003355;  // u

// ν̃ [cm⁻¹] of λ [mdyn/(Å·u)], with the CODATA 2018 values written out here.
double wavenumber_of(double lambda) {
  return std::sqrt(lambda * 1e2 / 1.66053906660e-27) / (2 * testing::kPi * 2.99792458e10);
}

Matrix dense_g(const Matrix& b, const std::vector<double>& masses) {
  Matrix m_inv = Matrix::Zero(b.cols(), b.cols());
  for (Eigen::Index i = 0; i < b.cols(); ++i) m_inv(i, i) = 1 / masses[static_cast<std::size_t>(i / 3)];
  return b * m_inv * b.transpose();
}

// The nonzero eigenvalues of G F (a general, unsymmetric eigenproblem),
// descending.
std::vector<double> gf_eigenvalues(const Matrix& g, const Matrix& f) {
  const Eigen::EigenSolver<Matrix> es(g * f, false);
  std::vector<double> out;
  double largest = 0;
  for (Eigen::Index i = 0; i < es.eigenvalues().size(); ++i) largest = std::max(largest, std::abs(es.eigenvalues()(i)));
  for (Eigen::Index i = 0; i < es.eigenvalues().size(); ++i)
    if (std::abs(es.eigenvalues()(i)) > 1e-8 * largest) out.push_back(es.eigenvalues()(i).real());
  std::sort(out.rbegin(), out.rend());
  return out;
}

// Modes (block, rank, ν̃) grouped into bands: equal wavenumbers (within
// `tolerance`) are one degenerate band.
std::vector<ObservedBand> bands_of(int mass_set, std::vector<std::tuple<int, int, double>> modes,
                                   double tolerance = 1e-4) {
  std::sort(modes.begin(), modes.end(), [](const auto& a, const auto& b) { return std::get<2>(a) > std::get<2>(b); });
  std::vector<ObservedBand> out;
  for (const auto& [block, rank, nu] : modes) {
    if (!out.empty() && std::abs(out.back().wavenumber - nu) < tolerance) {
      out.back().members.push_back({block, rank});
      continue;
    }
    out.push_back({mass_set, {{block, rank}}, nu, 1.0});
  }
  return out;
}

std::vector<double> substituted(std::vector<double> masses, const std::vector<int>& atoms, double mass) {
  for (int a : atoms) masses[static_cast<std::size_t>(a)] = mass;
  return masses;
}

// The reference bands of one mass set for F′ (in internal coordinates):
// block by block from U G Uᵀ and U F′ Uᵀ with U, else from the whole G F′;
// their wavenumbers checked against det(H′ − λM) = 0 for H′ = Bᵀ F′ B.
std::vector<ObservedBand> reference_bands(int mass_set, const Matrix& b, const Matrix& f, const ForceFieldMassSet& set,
                                          int vibrations) {
  const Matrix g = dense_g(b, set.masses);
  std::vector<std::tuple<int, int, double>> modes;
  std::vector<ModeBlock> blocks = set.blocks;
  if (blocks.empty()) blocks.push_back({0, static_cast<int>(set.u ? set.u->rows() : b.rows()), ""});
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    Matrix ub = Matrix::Identity(b.rows(), b.rows());
    if (set.u) ub = set.u->middleRows(blocks[k].first, blocks[k].size);
    const std::vector<double> lambda = gf_eigenvalues(ub * g * ub.transpose(), ub * f * ub.transpose());
    for (std::size_t r = 0; r < lambda.size(); ++r)
      modes.emplace_back(static_cast<int>(k), static_cast<int>(r), wavenumber_of(lambda[r]));
  }
  std::vector<double> direct =
      direct_wavenumbers(b.transpose() * f * b, set.masses, static_cast<int>(b.cols()) - vibrations);
  std::vector<double> mine;
  for (const auto& m : modes) mine.push_back(std::get<2>(m));
  std::sort(mine.begin(), mine.end());
  EXPECT_EQ(mine.size(), direct.size());
  for (std::size_t k = 0; k < std::min(mine.size(), direct.size()); ++k) EXPECT_NEAR(mine[k], direct[k], 1e-6);
  return bands_of(mass_set, modes);
}

Matrix root_scale(const std::vector<int>& groups, const std::vector<double>& factors) {
  Vector s(static_cast<Eigen::Index>(groups.size()));
  for (std::size_t i = 0; i < groups.size(); ++i)
    s(static_cast<Eigen::Index>(i)) = std::sqrt(factors[static_cast<std::size_t>(groups[i])]);
  return s.asDiagonal();
}

// ---- F from the Hessian ----------------------------------------------------

struct MoleculeCase {
  std::string name;
  ForceFieldMolecule (*molecule)();
};

class InternalForceConstants : public ::testing::TestWithParam<MoleculeCase> {};

TEST_P(InternalForceConstants, AreTheGfAnalysisOnesAndTheChosenField) {
  const ForceFieldMolecule m = GetParam().molecule();
  const Matrix b = b_matrix(m.x, m.independent);
  const Matrix h = b.transpose() * m.f * b;
  const Matrix f = internal_force_constants(b, h);
  EXPECT_LT((f - m.f).norm(), 1e-8 * m.f.norm());
  // Whatever the masses: the GF analysis' F = Aᵀ H A with A = M⁻¹ Bᵀ G⁻¹.
  for (const double heavy : {1.0, 3.0}) {
    std::vector<double> masses = m.masses;
    masses[0] *= heavy;
    const VibrationAnalysis v = analyze_vibrations({b, masses, m.x, h, std::nullopt, {}, 1.0, "deck"});
    EXPECT_LT((f - v.f).norm(), 1e-9 * v.f.norm()) << heavy;
  }
}

class RedundantForceConstants : public ::testing::TestWithParam<MoleculeCase> {};

TEST_P(RedundantForceConstants, AreTheSvdPseudoInverseOnes) {
  const ForceFieldMolecule m = GetParam().molecule();
  ASSERT_FALSE(m.extra.empty());
  const Matrix b_ind = b_matrix(m.x, m.independent);
  const Matrix h = b_ind.transpose() * m.f * b_ind;
  std::vector<Coordinate> all = m.independent;
  all.insert(all.end(), m.extra.begin(), m.extra.end());
  const Matrix b = b_matrix(m.x, all);
  const Matrix f = internal_force_constants(b, h);
  const Matrix b_plus = testing::svd_pseudo_inverse(b);
  EXPECT_LT((f - b_plus.transpose() * h * b_plus).norm(), 1e-8 * f.norm());
  EXPECT_LT((b.transpose() * f * b - h).norm(), 1e-8 * h.norm());
  EXPECT_THROW(internal_force_constants(b, Matrix::Zero(3, 3)), InputError);
}

INSTANTIATE_TEST_SUITE_P(ForceField, InternalForceConstants,
                         ::testing::Values(MoleculeCase{"water", testing::water},
                                           MoleculeCase{"ammonia", testing::ammonia},
                                           MoleculeCase{"formaldehyde", testing::formaldehyde},
                                           MoleculeCase{"carbon_dioxide", testing::carbon_dioxide}),
                         [](const ::testing::TestParamInfo<MoleculeCase>& i) { return i.param.name; });

// The molecules with a redundant coordinate among their synthetic ones.
INSTANTIATE_TEST_SUITE_P(ForceField, RedundantForceConstants,
                         ::testing::Values(MoleculeCase{"water", testing::water},
                                           MoleculeCase{"ammonia", testing::ammonia},
                                           MoleculeCase{"formaldehyde", testing::formaldehyde}),
                         [](const ::testing::TestParamInfo<MoleculeCase>& i) { return i.param.name; });

// ---- Recovery of known scale factors ---------------------------------------

enum class Form { independent, redundant, symmetry, symmetry_redundant };

struct Isotopologue {
  std::vector<int> deuterated;  // atoms carrying D
  bool symmetric = true;        // keeps the parent's symmetry (U applies)
};

struct RecoveryCase {
  std::string name;
  ForceFieldMolecule (*molecule)();
  Form form;
  std::vector<int> groups;  // per coordinate of the form
  std::vector<double> factors;
  std::vector<Isotopologue> isotopologues;
};

// Everything a fit needs, made from the molecule and the true factors.
struct Problem {
  Matrix b, f;
  std::vector<ForceFieldMassSet> sets;
  std::vector<ObservedBand> bands;
};

Problem recovery_problem(const RecoveryCase& c) {
  const ForceFieldMolecule m = c.molecule();
  const bool redundant = c.form == Form::redundant || c.form == Form::symmetry_redundant;
  const bool symmetry = c.form == Form::symmetry || c.form == Form::symmetry_redundant;
  std::vector<Coordinate> coords = m.independent;
  if (redundant) coords.insert(coords.end(), m.extra.begin(), m.extra.end());
  const Matrix b_ind = b_matrix(m.x, m.independent);
  Problem p{b_matrix(m.x, coords), Matrix(), {}, {}};
  const Matrix h = b_ind.transpose() * m.f * b_ind;
  p.f = internal_force_constants(p.b, h);
  const Matrix b_plus = testing::svd_pseudo_inverse(p.b);
  const Matrix s = root_scale(c.groups, c.factors);
  const Matrix f_scaled = s * (b_plus.transpose() * h * b_plus) * s;  // made here, not by the model
  for (const Isotopologue& iso : c.isotopologues) {
    ForceFieldMassSet set{substituted(m.masses, iso.deuterated, kDeuterium), std::nullopt, {}, "set"};
    if (symmetry && iso.symmetric) {
      set.u = redundant ? m.u_redundant : m.u_independent;
      set.blocks = redundant ? m.blocks_redundant : m.blocks_independent;
    }
    const std::vector<ObservedBand> bands =
        reference_bands(static_cast<int>(p.sets.size()), p.b, f_scaled, set, static_cast<int>(b_ind.rows()));
    p.bands.insert(p.bands.end(), bands.begin(), bands.end());
    p.sets.push_back(std::move(set));
  }
  return p;
}

class ScaleFactorRecovery : public ::testing::TestWithParam<RecoveryCase> {};

TEST_P(ScaleFactorRecovery, FitsBackTheFactorsAndTheWavenumbers) {
  const RecoveryCase& c = GetParam();
  const Problem p = recovery_problem(c);
  const ForceFieldModel model(p.b, p.f, c.groups, p.sets);
  ASSERT_EQ(model.groups(), static_cast<int>(c.factors.size()));
  const ForceFieldFit fit = fit_force_field(model, p.bands);
  const LeastSquaresResult& r = fit.result;
  EXPECT_TRUE(r.converged);
  EXPECT_TRUE(r.undetermined().empty());
  EXPECT_EQ(r.observations, static_cast<int>(p.bands.size()));
  for (std::size_t g = 0; g < c.factors.size(); ++g) {
    EXPECT_NEAR(r.values(static_cast<Eigen::Index>(g)), c.factors[g], 1e-6) << "group " << g;
    EXPECT_TRUE(r.errors[g]);
  }
  for (std::size_t i = 0; i < p.bands.size(); ++i)
    EXPECT_NEAR(fit.calculated[i], p.bands[i].wavenumber, 1e-4) << "band " << i;
  EXPECT_LT(r.rms, 1e-4);
}

const std::vector<Isotopologue> kWaters = {{{}, true}, {{1, 2}, true}, {{1}, false}};       // H2O D2O HDO
const std::vector<Isotopologue> kAmmonias = {{{}, true}, {{1, 2, 3}, true}, {{1}, false}};  // NH3 ND3 NH2D
const std::vector<Isotopologue> kFormaldehydes = {{{}, true}, {{2, 3}, true}, {{2}, false}};  // H2CO D2CO HDCO

INSTANTIATE_TEST_SUITE_P(
    ForceField, ScaleFactorRecovery,
    ::testing::Values(
        RecoveryCase{"water_independent", testing::water, Form::independent, {0, 0, 1}, {0.92, 1.07}, kWaters},
        RecoveryCase{"water_redundant", testing::water, Form::redundant, {0, 0, 1, 2}, {0.92, 1.07, 0.85}, kWaters},
        RecoveryCase{"water_symmetry", testing::water, Form::symmetry, {0, 0, 1}, {0.92, 1.07}, kWaters},
        RecoveryCase{"water_symmetry_redundant", testing::water, Form::symmetry_redundant, {0, 0, 1, 2},
                     {0.92, 1.07, 0.85}, kWaters},
        RecoveryCase{"ammonia_independent", testing::ammonia, Form::independent, {0, 0, 0, 1, 1, 1}, {0.9, 1.08},
                     kAmmonias},
        RecoveryCase{"ammonia_redundant", testing::ammonia, Form::redundant, {0, 0, 0, 1, 1, 1, 2},
                     {0.9, 1.08, 1.05}, kAmmonias},
        RecoveryCase{"ammonia_symmetry", testing::ammonia, Form::symmetry, {0, 0, 0, 1, 1, 1}, {0.9, 1.08},
                     kAmmonias},
        RecoveryCase{"formaldehyde_independent", testing::formaldehyde, Form::independent, {0, 1, 1, 2, 2, 3},
                     {0.95, 0.9, 1.05, 1.1}, kFormaldehydes},
        RecoveryCase{"formaldehyde_redundant", testing::formaldehyde, Form::redundant, {0, 1, 1, 2, 2, 3, 2},
                     {0.95, 0.9, 1.05, 1.1}, kFormaldehydes},
        RecoveryCase{"formaldehyde_symmetry", testing::formaldehyde, Form::symmetry, {0, 1, 1, 2, 2, 3},
                     {0.95, 0.9, 1.05, 1.1}, kFormaldehydes}),
    [](const ::testing::TestParamInfo<RecoveryCase>& i) { return i.param.name; });

// ---- Derivatives against central differences ---------------------------------

struct DerivativeCase {
  std::string name;
  RecoveryCase problem;
  std::vector<RefinedElement> refined;
  std::vector<double> at;  // the parameters, factors then Δ
};

class EigenvalueDerivatives : public ::testing::TestWithParam<DerivativeCase> {};

// Mean λ over each band's members (a degenerate set as a whole), as the
// members are grouped at the parameters tested.
TEST_P(EigenvalueDerivatives, AreTheCentralDifferences) {
  const DerivativeCase& c = GetParam();
  const Problem p = recovery_problem(c.problem);
  const ForceFieldModel model(p.b, p.f, c.problem.groups, p.sets, c.refined);
  const Vector at = Vector::Map(c.at.data(), static_cast<Eigen::Index>(c.at.size()));
  ASSERT_EQ(at.size(), model.parameters());
  const std::vector<ForceFieldModes> modes = model.evaluate(at);
  int checked = 0;
  for (int k = 0; k < model.mass_sets(); ++k) {
    std::vector<std::tuple<int, int, double>> list;
    for (std::size_t b = 0; b < modes[static_cast<std::size_t>(k)].blocks.size(); ++b)
      for (Eigen::Index r = 0; r < modes[static_cast<std::size_t>(k)].blocks[b].wavenumbers.size(); ++r)
        list.emplace_back(static_cast<int>(b), static_cast<int>(r), modes[static_cast<std::size_t>(k)].blocks[b].wavenumbers(r));
    for (const ObservedBand& band : bands_of(k, list)) {
      const ModeValue v = mode_value(modes[static_cast<std::size_t>(k)], band.members);
      for (Eigen::Index j = 0; j < at.size(); ++j) {
        const double h = 1e-5;
        Vector up = at, down = at;
        up(j) += h;
        down(j) -= h;
        const ModeValue vu = mode_value(model.evaluate(up, false)[static_cast<std::size_t>(k)], band.members);
        const ModeValue vd = mode_value(model.evaluate(down, false)[static_cast<std::size_t>(k)], band.members);
        const double dl = (vu.lambda - vd.lambda) / (2 * h), dn = (vu.wavenumber - vd.wavenumber) / (2 * h);
        EXPECT_NEAR(v.dlambda(j), dl, 1e-7 * std::max(1.0, std::abs(dl)))
            << "set " << k << ", band at " << v.wavenumber << " cm-1, parameter " << j;
        // dν̃ carries the rounding of dλ times dν̃/dλ = ν̃ / (2λ).
        EXPECT_NEAR(v.dwavenumber(j), dn, 1e-6 * std::max(std::abs(dn), v.wavenumber / (2 * v.lambda)));
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 0);
}

RecoveryCase with_form(RecoveryCase c, Form form) {
  c.form = form;
  return c;
}

const RecoveryCase kWater{"water", testing::water, Form::symmetry, {0, 0, 1}, {1, 1}, kWaters};
const RecoveryCase kAmmonia{"ammonia", testing::ammonia, Form::symmetry, {0, 0, 0, 1, 1, 1}, {1, 1}, kAmmonias};
const RecoveryCase kFormaldehyde{
    "formaldehyde", testing::formaldehyde, Form::redundant, {0, 1, 1, 2, 2, 3, 2}, {1, 1, 1, 1}, kFormaldehydes};

INSTANTIATE_TEST_SUITE_P(
    ForceField, EigenvalueDerivatives,
    ::testing::Values(
        DerivativeCase{"water_symmetry_refined",
                       kWater,
                       {{ElementBasis::symmetry, 0, 0, 0}, {ElementBasis::symmetry, 0, 1, 0},
                        {ElementBasis::symmetry, 2, 2, 1}, {ElementBasis::internal, 0, 2, 0}},
                       {0.93, 1.08, 0.3, -0.05, -0.2, 0.04}},
        DerivativeCase{"water_redundant_internal",
                       RecoveryCase{"w", testing::water, Form::symmetry_redundant, {0, 0, 1, 2}, {1, 1, 1}, kWaters},
                       {{ElementBasis::internal, 1, 1, 0}, {ElementBasis::symmetry, 1, 2, 0}},
                       {0.97, 1.1, 0.8, 0.2, 0.03}},
        // Degenerate E modes: across the partner blocks with U, within the one
        // block without (NH2D has none). An A1 refinement keeps them
        // degenerate; one that would split them (an E(1) element alone, a
        // single internal coupling) is tested at Δ = 0, where the sum over
        // the pair is still smooth.
        DerivativeCase{"ammonia_degenerate", kAmmonia,
                       {{ElementBasis::symmetry, 0, 1, 0}, {ElementBasis::symmetry, 2, 3, 0}}, {0.9, 1.1, 0.02, 0.0}},
        DerivativeCase{"ammonia_degenerate_no_symmetry", with_form(kAmmonia, Form::independent),
                       {{ElementBasis::internal, 3, 4, 0}}, {1.05, 0.95, 0.0}},
        DerivativeCase{"formaldehyde_redundant", kFormaldehyde, {{ElementBasis::internal, 0, 1, 0}},
                       {0.95, 0.9, 1.05, 1.1, 0.1}}),
    [](const ::testing::TestParamInfo<DerivativeCase>& i) { return i.param.name; });

// ---- The scaled field and refined elements ---------------------------------

TEST(ForceField, ScaledFieldIsTheGroupScalingPlusTheRefinedChanges) {
  const ForceFieldMolecule m = testing::water();
  const Matrix b = b_matrix(m.x, m.independent);
  const Matrix& u = m.u_independent;
  const ForceFieldModel model(b, m.f, {0, 0, 1}, {{m.masses, u, m.blocks_independent, "H2O"}},
                              {{ElementBasis::symmetry, 0, 1, 0}, {ElementBasis::internal, 2, 2, 0}});
  Vector p(4);
  p << 0.81, 1.21, 0.07, -0.03;
  const Matrix f = model.scaled_force_field(p);
  // √(c_i c_j) F_ij element by element, then the two refinements.
  Matrix expected(3, 3);
  const double c[3] = {0.81, 0.81, 1.21};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) expected(i, j) = std::sqrt(c[i] * c[j]) * m.f(i, j);
  Matrix delta_s = Matrix::Zero(3, 3);
  delta_s(0, 1) = delta_s(1, 0) = 0.07;
  expected += u.transpose() * delta_s * u;
  expected(2, 2) -= 0.03;
  EXPECT_LT((f - expected).norm(), 1e-14);
  // In U's coordinates the symmetric refinement touches exactly (0,1), (1,0).
  Vector p0 = p;
  p0(2) = 0;
  const Matrix change = u * (f - model.scaled_force_field(p0)) * u.transpose();
  EXPECT_NEAR(change(0, 1), 0.07, 1e-14);
  EXPECT_NEAR(change(1, 0), 0.07, 1e-14);
  EXPECT_NEAR(change.norm(), 0.07 * std::sqrt(2.0), 1e-14);
  EXPECT_EQ(model.start(), (Vector(4) << 1, 1, 0, 0).finished());
  EXPECT_THROW(model.scaled_force_field((Vector(4) << 0, 1, 0, 0).finished()), std::domain_error);
}

// The modes the model returns satisfy L Lᵀ = G (per block, on its range),
// Lᵀ F′ L = Λ, and come in descending order within a block.
TEST(ForceField, ModesAreNormalisedAsWilsonsL) {
  const RecoveryCase c = with_form(kFormaldehyde, Form::symmetry);
  RecoveryCase independent = c;
  independent.groups = {0, 1, 1, 2, 2, 3};
  const Problem p = recovery_problem(independent);
  const ForceFieldModel model(p.b, p.f, independent.groups, p.sets);
  Vector at(4);
  at << 0.9, 1.1, 0.95, 1.2;
  const Matrix f = model.scaled_force_field(at);
  const std::vector<ForceFieldModes> modes = model.evaluate(at);
  for (int k = 0; k < model.mass_sets(); ++k) {
    Matrix llt = Matrix::Zero(f.rows(), f.cols());
    for (const BlockModes& b : modes[static_cast<std::size_t>(k)].blocks) {
      EXPECT_LT((b.l.transpose() * f * b.l - Matrix(b.lambda.asDiagonal())).norm(), 1e-10);
      for (Eigen::Index r = 1; r < b.lambda.size(); ++r) EXPECT_GE(b.lambda(r - 1), b.lambda(r));
      llt += b.l * b.l.transpose();
    }
    EXPECT_LT((llt - model.g(k)).norm(), 1e-10 * model.g(k).norm()) << k;  // independent set: G has full rank
  }
}

// Formaldehyde in symmetry coordinates with the out-of-plane wag as a group
// of its own, and no B1 band observed: that group is undetermined.
TEST(ForceField, AGroupWithNoObservedBandIsUndetermined) {
  RecoveryCase c{"formaldehyde", testing::formaldehyde, Form::symmetry, {0, 1, 1, 2, 2, 3}, {0.95, 0.9, 1.05, 1.2},
                 {{{}, true}, {{2, 3}, true}}};
  Problem p = recovery_problem(c);
  std::vector<ObservedBand> bands;
  for (const ObservedBand& b : p.bands)
    if (b.members.front().block != 1) bands.push_back(b);  // block 1 is B1, the wag alone
  ASSERT_EQ(bands.size(), p.bands.size() - 2);
  const ForceFieldModel model(p.b, p.f, c.groups, p.sets);
  const ForceFieldFit fit = fit_force_field(model, bands);
  EXPECT_EQ(fit.result.undetermined(), std::vector<int>{3});
  EXPECT_EQ(fit.result.values(3), 1.0);
  EXPECT_FALSE(fit.result.errors[3]);
  for (int g = 0; g < 3; ++g) EXPECT_NEAR(fit.result.values(g), c.factors[static_cast<std::size_t>(g)], 1e-6);
  EXPECT_TRUE(fit.result.converged);
}

// Water with its three A1 symmetry force constants and the B2 one refined
// (the factors fixed at 1): H2O alone leaves the A1 block undetermined (two
// bands for three constants); with D2O and HDO all four come back.
struct WaterRefinement {
  Matrix b, f;
  std::vector<ForceFieldMassSet> sets;
  std::vector<ObservedBand> bands;
  std::vector<RefinedElement> refined;
  Vector truth;
};

WaterRefinement water_refinement(const std::vector<Isotopologue>& isotopologues) {
  const ForceFieldMolecule m = testing::water();
  WaterRefinement w;
  w.b = b_matrix(m.x, m.independent);
  w.f = internal_force_constants(w.b, w.b.transpose() * m.f * w.b);
  w.refined = {{ElementBasis::symmetry, 0, 0, 0}, {ElementBasis::symmetry, 0, 1, 0},
               {ElementBasis::symmetry, 1, 1, 0}, {ElementBasis::symmetry, 2, 2, 0}};
  w.truth = (Vector(4) << 0.3, -0.05, 0.04, -0.2).finished();
  Matrix delta = Matrix::Zero(3, 3);
  delta(0, 0) = 0.3, delta(0, 1) = delta(1, 0) = -0.05, delta(1, 1) = 0.04, delta(2, 2) = -0.2;
  const Matrix f_true = m.f + m.u_independent.transpose() * delta * m.u_independent;
  for (const Isotopologue& iso : isotopologues) {
    ForceFieldMassSet set{substituted(m.masses, iso.deuterated, kDeuterium), std::nullopt, {}, "set"};
    if (iso.symmetric) set.u = m.u_independent, set.blocks = m.blocks_independent;
    const std::vector<ObservedBand> bands = reference_bands(static_cast<int>(w.sets.size()), w.b, f_true, set, 3);
    w.bands.insert(w.bands.end(), bands.begin(), bands.end());
    w.sets.push_back(std::move(set));
  }
  return w;
}

TEST(ForceField, RefinedSymmetryConstantsOfWaterComeBackFromItsIsotopologues) {
  const WaterRefinement w = water_refinement(kWaters);
  const ForceFieldModel model(w.b, w.f, {0, 0, 1}, w.sets, w.refined);
  FitSettings settings;
  settings.fixed = {true, true, false, false, false, false};
  const ForceFieldFit fit = fit_force_field(model, w.bands, settings);
  EXPECT_TRUE(fit.result.converged);
  EXPECT_TRUE(fit.result.undetermined().empty());
  for (Eigen::Index e = 0; e < 4; ++e) {
    EXPECT_NEAR(fit.result.values(2 + e), w.truth(e), 1e-6) << e;
    EXPECT_TRUE(fit.result.errors[static_cast<std::size_t>(2 + e)]);
  }
  for (std::size_t i = 0; i < w.bands.size(); ++i) EXPECT_NEAR(fit.calculated[i], w.bands[i].wavenumber, 1e-4);
}

TEST(ForceField, WaterAloneLeavesTheA1BlockOpenUnlessRegularised) {
  const WaterRefinement w = water_refinement({{{}, true}});
  ASSERT_EQ(w.bands.size(), 3u);
  const ForceFieldModel model(w.b, w.f, {0, 0, 1}, w.sets, w.refined);
  FitSettings settings;
  settings.fixed = {true, true, false, false, false, false};
  const ForceFieldFit open = fit_force_field(model, w.bands, settings);
  ASSERT_EQ(open.result.undetermined().size(), 1u);
  const int held = open.result.undetermined().front();
  EXPECT_GE(held, 2);
  EXPECT_LE(held, 4);  // one of the three A1 constants
  EXPECT_EQ(open.result.values(held), 0.0);
  EXPECT_FALSE(open.result.errors[static_cast<std::size_t>(held)]);  // no degree of freedom left either
  EXPECT_NEAR(open.result.values(5), w.truth(3), 1e-6);               // B2: its band alone fixes it
  EXPECT_LT(open.result.rms, 1e-4);

  settings.regularize = 1e2;
  const ForceFieldFit pulled = fit_force_field(model, w.bands, settings);
  EXPECT_TRUE(pulled.result.undetermined().empty());
  EXPECT_TRUE(pulled.result.converged) << pulled.result.iterations << " iterations";
  for (int e = 2; e < 6; ++e) EXPECT_TRUE(pulled.result.errors[static_cast<std::size_t>(e)]);
  // The pulled values minimise S(p) = Σ (ν̃_obs − ν̃(p))² + w ‖Δ‖²: its
  // central differences, formed here from the wavenumbers alone, vanish.
  const auto objective = [&](const Vector& p) {
    const std::vector<ForceFieldModes> modes = model.evaluate(p, false);
    double sum = *settings.regularize * p.segment(2, 4).squaredNorm();
    for (const ObservedBand& band : w.bands)
      sum += std::pow(band.wavenumber - mode_value(modes[static_cast<std::size_t>(band.mass_set)], band.members).wavenumber, 2);
    return sum;
  };
  for (Eigen::Index j = 2; j < 6; ++j) {
    const double h = 1e-5;
    Vector up = pulled.result.values, down = up;
    up(j) += h, down(j) -= h;
    // The slope of w Δ² alone at Δ = 0.1 is 20: the gradient is far below it.
    EXPECT_NEAR((objective(up) - objective(down)) / (2 * h), 0.0, 1e-3) << j;
  }
  // S at the pulled values is at most w ‖Δ_open‖², its value at the open
  // ones, where the bands are met: so ‖Δ_pulled‖ ≤ ‖Δ_open‖.
  EXPECT_LT(pulled.result.values.segment(2, 4).norm(), open.result.values.segment(2, 4).norm() + 1e-9);
  EXPECT_GT(pulled.result.rms, 1e-3);  // the pull is felt
}

TEST(ForceField, RefusesWhatDoesNotFitTogether) {
  const ForceFieldMolecule m = testing::water();
  const Matrix b = b_matrix(m.x, m.independent);
  const ForceFieldMassSet plain{m.masses, std::nullopt, {}, "H2O"};
  EXPECT_THROW(ForceFieldModel(b, m.f, {0, 0}, {plain}), InputError);
  EXPECT_THROW(ForceFieldModel(b, Matrix::Identity(2, 2), {0, 0, 1}, {plain}), InputError);
  EXPECT_THROW(ForceFieldModel(b, m.f, {0, 0, 1}, {{{1.0, 1.0}, std::nullopt, {}, "x"}}), InputError);
  EXPECT_THROW(ForceFieldModel(b, m.f, {0, 0, 1}, {{{16.0, -1.0, 1.0}, std::nullopt, {}, "x"}}), InputError);
  EXPECT_THROW(ForceFieldModel(b, m.f, {0, 0, 1}, {{m.masses, Matrix::Ones(3, 3), {}, "x"}}), InputError);
  EXPECT_THROW(ForceFieldModel(b, m.f, {0, 0, 1}, {plain}, {{ElementBasis::symmetry, 0, 0, 0}}), InputError);
  EXPECT_THROW(ForceFieldModel(b, m.f, {0, 0, 1}, {plain}, {{ElementBasis::internal, 0, 3, 0}}), InputError);
  const ForceFieldModel model(b, m.f, {0, 0, 1}, {plain});
  EXPECT_EQ(model.block_sizes(0), std::vector<int>{3});
  EXPECT_THROW(fit_force_field(model, {{1, {{0, 0}}, 3000.0, 1.0}}), InputError);
  EXPECT_THROW(fit_force_field(model, {{0, {{0, 3}}, 3000.0, 1.0}}), InputError);
  EXPECT_THROW(fit_force_field(model, {{0, {{0, 0}}, 3000.0, 0.0}}), InputError);
}

// ---- Time -------------------------------------------------------------------

// The dihedral a–b–c–d (Blondel & Karplus, J. Comput. Chem. 17, 1132, 1996).
Coordinate torsion(int a, int b, int c, int d) {
  return [=](const Geometry& x) {
    const Vec3 b1 = x[b] - x[a], b2 = x[c] - x[b], b3 = x[d] - x[c];
    return std::atan2(b2.norm() * b1.dot(b2.cross(b3)), b1.cross(b2).dot(b2.cross(b3)));
  };
}

struct TimedProblem {
  Matrix b, h;
  std::vector<int> groups;
  std::vector<double> factors;
  std::vector<std::vector<double>> masses;
};

// Bands of every mass set from det(H′ − λM) = 0, with H′ = Bᵀ S F S B and
// F from B's SVD pseudo-inverse; one block, ranks by descending wavenumber.
std::vector<ObservedBand> direct_bands(const TimedProblem& t, int vibrations) {
  const Matrix b_plus = testing::svd_pseudo_inverse(t.b);
  const Matrix s = root_scale(t.groups, t.factors);
  const Matrix h_scaled = t.b.transpose() * s * (b_plus.transpose() * t.h * b_plus) * s * t.b;
  std::vector<ObservedBand> out;
  for (std::size_t k = 0; k < t.masses.size(); ++k) {
    std::vector<double> nu = direct_wavenumbers(h_scaled, t.masses[k], static_cast<int>(t.b.cols()) - vibrations);
    std::vector<std::tuple<int, int, double>> modes;
    std::sort(nu.rbegin(), nu.rend());
    for (std::size_t r = 0; r < nu.size(); ++r) modes.emplace_back(0, static_cast<int>(r), nu[r]);
    const std::vector<ObservedBand> bands = bands_of(static_cast<int>(k), modes);
    out.insert(out.end(), bands.begin(), bands.end());
  }
  return out;
}

struct Timed {
  double seconds = 0;
  ForceFieldFit fit;
};

Timed timed_fit(const TimedProblem& t, const std::vector<ObservedBand>& bands) {
  const double start = testing::cpu_seconds();
  std::vector<ForceFieldMassSet> sets;
  for (const auto& m : t.masses) sets.push_back({m, std::nullopt, {}, "set"});
  const ForceFieldModel model(t.b, internal_force_constants(t.b, t.h), t.groups, sets);
  Timed out;
  out.fit = fit_force_field(model, bands);
  out.seconds = testing::cpu_seconds() - start;
  return out;
}

// Benzene: CC and CH stretches, CCC and CCH bends, H wags and ring torsions
// (42 coordinates for 30 vibrations), six groups; C6H6, C6D6 and 13C6H6.
TimedProblem benzene() {
  Geometry x;
  for (int i = 0; i < 6; ++i) x.emplace_back(1.397 * std::cos(i * testing::kPi / 3), 1.397 * std::sin(i * testing::kPi / 3), 0);
  for (int i = 0; i < 6; ++i) x.emplace_back(2.481 * std::cos(i * testing::kPi / 3), 2.481 * std::sin(i * testing::kPi / 3), 0);
  std::vector<Coordinate> coords;
  TimedProblem t;
  const auto add = [&](Coordinate c, int group) { coords.push_back(std::move(c)), t.groups.push_back(group); };
  for (int i = 0; i < 6; ++i) {
    const int prev = (i + 5) % 6, next = (i + 1) % 6;
    add(stretch(i, next), 0);
    add(stretch(i, 6 + i), 1);
    add(bend(prev, i, next), 2);
    add(bend(prev, i, 6 + i), 3);
    add(bend(next, i, 6 + i), 3);
    add(out_of_plane(6 + i, i, prev, next), 4);
    add(torsion(i, next, (i + 2) % 6, (i + 3) % 6), 5);
  }
  t.b = b_matrix(x, coords);
  const double diagonal[] = {6.5, 5.1, 1.2, 0.5, 0.4, 0.3};
  Matrix f = Matrix::Zero(t.b.rows(), t.b.rows());
  for (std::size_t i = 0; i < t.groups.size(); ++i) f(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(i)) = diagonal[t.groups[i]];
  for (int i = 0; i < 6; ++i) f(7 * i, 7 * ((i + 1) % 6)) = f(7 * ((i + 1) % 6), 7 * i) = 0.5;  // neighbouring CC
  t.h = t.b.transpose() * f * t.b;
  t.factors = {0.92, 0.9, 1.03, 0.97, 1.08, 0.95};
  const std::vector<double> parent = {12, 12, 12, 12, 12, 12, 1.007825, 1.007825, 1.007825, 1.007825, 1.007825, 1.007825};
  t.masses = {parent, substituted(parent, {6, 7, 8, 9, 10, 11}, kDeuterium), substituted(parent, {0, 1, 2, 3, 4, 5}, kCarbon13)};
  return t;
}

TEST(ForceFieldFit, BenzeneThreeIsotopologuesUnderHalfASecond) {
  const TimedProblem t = benzene();
  const std::vector<ObservedBand> bands = direct_bands(t, 30);
  ASSERT_LT(bands.size(), 90u);  // the degenerate pairs are one band each
  const Timed r = timed_fit(t, bands);
  RecordProperty("seconds", std::to_string(r.seconds));
  EXPECT_TRUE(r.fit.result.converged);
  for (std::size_t g = 0; g < t.factors.size(); ++g)
    EXPECT_NEAR(r.fit.result.values(static_cast<Eigen::Index>(g)), t.factors[g], 1e-6) << g;
  EXPECT_LT(r.fit.result.rms, 1e-4);
  if (testing::kTimedBuild) {
    EXPECT_LT(r.seconds, 0.5) << r.fit.result.iterations << " iterations";
  }
}

// The braced lattice of the vibrations test (60 atoms, every pair within
// 2.4 Å a stretch), the stretches grouped by direction; three mass sets.
TimedProblem sixty_atoms() {
  testing::BracedLattice l = testing::braced_lattice();
  TimedProblem t;
  for (const auto& [a, c] : l.bonds) {
    const Vec3 d = l.x[static_cast<std::size_t>(c)] - l.x[static_cast<std::size_t>(a)];
    int along = 0, axis = 0, across = 0;  // an axis-parallel bond: its axis; a diagonal: the axis it misses
    for (int k = 0; k < 3; ++k) {
      if (std::abs(d(k)) > 0.75) ++along, axis = k;
      else across = k;
    }
    t.groups.push_back(along == 1 ? axis : 3 + across);
  }
  t.b = std::move(l.b);
  t.h = std::move(l.h);
  t.factors = {0.9, 0.95, 1.0, 1.05, 1.1, 0.85};
  t.masses = std::move(l.masses);
  return t;
}

TEST(ForceFieldFit, SixtyAtomsThreeMassSetsUnderFiveSeconds) {
  const TimedProblem t = sixty_atoms();
  const std::vector<ObservedBand> bands = direct_bands(t, 174);
  const Timed r = timed_fit(t, bands);
  RecordProperty("seconds", std::to_string(r.seconds));
  EXPECT_TRUE(r.fit.result.converged);
  for (std::size_t g = 0; g < t.factors.size(); ++g)
    EXPECT_NEAR(r.fit.result.values(static_cast<Eigen::Index>(g)), t.factors[g], 1e-6) << g;
  EXPECT_LT(r.fit.result.rms, 1e-4);
  if (testing::kTimedBuild) {
    EXPECT_LT(r.seconds, 5.0) << t.b.rows() << " coordinates, " << r.fit.result.iterations << " iterations";
  }
}

}  // namespace
}  // namespace korven::kit
