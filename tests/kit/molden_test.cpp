// The Molden file of a mass set's modes, read back through Open Babel's own
// Molden reader (OBConversion with "molden", and the OBVibrationData it
// attaches to the molecule): the atoms, the wavenumbers, the intensities and
// each mode's displacement vectors come back as written (up to sign).
//
// The test binary is not built against Open Babel's headers, so the reading
// is done by a small program compiled here against them and the library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "kit/base/kit_error.h"
#include "kit/io/molden.h"
#include "kit/vibrations/intensities.h"
#include "kit/vibrations/vibrations.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;

constexpr const char* kReader = R"(#include <fstream>
#include <iostream>
#include <openbabel/generic.h>
#include <openbabel/mol.h>
#include <openbabel/atom.h>
#include <openbabel/obconversion.h>
#include <openbabel/obiter.h>
int main(int argc, char** argv) {
  using namespace OpenBabel;
  if (argc != 2) return 2;
  OBConversion conversion;
  if (!conversion.SetInFormat("molden")) return 3;
  std::ifstream in(argv[1]);
  OBMol mol;
  if (!conversion.Read(&mol, &in)) return 4;
  std::cout.precision(17);
  std::cout << mol.NumAtoms() << "\n";
  FOR_ATOMS_OF_MOL(a, mol) std::cout << a->GetAtomicNum() << " " << a->GetX() << " " << a->GetY() << " " << a->GetZ() << "\n";
  auto* v = dynamic_cast<OBVibrationData*>(mol.GetData(OBGenericDataType::VibrationData));
  if (v == nullptr) { std::cout << "0 0\n"; return 0; }
  // The getters return copies: keep them alive while they are walked.
  const std::vector<double> frequencies = v->GetFrequencies(), intensities = v->GetIntensities();
  const std::vector<std::vector<vector3>> lx = v->GetLx();
  std::cout << frequencies.size() << " " << intensities.size() << "\n";
  for (std::size_t k = 0; k < frequencies.size(); ++k) {
    std::cout << frequencies[k] << " " << (k < intensities.size() ? intensities[k] : 0.0) << " " << lx.at(k).size() << "\n";
    for (const vector3& d : lx[k]) std::cout << d.x() << " " << d.y() << " " << d.z() << "\n";
  }
  return 0;
})";

// The reader program, compiled once per run of the tests.
const fs::path& reader_program() {
  static testing::TempDir dir;
  static const fs::path program = [] {
    testing::spill(dir / "read_molden.cpp", kReader);
    const std::string command = "cd '" + dir.path().string() +
                                "' && c++ -std=c++17 -w -I/usr/include/openbabel3 read_molden.cpp -o read_molden "
                                "-lopenbabel > compile.log 2>&1";
    if (std::system(command.c_str()) != 0) return fs::path();
    return dir / "read_molden";
  }();
  return program;
}

struct ReadBack {
  std::vector<int> z;
  std::vector<Vec3> x;
  std::vector<double> wavenumbers, intensities;
  std::vector<std::vector<Vec3>> displacements;
  std::size_t intensity_count = 0;
};

ReadBack read_back(const fs::path& file) {
  ReadBack r;
  const fs::path out = file.string() + ".out";
  const std::string command = "'" + reader_program().string() + "' '" + file.string() + "' > '" + out.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::istringstream in(testing::slurp(out));
  std::size_t atoms = 0, modes = 0;
  in >> atoms;
  for (std::size_t a = 0; a < atoms; ++a) {
    int z;
    Vec3 x;
    in >> z >> x.x() >> x.y() >> x.z();
    r.z.push_back(z), r.x.push_back(x);
  }
  in >> modes >> r.intensity_count;
  for (std::size_t k = 0; k < modes; ++k) {
    double v, i;
    std::size_t n;
    in >> v >> i >> n;
    r.wavenumbers.push_back(v), r.intensities.push_back(i);
    r.displacements.emplace_back(n);
    for (Vec3& d : r.displacements.back()) in >> d.x() >> d.y() >> d.z();
  }
  EXPECT_TRUE(in) << "the reader's output ended early";
  return r;
}

struct MoldenCase {
  const char* name;
  testing::ForceFieldMolecule (*molecule)();
  std::vector<double> charges;  // empty: no intensities
};

class Molden : public ::testing::TestWithParam<MoldenCase> {};

