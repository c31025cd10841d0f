// Vibrational analysis from Hessian files built from chosen valence force
// fields: H = Bᵀ F B over an independent set, written in each file format,
// read back and analysed; wavenumbers checked against the generalized
// eigenproblem of H and M solved here, F against the force field chosen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <unistd.h>

#include "kit/vibrations/frame_fit.h"
#include "kit/io/hessian_input.h"
#include "kit/base/kit_error.h"
#include "kit/vibrations/mode_matching.h"
#include "kit/vibrations/vibrations.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;
using testing::ForceFieldMolecule;
using testing::Coordinate;
using testing::Geometry;
using testing::kBohr;
using testing::kHartreeBohr2;
using testing::kPi;
using testing::b_matrix;
using testing::bend;
using testing::direct_wavenumbers;
using testing::file_text;
using testing::stretch;
using testing::water;
using testing::ammonia;
using testing::formaldehyde;
using testing::carbon_dioxide;
using testing::write_temp;
using testing::plain_text;
using testing::fchk_text;
using testing::orca_text;

// ---- The table of synthetic Hessians -------------------------------------

struct Case {
  const char* name;
  ForceFieldMolecule (*molecule)();
  HessianFormat format;
  bool redundant, symmetry, turned;
};

TEST(Vibrations, SyntheticForceFieldsComeBackThroughEachFormat) {
  const Case cases[] = {
      {"water fchk", water, HessianFormat::fchk, false, false, false},
      {"water orca redundant turned", water, HessianFormat::orca, true, false, true},
      {"water text with U", water, HessianFormat::text, false, true, false},
      {"water fchk redundant with U turned", water, HessianFormat::fchk, true, true, true},
      {"ammonia orca turned", ammonia, HessianFormat::orca, false, false, true},
      {"ammonia text redundant", ammonia, HessianFormat::text, true, false, false},
      {"formaldehyde fchk turned with U", formaldehyde, HessianFormat::fchk, false, true, true},
      {"formaldehyde orca redundant", formaldehyde, HessianFormat::orca, true, false, false},
      {"carbon dioxide fchk turned", carbon_dioxide, HessianFormat::fchk, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ForceFieldMolecule m = c.molecule();
    const Matrix b_ind = b_matrix(m.x, m.independent);
    const Matrix h = b_ind.transpose() * m.f * b_ind;
    const auto n3 = h.rows();

    // The file: in another frame when turned (R x + t, and R H Rᵀ per block).
    Geometry xf = m.x;
    Matrix hf = h;
    if (c.turned) {
      const Mat3 r = Eigen::AngleAxisd(0.7, Vec3(1, 2, 3).normalized()).toRotationMatrix();
      Matrix k = Matrix::Zero(n3, n3);
      for (Eigen::Index a = 0; a < n3; a += 3) k.block<3, 3>(a, a) = r;
      hf = k * h * k.transpose();
      for (Vec3& p : xf) p = r * p + Vec3(1.5, -2.0, 0.3);
    }
    const fs::path file = write_temp(std::string(c.name) + ".hess", file_text(c.format, m.z, xf, hf));
    HessianFile read = read_hessian(file, c.format, HessianUnits::hartree_per_bohr2, static_cast<int>(m.z.size()));
    fs::remove(file);
    if (read.positions) {
      ASSERT_TRUE(read.atomic_numbers);
      EXPECT_NO_THROW(check_same_atoms(file.string(), *read.atomic_numbers, m.z));
      const FrameFit fit = fit_frame(*read.positions, m.x);
      EXPECT_LT(fit.rmsd, 1e-6);
      read.hessian = rotate_hessian(read.hessian, fit.rotation);
    }

    std::vector<Coordinate> coords = m.independent;
    if (c.redundant) coords.insert(coords.end(), m.extra.begin(), m.extra.end());
    VibrationInput in{b_matrix(m.x, coords), m.masses, m.x, read.hessian, std::nullopt, {}, 1.0, "deck"};
    if (c.symmetry) {
      in.u = c.redundant ? m.u_redundant : m.u_independent;
      in.blocks = c.redundant ? m.blocks_redundant : m.blocks_independent;
    }
    const VibrationAnalysis v = analyze_vibrations(in);

    const std::vector<double> expected = direct_wavenumbers(h, m.masses, static_cast<int>(n3 - b_ind.rows()));
    ASSERT_EQ(v.modes.size(), expected.size());
    std::map<std::string, int> species;
    for (std::size_t k = 0; k < expected.size(); ++k) {
      EXPECT_NEAR(v.modes[k].wavenumber, expected[k], 0.01) << "mode " << k;
      ASSERT_TRUE(v.modes[k].cartesian_wavenumber);
      EXPECT_NEAR(*v.modes[k].cartesian_wavenumber, expected[k], 0.01);
      double sum = 0;
      for (double p : v.modes[k].ped) sum += p;
      EXPECT_NEAR(sum, 100.0, 1e-8);
      ++species[v.modes[k].species];
    }
    EXPECT_TRUE(v.comparison.agree) << v.comparison.verdict;
    if (c.symmetry) {
      EXPECT_EQ(species, m.species_counts);
    }
    if (!c.redundant) {
      EXPECT_LT((v.f - m.f).cwiseAbs().maxCoeff(), 1e-4 * m.f.cwiseAbs().maxCoeff());
    }
    // L Lᵀ = G, the normalisation the PED formula assumes, against B M⁻¹ Bᵀ formed here.
    Matrix g = Matrix::Zero(in.b.rows(), in.b.rows());
    for (Eigen::Index i = 0; i < in.b.cols(); ++i) g += in.b.col(i) * in.b.col(i).transpose() / m.masses[i / 3];
    if (!c.symmetry) {
      EXPECT_LT((v.l * v.l.transpose() - g).norm(), 1e-8 * g.norm());
    }
    // Each mode's mass-weighted Cartesian displacement is an eigenvector of
    // M^-½ H M^-½ formed here, with the mode's eigenvalue; together they
    // are orthonormal.
    const Matrix& e = v.cartesian_modes;
    ASSERT_EQ(e.cols(), static_cast<Eigen::Index>(v.modes.size()));
    EXPECT_LT((e.transpose() * e - Matrix::Identity(e.cols(), e.cols())).cwiseAbs().maxCoeff(), 1e-8);
    Matrix hm = h;
    for (Eigen::Index i = 0; i < n3; ++i)
      for (Eigen::Index j = 0; j < n3; ++j) hm(i, j) /= std::sqrt(m.masses[i / 3] * m.masses[j / 3]);
    for (Eigen::Index k = 0; k < e.cols(); ++k)
      EXPECT_LT((hm * e.col(k) - v.modes[k].eigenvalue * e.col(k)).norm(), 1e-6 * hm.norm()) << "mode " << k;
  }
}


// ---- Files that cannot be read: the error names the file and the line ----

TEST(Vibrations, BadHessianFilesAreRefusedNamingFileAndLine) {
  const ForceFieldMolecule m = water();
  const Matrix b = b_matrix(m.x, m.independent);
  const Matrix h = b.transpose() * m.f * b;
  Matrix asym = h;
  asym(7, 1) += 1e-3 * h.cwiseAbs().maxCoeff();
  const ForceFieldMolecule nh3 = ammonia();
  const auto lines = [](const std::string& text, int first, int last) {  // lines first..last, from 1
    std::string out, line;
    std::istringstream in(text);
    for (int i = 1; std::getline(in, line); ++i)
      if (i >= first && i <= last) out += line + "\n";
    return out;
  };
  const auto replace = [](std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
  };
  Geometry bad_x = m.x;
  bad_x[0].x() = std::nan("");
  const std::string fchk = fchk_text(m.z, m.x, h), orca = orca_text(m.z, m.x, h), text = plain_text(h);
  const std::string row5 = lines(text, 5, 5);
  struct Bad {
    const char* name;
    HessianFormat format;
    std::string content;
    const char* fault;  // "line L: ..." as it must appear
  };
  const Bad cases[] = {
      {"fchk wrong size", HessianFormat::fchk, replace(fchk, "N=          45", "N=          44"), "line 8: "},
      {"fchk truncated", HessianFormat::fchk, lines(fchk, 1, 15), "line 15: "},
      {"fchk NaN coordinate", HessianFormat::fchk, fchk_text(m.z, bad_x, h), "line 6: "},
      {"fchk another molecule", HessianFormat::fchk, fchk_text(nh3.z, nh3.x, Matrix::Identity(12, 12)), "line 3: "},
      {"fchk no force constants", HessianFormat::fchk, lines(fchk, 1, 7), "line 7: "},
      {"orca asymmetric", HessianFormat::orca, orca_text(m.z, m.x, asym), "line 13: "},
      {"orca truncated", HessianFormat::orca, lines(orca, 1, 20), "line 20: "},
      {"orca unknown element", HessianFormat::orca, replace(orca, " O  ", " Qq "), "line 28: "},
      {"text short row", HessianFormat::text, lines(text, 1, 4) + row5.substr(0, row5.rfind(' ')) + "\n" + lines(text, 6, 10), "line 5: "},
      {"text not a number", HessianFormat::text, lines(text, 1, 4) + " abc" + row5.substr(row5.find(' ', 1)) + lines(text, 6, 10), "line 5: "},
      {"text infinite", HessianFormat::text, lines(text, 1, 4) + " -inf" + row5.substr(row5.find(' ', 1)) + lines(text, 6, 10), "line 5: "},
      {"text asymmetric", HessianFormat::text, plain_text(asym), "line 9: "},
      {"text too few rows", HessianFormat::text, lines(text, 1, 9), "line 9: "},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = write_temp(c.name, c.content);
    try {
      read_hessian(file, c.format, HessianUnits::hartree_per_bohr2, 3);
      ADD_FAILURE() << "accepted";
    } catch (const InputError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(file.string() + ": " + c.fault, 0), 0u) << e.what();
    }
    fs::remove(file);
  }
  // The same count in another order: refused at the line of the first atom that differs.
  const fs::path file = write_temp("order.hess", orca_text({1, 8, 1}, m.x, h));
  const HessianFile read = read_hessian(file, HessianFormat::orca, HessianUnits::hartree_per_bohr2, 3);
  fs::remove(file);
  try {
    check_same_atoms(file.string(), *read.atomic_numbers, m.z, read.atom_lines);
    ADD_FAILURE() << "accepted";
  } catch (const InputError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(file.string() + ": line 28: atom 1 is H", 0), 0u) << e.what();
  }
}

