// Molecules with chosen valence force fields for the vibrational tests:
// coordinates as functions of the geometry (B by central differences, not
// by the kit's routines), H = Bᵀ F B over an independent set, the Hessian
// written in each file format as the quantum-chemistry programs lay it out,
// and the wavenumbers straight from det(H − λM) = 0.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "kit/base/linalg.h"
#include "kit/io/hessian_input.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit::testing {

namespace fs = std::filesystem;
using Geometry = std::vector<Vec3>;
using Coordinate = std::function<double(const Geometry&)>;

// CODATA 2018, written out here rather than taken from the library.
inline constexpr double kBohr = 0.529177210903;                           // Å
inline constexpr double kHartreeBohr2 = 4.3597447222071 / (kBohr * kBohr);  // mdyn/Å
inline constexpr double kPi = 3.14159265358979323846;

inline Coordinate stretch(int a, int b) {
  return [=](const Geometry& x) { return (x[a] - x[b]).norm(); };
}
inline Coordinate bend(int a, int apex, int c) {
  return [=](const Geometry& x) { return std::acos((x[a] - x[apex]).normalized().dot((x[c] - x[apex]).normalized())); };
}
// Wilson's out-of-plane angle of bond centre–a from the plane centre, b, c.
inline Coordinate out_of_plane(int a, int centre, int b, int c) {
  return [=](const Geometry& x) {
    const Vec3 eb = (x[b] - x[centre]).normalized(), ec = (x[c] - x[centre]).normalized();
    return std::asin((x[a] - x[centre]).normalized().dot(eb.cross(ec)) / eb.cross(ec).norm());
  };
}

// One component of a linear bend a–centre–c: the bending towards `d`.
inline Coordinate linear_bend(int a, int centre, int c, Vec3 d) {
  return [=](const Geometry& x) { return -d.dot((x[a] - x[centre]).normalized() + (x[c] - x[centre]).normalized()); };
}

// B by central differences of the coordinate definitions.
inline Matrix b_matrix(Geometry x, const std::vector<Coordinate>& cs) {
  const double h = 1e-5;
  Matrix b(static_cast<Eigen::Index>(cs.size()), static_cast<Eigen::Index>(3 * x.size()));
  for (std::size_t a = 0; a < x.size(); ++a)
    for (int k = 0; k < 3; ++k) {
      const double keep = x[a](k);
      x[a](k) = keep + h;
      Vector up(b.rows());
      for (std::size_t i = 0; i < cs.size(); ++i) up(static_cast<Eigen::Index>(i)) = cs[i](x);
      x[a](k) = keep - h;
      for (std::size_t i = 0; i < cs.size(); ++i)
        b(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(3 * a + k)) = (up(static_cast<Eigen::Index>(i)) - cs[i](x)) / (2 * h);
      x[a](k) = keep;
    }
  return b;
}

// Wavenumbers (cm⁻¹) straight from det(H − λM) = 0, leaving out the
// `external` eigenvalues closest to zero.
inline std::vector<double> direct_wavenumbers(const Matrix& h, const std::vector<double>& m, int external) {
  Matrix hm = h;
  for (Eigen::Index i = 0; i < h.rows(); ++i)
    for (Eigen::Index j = 0; j < h.cols(); ++j) hm(i, j) /= std::sqrt(m[i / 3] * m[j / 3]);
  const Vector lambda = symmetric_eigenvalues(hm);
  std::vector<double> v(lambda.data(), lambda.data() + lambda.size());
  std::sort(v.begin(), v.end(), [](double a, double b) { return std::abs(a) < std::abs(b); });
  v.erase(v.begin(), v.begin() + external);
  std::sort(v.begin(), v.end());
  // λ [mdyn/(Å u)] · 100 N/m / 1.66053906660e-27 kg = ω² in s⁻²; ν̃ = ω/(2πc), c in cm/s.
  for (double& l : v) l = std::sqrt(l * 1e2 / 1.66053906660e-27) / (2 * kPi * 2.99792458e10);
  return v;
}

// B⁺ by singular value decomposition (not the kit's Gram-matrix route),
// singular values below 1e-6 of the largest dropped.
inline Matrix svd_pseudo_inverse(const Matrix& b) {
  const Eigen::JacobiSVD<Matrix> svd(b, Eigen::ComputeThinU | Eigen::ComputeThinV);
  const Vector s = svd.singularValues();
  Vector inv = Vector::Zero(s.size());
  for (Eigen::Index i = 0; i < s.size(); ++i)
    if (s(i) > 1e-6 * s(0)) inv(i) = 1 / s(i);
  return svd.matrixV() * inv.asDiagonal() * svd.matrixU().transpose();
}

