// Dipole and polarizability derivatives in the Hessian files and in a plain
// text file of their own: read back as written, refused with the file and
// line of the fault, and turned into the deck's frame as the finite
// differences of a turned molecule's dipole and polarizability say.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "kit/base/kit_error.h"
#include "kit/io/hessian_input.h"
#include "kit/vibrations/frame_fit.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

Matrix pattern(Eigen::Index rows, Eigen::Index cols, double phase) {
  Matrix m(rows, cols);
  for (Eigen::Index i = 0; i < rows; ++i)
    for (Eigen::Index j = 0; j < cols; ++j) m(i, j) = std::cos(0.9 * static_cast<double>(i) - 1.7 * static_cast<double>(j) + phase);
  return m;
}

struct Written {
  testing::ForceFieldMolecule m;
  Matrix h, dipole, polar;
};

Written written(testing::ForceFieldMolecule (*molecule)()) {
  Written w{molecule(), {}, {}, {}};
  const Matrix b = testing::b_matrix(w.m.x, w.m.independent);
  w.h = b.transpose() * w.m.f * b;
  w.dipole = pattern(w.h.rows(), 3, 0.3);
  w.polar = pattern(w.h.rows(), 6, 1.1);
  return w;
}

TEST(HessianDerivatives, ComeBackAsWrittenFromEachFormat) {
  testing::TempDir dir;
  for (auto molecule : {testing::water, testing::formaldehyde}) {
    const Written w = written(molecule);
    const int atoms = static_cast<int>(w.m.z.size());
    testing::spill(dir / "f.fchk", testing::fchk_text(w.m.z, w.m.x, w.h, w.dipole, w.polar));
    testing::spill(dir / "o.hess", testing::orca_text(w.m.z, w.m.x, w.h, w.dipole));
    testing::spill(dir / "d.txt", testing::dipole_text(w.dipole));
    const HessianFile fchk = read_hessian(dir / "f.fchk", HessianFormat::fchk, HessianUnits::hartree_per_bohr2, atoms);
    const HessianFile orca = read_hessian(dir / "o.hess", HessianFormat::orca, HessianUnits::hartree_per_bohr2, 0);
    ASSERT_TRUE(fchk.dipole_derivatives && fchk.polarizability_derivatives && orca.dipole_derivatives);
    EXPECT_FALSE(orca.polarizability_derivatives);
    // %16.8E in the fchk and the .hess: nine significant digits.
    EXPECT_LT((*fchk.dipole_derivatives - w.dipole).cwiseAbs().maxCoeff(), 1e-8);
    EXPECT_LT((*fchk.polarizability_derivatives - w.polar).cwiseAbs().maxCoeff(), 1e-8);
    EXPECT_LT((*orca.dipole_derivatives - w.dipole).cwiseAbs().maxCoeff(), 1e-8);
    EXPECT_EQ(read_dipole_derivatives(dir / "d.txt", atoms), w.dipole);
    EXPECT_EQ(read_dipole_derivatives(dir / "d.txt", 0), w.dipole);
    // Without the sections: none.
    testing::spill(dir / "plain.fchk", testing::fchk_text(w.m.z, w.m.x, w.h));
    const HessianFile plain = read_hessian(dir / "plain.fchk", HessianFormat::fchk, HessianUnits::hartree_per_bohr2, atoms);
    EXPECT_FALSE(plain.dipole_derivatives || plain.polarizability_derivatives);
  }
}

// psi4's files: the rows are displacements, so each column sums over the
// atoms to the derivative along a translation, which vanishes for a neutral
// molecule (to the finite-difference error the files' notes give).
TEST(HessianDerivatives, Psi4FilesObeyTheTranslationSumRule) {
  const HessianFile water = read_hessian(testing::kit_data("psi4/water.fchk"), HessianFormat::fchk,
                                         HessianUnits::hartree_per_bohr2, 3);
  const HessianFile h2co = read_hessian(testing::kit_data("psi4/formaldehyde.hess"), HessianFormat::orca,
                                        HessianUnits::hartree_per_bohr2, 4);
  ASSERT_TRUE(water.dipole_derivatives && water.polarizability_derivatives && h2co.dipole_derivatives);
  EXPECT_NEAR((*water.dipole_derivatives)(0, 0), -7.98374708e-01, 1e-12);  // the section's first value
  EXPECT_NEAR((*h2co.dipole_derivatives)(11, 2), -5.07638104e-02, 1e-12);  // the block's last
  for (const Matrix* d : {&*water.dipole_derivatives, &*water.polarizability_derivatives, &*h2co.dipole_derivatives}) {
    for (int k = 0; k < 3; ++k) {
      Vector sum = Vector::Zero(d->cols());
      for (Eigen::Index a = 0; a < d->rows(); a += 3) sum += d->row(a + k).transpose();
      EXPECT_LT(sum.cwiseAbs().maxCoeff(), 1e-4);
      EXPECT_GT(d->cwiseAbs().maxCoeff(), 0.3);
    }
  }
}