// ---- What the comparison of the two routes says ---------------------------

TEST(Vibrations, VerdictNamesWhyTheTwoRoutesDisagree) {
  const ForceFieldMolecule m = water();
  const Matrix b = b_matrix(m.x, m.independent);
  const Matrix h = b.transpose() * m.f * b;
  struct Verdict {
    const char* name;
    Matrix b, h;
    bool agree;
    const char* words;
  };
  const Verdict cases[] = {
      {"complete", b, h, true, "agree"},
      {"bend left out", b.topRows(2), h, false, "describe 2 of 3 vibrations"},
      {"tethered in space", b, h + 0.05 * Matrix::Identity(9, 9), false, "not at a stationary point"},
  };
  for (const Verdict& c : cases) {
    SCOPED_TRACE(c.name);
    const VibrationAnalysis v = analyze_vibrations({c.b, m.masses, m.x, c.h, std::nullopt, {}, 1.0, "deck"});
    EXPECT_EQ(v.comparison.agree, c.agree);
    EXPECT_NE(v.comparison.verdict.find(c.words), std::string::npos) << v.comparison.verdict;
  }
  Matrix u = Matrix::Identity(3, 3);
  u(0, 1) = 1e-4;
  EXPECT_THROW(analyze_vibrations({b, m.masses, m.x, h, u, {}, 1.0, "deck"}), InputError);
}