struct ForceFieldMolecule {
  std::vector<int> z;
  Geometry x;
  std::vector<double> masses;
  std::vector<Coordinate> independent, extra;  // extra: redundant coordinates
  Matrix f;                                    // over the independent set
  Matrix u_independent, u_redundant;           // empty: none
  std::vector<ModeBlock> blocks_independent, blocks_redundant;
  std::map<std::string, int> species_counts;
};

inline ForceFieldMolecule water() {
  ForceFieldMolecule m{{8, 1, 1}, {{0, 0, 0.1173}, {0, 0.7572, -0.4692}, {0, -0.7572, -0.4692}}, {15.994915, 1.007825, 1.007825},
                 {stretch(0, 1), stretch(0, 2), bend(1, 0, 2)}, {stretch(1, 2)}, Matrix(3, 3), {}, {}, {}, {}, {{"A1", 2}, {"B2", 1}}};
  m.f << 8.45, -0.1, 0.25, -0.1, 8.45, 0.25, 0.25, 0.25, 0.76;
  const double s = std::sqrt(0.5);
  m.u_independent = Matrix(3, 3);
  m.u_independent << s, s, 0, 0, 0, 1, s, -s, 0;
  m.blocks_independent = {{0, 2, "A1"}, {2, 1, "B2"}};
  m.u_redundant = Matrix(4, 4);
  m.u_redundant << s, s, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, s, -s, 0, 0;
  m.blocks_redundant = {{0, 3, "A1"}, {3, 1, "B2"}};
  return m;
}

inline ForceFieldMolecule ammonia() {
  ForceFieldMolecule m{{7, 1, 1, 1}, {{0, 0, 0.1}}, {14.003074, 1.007825, 1.007825, 1.007825}, {}, {stretch(1, 2)},
                 Matrix(6, 6), {}, {}, {}, {}, {}};
  for (int k = 0; k < 3; ++k) m.x.emplace_back(0.94 * std::cos(2 * kPi * k / 3), 0.94 * std::sin(2 * kPi * k / 3), -0.28);
  m.independent = {stretch(0, 1), stretch(0, 2), stretch(0, 3), bend(1, 0, 2), bend(2, 0, 3), bend(3, 0, 1)};
  m.f.setZero();
  m.f.diagonal() << 6.4, 6.4, 6.4, 0.55, 0.55, 0.55;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (i != j) m.f(i, j) = 0.05, m.f(3 + i, 3 + j) = -0.08;
  // C3v symmetry coordinates over r1 r2 r3 a12 a23 a31: the mirror through H_a
  // fixes r_a and the angle opposite it (r1 with a23, r2 with a31, r3 with
  // a12), so the E partners pair alike: E(1) symmetric, E(2) antisymmetric
  // to the mirror through H1.
  const double t = 1 / std::sqrt(3.0), h = 1 / std::sqrt(6.0), s = std::sqrt(0.5);
  m.u_independent = Matrix(6, 6);
  m.u_independent << t, t, t, 0, 0, 0,  //
      0, 0, 0, t, t, t,                 //
      2 * h, -h, -h, 0, 0, 0,           //
      0, 0, 0, -h, 2 * h, -h,           //
      0, s, -s, 0, 0, 0,                //
      0, 0, 0, -s, 0, s;
  m.blocks_independent = {{0, 2, "A1"}, {2, 2, "E(1)"}, {4, 2, "E(2)"}};
  return m;
}

inline ForceFieldMolecule formaldehyde() {
  ForceFieldMolecule m{{6, 8, 1, 1}, {{0, 0, 0}, {0, 0, 1.21}, {0, 0.94, -0.58}, {0, -0.94, -0.58}},
                 {12.0, 15.994915, 1.007825, 1.007825},
                 {stretch(0, 1), stretch(0, 2), stretch(0, 3), bend(1, 0, 2), bend(1, 0, 3), out_of_plane(1, 0, 2, 3)},
                 {bend(2, 0, 3)}, Matrix(6, 6), Matrix(6, 6), {}, {}, {}, {{"A1", 3}, {"B1", 1}, {"B2", 2}}};
  m.f.setZero();
  m.f.diagonal() << 12.0, 4.8, 4.8, 0.8, 0.8, 0.4;
  m.f(1, 2) = m.f(2, 1) = 0.05;
  m.f(0, 1) = m.f(1, 0) = m.f(0, 2) = m.f(2, 0) = 0.2;
  const double s = std::sqrt(0.5);
  m.u_independent << 1, 0, 0, 0, 0, 0, 0, s, s, 0, 0, 0, 0, 0, 0, s, s, 0,  //
      0, 0, 0, 0, 0, 1,                                                     //
      0, s, -s, 0, 0, 0, 0, 0, 0, s, -s, 0;
  m.blocks_independent = {{0, 3, "A1"}, {3, 1, "B1"}, {4, 2, "B2"}};
  return m;
}