// ---- Faults: "FILE: line L: ..." -----------------------------------------

struct BadCase {
  const char* name;
  HessianFormat format;  // text: the file of dipole derivatives
  int expected_atoms;
  std::function<std::string()> content;
  const char* fault;  // what the message holds after "FILE: "
};

std::string lines(const std::string& text, int first, int last) {  // lines first..last, from 1
  std::string out, line;
  std::istringstream in(text);
  for (int i = 1; std::getline(in, line); ++i)
    if (i >= first && i <= last) out += line + "\n";
  return out;
}
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}
// Line `n` (from 1) with its first token replaced.
std::string first_token(const std::string& text, int n, const std::string& token) {
  const std::string line = lines(text, n, n);
  const std::size_t start = line.find_first_not_of(' ');
  const std::size_t end = line.find(' ', start);
  return lines(text, 1, n - 1) + " " + token + line.substr(end) + lines(text, n + 1, 1000);
}

std::string water_fchk() {
  const Written w = written(testing::water);
  return testing::fchk_text(w.m.z, w.m.x, w.h, w.dipole, w.polar);
}
std::string water_orca() {
  const Written w = written(testing::water);
  return testing::orca_text(w.m.z, w.m.x, w.h, w.dipole);
}
std::string water_dipoles() { return testing::dipole_text(written(testing::water).dipole); }

class BadDerivatives : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadDerivatives, AreRefusedNamingFileAndLine) {
  const BadCase& c = GetParam();
  testing::TempDir dir;
  const auto file = dir / "bad";
  testing::spill(file, c.content());
  try {
    if (c.format == HessianFormat::text) read_dipole_derivatives(file, c.expected_atoms);
    else read_hessian(file, c.format, HessianUnits::hartree_per_bohr2, c.expected_atoms);
    ADD_FAILURE() << "accepted";
  } catch (const InputError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(file.string() + ": " + c.fault, 0), 0u) << e.what();
  }
}

