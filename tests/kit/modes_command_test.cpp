// The modes command as a whole: a deck built from a water geometry with its
// isotopologues, run through the engine, and a Hessian made here from a
// chosen valence force field; the wavenumbers against det(H − λM) = 0 for
// each mass set's masses, F against the force field, the text, the JSON and
// the force-constant file against the report, and the command line's
// statuses and messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "kit/commands/json_output.h"
#include "kit/commands/modes_report.h"
#include "kit/io/deck_replay.h"
#include "kit/io/engine_run.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

using testing::ForceFieldMolecule;

// A folder with WATER.DAT (H2O, D2O, HDO, symmetrized) and water.fchk, the
// Hessian of the force field `f` at the deck's own X.
struct WaterCase {
  testing::TempDir dir;
  Deck deck;
  Matrix hessian;
  ForceFieldMolecule molecule = testing::water();

  explicit WaterCase(const Matrix& f) {
    std::ostringstream xyz;
    xyz << "3\nwater\n";
    const char* symbols[] = {"O", "H", "H"};
    for (int a = 0; a < 3; ++a)
      xyz << symbols[a] << " " << molecule.x[a].x() << " " << molecule.x[a].y() << " " << molecule.x[a].z() << "\n";
    testing::spill(dir / "water.xyz", xyz.str());
    const testing::ProgramRun built = testing::run_korvenkit(
        dir.path(), "build water.xyz -o WATER.DAT --symmetry --isotopologue D2O=2:D,3:D --isotopologue HDO=3:D");
    EXPECT_EQ(built.status, 0) << built.err;
    deck = replay_deck(dir / "WATER.DAT");
    const std::vector<Vec3>& x = deck.problems.at(0).x;
    const Matrix b = testing::b_matrix(x, molecule.independent);
    hessian = b.transpose() * f * b;
    testing::spill(dir / "water.fchk", testing::fchk_text(molecule.z, x, hessian));
  }

  ModesReport analyse(ModesOptions o = {}) const {
    o.hessian = (dir / "water.fchk").string();
    const Listing listing = run_and_read(dir / "WATER.DAT");
    return analyze_modes(deck, listing, o, "WATER.DAT");
  }
};

TEST(ModesCommand, WavenumbersOfEveryMassSetAndTheForceFieldComeBack) {
  const WaterCase c(testing::water().f);
  const ModesReport report = c.analyse();
  ASSERT_EQ(report.problems.size(), 1u);
  const ProblemModes& p = report.problems[0];
  ASSERT_EQ(p.mass_sets.size(), 3u);
  for (std::size_t m = 0; m < 3; ++m) {
    SCOPED_TRACE(p.mass_sets[m].title);
    const std::vector<double> expected =
        testing::direct_wavenumbers(c.hessian, c.deck.problems[0].mass_sets[m].masses, 6);
    ASSERT_EQ(p.mass_sets[m].modes.size(), expected.size());
    EXPECT_TRUE(p.mass_sets[m].agree) << p.mass_sets[m].verdict;
    // The report runs in ν order; the direct roots ascend.
    std::vector<ModeRow> rows = p.mass_sets[m].modes;
    std::sort(rows.begin(), rows.end(), [](const ModeRow& a, const ModeRow& b) { return a.wavenumber < b.wavenumber; });
    for (std::size_t k = 0; k < expected.size(); ++k) {
      // The listed B holds six decimals; the Cartesian route none of that.
      EXPECT_NEAR(rows[k].wavenumber, expected[k], 0.05);
      EXPECT_NEAR(*rows[k].cartesian_wavenumber, expected[k], 1e-6 * expected[k]);
    }
    // F is the force field the Hessian was made from, whatever the masses.
    EXPECT_LT((p.mass_sets[m].f - c.molecule.f).cwiseAbs().maxCoeff(), 2e-3 * c.molecule.f.cwiseAbs().maxCoeff());
  }
  EXPECT_EQ(p.mass_sets[0].point_group, "C2v");
  EXPECT_EQ(p.mass_sets[2].point_group, "Cs");
  EXPECT_EQ(report.exit_status(), 0);
  // D2O's antisymmetric stretch is matched to H2O's, and falls by about 1/√2.
  ASSERT_EQ(p.matches.size(), 3u);
  EXPECT_EQ(p.matches[2][1], 3);
  EXPECT_NEAR(*p.shifts[2][1] / p.mass_sets[0].modes[2].wavenumber, 1 / std::sqrt(2.0) - 1, 0.03);
}