inline ForceFieldMolecule carbon_dioxide() {
  ForceFieldMolecule m{{6, 8, 8}, {{0, 0, 0}, {0, 0, 1.16}, {0, 0, -1.16}}, {12.0, 15.994915, 15.994915},
                 {stretch(0, 1), stretch(0, 2), linear_bend(1, 0, 2, Vec3::UnitX()), linear_bend(1, 0, 2, Vec3::UnitY())},
                 {}, Matrix::Zero(4, 4), {}, {}, {}, {}, {}};
  m.f.diagonal() << 16.0, 16.0, 0.57, 0.57;
  m.f(0, 1) = m.f(1, 0) = 1.3;
  return m;
}

// sin φ of the dihedral a–b–c–d: smooth through 0 and 180°, where φ itself
// jumps between ±π, and with φ's first derivative there up to its sign.
inline Coordinate torsion_sine(int a, int b, int c, int d) {
  return [=](const Geometry& x) {
    const Vec3 b1 = x[b] - x[a], b2 = x[c] - x[b], b3 = x[d] - x[c];
    const Vec3 n1 = b1.cross(b2), n2 = b2.cross(b3);
    return n1.cross(n2).dot(b2) / (n1.norm() * n2.norm() * b2.norm());
  };
}

// Methane (Td): four C–H stretches and all six H–C–H angles, the field
// unchanged by every permutation of the hydrogens (stretch–stretch 0.04,
// angle–angle −0.02 for angles sharing a bond, 0.01 for opposite ones).
inline ForceFieldMolecule methane() {
  const double a = 1.09 / std::sqrt(3.0);
  ForceFieldMolecule m{{6, 1, 1, 1, 1}, {{0, 0, 0}, {a, a, a}, {-a, -a, a}, {-a, a, -a}, {a, -a, -a}},
                       {12.0, 1.007825, 1.007825, 1.007825, 1.007825}, {}, {}, Matrix::Zero(10, 10), {}, {}, {}, {}, {}};
  const int pairs[6][2] = {{1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}};
  for (int h = 1; h <= 4; ++h) m.independent.push_back(stretch(0, h));
  for (const auto& p : pairs) m.independent.push_back(bend(p[0], 0, p[1]));
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m.f(i, j) = i == j ? 5.0 : 0.04;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) {
      const bool share = pairs[i][0] == pairs[j][0] || pairs[i][0] == pairs[j][1] || pairs[i][1] == pairs[j][0] ||
                         pairs[i][1] == pairs[j][1];
      m.f(4 + i, 4 + j) = i == j ? 0.54 : share ? -0.02 : 0.01;
    }
  return m;
}

// Ethylene (D2h, C=C along z, in the yz plane): C=C, four C–H, four C=C–H
// and two H–C–H angles in the plane; the two CH2 wags and the sines of the
// four H–C=C–H dihedrals out of it. Interactions only between coordinates
// the symmetry operations carry into one another alike (C=C with every C–H;
// C–H with C–H on one carbon).
inline ForceFieldMolecule ethylene() {
  ForceFieldMolecule m{{6, 6, 1, 1, 1, 1},
                       {{0, 0, 0.667}, {0, 0, -0.667}, {0, 0.923, 1.238}, {0, -0.923, 1.238}, {0, 0.923, -1.238},
                        {0, -0.923, -1.238}},
                       {12.0, 12.0, 1.007825, 1.007825, 1.007825, 1.007825}, {}, {}, Matrix::Zero(17, 17), {}, {}, {}, {}, {}};
  m.independent = {stretch(0, 1),     stretch(0, 2),         stretch(0, 3),         stretch(1, 4),
                   stretch(1, 5),     bend(1, 0, 2),         bend(1, 0, 3),         bend(0, 1, 4),
                   bend(0, 1, 5),     bend(2, 0, 3),         bend(4, 1, 5),         out_of_plane(1, 0, 2, 3),
                   out_of_plane(0, 1, 4, 5), torsion_sine(2, 0, 1, 4), torsion_sine(2, 0, 1, 5), torsion_sine(3, 0, 1, 4),
                   torsion_sine(3, 0, 1, 5)};
  m.f.diagonal() << 9.4, 5.1, 5.1, 5.1, 5.1, 0.52, 0.52, 0.52, 0.52, 0.41, 0.41, 0.24, 0.24, 0.07, 0.07, 0.07, 0.07;
  for (int h = 1; h <= 4; ++h) m.f(0, h) = m.f(h, 0) = 0.08;
  m.f(1, 2) = m.f(2, 1) = m.f(3, 4) = m.f(4, 3) = 0.03;
  return m;
}

