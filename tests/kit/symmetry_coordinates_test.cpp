// Symmetry coordinates: 3N-6 orthonormal rows reaching every vibration,
// species counts of the standard tables, a G' that factors with identical
// partner blocks; and the check that names a wrong block and row.
#include <gtest/gtest.h>

#include <cctype>
#include <random>

#include "kit/coordinates/coordinate_generation.h"
#include "kit/base/kit_error.h"
#include "kit/symmetry/symmetry_coordinates.h"
#include "kit/coordinates/wilson_b.h"
#include "kit_test_support.h"
#include "symmetry_molecules.h"

namespace korven::kit {
namespace {

using testing::TestMolecule;

struct Prepared {
  PointGroup group;
  std::vector<Vec3> r;
  std::vector<double> mass;
  int vibrations;
};

// The molecule turned, moved and shaken by up to 0.001 A, its group found
// and its geometry symmetrized, as the deck writer will do.
Prepared prepare(const TestMolecule& mol) {
  Prepared p;
  std::vector<int> e;
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1, 1);
  const Mat3 turn = Eigen::AngleAxisd(0.7, Vec3(1, 2, 3).normalized()).toRotationMatrix();
  for (const auto& a : mol.atoms) {
    p.r.push_back(turn * a.r + Vec3(1, -2, 3) + 0.001 * Vec3(u(rng), u(rng), u(rng)));
    p.mass.push_back(a.mass);
    e.push_back(a.element);
  }
  p.group = find_point_group(p.r, p.mass, e);
  p.r = symmetrize(p.r, p.group).positions;
  p.vibrations = 3 * static_cast<int>(p.r.size()) - (p.group.linear() ? 5 : 6);
  return p;
}

// B of every interatomic distance: closed under any group (rows permute).
Matrix distance_b(const std::vector<Vec3>& r) {
  const int n = static_cast<int>(r.size());
  Matrix b = Matrix::Zero(n * (n - 1) / 2, 3 * n);
  int row = 0;
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j, ++row) {
      const Vec3 e = (r[i] - r[j]).normalized();
      b.block(row, 3 * i, 1, 3) = e.transpose();
      b.block(row, 3 * j, 1, 3) = -e.transpose();
    }
  return b;
}

// B = the projector onto the Cartesian displacements that neither translate
// nor rotate: rows mixed by the operations' 3x3 matrices, not just permuted.
Matrix cartesian_b(const std::vector<Vec3>& r) {
  const int n = static_cast<int>(r.size());
  Matrix rigid = Matrix::Zero(3 * n, 6);
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) {
      rigid(3 * i + k, k) = 1;
      rigid.block(3 * i, 3 + k, 3, 1) = Vec3::Unit(k).cross(r[i]);
    }
  Eigen::JacobiSVD<Matrix> svd(rigid, Eigen::ComputeThinU);
  Matrix p = Matrix::Identity(3 * n, 3 * n);
  for (int k = 0; k < 6; ++k)
    if (svd.singularValues()(k) > 1e-8 * svd.singularValues()(0))
      p -= svd.matrixU().col(k) * svd.matrixU().col(k).transpose();
  return p;
}

// Vibrations per species by the reduction formula (Wilson, Decius and Cross,
// Molecular Vibrations, ch. 6): chi_vib(g) = (unshifted atoms - 1 - det g) tr g.
std::map<std::string, int> reduced_counts(const PointGroup& g) {
  const CharacterTable& t = g.table();
  std::map<std::string, int> out;
  for (std::size_t s = 0; s < t.species.size(); ++s) {
    double sum = 0;
    for (int k = 0; k < t.order(); ++k) {
      const SymmetryOperation& op = g.operations[k];
      int fixed = 0;
      for (std::size_t i = 0; i < op.permutation.size(); ++i) fixed += op.permutation[i] == static_cast<int>(i);
      sum += t.character(static_cast<int>(s), k) * (fixed - 1 - op.matrix.determinant()) * op.matrix.trace();
    }
    const int n = static_cast<int>(std::lround(sum / t.order() / (t.species[s].separable ? 2 : 1)));
    if (n > 0) out[t.species[s].label] = n;
  }
  return out;
}