// The water fchk: line 18 "Dipole Derivatives" (27 values on lines 19-24),
// line 25 "Polarizability Derivatives" (54 on lines 26-36). The .hess: line 33
// the row count, rows on lines 34-42. The text file: a comment, rows on 2-10.
INSTANTIATE_TEST_SUITE_P(
    Files, BadDerivatives,
    ::testing::Values(
        BadCase{"fchk_dipole_count", HessianFormat::fchk, 3,
                [] { return replaced(water_fchk(), "N=          27", "N=          26"); },
                "line 18: \"Dipole Derivatives\" has N=26, 3 atoms need 27"},
        BadCase{"fchk_dipole_short", HessianFormat::fchk, 3,
                [] { return lines(water_fchk(), 1, 23) + lines(water_fchk(), 25, 100); },
                "line 24: \"Dipole Derivatives\" ends after 25 of 27 values"},
        BadCase{"fchk_polarizability_not_a_number", HessianFormat::fchk, 3,
                [] { return first_token(water_fchk(), 27, "1.0E+00x"); }, "line 27: \"1.0E+00x\" is not a number"},
        BadCase{"fchk_polarizability_nan", HessianFormat::fchk, 3, [] { return first_token(water_fchk(), 30, "NaN"); },
                "line 30: \"NaN\" is not a finite number"},
        BadCase{"orca_row_count", HessianFormat::orca, 3,
                [] { return replaced(water_orca(), "$dipole_derivatives\n9", "$dipole_derivatives\n12"); },
                "line 33: $dipole_derivatives has 12 rows, 3 atoms need 9"},
        BadCase{"orca_short_row", HessianFormat::orca, 3,
                [] { return lines(water_orca(), 1, 35) + " 1.0 2.0\n" + lines(water_orca(), 37, 100); },
                "line 36: row 3 of $dipole_derivatives has 2 numbers, expected 3"},
        BadCase{"orca_truncated", HessianFormat::orca, 3, [] { return lines(water_orca(), 1, 40); },
                "line 40: the file ends before row 8 of 9 of $dipole_derivatives"},
        BadCase{"orca_infinite", HessianFormat::orca, 3, [] { return first_token(water_orca(), 41, "-inf"); },
                "line 41: \"-inf\" is not a finite number"},
        BadCase{"text_short_row", HessianFormat::text, 3,
                [] { return lines(water_dipoles(), 1, 4) + " 1 2\n" + lines(water_dipoles(), 6, 10); },
                "line 5: row 4 has 2 numbers, expected 3"},
        BadCase{"text_not_a_number", HessianFormat::text, 3, [] { return first_token(water_dipoles(), 3, "x1"); },
                "line 3: \"x1\" is not a number"},
        BadCase{"text_infinite", HessianFormat::text, 3, [] { return first_token(water_dipoles(), 4, "inf"); },
                "line 4: \"inf\" is not a finite number"},
        BadCase{"text_more_rows_than_atoms", HessianFormat::text, 3,
                [] { return water_dipoles() + lines(water_dipoles(), 2, 4); }, "line 11: more than 9 rows (3 atoms)"},
        BadCase{"text_too_few_rows", HessianFormat::text, 3, [] { return lines(water_dipoles(), 1, 9); },
                "line 9: the file ends after 8 of 9 rows"},
        BadCase{"text_not_three_per_atom", HessianFormat::text, 0, [] { return lines(water_dipoles(), 1, 9); },
                "line 9: 8 rows are not 3 per atom"},
        BadCase{"text_no_rows", HessianFormat::text, 0, [] { return std::string("# nothing\n\n"); },
                "line 2: the file holds no rows of numbers"}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

// ---- Turning into the deck's frame ------------------------------------------

// A molecule whose dipole and polarizability are linear in the positions,
// μ(x) = Dᵀ(x − x₀), α(x) = Σ_i α_i (x − x₀)_i, turned as a whole: x' = R x + t
// carries μ'(x') = R μ(Rᵀ(x' − t)) and α'(x') = R α(Rᵀ(x' − t)) Rᵀ. Their
// central differences along x' are the derivatives in the turned frame.
TEST(HessianDerivatives, TurnAsTheDifferencesOfATurnedMoleculeSay) {
  const Eigen::Index n = 12;
  const Matrix d = pattern(n, 3, 0.5), p = pattern(n, 6, 2.0);
  const Mat3 r = Eigen::AngleAxisd(0.8, Vec3(0.3, -1, 2).normalized()).toRotationMatrix();
  const Vector x0 = pattern(n, 1, 0.0).col(0);
  const Vec3 t(1, 2, -3);
  const auto unturned = [&](const Vector& xp) {  // Rᵀ(x' − t) − x₀, atom by atom
    Vector x(n);
    for (Eigen::Index a = 0; a < n; a += 3) x.segment<3>(a) = r.transpose() * (xp.segment<3>(a) - t);
    return Vector(x - x0);
  };
  const auto alpha = [&](const Vector& dx) {
    Mat3 s = Mat3::Zero();
    for (Eigen::Index i = 0; i < n; ++i) {
      Mat3 ai;
      ai << p(i, 0), p(i, 1), p(i, 3), p(i, 1), p(i, 2), p(i, 4), p(i, 3), p(i, 4), p(i, 5);
      s += ai * dx(i);
    }
    return s;
  };
  Vector xp0(n);
  for (Eigen::Index a = 0; a < n; a += 3) xp0.segment<3>(a) = r * x0.segment<3>(a) + t;
  Matrix d_fd(n, 3), p_fd(n, 6);
  const double h = 1e-3;
  for (Eigen::Index j = 0; j < n; ++j) {
    Vector up = xp0, down = xp0;
    up(j) += h, down(j) -= h;
    d_fd.row(j) = (r * d.transpose() * (unturned(up) - unturned(down)) / (2 * h)).transpose();
    const Mat3 da = r * (alpha(unturned(up)) - alpha(unturned(down))) * r.transpose() / (2 * h);
    p_fd.row(j) << da(0, 0), da(0, 1), da(1, 1), da(0, 2), da(1, 2), da(2, 2);
  }
  EXPECT_LT((rotate_dipole_derivatives(d, r) - d_fd).cwiseAbs().maxCoeff(), 1e-9);
  EXPECT_LT((rotate_polarizability_derivatives(p, r) - p_fd).cwiseAbs().maxCoeff(), 1e-9);
  // And back: the inverse rotation undoes it.
  EXPECT_LT((rotate_polarizability_derivatives(rotate_polarizability_derivatives(p, r), r.transpose()) - p)
                .cwiseAbs()
                .maxCoeff(),
            1e-12);
}

}  // namespace
}  // namespace korven::kit