// ---- The braced lattice of the timed tests ---------------------------------

// 3 × 4 × 5 atoms 1.5 Å apart, shaken by up to 0.1 Å (a fixed linear
// congruential sequence from `seed`); every pair within 2.4 Å a stretch with
// force constant 4 mdyn/Å, so H = 4 BᵀB. Three mass sets: all 12, ten atoms
// 13C, every other atom 2.014102.
struct BracedLattice {
  Geometry x;
  std::vector<std::pair<int, int>> bonds;
  Matrix b, h;
  std::vector<std::vector<double>> masses;
};

inline BracedLattice braced_lattice(unsigned seed = 12345) {
  BracedLattice l;
  const auto jitter = [&seed] { return ((seed = seed * 1103515245u + 12345u) >> 16 & 1023) / 1023.0 * 0.2 - 0.1; };
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 5; ++k) l.x.emplace_back(1.5 * i + jitter(), 1.5 * j + jitter(), 1.5 * k + jitter());
  std::vector<Coordinate> coords;
  for (int a = 0; a < 60; ++a)
    for (int c = a + 1; c < 60; ++c)
      if ((l.x[static_cast<std::size_t>(a)] - l.x[static_cast<std::size_t>(c)]).norm() < 2.4) {
        l.bonds.emplace_back(a, c);
        coords.push_back(stretch(a, c));
      }
  l.b = b_matrix(l.x, coords);
  l.h = 4.0 * l.b.transpose() * l.b;
  l.masses.assign(3, std::vector<double>(60, 12.0));
  for (std::size_t a = 0; a < 10; ++a) l.masses[1][a] = 13.003355;
  for (std::size_t a = 0; a < 60; a += 2) l.masses[2][a] = 2.014102;
  return l;
}

// ---- Writers of the three formats, as the programs lay them out ----------

// The optional sections hold derivatives in atomic units, one row per
// Cartesian displacement (atom 1 x, y, z, atom 2 x, …): dipole 3N × 3 (e),
// polarizability 3N × 6 (xx, xy, yy, xz, yz, zz; bohr²).
inline std::string fchk_text(const std::vector<int>& z, const Geometry& x, const Matrix& h,
                             const std::optional<Matrix>& dipole = std::nullopt,
                             const std::optional<Matrix>& polarizability = std::nullopt) {
  std::string s = "synthetic Hessian\n";
  char buf[128];
  const auto header = [&](const char* name, char type, long n) {
    std::snprintf(buf, sizeof buf, "%-43s%c   N=%12ld\n", name, type, n);
    s += buf;
  };
  const auto reals = [&](const std::vector<double>& v) {
    for (std::size_t i = 0; i < v.size(); ++i) {
      std::snprintf(buf, sizeof buf, "%16.8E", v[i]);
      s += buf;
      if (i % 5 == 4 || i + 1 == v.size()) s += "\n";
    }
  };
  std::snprintf(buf, sizeof buf, "%-43sI     %12zu\n", "Number of atoms", z.size());
  s += buf;
  header("Atomic numbers", 'I', static_cast<long>(z.size()));
  for (int v : z) std::snprintf(buf, sizeof buf, "%12d", v), s += buf;
  s += "\n";
  std::vector<double> c, t;
  for (const Vec3& p : x) c.insert(c.end(), {p.x() / kBohr, p.y() / kBohr, p.z() / kBohr});
  header("Current cartesian coordinates", 'R', static_cast<long>(c.size()));
  reals(c);
  for (Eigen::Index i = 0; i < h.rows(); ++i)
    for (Eigen::Index j = 0; j <= i; ++j) t.push_back(h(i, j) / kHartreeBohr2);
  header("Cartesian Force Constants", 'R', static_cast<long>(t.size()));
  reals(t);
  const auto table = [&](const char* name, const std::optional<Matrix>& d) {
    if (!d) return;
    std::vector<double> v;
    for (Eigen::Index i = 0; i < d->rows(); ++i)
      for (Eigen::Index j = 0; j < d->cols(); ++j) v.push_back((*d)(i, j));
    header(name, 'R', static_cast<long>(v.size()));
    reals(v);
  };
  table("Dipole Derivatives", dipole);
  table("Polarizability Derivatives", polarizability);
  return s;
}

