// Geometry files: bad input refused with one line naming the file; the test
// molecules read alike from every format; bonds and masses against chemistry.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kit/base/elements.h"
#include "kit/io/geometry_input.h"
#include "kit/base/kit_error.h"
#include "kit_test_support.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(KORVEN_SOURCE_DIR) / "tests" / "kit" / "data";

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "korvenkit_geo_XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return (dir_ / name).string();
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  fs::path dir_;
};

// The error's message, or "" when the read succeeds.
std::string read_error(const std::string& path, const std::string& format) {
  try {
    read_geometry(path, format);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

const char* const kWater = "3\nwater\nO 0 0 0.1173\nH 0 0.7572 -0.4692\nH 0 -0.7572 -0.4692\n";

// Water as an SDF whose header line calls it a 2D drawing.
std::string drawing() {
  std::ifstream in(kData / "formats" / "water.sdf", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t header = text.find('\n') + 1;
  const std::size_t d = text.find("3D", header);
  if (d != std::string::npos && d < text.find('\n', header)) text[d] = '2';
  return text;
}

TEST(GeometryInput, BadInputIsOneLineNamingTheFile) {
  using detail::ReaderFault;
  struct Case {
    const char* name;
    const char* file;     // written into a fresh folder; nullptr: not written
    std::string bytes;
    const char* format;
    ReaderFault fault;
    const char* fault_text;  // part of the message after "FILE: "
  };
  const std::vector<Case> cases = {
      {"missing", nullptr, "", "", ReaderFault::none, "no such file"},
      {"empty", "empty.xyz", "", "", ReaderFault::none, "is empty"},
      {"blank", "blank.xyz", "  \n\n \t\n", "", ReaderFault::none, "is empty"},
      {"binary", "water.xyz", std::string("3\nwater\0\x01\x02\x7f", 12) + "O 0 0 0\n", "",
       ReaderFault::none, "binary"},
      {"more atoms than lines", "short.xyz",
       "4\nwater\nO 0 0 0.1173\nH 0 0.7572 -0.4692\nH 0 -0.7572 -0.4692\n", "", ReaderFault::none,
       "reads no molecule"},
      {"second molecule cut off", "two.xyz", std::string(kWater) + "3\nw2\nO 0 0 0\nH 0 0.75 -0.47\n", "",
       ReaderFault::none, "what follows molecule 1, from line 6"},
      {"fewer atoms counted than given", "long.xyz",
       "2\nwater\nO 0 0 0.1173\nH 0 0.7572 -0.4692\nH 0 -0.7572 -0.4692\n", "", ReaderFault::none,
       "what follows molecule 1, from line 5"},
      {"atom line short of a coordinate", "line.xyz", "3\nwater\nO 0 0 0.1173\nH 0 0.7572\nH 0 -0.7572 -0.4692\n",
       "", ReaderFault::none, "reads no molecule"},
      {"unknown extension", "water.abc", kWater, "", ReaderFault::none, "unknown geometry format 'abc'"},
      {"unknown format", "water.xyz", kWater, "nosuch", ReaderFault::none, "unknown geometry format 'nosuch'"},
      {"no extension", "water", kWater, "", ReaderFault::none, "no extension"},
      {"write-only format", "water.nw", kWater, "", ReaderFault::none, "cannot read it"},
      {"gaussian input without a route", "water.gjf", kWater, "", ReaderFault::none, "line 1: expected the route (#)"},
      {"no atoms", "none.sdf", "empty\n  test\n\n  0  0  0  0  0  0  0  0  0  0999 V2000\nM  END\n$$$$\n", "",
       ReaderFault::none, "the molecule has no atoms"},
      {"drawing", "flat.sdf", drawing(), "", ReaderFault::none, "has 2D coordinates only"},
      {"line notation", "ethanol.smi", "CCO ethanol\n", "", ReaderFault::none, "has no coordinates"},
      {"not a number", "nan.xyz", "3\nwater\nO 0 0 nan\nH 0 0.7572 -0.4692\nH 0 -0.7572 -0.4692\n", "",
       ReaderFault::none, "atom 1 (O) has a coordinate that is not a finite number"},
      {"infinite", "inf.xyz", "3\nwater\nO 0 0 0.1\nH 0 1e999 -0.4692\nH 0 -0.7572 -0.4692\n", "",
       ReaderFault::none, "atom 2 (H) has a coordinate that is not a finite number"},
      {"dummy atom", "dummy.xyz", "3\nwater\nO 0 0 0.1173\nX 0 0.7572 -0.4692\nH 0 -0.7572 -0.4692\n", "",
       ReaderFault::none, "atom 2 has no known element"},
      {"reader crashes", "water.xyz", kWater, "", ReaderFault::crash,
       "the Open Babel reader for format 'xyz' crashed (signal 11)"},
      {"reader fails", "water.xyz", kWater, "", ReaderFault::exit_failure, "failed (exit status 3)"},
      {"reply cut off", "water.xyz", kWater, "", ReaderFault::truncated_reply, "malformed reply"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = c.file ? dir.write(c.file, c.bytes) : dir.path("missing.xyz");
    detail::set_reader_fault_for_testing(c.fault);
    const std::string message = read_error(path, c.format);
    detail::set_reader_fault_for_testing(ReaderFault::none);
    EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
    EXPECT_NE(message.find(c.fault_text), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
  // A folder, and standard input without a format (refused before it is read).
  TempDir dir;
  EXPECT_NE(read_error(dir.path(""), "xyz").find("is a folder"), std::string::npos);
  EXPECT_EQ(read_error("-", "").rfind("standard input: needs a format", 0), 0u);
}

using IndexEntry = testing::IndexedMolecule;

std::vector<IndexEntry> read_index() { return testing::molecule_index(); }

// Linear when every atom lies on the line through the first two, within d.
bool collinear(const Molecule& m, double d) {
  if (m.atoms.size() < 3) return true;
  const Vec3 a = m.atoms[0].position;
  const Vec3 u = (m.atoms[1].position - a).normalized();
  for (const Atom& atom : m.atoms) {
    const Vec3 r = atom.position - a;
    if ((r - r.dot(u) * u).norm() > d) return false;
  }
  return true;
}

class GeometryOf : public ::testing::TestWithParam<IndexEntry> {};

TEST(GeometryInput, TheIndexHoldsEveryTestMolecule) { EXPECT_GE(read_index().size(), 40u); }

TEST_P(GeometryOf, ReadsAsTheIndexSays) {
  {
    const IndexEntry& e = GetParam();
    const std::vector<Molecule> mols = read_geometry((kData / "molecules" / e.file).string());
    ASSERT_EQ(mols.size(), 1u);
    const Molecule& m = mols[0];
    EXPECT_EQ(static_cast<int>(m.atoms.size()), e.atoms);
    std::vector<int> elements;
    for (const Atom& a : m.atoms) elements.push_back(a.element);
    EXPECT_EQ(hill_formula(elements), e.formula);  // the generator's own Hill order
    EXPECT_EQ(collinear(m, 1e-8), e.linear);
    EXPECT_EQ(m.title.rfind(e.name + " ", 0), 0u) << m.title;
    for (std::size_t b = 0; b < m.bonds.size(); ++b) {
      EXPECT_LT(m.bonds[b].first, m.bonds[b].second);
      EXPECT_LT(m.bonds[b].second, static_cast<int>(m.atoms.size()));
      if (b > 0) {
        EXPECT_LT(m.bonds[b - 1], m.bonds[b]);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Molecules, GeometryOf, ::testing::ValuesIn(read_index()),
                         [](const ::testing::TestParamInfo<IndexEntry>& info) { return testing::case_name(info.param.name); });

TEST(GeometryInput, BondsAndMassesAreTheChemicalOnes) {
  struct Case {
    const char* name;
    std::size_t bonds;         // counted from the structural formula
    double monoisotopic_mass;  // u, from the textbook isotope masses
  };
  const std::vector<Case> cases = {
      {"water", 2, 18.0105647},    {"methane", 4, 16.0313001},   {"benzene", 12, 78.0469502},
      {"co2", 2, 43.9898293},      {"sf6", 6, 145.9624901},      {"adamantane", 28, 136.1252005},
      {"c60", 90, 720.0},          {"naphthalene", 19, 128.0626003}, {"ch2cl2", 4, 83.9533555},
      {"ammonia_borane", 7, 31.0593296},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Molecule m = read_geometry((kData / "molecules" / (std::string(c.name) + ".xyz")).string()).at(0);
    EXPECT_EQ(m.bonds.size(), c.bonds);
    double mass = 0;
    for (const Atom& a : m.atoms) mass += a.mass;
    EXPECT_NEAR(mass, c.monoisotopic_mass, 5e-6);
  }
  // A file that lists no bond gets them perceived.
  std::ifstream in(kData / "formats" / "benzene.cml");
  std::string cml;
  for (std::string line; std::getline(in, line);) {
    if (line.find("bond") == std::string::npos) cml += line + "\n";
  }
  TempDir dir;
  EXPECT_EQ(read_geometry(dir.write("benzene.cml", cml)).at(0).bonds.size(), 12u);
}

TEST(GeometryInput, OtherFormatsGiveTheXyzGeometryWithinTheirPrecision) {
  struct Format {
    const char* extension;
    double tolerance;  // half the last digit written, and rounding of the XYZ
  };
  // Every real molecule in four formats; water also as a Gaussian-style
  // output, which the extension .log sends to Open Babel's detection of the
  // program that wrote it (its Gaussian reader succeeds again and again at
  // the end of the input: still one molecule).
  const std::vector<Format> formats = {{"mol", 0.6e-4}, {"sdf", 0.6e-4}, {"pdb", 0.6e-3}, {"cml", 0.6e-6},
                                       {"log", 0.6e-6}};
  std::size_t compared = 0;
  for (const IndexEntry& e : read_index()) {
    if (e.kind != "real") continue;
    const Molecule xyz = read_geometry((kData / "molecules" / e.file).string()).at(0);
    for (const Format& f : formats) {
      if (f.extension == std::string("log") && e.name != "water") continue;
      SCOPED_TRACE(e.name + "." + f.extension);
      const std::vector<Molecule> mols = read_geometry((kData / "formats" / (e.name + "." + f.extension)).string());
      ASSERT_EQ(mols.size(), 1u);
      const Molecule& m = mols[0];
      ASSERT_EQ(m.atoms.size(), xyz.atoms.size());
      double worst = 0;
      for (std::size_t a = 0; a < m.atoms.size(); ++a) {
        EXPECT_EQ(m.atoms[a].element, xyz.atoms[a].element);
        worst = std::max(worst, (m.atoms[a].position - xyz.atoms[a].position).lpNorm<Eigen::Infinity>());
      }
      EXPECT_LE(worst, f.tolerance);
      EXPECT_EQ(m.bonds, xyz.bonds);
      ++compared;
    }
  }
  EXPECT_GE(compared, 4u * 22 + 1);
}

TEST(GeometryInput, SeveralMoleculesComeInFileOrder) {
  for (const char* file : {"three_molecules.xyz", "three_molecules.sdf"}) {
    SCOPED_TRACE(file);
    const std::vector<Molecule> mols = read_geometry((kData / "formats" / file).string());
    ASSERT_EQ(mols.size(), 3u);
    const char* names[] = {"water", "ammonia", "methane"};
    const std::size_t atoms[] = {3, 4, 5};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(mols[i].title.rfind(names[i], 0), 0u) << mols[i].title;
      EXPECT_EQ(mols[i].atoms.size(), atoms[i]);
    }
  }
}

TEST(GeometryInput, ReadsWithTheEnginesFloatingPointTrapsOn) {
  TempDir dir;
  const std::string inf = dir.write("inf.xyz", "2\nhi\nH 0 0 1e999\nH 0 0 0.74\n");
  const std::string water = (kData / "molecules" / "water.xyz").string();
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  const std::string message = read_error(inf, "");
  const std::size_t atoms = read_geometry(water).at(0).atoms.size();
  fedisableexcept(FE_ALL_EXCEPT);
  EXPECT_NE(message.find("atom 1 (H) has a coordinate that is not a finite number"), std::string::npos) << message;
  EXPECT_EQ(atoms, 3u);
}

TEST(GeometryInput, StandardInputReadsLikeTheFile) {
  const std::string file = (kData / "molecules" / "ammonia.xyz").string();
  const int saved = dup(STDIN_FILENO);
  ASSERT_TRUE(std::freopen(file.c_str(), "r", stdin));
  std::vector<Molecule> piped;
  std::string error;
  try {
    piped = read_geometry("-", "xyz");
  } catch (const InputError& e) {
    error = e.what();
  }
  dup2(saved, STDIN_FILENO);
  close(saved);
  std::clearerr(stdin);
  ASSERT_EQ(error, "");
  const std::vector<Molecule> direct = read_geometry(file);
  ASSERT_EQ(piped.size(), 1u);
  ASSERT_EQ(piped[0].atoms.size(), direct[0].atoms.size());
  for (std::size_t a = 0; a < direct[0].atoms.size(); ++a) {
    EXPECT_EQ(piped[0].atoms[a].position, direct[0].atoms[a].position);
  }
  EXPECT_EQ(piped[0].bonds, direct[0].bonds);
}

}  // namespace
}  // namespace korven::kit
