// Point groups of exactly symmetric molecules, moved and shaken; the
// character tables against the orthogonality relations and textbook rows.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <random>

#include "kit/io/geometry_input.h"
#include "kit/base/kit_error.h"
#include "kit/symmetry/point_group.h"
#include "kit_test_support.h"
#include "symmetry_molecules.h"

namespace korven::kit {
namespace {

using testing::TestMolecule;

const std::vector<std::string> kSyntheticGroups{"Ci", "C3", "C4", "C5", "C3h", "C4h", "D2",  "D3",
                                                "D5", "S4", "S6", "S8", "T",  "Th",  "O",   "I",
                                                "C5v", "C6v", "D4d", "D5d", "D4h", "D5h", "C2h"};

std::vector<TestMolecule> all_molecules() {
  std::vector<TestMolecule> out = testing::real_molecules();
  for (const std::string& g : kSyntheticGroups) out.push_back(testing::synthetic(g));
  // The shared test molecules, read as the program reads them.
  for (const testing::IndexedMolecule& m : testing::molecule_index()) {
    TestMolecule t{m.file, m.point_group, {}, {}};
    const std::vector<Molecule> read = read_geometry(testing::kit_data("molecules/" + m.file).string());
    for (const Atom& a : read.at(0).atoms)
      t.atoms.push_back({a.element, a.mass, a.position});
    out.push_back(std::move(t));
  }
  return out;
}

PointGroup group_of(const std::vector<testing::TestAtom>& atoms, double tol = kSymmetryTolerance) {
  std::vector<Vec3> r;
  std::vector<double> m;
  std::vector<int> e;
  for (const auto& a : atoms) {
    r.push_back(a.r);
    m.push_back(a.mass);
    e.push_back(a.element);
  }
  return find_point_group(r, m, e, tol);
}

// An arbitrary rotation and translation, and every coordinate shifted by up
// to `shake` Angstrom.
std::vector<testing::TestAtom> moved(std::vector<testing::TestAtom> atoms, unsigned seed, double shake) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  const Mat3 rot = Eigen::Quaterniond(u(rng), u(rng), u(rng), u(rng)).normalized().toRotationMatrix();
  const Vec3 shift(5 * u(rng), 5 * u(rng), 5 * u(rng));
  for (auto& a : atoms) a.r = rot * a.r + shift + shake * Vec3(u(rng), u(rng), u(rng));
  return atoms;
}

const CharacterTable& table_of(const std::string& name) { return character_table(parse_group(name).value()); }

// A test name from a group or molecule name: letters and digits only.
std::string case_name(const std::string& name) {
  std::string out;
  for (char c : name) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return out;
}

class CharacterTableOf : public ::testing::TestWithParam<std::string> {};

TEST_P(CharacterTableOf, SatisfiesTheOrthogonalityRelations) {
  {
    const CharacterTable& t = table_of(GetParam());
    EXPECT_EQ(t.group, GetParam());
    double dims = 0;
    for (std::size_t a = 0; a < t.species.size(); ++a) {
      const Species& sa = t.species[a];
      dims += sa.separable ? sa.dimension * sa.dimension / 2.0 : sa.dimension * sa.dimension;
      EXPECT_EQ(t.character(static_cast<int>(a), 0), sa.dimension);
      for (std::size_t b = 0; b < t.species.size(); ++b) {
        double sum = 0;
        for (int g = 0; g < t.order(); ++g)
          sum += t.character(static_cast<int>(a), g) * t.character(static_cast<int>(b), g);
        const double expect = a == b ? t.order() * (sa.separable ? 2 : 1) : 0;
        EXPECT_NEAR(sum, expect, 1e-9) << sa.label << " . " << t.species[b].label;
      }
    }
    EXPECT_NEAR(dims, t.order(), 1e-9);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Groups, CharacterTableOf,
    ::testing::Values("C1", "Cs", "Ci", "C2", "C3", "C6", "C2v", "C3v", "C4v", "C6v", "C2h", "C3h", "C4h", "C5h", "D2",
                      "D3", "D4", "D6", "D2h", "D3h", "D4h", "D5h", "D6h", "D2d", "D3d", "D4d", "D5d", "D6d", "S4",
                      "S6", "S8", "S10", "T", "Td", "Th", "O", "Oh", "I", "Ih"),
    [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(GroupType, NamesAndParsesEveryFamily) {
  struct Case {
    const char* name;
    GroupFamily family;
    int n;
  };
  for (const Case& c : {Case{"C1", GroupFamily::C1, 1}, Case{"Cs", GroupFamily::Cs, 1}, Case{"C7", GroupFamily::Cn, 7},
                        Case{"C2v", GroupFamily::Cnv, 2}, Case{"C10h", GroupFamily::Cnh, 10},
                        Case{"D2", GroupFamily::Dn, 2}, Case{"D6h", GroupFamily::Dnh, 6}, Case{"D3d", GroupFamily::Dnd, 3},
                        Case{"S12", GroupFamily::S2n, 12}, Case{"Td", GroupFamily::Td, 1},
                        Case{"Ih", GroupFamily::Ih, 1}, Case{"Dinfh", GroupFamily::Dinfh, 1},
                        Case{"Cinfv", GroupFamily::Cinfv, 1}}) {
    SCOPED_TRACE(c.name);
    const std::optional<GroupType> g = parse_group(c.name);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->family, c.family);
    EXPECT_EQ(g->n, c.n);
    EXPECT_EQ(g->name(), c.name);
  }
  for (const char* bad : {"Q3", "C", "Cv", "C02v", "C2x", "D0h", "Td2", "c2v", "C2vv", "C1000"})
    EXPECT_FALSE(parse_group(bad)) << bad;
  // Named but without a finite table: the linear groups, orders past the tables.
  for (const char* none : {"Dinfh", "Cinfv", "C61", "S3", "S122", "C1v", "D1"})
    EXPECT_THROW(character_table(parse_group(none).value()), std::invalid_argument) << none;
}

TEST(CharacterTables, LabelsFollowTheTextbookAxes) {
  const double c = std::cos(std::numbers::pi / 6), s = std::sin(std::numbers::pi / 6);
  Mat3 c2_at_30;  // C2 about the axis at 30 degrees from x in the xy plane
  c2_at_30 << 2 * c * c - 1, 2 * s * c, 0, 2 * s * c, 2 * s * s - 1, 0, 0, 0, -1;
  struct Row {
    std::string group, species;
    Mat3 op;
    double chi;
  };
  const Mat3 sxz = Vec3(1, -1, 1).asDiagonal(), c2x = Vec3(1, -1, -1).asDiagonal(),
             c2y = Vec3(-1, 1, -1).asDiagonal(), sh = Vec3(1, 1, -1).asDiagonal();
  Mat3 s4z;  // S4 about z
  s4z << 0, -1, 0, 1, 0, 0, 0, 0, -1;
  const std::vector<Row> rows{
      {"C2v", "B1", sxz, 1},    {"C2v", "B2", sxz, -1},   {"D2h", "B3u", c2x, 1},
      {"D2h", "B3g", c2x, 1},   {"D2h", "B2u", c2y, 1},   {"D2h", "B1u", c2x, -1},
      {"D6h", "B1g", c2x, 1},   {"D6h", "B2g", c2x, -1},  {"D6h", "B2g", c2_at_30, 1},
      {"D3h", "A2''", sh, -1},  {"D3h", "E''", sh, -2},   {"D2d", "B2", s4z, -1},
      {"D2d", "B2", c2x, -1},   {"D2d", "B1", c2x, 1},    {"Td", "T2", s4z, -1},
      {"Oh", "T1u", -Mat3::Identity(), -3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.group + " " + row.species);
    const CharacterTable& t = table_of(row.group);
    int op = -1, sp = -1;
    for (int g = 0; g < t.order(); ++g)
      if ((t.operations[g] - row.op).cwiseAbs().maxCoeff() < 1e-9) op = g;
    for (std::size_t k = 0; k < t.species.size(); ++k)
      if (t.species[k].label == row.species) sp = static_cast<int>(k);
    ASSERT_GE(op, 0);
    ASSERT_GE(sp, 0);
    EXPECT_NEAR(t.character(sp, op), row.chi, 1e-12);
  }
}

class PointGroupOf : public ::testing::TestWithParam<TestMolecule> {};

TEST_P(PointGroupOf, IsFoundMovedAndShaken) {
  {
    const TestMolecule& mol = GetParam();
    const PointGroup exact = group_of(mol.atoms);
    EXPECT_EQ(exact.name(), mol.group);
    for (unsigned seed : {1u, 2u}) {
      const auto atoms = moved(mol.atoms, seed, 0.001);
      const PointGroup g = group_of(atoms);
      if (g.name() != mol.group) {
        ADD_FAILURE() << "seed " << seed << ": " << g.name();
        continue;
      }
      EXPECT_EQ(g.operations.size(), exact.operations.size());
      std::vector<Vec3> r;
      for (const auto& a : atoms) r.push_back(a.r);
      const Symmetrized sym = symmetrize(r, g);
      EXPECT_LT(sym.largest_shift, 0.003);
      for (const SymmetryOperation& op : g.operations) {
        EXPECT_LT((op.matrix * op.matrix.transpose() - Mat3::Identity()).cwiseAbs().maxCoeff(), 1e-14);
        for (std::size_t i = 0; i < r.size(); ++i) {
          const Vec3 image = g.center + op.matrix * (sym.positions[i] - g.center);
          EXPECT_LT((image - sym.positions[op.permutation[i]]).norm(), 1e-10);
          EXPECT_EQ(atoms[i].element, atoms[op.permutation[i]].element);
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Molecules, PointGroupOf, ::testing::ValuesIn(all_molecules()),
                         [](const ::testing::TestParamInfo<TestMolecule>& info) { return case_name(info.param.name); });

TEST(PointGroup, IsotopologuesHaveTheirOwnGroup) {
  struct Case {
    double h1, h2;
    std::string group;
  };
  for (const Case& c : {Case{testing::kH, testing::kH, "C2v"}, Case{testing::kD, testing::kH, "Cs"},
                        Case{testing::kD, testing::kD, "C2v"}}) {
    auto water = testing::real_molecules()[0].atoms;
    water[1].mass = c.h1;
    water[2].mass = c.h2;
    EXPECT_EQ(group_of(moved(water, 7, 0.001)).name(), c.group);
  }
}

TEST(PointGroup, RefusesInputItCannotUse) {
  const std::vector<Vec3> two{Vec3::Zero(), Vec3(0, 0, 1)};
  EXPECT_THROW(find_point_group(two, {1.0}, {1, 1}), SymmetryError);
  EXPECT_THROW(find_point_group({}, {}, {}), SymmetryError);
  EXPECT_THROW(find_point_group(two, {1.0, 1.0}, {1, 1}, 0.0), SymmetryError);
  EXPECT_THROW(find_point_group({Vec3(NAN, 0, 0), Vec3::Zero()}, {1.0, 1.0}, {1, 1}), SymmetryError);
  EXPECT_THROW(find_point_group(two, {1.0, -1.0}, {1, 1}), SymmetryError);
  const PointGroup linear = find_point_group(two, {1.0, 1.0}, {1, 1});
  EXPECT_EQ(linear.name(), "Dinfh");
  EXPECT_TRUE(linear.linear());
  EXPECT_EQ(linear.working.name(), "D2h");
  EXPECT_EQ(find_point_group({Vec3::Zero()}, {1.0}, {1}).name(), "C1");
}

}  // namespace
}  // namespace korven::kit