// With `dipole` (3N × 3, e), a $dipole_derivatives block after $atoms.
inline std::string orca_text(const std::vector<int>& z, const Geometry& x, const Matrix& h,
                             const std::optional<Matrix>& dipole = std::nullopt) {
  const char* symbol[] = {"", "H", "He", "Li", "Be", "B", "C", "N", "O"};
  std::string s = "$orca_hessian_file\n\n$hessian\n" + std::to_string(h.rows()) + "\n";
  char buf[512];
  for (Eigen::Index c0 = 0; c0 < h.cols(); c0 += 5) {
    s += "        ";
    for (Eigen::Index c = c0; c < std::min(c0 + 5, h.cols()); ++c) std::snprintf(buf, sizeof buf, "%21ld", c), s += buf;
    s += "\n";
    for (Eigen::Index r = 0; r < h.rows(); ++r) {
      std::snprintf(buf, sizeof buf, "%8ld", r), s += buf;
      for (Eigen::Index c = c0; c < std::min(c0 + 5, h.cols()); ++c)
        std::snprintf(buf, sizeof buf, "%21.12E", h(r, c) / kHartreeBohr2), s += buf;
      s += "\n";
    }
  }
  s += "\n$atoms\n" + std::to_string(z.size()) + "\n";
  for (std::size_t a = 0; a < z.size(); ++a) {
    std::snprintf(buf, sizeof buf, " %-3s %10.5f %16.10f %16.10f %16.10f\n", symbol[z[a]], 1.0, x[a].x() / kBohr,
                  x[a].y() / kBohr, x[a].z() / kBohr);
    s += buf;
  }
  if (dipole) {
    s += "\n$dipole_derivatives\n" + std::to_string(dipole->rows()) + "\n";
    for (Eigen::Index r = 0; r < dipole->rows(); ++r) {
      std::snprintf(buf, sizeof buf, " %16.8E %16.8E %16.8E\n", (*dipole)(r, 0), (*dipole)(r, 1), (*dipole)(r, 2));
      s += buf;
    }
    s += "\n$end\n";
  }
  return s;
}

// Dipole derivatives as the plain-text file of --dipole-derivatives: 3N rows
// of three numbers (e), after a comment.
inline std::string dipole_text(const Matrix& d) {
  std::string s = "# dipole derivatives, e·bohr/bohr\n";
  char buf[96];
  for (Eigen::Index r = 0; r < d.rows(); ++r) {
    std::snprintf(buf, sizeof buf, " %.17g %.17g %.17g\n", d(r, 0), d(r, 1), d(r, 2));
    s += buf;
  }
  return s;
}

inline std::string plain_text(const Matrix& h, double unit = 1.0) {  // h / unit; unit 1: mdyn/Å
  std::string s = "# Hessian\n";
  char buf[32];
  for (Eigen::Index r = 0; r < h.rows(); ++r) {
    for (Eigen::Index c = 0; c < h.cols(); ++c) std::snprintf(buf, sizeof buf, " %.16g", h(r, c) / unit), s += buf;
    s += "\n";
  }
  return s;
}

inline fs::path write_temp(const std::string& name, const std::string& content) {
  const fs::path p = fs::temp_directory_path() / ("korvenkit_vib_" + std::to_string(::getpid()) + "_" + name);
  std::ofstream(p, std::ios::binary) << content;
  return p;
}

inline std::string file_text(HessianFormat format, const std::vector<int>& z, const Geometry& x, const Matrix& h) {
  switch (format) {
    case HessianFormat::fchk: return fchk_text(z, x, h);
    case HessianFormat::orca: return orca_text(z, x, h);
    case HessianFormat::text: break;
  }
  return plain_text(h, kHartreeBohr2);
}

}  // namespace korven::kit::testing