TEST_P(Molden, OpenBabelsReaderGivesBackTheModesWritten) {
  ASSERT_FALSE(reader_program().empty()) << "the Open Babel reader program did not compile";
  const MoldenCase& c = GetParam();
  const testing::ForceFieldMolecule m = c.molecule();
  const Matrix b = testing::b_matrix(m.x, m.independent);
  const VibrationAnalysis v =
      analyze_vibrations({b, m.masses, m.x, b.transpose() * m.f * b, std::nullopt, {}, 1.0, "deck"});
  std::optional<Matrix> dipoles;
  if (!c.charges.empty()) {
    dipoles = Matrix::Zero(b.cols(), 3);
    for (Eigen::Index i = 0; i < b.cols(); ++i) (*dipoles)(i, i % 3) = c.charges[static_cast<std::size_t>(i / 3)];
  }
  const ModeIntensities in = mode_intensities(v, m.masses, dipoles, std::nullopt);
  MoldenModes modes{m.z, m.x, {}, Matrix(b.cols(), static_cast<Eigen::Index>(v.modes.size())), in.infrared};
  for (std::size_t k = 0; k < v.modes.size(); ++k) {
    modes.wavenumbers.push_back(v.modes[k].wavenumber);
    modes.displacements.col(static_cast<Eigen::Index>(k)) = in.shapes[k].displacement;
  }
  testing::TempDir dir;
  write_molden(dir / "modes.molden", modes, false);
  const ReadBack r = read_back(dir / "modes.molden");

  ASSERT_EQ(r.z, m.z);
  for (std::size_t a = 0; a < m.x.size(); ++a) EXPECT_LT((r.x[a] - m.x[a]).norm(), 1e-8);
  ASSERT_EQ(r.wavenumbers.size(), v.modes.size());
  EXPECT_EQ(r.intensity_count, c.charges.empty() ? 0u : v.modes.size());
  for (std::size_t k = 0; k < v.modes.size(); ++k) {
    EXPECT_NEAR(r.wavenumbers[k], v.modes[k].wavenumber, 1e-4);
    if (in.infrared) {
      EXPECT_NEAR(r.intensities[k], (*in.infrared)[k], 1e-6);
    }
    ASSERT_EQ(r.displacements[k].size(), m.z.size());
    Vector back(b.cols());
    for (std::size_t a = 0; a < m.z.size(); ++a) back.segment<3>(static_cast<Eigen::Index>(3 * a)) = r.displacements[k][a];
    const Vector& written = in.shapes[k].displacement;
    EXPECT_LT(std::min((back - written).norm(), (back + written).norm()), 1e-7) << "mode " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    SyntheticForceFields, Molden,
    ::testing::Values(MoldenCase{"water_with_intensities", testing::water, {-0.66, 0.33, 0.33}},
                      MoldenCase{"formaldehyde_without", testing::formaldehyde, {}},
                      MoldenCase{"ammonia_with_intensities", testing::ammonia, {-0.9, 0.3, 0.3, 0.3}}),
    [](const ::testing::TestParamInfo<MoldenCase>& info) { return std::string(info.param.name); });

TEST(Molden, TheFileIsWrittenWholeAndReplacedOnlyWhenAsked) {
  testing::TempDir dir;
  Matrix d = Matrix::Zero(6, 1);
  d(2, 0) = std::sqrt(0.5), d(5, 0) = -std::sqrt(0.5);
  const MoldenModes modes{{1, 1}, {{0, 0, 0}, {0, 0, 0.74}}, {4401.2}, d, std::nullopt};
  const std::string text = molden_text(modes);
  EXPECT_EQ(text.rfind("[Molden Format]\n[Atoms] Angs\n", 0), 0u);
  EXPECT_LT(text.find("[FREQ]"), text.find("[FR-COORD]"));
  EXPECT_LT(text.find("[FR-COORD]"), text.find("[FR-NORM-COORD]"));
  EXPECT_EQ(text.find("[INT]"), std::string::npos);
  // The second atom at 0.74 Å is 0.74 / 0.529177210903 = 1.3983973322 bohr in [FR-COORD].
  EXPECT_NE(text.find(" 1.3983973322\n"), std::string::npos) << text;
  testing::spill(dir / "old.molden", "mine");
  EXPECT_THROW(write_molden(dir / "old.molden", modes, false), InputError);
  EXPECT_EQ(testing::slurp(dir / "old.molden"), "mine");
  write_molden(dir / "old.molden", modes, true);
  EXPECT_EQ(testing::slurp(dir / "old.molden"), text);
  EXPECT_THROW(molden_text({{1, 1}, {{0, 0, 0}}, {4401.2}, d, std::nullopt}), std::invalid_argument);
}

}  // namespace
}  // namespace korven::kit
