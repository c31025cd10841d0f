// Exactly symmetric test molecules for the symmetry tests: real molecules
// from rounded bond lengths and angles, each built in the axes stated beside
// it, with the vibrations per species from the standard tables (Herzberg,
// Molecular Spectra and Molecular Structure II (1945); C60: Dresselhaus,
// Dresselhaus and Eklund, Science of Fullerenes (1996); adamantane: Bistricic
// et al., J. Mol. Struct. 1995), and synthetic molecules for groups no small
// molecule has, two general orbits of a group's standard operations.
#pragma once

#include <cmath>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "kit/symmetry/character_tables.h"
#include "kit/base/linalg.h"

namespace korven::kit::testing {

struct TestAtom {
  int element;
  double mass;
  Vec3 r;
};

struct TestMolecule {
  std::string name;
  std::string group;                  // expected
  std::vector<TestAtom> atoms;
  std::map<std::string, int> counts;  // vibrations per species; empty: reduce in the test
};

inline constexpr double kH = 1.007825, kD = 2.014102, kC = 12.0, kN = 14.003074,
                        kO = 15.994915, kF = 18.998403, kS = 31.972071, kCl = 34.968853,
                        kBr = 78.918338, kB = 11.009305, kP = 30.973762;

inline Vec3 ring(double radius, double degrees, double z) {
  const double a = degrees * std::numbers::pi / 180;
  return Vec3(radius * std::cos(a), radius * std::sin(a), z);
}

inline std::vector<TestMolecule> real_molecules() {
  std::vector<TestMolecule> out;
  auto add = [&](std::string name, std::string group, std::vector<TestAtom> atoms,
                 std::map<std::string, int> counts) {
    out.push_back({std::move(name), std::move(group), std::move(atoms), std::move(counts)});
  };
  // Planar C2v in the yz plane (x perpendicular to it), z the C2 axis.
  add("water", "C2v", {{8, kO, {0, 0, 0.117}}, {1, kH, {0, 0.757, -0.469}}, {1, kH, {0, -0.757, -0.469}}},
      {{"A1", 2}, {"B2", 1}});
  add("formaldehyde", "C2v",
      {{6, kC, {0, 0, 0}}, {8, kO, {0, 0, 1.21}}, {1, kH, {0, 0.94, -0.59}}, {1, kH, {0, -0.94, -0.59}}},
      {{"A1", 3}, {"B1", 1}, {"B2", 2}});
  add("CH2Cl2", "C2v",
      {{6, kC, {0, 0, 0}}, {17, kCl, {1.47, 0, 0.95}}, {17, kCl, {-1.47, 0, 0.95}},
       {1, kH, {0, 0.9, -0.63}}, {1, kH, {0, -0.9, -0.63}}},
      {{"A1", 4}, {"A2", 1}, {"B1", 2}, {"B2", 2}});
  std::vector<TestAtom> nh3{{7, kN, {0, 0, 0.1}}}, ch3cl{{6, kC, {0, 0, 0}}, {17, kCl, {0, 0, 1.78}}};
  for (int k = 0; k < 3; ++k) {
    nh3.push_back({1, kH, ring(0.94, 120 * k, -0.27)});
    ch3cl.push_back({1, kH, ring(1.03, 120 * k, -0.36)});
  }
  add("ammonia", "C3v", nh3, {{"A1", 2}, {"E", 2}});
  add("CH3Cl", "C3v", ch3cl, {{"A1", 3}, {"E", 3}});
  std::vector<TestAtom> ch4{{6, kC, {0, 0, 0}}};
  for (const Vec3& v : {Vec3(1, 1, 1), Vec3(1, -1, -1), Vec3(-1, 1, -1), Vec3(-1, -1, 1)})
    ch4.push_back({1, kH, 0.63 * v});
  add("methane", "Td", ch4, {{"A1", 1}, {"E", 1}, {"T2", 2}});
  // D2h, built planar in yz with C=C along z; the group's axes put z
  // perpendicular to the plane and x along C=C (Herzberg's).
  add("ethylene", "D2h",
      {{6, kC, {0, 0, 0.667}}, {6, kC, {0, 0, -0.667}}, {1, kH, {0, 0.923, 1.238}},
       {1, kH, {0, -0.923, 1.238}}, {1, kH, {0, 0.923, -1.238}}, {1, kH, {0, -0.923, -1.238}}},
      {{"Ag", 3}, {"Au", 1}, {"B1g", 2}, {"B1u", 1}, {"B2g", 1}, {"B2u", 2}, {"B3u", 2}});
  // D2h, planar in the xy plane here; the group's z is perpendicular to the
  // plane and its x the short axis through C9 and C10 (here y).
  std::vector<TestAtom> naph{{6, kC, {0, 0.7, 0}}, {6, kC, {0, -0.7, 0}}};
  for (double sx : {1.0, -1.0})
    for (double sy : {1.0, -1.0}) {
      naph.push_back({6, kC, {sx * 1.24, sy * 1.40, 0}});
      naph.push_back({6, kC, {sx * 2.43, sy * 0.70, 0}});
      naph.push_back({1, kH, {sx * 1.24, sy * 2.49, 0}});
      naph.push_back({1, kH, {sx * 3.38, sy * 1.25, 0}});
    }
  add("naphthalene", "D2h", naph,
      {{"Ag", 9}, {"B1g", 8}, {"B2g", 4}, {"B3g", 3}, {"Au", 4}, {"B1u", 4}, {"B2u", 8}, {"B3u", 8}});
  // D6h, C2' through the carbons.
  std::vector<TestAtom> c6h6;
  for (int k = 0; k < 6; ++k) {
    c6h6.push_back({6, kC, ring(1.39, 60 * k, 0)});
    c6h6.push_back({1, kH, ring(2.47, 60 * k, 0)});
  }
  add("benzene", "D6h", c6h6,
      {{"A1g", 2}, {"A2g", 1}, {"B2g", 2}, {"E1g", 1}, {"E2g", 4}, {"A2u", 1}, {"B1u", 2},
       {"B2u", 2}, {"E1u", 3}, {"E2u", 2}});
  // Linear, z along the molecule: the blocks found in C2v / D2h are named by
  // correlation (Sigma+ from A1 / Ag, Sigma_u+ from B1u, Pi from B1 + B2 /
  // B2 + B3), one count per Pi pair.
  add("CO2", "Dinfh", {{6, kC, {0, 0, 0}}, {8, kO, {0, 0, 1.16}}, {8, kO, {0, 0, -1.16}}},
      {{"Sigma_g+", 1}, {"Sigma_u+", 1}, {"Pi_u", 1}});
  add("HCN", "Cinfv", {{1, kH, {0, 0, -1.64}}, {6, kC, {0, 0, -0.575}}, {7, kN, {0, 0, 0.58}}},
      {{"Sigma+", 2}, {"Pi", 1}});
  add("acetylene", "Dinfh",
      {{6, kC, {0, 0, 0.6}}, {6, kC, {0, 0, -0.6}}, {1, kH, {0, 0, 1.66}}, {1, kH, {0, 0, -1.66}}},
      {{"Sigma_g+", 2}, {"Sigma_u+", 1}, {"Pi_g", 1}, {"Pi_u", 1}});
  std::vector<TestAtom> sf6{{16, kS, {0, 0, 0}}};
  for (int k = 0; k < 3; ++k)
    for (double s : {1.56, -1.56}) sf6.push_back({9, kF, s * Vec3::Unit(k)});
  add("SF6", "Oh", sf6, {{"A1g", 1}, {"Eg", 1}, {"T1u", 2}, {"T2g", 1}, {"T2u", 1}});
  // D2d, z the C=C=C axis.
  add("allene", "D2d",
      {{6, kC, {0, 0, 0}}, {6, kC, {0, 0, 1.31}}, {6, kC, {0, 0, -1.31}}, {1, kH, {0.93, 0, 1.87}},
       {1, kH, {-0.93, 0, 1.87}}, {1, kH, {0, 0.93, -1.87}}, {1, kH, {0, -0.93, -1.87}}},
      {{"A1", 3}, {"B1", 1}, {"B2", 3}, {"E", 4}});
  std::vector<TestAtom> c3h6, bf3{{5, kB, {0, 0, 0}}}, pf5{{15, kP, {0, 0, 0}}, {9, kF, {0, 0, 1.58}}, {9, kF, {0, 0, -1.58}}};
  for (int k = 0; k < 3; ++k) {
    c3h6.push_back({6, kC, ring(0.87, 120 * k, 0)});
    c3h6.push_back({1, kH, ring(1.42, 120 * k, 0.91)});
    c3h6.push_back({1, kH, ring(1.42, 120 * k, -0.91)});
    bf3.push_back({9, kF, ring(1.31, 120 * k, 0)});
    pf5.push_back({9, kF, ring(1.53, 120 * k, 0)});
  }
  add("cyclopropane", "D3h", c3h6,
      {{"A1'", 3}, {"A2'", 1}, {"E'", 4}, {"A1''", 1}, {"A2''", 2}, {"E''", 3}});
  add("BF3", "D3h", bf3, {{"A1'", 1}, {"A2''", 1}, {"E'", 2}});
  add("PF5", "D3h", pf5, {{"A1'", 2}, {"A2''", 2}, {"E'", 3}, {"E''", 1}});
  std::vector<TestAtom> c2h6{{6, kC, {0, 0, 0.765}}, {6, kC, {0, 0, -0.765}}};
  for (int k = 0; k < 3; ++k) {
    c2h6.push_back({1, kH, ring(1.02, 120 * k, 1.16)});
    c2h6.push_back({1, kH, ring(1.02, 120 * k + 60, -1.16)});
  }
  add("ethane", "D3d", c2h6, {{"A1g", 3}, {"A1u", 1}, {"A2u", 2}, {"Eg", 3}, {"Eu", 3}});
  add("H2O2", "C2",
      {{8, kO, {0, 0.7, 0}}, {8, kO, {0, -0.7, 0}}, {1, kH, {0.9, 0.85, 0.3}}, {1, kH, {-0.9, -0.85, 0.3}}},
      {{"A", 4}, {"B", 2}});
  add("trans-diazene", "C2h",
      {{7, kN, {0.62, 0, 0}}, {7, kN, {-0.62, 0, 0}}, {1, kH, {1.0, 0.96, 0}}, {1, kH, {-1.0, -0.96, 0}}},
      {{"Ag", 3}, {"Au", 1}, {"Bu", 2}});
  add("methanol", "Cs",
      {{6, kC, {-0.05, 0.66, 0}}, {8, kO, {-0.05, -0.76, 0}}, {1, kH, {0.87, -1.04, 0}},
       {1, kH, {-1.09, 0.97, 0}}, {1, kH, {0.43, 1.08, 0.89}}, {1, kH, {0.43, 1.08, -0.89}}},
      {{"A'", 8}, {"A''", 4}});
  add("CHFClBr", "C1",
      {{6, kC, {0, 0, 0}}, {9, kF, {0, 0, 1.35}}, {17, kCl, {1.67, 0, -0.6}},
       {35, kBr, {-0.95, 1.6, -0.65}}, {1, kH, {-0.5, -0.9, -0.4}}},
      {{"A", 9}});
  // Adamantane, Td: CH at (a, a, a) and its tetrahedral images, CH2 on the axes.
  {
    const double a = 0.89, b = 1.778, h = 0.629, c = 0.63;
    std::vector<TestAtom> ad;
    for (const Vec3& v : {Vec3(1, 1, 1), Vec3(1, -1, -1), Vec3(-1, 1, -1), Vec3(-1, -1, 1)}) {
      ad.push_back({6, kC, a * v});
      ad.push_back({1, kH, (a + h) * v});
    }
    for (int k = 0; k < 3; ++k)
      for (double s : {1.0, -1.0}) {
        const Vec3 e = Vec3::Unit(k), f = Vec3::Unit((k + 1) % 3), g = Vec3::Unit((k + 2) % 3);
        ad.push_back({6, kC, s * b * e});
        // The CH2 hydrogens lie in the plane through the axis perpendicular
        // to the C-C-C plane of the two CH neighbours (along f + s g).
        ad.push_back({1, kH, s * (b + c) * e + c * (f - s * g)});
        ad.push_back({1, kH, s * (b + c) * e - c * (f - s * g)});
      }
    add("adamantane", "Td", ad, {{"A1", 5}, {"A2", 1}, {"E", 6}, {"T1", 7}, {"T2", 11}});
  }
  // C60: the even permutations of (0, +-1, +-3 phi), (+-1, +-(2 + phi),
  // +-2 phi), (+-phi, +-2, +-(2 phi + 1)), edge 2, scaled to 1.4 A.
  {
    const double p = (1 + std::sqrt(5.0)) / 2;
    std::vector<TestAtom> c60;
    for (const Vec3& base : {Vec3(0, 1, 3 * p), Vec3(1, 2 + p, 2 * p), Vec3(p, 2, 2 * p + 1)})
      for (int sx : {1, -1})
        for (int sy : {1, -1})
          for (int sz : {1, -1}) {
            const Vec3 v(sx * base.x(), sy * base.y(), sz * base.z());
            if ((base.x() == 0 && sx < 0)) continue;
            for (int k = 0; k < 3; ++k)
              c60.push_back({6, kC, 0.7 * Vec3(v((k) % 3), v((k + 1) % 3), v((k + 2) % 3))});
          }
    add("C60", "Ih", c60,
        {{"Ag", 2}, {"T1g", 3}, {"T2g", 4}, {"Gg", 6}, {"Hg", 8}, {"Au", 1}, {"T1u", 4},
         {"T2u", 5}, {"Gu", 6}, {"Hu", 7}});
  }
  return out;
}

// Two general orbits (a carbon and a fluorine; a chlorine too for groups of
// order 4 or less) of the standard operations of `group`; their counts are
// reduced in the test.
inline TestMolecule synthetic(const std::string& group) {
  const CharacterTable& table = character_table(parse_group(group).value());
  TestMolecule m{"synthetic " + group, group, {}, {}};
  std::vector<std::pair<int, Vec3>> seeds{{6, Vec3(1.9, 0.7, 1.1)}, {9, Vec3(-0.6, 2.3, -1.4)}};
  if (table.order() <= 4) seeds.push_back({17, Vec3(0.4, -1.2, 2.6)});
  for (const auto& [element, seed] : seeds)
    for (const Mat3& g : table.operations) {
      const Vec3 r = g * seed;
      bool dup = false;
      for (const TestAtom& a : m.atoms) dup = dup || (a.r - r).norm() < 1e-6;
      if (!dup) m.atoms.push_back({element, element == 6 ? kC : element == 9 ? kF : kCl, r});
    }
  return m;
}

}  // namespace korven::kit::testing