// ---- Matching modes across mass sets --------------------------------------

Vector in_plane(double degrees) { return Vector(Vec3(std::cos(degrees * kPi / 180), std::sin(degrees * kPi / 180), 0)); }

TEST(Vibrations, ModesMatchByLargestTotalOverlap) {
  struct Match {
    const char* name;
    std::vector<ModeSet> sets;
    std::vector<std::set<int>> allowed;  // per mode of the first set, its possible partners in the second
  };
  Matrix a(3, 2), b(3, 2), p(3, 3), q(3, 3);
  // Squared cosines a1·b1 0.9, a1·b2 0.8, a2·b1 0.8, a2·b2 0.1: the largest
  // single overlap first would pair a1-b1 and a2-b2 (1.0), the best total
  // pairs them crosswise (1.6).
  a << in_plane(0), in_plane(45);
  b << in_plane(18.4349488), in_plane(-26.5650512);
  // A degenerate pair given in another basis, and a single mode.
  p << 1, 0, 0, 0, 1, 0, 0, 0, 1;
  q << 0, 0.6, -0.8, 0, 0.8, 0.6, 1, 0, 0;
  const Match cases[] = {
      {"total beats greedy", {{{100, 200}, a}, {{101, 190}, b}}, {{1}, {0}}},
      {"degenerate pair as one", {{{100, 100, 300}, p}, {{290, 95, 95}, q}}, {{1, 2}, {1, 2}, {0}}},
  };
  for (const Match& c : cases) {
    SCOPED_TRACE(c.name);
    const ModeMatching r = match_modes(c.sets);
    std::set<int> used;
    for (std::size_t k = 0; k < c.allowed.size(); ++k) {
      const int j = r.matches[k][1];
      EXPECT_EQ(c.allowed[k].count(j), 1u) << "mode " << k << " matched to " << j;
      used.insert(j);
      EXPECT_DOUBLE_EQ(*r.shifts[k][1], c.sets[1].wavenumbers[static_cast<std::size_t>(j)] - c.sets[0].wavenumbers[k]);
    }
    EXPECT_EQ(used.size(), c.allowed.size());  // one to one
  }
}