// B of the kit's redundant set (torsions, out-of-plane angles, linear
// bends), with bonds where atoms lie closer than 1.15 times the sum of their
// covalent radii (Cordero et al., Dalton Trans. 2008, 2832).
Matrix redundant_b(const TestMolecule& mol, const std::vector<Vec3>& r) {
  const std::map<int, double> radius{{1, 0.31}, {5, 0.84}, {6, 0.76}, {7, 0.71}, {8, 0.66}, {9, 0.57},
                                     {15, 1.07}, {16, 1.05}, {17, 1.02}, {35, 1.20}};
  Molecule m;
  for (std::size_t i = 0; i < r.size(); ++i) m.atoms.push_back({mol.atoms[i].element, mol.atoms[i].mass, r[i]});
  for (std::size_t i = 0; i < r.size(); ++i)
    for (std::size_t j = i + 1; j < r.size(); ++j)
      if ((r[i] - r[j]).norm() < 1.15 * (radius.at(m.atoms[i].element) + radius.at(m.atoms[j].element)))
        m.bonds.push_back({static_cast<int>(i), static_cast<int>(j)});
  return wilson_b_matrix(r, redundant_coordinates(m).coordinates);
}

// A block's species without its partner suffix ("E(2)" and a linear
// molecule's "Pi_u(2)" both), and whether it is a second or later partner.
std::string base_label(const SymmetryBlock& b) { return b.species.substr(0, b.species.find('(')); }
bool later_partner(const SymmetryBlock& b) {
  const auto open = b.species.find('(');
  return open != std::string::npos && b.species.compare(open, std::string::npos, "(1)") != 0;
}

void expect_symmetry_coordinates(const TestMolecule& mol, const Matrix& b, const Prepared& p) {
  SymmetryCoordinates sc;
  try {
    sc = symmetry_coordinates(b, p.group, p.vibrations);
  } catch (const std::exception& e) {
    FAIL() << e.what();
  }
  const Matrix& u = sc.u;
  ASSERT_EQ(u.rows(), p.vibrations);
  EXPECT_LT((u * u.transpose() - Matrix::Identity(u.rows(), u.rows())).cwiseAbs().maxCoeff(), 1e-10);
  // Still orthonormal when written to 6 decimals and normalised again.
  Matrix written = (u * 1e6).array().round().matrix() / 1e6;
  written = written.rowwise().normalized().eval();
  EXPECT_LT((written * written.transpose() - Matrix::Identity(u.rows(), u.rows())).cwiseAbs().maxCoeff(), 2e-5);
  // The rows reach every vibration: U B has full row rank.
  const std::vector<double> sv = singular_values(u * b);
  EXPECT_GT(sv.back(), 1e-6 * sv.front());
  // Counts per species, each degenerate species counted once.
  const CharacterTable& t = p.group.table();
  std::map<std::string, int> counts;
  for (const SymmetryBlock& blk : sc.blocks)
    if (!later_partner(blk)) {
      const Species& sp = t.species[blk.species_index];
      counts[base_label(blk)] += sp.separable ? blk.size / sp.dimension : blk.size;
    }
  EXPECT_EQ(counts, mol.counts.empty() ? reduced_counts(p.group) : mol.counts);
  // G' of G = B M^-1 B^T: no element between blocks, partner blocks equal.
  Vector inv_mass(b.cols());
  for (int i = 0; i < b.cols(); ++i) inv_mass(i) = 1 / p.mass[i / 3];
  const Matrix gp = u * (b * inv_mass.asDiagonal() * b.transpose()) * u.transpose();
  const double scale = gp.cwiseAbs().maxCoeff();
  std::vector<int> block_of(u.rows(), -1);
  for (std::size_t k = 0; k < sc.blocks.size(); ++k)
    for (int i = 0; i < sc.blocks[k].size; ++i) block_of[sc.blocks[k].first_row + i] = static_cast<int>(k);
  double coupling = 0;
  for (int i = 0; i < gp.rows(); ++i)
    for (int j = 0; j < gp.cols(); ++j)
      if (block_of[i] != block_of[j]) coupling = std::max(coupling, std::abs(gp(i, j)));
  EXPECT_LT(coupling, 1e-10 * scale);
  for (const SymmetryBlock& blk : sc.blocks)
    if (blk.partner > 1) {
      const SymmetryBlock& first = sc.blocks[&blk - &sc.blocks[0] - (blk.partner - 1)];
      ASSERT_EQ(first.partner, 1);
      ASSERT_EQ(first.size, blk.size);
      const double diff = (gp.block(blk.first_row, blk.first_row, blk.size, blk.size) -
                           gp.block(first.first_row, first.first_row, blk.size, blk.size))
                              .cwiseAbs()
                              .maxCoeff();
      EXPECT_LT(diff, 1e-10 * scale) << blk.species;
    }
  // The same input gives the same U, bit for bit.
  EXPECT_TRUE(symmetry_coordinates(b, p.group, p.vibrations).u == u);
}

