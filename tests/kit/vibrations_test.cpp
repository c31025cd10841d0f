// Vibrational analysis from Hessian files built from chosen valence force
// fields: H = Bᵀ F B over an independent set, written in each file format,
// read back and analysed; wavenumbers checked against the generalized
// eigenproblem of H and M solved here, F against the force field chosen.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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

namespace korven::kit {
namespace {

namespace fs = std::filesystem;
using Geometry = std::vector<Vec3>;
using Coordinate = std::function<double(const Geometry&)>;

// CODATA 2018, written out here rather than taken from the library.
constexpr double kBohr = 0.529177210903;                           // Å
constexpr double kHartreeBohr2 = 4.3597447222071 / (kBohr * kBohr);  // mdyn/Å
constexpr double kPi = 3.14159265358979323846;

Coordinate stretch(int a, int b) {
  return [=](const Geometry& x) { return (x[a] - x[b]).norm(); };
}
Coordinate bend(int a, int apex, int c) {
  return [=](const Geometry& x) { return std::acos((x[a] - x[apex]).normalized().dot((x[c] - x[apex]).normalized())); };
}
// Wilson's out-of-plane angle of bond centre–a from the plane centre, b, c.
Coordinate out_of_plane(int a, int centre, int b, int c) {
  return [=](const Geometry& x) {
    const Vec3 eb = (x[b] - x[centre]).normalized(), ec = (x[c] - x[centre]).normalized();
    return std::asin((x[a] - x[centre]).normalized().dot(eb.cross(ec)) / eb.cross(ec).norm());
  };
}

// One component of a linear bend a–centre–c: the bending towards `d`.
Coordinate linear_bend(int a, int centre, int c, Vec3 d) {
  return [=](const Geometry& x) { return -d.dot((x[a] - x[centre]).normalized() + (x[c] - x[centre]).normalized()); };
}

// B by central differences of the coordinate definitions.
Matrix b_matrix(Geometry x, const std::vector<Coordinate>& cs) {
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
std::vector<double> direct_wavenumbers(const Matrix& h, const std::vector<double>& m, int external) {
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

struct TestMolecule {
  std::vector<int> z;
  Geometry x;
  std::vector<double> masses;
  std::vector<Coordinate> independent, extra;  // extra: redundant coordinates
  Matrix f;                                    // over the independent set
  Matrix u_independent, u_redundant;           // empty: none
  std::vector<ModeBlock> blocks_independent, blocks_redundant;
  std::map<std::string, int> species_counts;
};

TestMolecule water() {
  TestMolecule m{{8, 1, 1}, {{0, 0, 0.1173}, {0, 0.7572, -0.4692}, {0, -0.7572, -0.4692}}, {15.994915, 1.007825, 1.007825},
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

TestMolecule ammonia() {
  TestMolecule m{{7, 1, 1, 1}, {{0, 0, 0.1}}, {14.003074, 1.007825, 1.007825, 1.007825}, {}, {stretch(1, 2)},
                 Matrix(6, 6), {}, {}, {}, {}, {}};
  for (int k = 0; k < 3; ++k) m.x.emplace_back(0.94 * std::cos(2 * kPi * k / 3), 0.94 * std::sin(2 * kPi * k / 3), -0.28);
  m.independent = {stretch(0, 1), stretch(0, 2), stretch(0, 3), bend(1, 0, 2), bend(2, 0, 3), bend(3, 0, 1)};
  m.f.setZero();
  m.f.diagonal() << 6.4, 6.4, 6.4, 0.55, 0.55, 0.55;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (i != j) m.f(i, j) = 0.05, m.f(3 + i, 3 + j) = -0.08;
  return m;
}

TestMolecule formaldehyde() {
  TestMolecule m{{6, 8, 1, 1}, {{0, 0, 0}, {0, 0, 1.21}, {0, 0.94, -0.58}, {0, -0.94, -0.58}},
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

TestMolecule carbon_dioxide() {
  TestMolecule m{{6, 8, 8}, {{0, 0, 0}, {0, 0, 1.16}, {0, 0, -1.16}}, {12.0, 15.994915, 15.994915},
                 {stretch(0, 1), stretch(0, 2), linear_bend(1, 0, 2, Vec3::UnitX()), linear_bend(1, 0, 2, Vec3::UnitY())},
                 {}, Matrix::Zero(4, 4), {}, {}, {}, {}, {}};
  m.f.diagonal() << 16.0, 16.0, 0.57, 0.57;
  m.f(0, 1) = m.f(1, 0) = 1.3;
  return m;
}

// ---- Writers of the three formats, as the programs lay them out ----------

std::string fchk_text(const std::vector<int>& z, const Geometry& x, const Matrix& h) {
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
  return s;
}

std::string orca_text(const std::vector<int>& z, const Geometry& x, const Matrix& h) {
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
  return s;
}

std::string plain_text(const Matrix& h, double unit = 1.0) {  // h / unit; unit 1: mdyn/Å
  std::string s = "# Hessian\n";
  char buf[32];
  for (Eigen::Index r = 0; r < h.rows(); ++r) {
    for (Eigen::Index c = 0; c < h.cols(); ++c) std::snprintf(buf, sizeof buf, " %.16g", h(r, c) / unit), s += buf;
    s += "\n";
  }
  return s;
}

fs::path write_temp(const std::string& name, const std::string& content) {
  const fs::path p = fs::temp_directory_path() / ("korvenkit_vib_" + std::to_string(::getpid()) + "_" + name);
  std::ofstream(p, std::ios::binary) << content;
  return p;
}

std::string file_text(HessianFormat format, const std::vector<int>& z, const Geometry& x, const Matrix& h) {
  switch (format) {
    case HessianFormat::fchk: return fchk_text(z, x, h);
    case HessianFormat::orca: return orca_text(z, x, h);
    case HessianFormat::text: break;
  }
  return plain_text(h, kHartreeBohr2);
}

// ---- The table of synthetic Hessians -------------------------------------

struct Case {
  const char* name;
  TestMolecule (*molecule)();
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
    const TestMolecule m = c.molecule();
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
  }
}


// ---- Files that cannot be read: the error names the file and the line ----

TEST(Vibrations, BadHessianFilesAreRefusedNamingFileAndLine) {
  const TestMolecule m = water();
  const Matrix b = b_matrix(m.x, m.independent);
  const Matrix h = b.transpose() * m.f * b;
  Matrix asym = h;
  asym(7, 1) += 1e-3 * h.cwiseAbs().maxCoeff();
  const TestMolecule nh3 = ammonia();
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
  const TestMolecule m = water();
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
  TestMolecule m = water();
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
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload && std::string(preload).find("vgpreload") != std::string::npos) GTEST_SKIP() << "under Valgrind";
  // A braced lattice, 3 × 4 × 5 atoms, shaken; every pair within 2.4 Å a stretch.
  Geometry x;
  unsigned seed = 12345;
  const auto jitter = [&seed] { return ((seed = seed * 1103515245u + 12345u) >> 16 & 1023) / 1023.0 * 0.2 - 0.1; };
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 5; ++k) x.emplace_back(1.5 * i + jitter(), 1.5 * j + jitter(), 1.5 * k + jitter());
  std::vector<Coordinate> coords;
  for (int a = 0; a < 60; ++a)
    for (int c = a + 1; c < 60; ++c)
      if ((x[a] - x[c]).norm() < 2.4) coords.push_back(stretch(a, c));
  const Matrix b = b_matrix(x, coords);
  const Matrix h = b.transpose() * (4.0 * Matrix::Identity(b.rows(), b.rows())) * b;
  const fs::path file = write_temp("sixty.txt", plain_text(h));
  std::vector<std::vector<double>> masses(3, std::vector<double>(60, 12.0));
  for (int a = 0; a < 10; ++a) masses[1][a] = 13.003355;
  for (int a = 0; a < 60; a += 2) masses[2][a] = 2.014102;

  const auto start = std::chrono::steady_clock::now();
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
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  fs::remove(file);
  RecordProperty("seconds", std::to_string(seconds));
  EXPECT_EQ(r.matches.size(), 174u);
  if (testing::kTimedBuild) {
    EXPECT_LT(seconds, 2.0) << coords.size() << " coordinates";
  }
}

}  // namespace
}  // namespace korven::kit