TEST(Vibrations, IsotopologuesMatchWhenTheOrderOfModesChanges) {
  // Water with a large stretch-stretch interaction: the symmetric stretch lies
  // above the antisymmetric one, until a light centre turns them round.
  // Species (orthogonal in internal coordinates) tell the right partner.
  ForceFieldMolecule m = water();
  m.f(0, 1) = m.f(1, 0) = 0.845;
  const Matrix b = b_matrix(m.x, m.independent);
  const Matrix h = b.transpose() * m.f * b;
  const std::vector<std::vector<double>> masses = {
      {15.994915, 1.007825, 1.007825}, {15.994915, 2.014102, 2.014102}, {1.0, 1.007825, 1.007825}, {15.994915, 1.007825, 2.014102}};
  std::vector<VibrationAnalysis> v;
  std::vector<ModeSet> sets;
  for (std::size_t s = 0; s < masses.size(); ++s) {
    const bool symmetric = masses[s][1] == masses[s][2];
    v.push_back(analyze_vibrations({b, masses[s], m.x, h, symmetric ? std::optional<Matrix>(m.u_independent) : std::nullopt,
                                    symmetric ? m.blocks_independent : std::vector<ModeBlock>{}, 1.0, "deck"}));
    sets.push_back(mode_set(v.back()));
  }
  ASSERT_EQ(v[0].modes[2].species, "A1");  // the order the case is built for
  ASSERT_EQ(v[2].modes[2].species, "B2");
  const ModeMatching r = match_modes(sets);
  for (std::size_t k = 0; k < 3; ++k) {
    for (std::size_t s = 1; s < 3; ++s)
      EXPECT_EQ(v[s].modes[static_cast<std::size_t>(r.matches[k][s])].species, v[0].modes[k].species) << k << " " << s;
    // In HDO the bend (largest bend share of the PED) stays the bend.
    const auto bend_share = [](const Mode& md) { return md.ped[2]; };
    EXPECT_EQ(bend_share(v[3].modes[static_cast<std::size_t>(r.matches[k][3])]) > 50, k == 0);
  }
}

// ---- 60 atoms, 174 modes, three mass sets: the whole road in under 2 s ----

TEST(Vibrations, SixtyAtomsThreeMassSetsUnderTwoSeconds) {
  if (testing::under_valgrind()) GTEST_SKIP() << "under Valgrind";
  const testing::BracedLattice l = testing::braced_lattice();
  const Geometry& x = l.x;
  const Matrix& b = l.b;
  const Matrix& h = l.h;
  const fs::path file = write_temp("sixty.txt", plain_text(h));
  const std::vector<std::vector<double>>& masses = l.masses;

  const double start = testing::cpu_seconds();
  const HessianFile read = read_hessian(file, HessianFormat::text, HessianUnits::mdyn_per_angstrom, 60);
  std::vector<ModeSet> sets;
  for (const auto& ms : masses) {
    const VibrationAnalysis v = analyze_vibrations({b, ms, x, read.hessian, std::nullopt, {}, 1.0, "deck"});
    ASSERT_EQ(v.modes.size(), 174u);
    EXPECT_TRUE(v.comparison.agree) << v.comparison.verdict;
    EXPECT_LT((b.transpose() * v.f * b - h).norm(), 1e-9 * h.norm());  // F over a redundant set gives H back
    sets.push_back(mode_set(v));
  }
  const ModeMatching r = match_modes(sets);
  const double seconds = testing::cpu_seconds() - start;
  fs::remove(file);
  RecordProperty("seconds", std::to_string(seconds));
  EXPECT_EQ(r.matches.size(), 174u);
  if (testing::kTimedBuild) {
    EXPECT_LT(seconds, 2.0) << l.bonds.size() << " coordinates";
  }
}

}  // namespace
}  // namespace korven::kit