std::vector<TestMolecule> cases() {
  std::vector<TestMolecule> out = testing::real_molecules();
  TestMolecule hdo = out[0];
  hdo.name = "HDO";
  hdo.group = "Cs";
  hdo.atoms[1].mass = testing::kD;
  hdo.counts = {{"A'", 3}};
  out.push_back(hdo);
  for (const char* g : {"Ci", "C3", "C4", "C5", "C3h", "C4h", "D2", "D3", "S4", "S6", "S8", "T",
                        "Th", "O", "C5v", "D4d", "D5d", "D5h", "C2h"})
    out.push_back(testing::synthetic(g));
  return out;
}

class SymmetryCoordinatesOf : public ::testing::TestWithParam<TestMolecule> {};

TEST_P(SymmetryCoordinatesOf, FactorGWithTheTablesCounts) {
  {
    const TestMolecule& mol = GetParam();
    const Prepared p = prepare(mol);
    ASSERT_EQ(p.group.name(), mol.group);
    // Distances miss the out-of-plane motions of planar molecules.
    const Matrix distances = distance_b(p.r);
    if (p.r.size() <= 60 && numeric_rank(singular_values(distances), 1e-6) == p.vibrations) {
      SCOPED_TRACE("distances");
      expect_symmetry_coordinates(mol, distances, p);
    }
    if (mol.name.rfind("synthetic", 0) != 0) {
      SCOPED_TRACE("redundant set");
      expect_symmetry_coordinates(mol, redundant_b(mol, p.r), p);
    }
    SCOPED_TRACE("Cartesian");
    expect_symmetry_coordinates(mol, cartesian_b(p.r), p);
  }
}

INSTANTIATE_TEST_SUITE_P(Molecules, SymmetryCoordinatesOf, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<TestMolecule>& info) {
                           std::string name;
                           for (char ch : info.param.name) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           return name;
                         });

TEST(SymmetryCoordinates, C60TakesUnderASecondOfProcessorTime) {
  const TestMolecule c60 = testing::real_molecules().back();
  ASSERT_EQ(c60.name, "C60");
  const double start = testing::cpu_seconds();
  const Prepared p = prepare(c60);
  const SymmetryCoordinates sc = symmetry_coordinates(distance_b(p.r), p.group, p.vibrations);
  const double seconds = testing::cpu_seconds() - start;
  EXPECT_EQ(sc.u.rows(), 174);
  if (testing::kTimedBuild) {
    EXPECT_LT(seconds, 1.0);
  }
}

TEST(SymmetryCoordinates, RefusesCoordinatesThatMissAVibration) {
  const Prepared p = prepare(testing::real_molecules()[0]);
  Matrix b = distance_b(p.r);
  EXPECT_THROW(symmetry_coordinates(b.topRows(2), p.group, 3), SymmetryError);
  EXPECT_THROW(symmetry_coordinates(b.leftCols(6), p.group, 3), SymmetryError);
}