TEST(ModesCommand, TextAndJsonSayWhatTheReportHolds) {
  const WaterCase c(testing::water().f);
  ModesOptions o;
  o.mass_set = 2;
  o.scale = 0.97;
  const ModesReport report = c.analyse(o);
  const ProblemModes& p = report.problems.at(0);
  ASSERT_EQ(p.mass_sets.size(), 1u);
  EXPECT_TRUE(p.matches.empty());
  const std::string text = modes_text(report, 10);
  EXPECT_NE(text.find("mass set 2 \"D2O"), std::string::npos) << text;
  EXPECT_NE(text.find("scale 0.97"), std::string::npos);
  for (const ModeRow& r : p.mass_sets[0].modes) {
    char value[32];
    std::snprintf(value, sizeof value, "%10.2f", r.wavenumber);
    EXPECT_NE(text.find(value), std::string::npos) << value;
    ASSERT_FALSE(r.ped.empty());
    EXPECT_NE(text.find(r.ped.front().label), std::string::npos);
  }
  const nlohmann::json json = nlohmann::json::parse(modes_json(report));
  const auto& set = json.at("problems").at(0).at("mass_sets").at(0);
  EXPECT_EQ(set.at("point_group"), "C2v");
  ASSERT_EQ(set.at("modes").size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_DOUBLE_EQ(set.at("modes").at(k).at("wavenumber").get<double>(), p.mass_sets[0].modes[k].wavenumber);
    double sum = 0;
    for (const auto& item : set.at("modes").at(k).at("ped")) sum += item.at("percent").get<double>();
    EXPECT_LE(sum, 100.0 + 1e-9);
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_DOUBLE_EQ(set.at("F").at(i).at(j).get<double>(), p.mass_sets[0].f(i, j));
  EXPECT_TRUE(json.at("problems").at(0).at("matches").is_null());
}

// A Matrix Market array file read here, column by column.
Matrix read_array_market(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "%%MatrixMarket matrix array real general");
  while (in.peek() == '%') std::getline(in, line);
  int rows = 0, cols = 0;
  in >> rows >> cols;
  Matrix m(rows, cols);
  for (int j = 0; j < cols; ++j)
    for (int i = 0; i < rows; ++i) in >> m(i, j);
  return m;
}

struct CliCase {
  const char* name;
  std::string args;
  int status;
  const char* says;  // a pattern in standard output (status 0 or 1) or standard error
};

class ModesCli : public ::testing::TestWithParam<CliCase> {};

TEST_P(ModesCli, StatusAndMessage) {
  Matrix f = testing::water().f;
  if (std::string(GetParam().name) == "imaginary") f(2, 2) = -0.3;  // the bend falls: an imaginary mode
  const WaterCase c(f);
  const testing::ProgramRun run = testing::run_korvenkit(c.dir.path(), "modes WATER.DAT --hessian water.fchk " + GetParam().args);
  EXPECT_EQ(run.status, GetParam().status) << run.err;
  const std::string& where = GetParam().status == 2 ? run.err : run.out;
  EXPECT_TRUE(std::regex_search(where, std::regex(GetParam().says))) << where;
  if (GetParam().status == 2) {
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModesCli,
    ::testing::Values(CliCase{"table", "", 0, "isotope shifts \\(cm-1\\) against mass set 1 .*, by species"},
                      CliCase{"nu_numbers", "", 0, "\n +nu3 +B2 +1 +3941\\.[0-9]{2} "},
                      CliCase{"product_rule", "", 0, "\"D2O\" over \"H2O\": +A1 0\\.5276[0-9]+ \\(expected 0\\.5276"},
                      CliCase{"json", "--json", 0, "\"cartesian_wavenumber\": [0-9]"},
                      CliCase{"one_mass_set", "--mass-set 3", 0, "mass set 3 \"HDO"},
                      CliCase{"imaginary", "", 1, "\\s-[0-9]+\\.[0-9]{2}i "},
                      CliCase{"no_such_problem", "--problem 2", 2, "^korvenkit: WATER.DAT: has 1 problem; --problem 2 names none"},
                      CliCase{"problem_zero", "--problem 0", 2, "WATER.DAT: has 1 problem; --problem 0 names none"},
                      CliCase{"no_such_mass_set", "--mass-set 4", 2, "WATER.DAT: problem 1 has 3 mass sets; --mass-set 4 names none"},
                      CliCase{"unknown_format", "--hessian-format xyz", 2, "^korvenkit: --hessian-format"},
                      CliCase{"text_needs_atoms", "--hessian-format text", 2, "^korvenkit: water.fchk: "}),
    [](const ::testing::TestParamInfo<CliCase>& info) { return info.param.name; });

TEST(ModesCommand, ForceConstantsFileHoldsFOfTheFirstMassSetAnalysed) {
  const WaterCase c(testing::water().f);
  const testing::ProgramRun run =
      testing::run_korvenkit(c.dir.path(), "modes WATER.DAT --hessian water.fchk --mass-set 2 --force-constants F.mtx");
  ASSERT_EQ(run.status, 0) << run.err;
  const Matrix f = read_array_market(c.dir / "F.mtx");
  ASSERT_EQ(f.rows(), 3);
  EXPECT_LT((f - c.molecule.f).cwiseAbs().maxCoeff(), 2e-3 * c.molecule.f.cwiseAbs().maxCoeff());
  // Nothing is left beside it.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(c.dir.path()))
    files += entry.path().filename().string().rfind(".F.mtx", 0) == 0;
  EXPECT_EQ(files, 0);
}

}  // namespace
}  // namespace korven::kit
