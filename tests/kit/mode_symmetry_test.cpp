// Normal modes joined into the lines the literature counts, with their
// species: a Hessian made symmetric under each test molecule's group (a
// random matrix averaged over the group), its modes classified, and the
// lines per species checked against the tables' counts (Herzberg) and
// against the textbook reduction Γ_vib = Γ_3N − Γ_trans − Γ_rot computed
// here from the operations.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "kit/base/constants.h"
#include "kit/symmetry/mode_symmetry.h"
#include "kit/symmetry/point_group.h"
#include "kit_test_support.h"
#include "symmetry_molecules.h"

namespace korven::kit {
namespace {

using testing::TestMolecule;

struct Modes {
  PointGroup group;
  std::vector<Vec3> x;
  std::vector<double> masses;
  std::vector<double> eigenvalues;
  Matrix vectors;
};

// T(g) as a 3N × 3N matrix.
Matrix operation_matrix(const SymmetryOperation& op) {
  const auto n = static_cast<Eigen::Index>(op.permutation.size());
  Matrix t = Matrix::Zero(3 * n, 3 * n);
  for (Eigen::Index i = 0; i < n; ++i) t.block<3, 3>(3 * op.permutation[i], 3 * i) = op.matrix;
  return t;
}

// A mass-weighted Hessian with the molecule's symmetry and no external
// part: a random positive matrix averaged over the group, the translations
// and rotations projected out; its nonzero modes, ascending.
Modes symmetric_modes(const TestMolecule& mol, unsigned seed) {
  Modes m;
  std::vector<int> z;
  for (const auto& a : mol.atoms) m.x.push_back(a.r), m.masses.push_back(a.mass), z.push_back(a.element);
  m.group = find_point_group(m.x, m.masses, z);
  m.x = symmetrize(m.x, m.group).positions;
  const auto n3 = static_cast<Eigen::Index>(3 * m.x.size());
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  Matrix a(n3, n3);
  for (Eigen::Index i = 0; i < n3; ++i)
    for (Eigen::Index j = 0; j < n3; ++j) a(i, j) = u(rng);
  a = a * a.transpose() + Matrix::Identity(n3, n3);
  Matrix h = Matrix::Zero(n3, n3);
  for (const SymmetryOperation& op : m.group.operations) {
    const Matrix t = operation_matrix(op);
    h += t * a * t.transpose();
  }
  if (m.group.linear()) {  // C2v and D2h leave Π split: turn about the axis too
    const Vec3 axis = m.group.frame.row(2).transpose();
    Matrix turned = Matrix::Zero(n3, n3);
    for (int k = 0; k < 8; ++k) {
      SymmetryOperation turn;
      turn.matrix = Eigen::AngleAxisd(kPi * k / 4, axis).toRotationMatrix();
      for (std::size_t i = 0; i < m.x.size(); ++i) turn.permutation.push_back(static_cast<int>(i));
      const Matrix t = operation_matrix(turn);
      turned += t * h * t.transpose();
    }
    h = turned;
  }
  // External space (mass-weighted) of the molecule about its centre of mass.
  const Vec3 c = m.group.center;
  Matrix e = Matrix::Zero(n3, 6);
  for (std::size_t i = 0; i < m.x.size(); ++i)
    for (int k = 0; k < 3; ++k) {
      e.block<3, 1>(3 * i, k) = std::sqrt(m.masses[i]) * Vec3::Unit(k);
      e.block<3, 1>(3 * i, 3 + k) = std::sqrt(m.masses[i]) * Vec3::Unit(k).cross(m.x[i] - c);
    }
  const Eigen::JacobiSVD<Matrix> svd(e, Eigen::ComputeThinU);
  const int external = static_cast<int>((svd.singularValues().array() > 1e-8 * svd.singularValues()(0)).count());
  const Matrix q = svd.matrixU().leftCols(external);
  const Matrix p = Matrix::Identity(n3, n3) - q * q.transpose();
  const Eigen::SelfAdjointEigenSolver<Matrix> eig(p * h * p);
  for (Eigen::Index k = 0; k < n3; ++k)
    if (eig.eigenvalues()(k) > 1e-8 * eig.eigenvalues().maxCoeff()) {
      m.eigenvalues.push_back(eig.eigenvalues()(k));
      m.vectors.conservativeResize(n3, m.vectors.cols() + 1);
      m.vectors.col(m.vectors.cols() - 1) = eig.eigenvectors().col(k);
    }
  return m;
}

// Γ_vib reduced over the working table: χ_3N(g) = (atoms g leaves in
// place) · tr R, less tr R (translations) and det R · tr R (rotations).
std::map<std::string, int> textbook_counts(const PointGroup& g) {
  const CharacterTable& t = g.table();
  std::vector<double> chi;
  for (const SymmetryOperation& op : g.operations) {
    int unmoved = 0;
    for (std::size_t i = 0; i < op.permutation.size(); ++i) unmoved += op.permutation[i] == static_cast<int>(i);
    const double tr = op.matrix.trace();
    chi.push_back(unmoved * tr - tr - op.matrix.determinant() * tr);
  }
  std::map<std::string, int> counts;
  for (int s = 0; s < static_cast<int>(t.species.size()); ++s) {
    const int n = t.multiplicity(s, chi);
    if (n > 0) counts[t.species[s].label] = n;
  }
  if (g.linear()) {  // a rotation about the axis is no motion: add it back
    std::map<std::string, int> linear;
    for (const auto& [label, n] : counts) {
      const LinearSpecies ls = linear_species(g, label);
      if (ls.partner != 2) linear[ls.name] += n;
    }
    linear.erase(g.type.family == GroupFamily::Dinfh ? "Sigma_g-" : "Sigma-");
    return linear;
  }
  return counts;
}

std::map<std::string, int> table_counts(const TestMolecule& mol, const PointGroup& g) {
  std::map<std::string, int> counts;
  for (const auto& [label, n] : mol.counts) {
    const LinearSpecies ls = g.linear() ? linear_species(g, label) : LinearSpecies{label, 0};
    if (ls.partner != 2) counts[ls.name] += n;
  }
  return counts;
}

class ModeSymmetryOf : public ::testing::TestWithParam<TestMolecule> {};

TEST_P(ModeSymmetryOf, LinesPerSpeciesAreTheTablesCounts) {
  const TestMolecule& mol = GetParam();
  const Modes m = symmetric_modes(mol, 5);
  const std::vector<VibrationLine> lines = vibration_lines(m.eigenvalues, m.vectors, &m.group, m.x, m.masses);
  std::map<std::string, int> found;
  int modes = 0;
  std::vector<int> nus;
  for (const VibrationLine& line : lines) {
    ASSERT_FALSE(line.species.empty()) << "a line of unknown species at " << line.eigenvalue();
    ++found[line.species];
    modes += line.degeneracy;
    nus.push_back(line.nu);
    EXPECT_EQ(static_cast<int>(line.eigenvalues.size()), line.degeneracy);
    // Partners are orthonormal combinations of the modes they are made of.
    EXPECT_LT((line.combination.transpose() * line.combination -
               Matrix::Identity(line.degeneracy, line.degeneracy)).cwiseAbs().maxCoeff(), 1e-9);
  }
  EXPECT_EQ(modes, static_cast<int>(m.eigenvalues.size()));
  EXPECT_EQ(found, textbook_counts(m.group));
  if (!mol.counts.empty()) {
    EXPECT_EQ(found, table_counts(mol, m.group));
  }
  std::sort(nus.begin(), nus.end());
  for (std::size_t k = 0; k < nus.size(); ++k) EXPECT_EQ(nus[k], static_cast<int>(k) + 1);
}

std::vector<TestMolecule> molecules() {
  std::vector<TestMolecule> out;
  for (TestMolecule& m : testing::real_molecules())
    if (m.atoms.size() <= 30) out.push_back(std::move(m));
  for (const char* g : {"C3", "C4h", "S4", "S6", "T", "Th", "D4d", "D5h"}) out.push_back(testing::synthetic(g));
  return out;
}

INSTANTIATE_TEST_SUITE_P(Molecules, ModeSymmetryOf, ::testing::ValuesIn(molecules()),
                         [](const ::testing::TestParamInfo<TestMolecule>& info) {
                           return testing::case_name(info.param.name);
                         });

}  // namespace
}  // namespace korven::kit