// The two real partners of a complex pair (E of C3) do not decouple: with
// any partner basis (X, JX), J the complex structure of C3 on the block, the
// block of G' is [[A, B], [-B, A]] with B antisymmetric and not zero, so the
// pair is one block.
TEST(SymmetryCoordinates, AComplexPairStaysOneBlock) {
  const TestMolecule mol = testing::synthetic("C3");
  const Prepared p = prepare(mol);
  ASSERT_EQ(p.group.name(), "C3");
  const Matrix b = distance_b(p.r);
  const SymmetryCoordinates sc = symmetry_coordinates(b, p.group, p.vibrations);
  const SymmetryBlock& e = sc.blocks.at(1);
  ASSERT_EQ(e.species, "E");
  const int n = e.size / 2;
  ASSERT_GE(n, 2);
  // D(C3) on the coordinates, B T B^+, formed here densely.
  const SymmetryOperation& c3 = p.group.operations.at(1);
  const int atoms = static_cast<int>(p.r.size());
  Matrix t = Matrix::Zero(3 * atoms, 3 * atoms);
  for (int i = 0; i < atoms; ++i) t.block(3 * c3.permutation[i], 3 * i, 3, 3) = c3.matrix;
  const Matrix d = b * t * b.transpose() * pseudo_inverse_symmetric(b * b.transpose(), 1e-10);
  const Matrix ue = sc.u.middleRows(e.first_row, e.size).transpose();  // NIC x 2n
  const Matrix db = ue.transpose() * d * ue;
  const Matrix j = (db - db.transpose()) / (2 * std::sin(2 * std::numbers::pi / 3));
  ASSERT_LT((j * j + Matrix::Identity(2 * n, 2 * n)).cwiseAbs().maxCoeff(), 1e-8);
  // X: vectors of the block orthogonal to each other and to J X.
  Matrix x(2 * n, n);
  int found = 0;
  for (int k = 0; k < 2 * n && found < n; ++k) {
    Vector v = Vector::Unit(2 * n, k);
    for (int q = 0; q < found; ++q) {
      v -= x.col(q).dot(v) * x.col(q);
      const Vector jq = j * x.col(q);
      v -= jq.dot(v) * jq;
    }
    if (v.norm() > 1e-6) x.col(found++) = v.normalized();
  }
  ASSERT_EQ(found, n);
  Vector inv_mass(b.cols());
  for (int i = 0; i < b.cols(); ++i) inv_mass(i) = 1 / p.mass[i / 3];
  const Matrix gp = ue.transpose() * b * inv_mass.asDiagonal() * b.transpose() * ue;
  const Matrix a1 = x.transpose() * gp * x, a2 = (j * x).transpose() * gp * (j * x);
  const Matrix bb = x.transpose() * gp * (j * x);
  const double scale = gp.cwiseAbs().maxCoeff();
  EXPECT_LT((a1 - a2).cwiseAbs().maxCoeff(), 1e-9 * scale);
  EXPECT_LT((bb + bb.transpose()).cwiseAbs().maxCoeff(), 1e-9 * scale);
  EXPECT_GT(bb.cwiseAbs().maxCoeff(), 1e-3 * scale);
}

TEST(BlockSpecies, NamesTheWrongBlockAndRow) {
  const Prepared p = prepare(testing::real_molecules()[3]);  // ammonia: A1 2, E(1) 2, E(2) 2
  ASSERT_EQ(p.group.name(), "C3v");
  const Matrix b = distance_b(p.r);
  const SymmetryCoordinates sc = symmetry_coordinates(b, p.group, p.vibrations);
  ASSERT_EQ(sc.blocks.size(), 3u);
  const std::vector<int> bounds{0, 2, 4, 6};
  auto flip_coefficient = [](Matrix u, int row) {
    int k = 0;
    u.row(row).cwiseAbs().maxCoeff(&k);
    u(row, k) = -u(row, k);
    return u;
  };
  Matrix mixed = sc.u;
  mixed.row(1) = (sc.u.row(1) + sc.u.row(3)).normalized();
  Matrix partner_flipped = sc.u;
  partner_flipped.row(5) *= -1;
  struct Case {
    std::string what;
    Matrix u;
    std::vector<int> bounds;
    std::vector<std::string> species;
    int block, bad_row;  // the expected finding; block -1 when none
  };
  const std::vector<Case> table{
      {"as built", sc.u, bounds, {"A1", "E(1)", "E(2)"}, -1, -1},
      {"a coefficient's sign flipped", flip_coefficient(sc.u, 0), bounds, {"mixed", "E(1)", "E(2)"}, 0, 0},
      {"an A1 row mixed with E", mixed, bounds, {"mixed", "E(1)", "E(2)"}, 0, 1},
      {"the boundary after A1 moved", sc.u, {0, 3, 4, 6}, {"mixed", "mixed", "mixed"}, 0, 2},
      {"a partner row turned over", partner_flipped, bounds, {"A1", "E(1)", "mixed"}, 2, 5},
      {"the partner boundary moved", sc.u, {0, 2, 3, 6}, {"A1", "mixed", "mixed"}, 1, 2},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.what);
    const std::vector<BlockFinding> found = block_species(c.u, c.bounds, b, p.group, p.vibrations);
    ASSERT_EQ(found.size(), c.species.size());
    for (std::size_t k = 0; k < found.size(); ++k) {
      EXPECT_EQ(found[k].species, c.species[k]) << "block " << k;
      if (static_cast<int>(k) == c.block) {
        EXPECT_EQ(found[k].bad_row, c.bad_row);
      }
      if (c.block < 0) {
        EXPECT_EQ(found[k].bad_row, -1);
      }
    }
  }
}

}  // namespace
}  // namespace korven::kit
