// The fit command as a whole: decks built here from the synthetic
// molecules, run through the engine; a Hessian from a chosen valence force
// field, and "observed" wavenumbers made from the same field scaled with
// known factors (F = (B⁺)ᵀ H B⁺ with B⁺ from an SVD taken here, H′ = Bᵀ S F S
// B, checked against the eigenvalues of G F′ formed densely here). The fit
// must give the factors back; then undetermined groups, the force-field file
// read back by modes, and the observed file's faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "kit/commands/problem_view.h"
#include "kit/io/deck_replay.h"
#include "kit/io/engine_run.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

using nlohmann::json;
using testing::ForceFieldMolecule;

// ν̃ [cm⁻¹] of λ [mdyn/(Å·u)], the CODATA 2018 values written out here.
double wavenumber_of(double lambda) {
  return std::sqrt(lambda * 1e2 / 1.66053906660e-27) / (2 * testing::kPi * 2.99792458e10);
}

// The nonzero roots of G F′ (G = B M⁻¹ Bᵀ), as wavenumbers.
std::vector<double> gf_wavenumbers(const Matrix& b, const Matrix& f, const std::vector<double>& masses) {
  Matrix m_inv = Matrix::Zero(b.cols(), b.cols());
  for (Eigen::Index i = 0; i < b.cols(); ++i) m_inv(i, i) = 1 / masses[static_cast<std::size_t>(i / 3)];
  const Eigen::EigenSolver<Matrix> es(b * m_inv * b.transpose() * f, false);
  double largest = es.eigenvalues().cwiseAbs().maxCoeff();
  std::vector<double> out;
  for (Eigen::Index i = 0; i < es.eigenvalues().size(); ++i)
    if (std::abs(es.eigenvalues()(i)) > 1e-8 * largest) out.push_back(wavenumber_of(es.eigenvalues()(i).real()));
  return out;
}

// The Hessians as plain text in mdyn/Å, to 16 digits.
const std::string kHessian = " --hessian h.txt --hessian-format text --units mdyn/A";
const std::string kScaled = " --hessian scaled.txt --hessian-format text --units mdyn/A";

// A deck of the molecule built by the command line, with its listing, and
// the Hessian of the molecule's force field at the deck's X.
struct FitCase {
  testing::TempDir dir;
  ForceFieldMolecule molecule;
  Deck deck;
  Listing listing;
  Matrix hessian, b;
  std::vector<std::string> classes;

  FitCase(ForceFieldMolecule (*make)(), const std::string& build_options) : molecule(make()) {
    std::ostringstream xyz;
    xyz << molecule.z.size() << "\nmolecule\n";
    for (std::size_t a = 0; a < molecule.z.size(); ++a)
      xyz << (molecule.z[a] == 1 ? "H" : molecule.z[a] == 6 ? "C" : molecule.z[a] == 7 ? "N" : "O") << " "
          << std::setprecision(17) << molecule.x[a].x() << " " << molecule.x[a].y() << " " << molecule.x[a].z() << "\n";
    testing::spill(dir / "m.xyz", xyz.str());
    const testing::ProgramRun built = testing::run_korvenkit(dir.path(), "build m.xyz -o M.DAT " + build_options);
    EXPECT_EQ(built.status, 0) << built.err;
    deck = replay_deck(dir / "M.DAT");
    listing = run_and_read(dir / "M.DAT");
    const ProblemView view(deck, &listing, 1, "M.DAT");
    b = view.dense_b();
    classes = view.classes;
    const Matrix b_mol = testing::b_matrix(deck.problems.at(0).x, molecule.independent);
    hessian = b_mol.transpose() * molecule.f * b_mol;
    testing::spill(dir / "h.txt", testing::plain_text(hessian));
  }

  const std::vector<double>& masses(std::size_t m) const { return deck.problems.at(0).mass_sets.at(m).masses; }

  json run_json(const std::string& args, int expected_status = 0) const {
    const testing::ProgramRun r = testing::run_korvenkit(dir.path(), args + " --json");
    EXPECT_EQ(r.status, expected_status) << args << "\n" << r.err << r.out.substr(0, 3000);
    return r.status == expected_status ? json::parse(r.out) : json();
  }

  // F′ = S F S with the factor of each row's class; H′ = Bᵀ F′ B written as
  // scaled.txt. Returns F′.
  Matrix write_scaled(const std::map<std::string, double>& factors) const {
    const Matrix bp = testing::svd_pseudo_inverse(b);
    const Matrix f = bp.transpose() * hessian * bp;
    Vector s(f.rows());
    for (Eigen::Index i = 0; i < f.rows(); ++i) {
      const auto at = factors.find(classes[static_cast<std::size_t>(i)]);
      if (at == factors.end()) ADD_FAILURE() << "no factor for " << classes[static_cast<std::size_t>(i)];
      s(i) = std::sqrt(at == factors.end() ? 1.0 : at->second);
    }
    const Matrix f_scaled = s.asDiagonal() * f * s.asDiagonal();
    testing::spill(dir / "scaled.txt", testing::plain_text(b.transpose() * f_scaled * b));
    return f_scaled;
  }

  // The observed file of every mode of the chosen mass sets (from 0): modes'
  // ν numbering on scaled.txt, each wavenumber checked against G F′ here.
  std::string observed(const Matrix& f_scaled, const std::vector<std::size_t>& sets) const {
    const json modes = run_json("modes M.DAT" + kScaled);
    std::ostringstream out;
    out.precision(12);
    for (std::size_t m : sets) {
      const std::vector<double> roots = gf_wavenumbers(b, f_scaled, masses(m));
      int last = 0;
      for (const json& row : modes.at("problems").at(0).at("mass_sets").at(m).at("modes")) {
        const double nu = row.at("wavenumber").get<double>();
        double nearest = 1e9;
        for (double r : roots) nearest = std::min(nearest, std::abs(r - nu));
        EXPECT_LT(nearest, 1e-6 * nu) << nu;  // modes' G⁺ route against the dense roots
        const int number = row.at("nu").get<int>();
        if (number != last) out << m + 1 << " " << number << " " << nu << "\n";  // a degenerate vibration once
        last = number;
      }
    }
    return out.str();
  }
};

struct RecoveryCase {
  std::string name;
  ForceFieldMolecule (*molecule)();
  std::string build;
  std::map<std::string, double> factors;  // per coordinate class
  // Empty: one group per class (--groups class), each fitted to its factor.
  // Otherwise the default groups, each fitted to the factor given here (the
  // classes of a group share one): for decks whose redundant out-of-plane
  // classes move one vibration alike, so that the data cannot tell them apart.
  std::map<std::string, double> default_groups = {};
};

class FitRecovery : public ::testing::TestWithParam<RecoveryCase> {};

TEST_P(FitRecovery, GivesBackTheFactorsAndTheWavenumbers) {
  const RecoveryCase& c = GetParam();
  const FitCase fc(c.molecule, c.build);
  const Matrix f_scaled = fc.write_scaled(c.factors);
  std::vector<std::size_t> sets;
  for (std::size_t m = 0; m < fc.deck.problems[0].mass_sets.size(); ++m) sets.push_back(m);
  testing::spill(fc.dir / "obs.txt", fc.observed(f_scaled, sets));
  const bool by_class = c.default_groups.empty();
  const json fit = fc.run_json("fit M.DAT" + kHessian + " --observed obs.txt" + (by_class ? " --groups class" : ""));
  const json& p = fit.at("problems").at(0);
  EXPECT_TRUE(p.at("converged").get<bool>());
  std::set<std::string> groups(fc.classes.begin(), fc.classes.end());  // one group per class the deck has
  if (!by_class) {
    groups.clear();
    for (const auto& [name, factor] : c.default_groups) groups.insert(name);
  }
  std::set<std::string> fitted;
  for (const json& q : p.at("parameters")) {
    const std::string name = q.at("name").get<std::string>();
    fitted.insert(name);
    EXPECT_TRUE(q.at("determined").get<bool>()) << name;
    EXPECT_NEAR(q.at("value").get<double>(), (by_class ? c.factors : c.default_groups).at(name), 1e-6) << name;
  }
  EXPECT_EQ(fitted, groups);

  for (const json& m : p.at("mass_sets"))
    for (const json& band : m.at("bands"))
      EXPECT_NEAR(band.at("calculated").get<double>(), band.at("observed").get<double>(), 1e-4);
  EXPECT_LT(p.at("rms").get<double>(), 1e-4);
}

const std::string kWaterSets = " --isotopologue D2O=2:D,3:D --isotopologue HDO=3:D";
const std::string kAmmoniaSets = " --isotopologue ND3=2:D,3:D,4:D --isotopologue NH2D=2:D";
const std::string kFormaldehydeSets = " --isotopologue D2CO=3:D,4:D --isotopologue HDCO=3:D";
const std::string kMethaneSets = " --isotopologue CD4=2:D,3:D,4:D,5:D --isotopologue CH2D2=2:D,3:D";
const std::string kEthyleneSets = " --isotopologue C2D4=3:D,4:D,5:D,6:D --isotopologue CH2CD2=5:D,6:D";
// One factor per class the deck can have; a class the deck lacks is not looked up.
const std::map<std::string, double> kFormaldehydeFactors = {
    {"stretch C-O", 0.95},     {"stretch C-H", 0.9},       {"bend O-C-H", 1.05}, {"bend H-C-H", 1.05},
    {"out-of-plane H-C", 1.1}, {"out-of-plane O-C", 1.1}};
const std::map<std::string, double> kFormaldehydeGroups = {
    {"stretch X-Y", 0.95}, {"stretch X-H", 0.9}, {"bend X-Y-H", 1.05}, {"bend H-X-H", 1.05}, {"out-of-plane", 1.1}};
const std::map<std::string, double> kEthyleneFactors = {
    {"stretch C-C", 0.95},      {"stretch C-H", 0.92},      {"bend C-C-H", 1.02}, {"bend H-C-H", 0.98},
    {"out-of-plane H-C", 1.04}, {"out-of-plane C-C", 1.04}, {"torsion C-C", 0.96}};
// The independent deck keeps two of the four C=C–H angles beside both
// H–C–H: scaled apart, the two classes would lower the field's symmetry (and
// mix C2D4's Ag and B1g bends), so here they share one factor.
const std::map<std::string, double> kEthyleneIndependentFactors = {
    {"stretch C-C", 0.95},      {"stretch C-H", 0.92},      {"bend C-C-H", 1.02}, {"bend H-C-H", 1.02},
    {"out-of-plane H-C", 1.04}, {"out-of-plane C-C", 1.04}, {"torsion C-C", 0.96}};
const std::map<std::string, double> kEthyleneGroups = {{"stretch X-Y", 0.95}, {"stretch X-H", 0.92},
                                                       {"bend X-Y-H", 1.02},  {"bend H-X-H", 0.98},
                                                       {"out-of-plane", 1.04}, {"torsion", 0.96}};

INSTANTIATE_TEST_SUITE_P(
    FitCommand, FitRecovery,
    ::testing::Values(
        RecoveryCase{"water_symmetric", testing::water, "--symmetry" + kWaterSets,
                     {{"stretch O-H", 0.92}, {"bend H-O-H", 1.07}}},
        RecoveryCase{"water_independent", testing::water, "--coordinates independent" + kWaterSets,
                     {{"stretch O-H", 0.92}, {"bend H-O-H", 1.07}}},
        RecoveryCase{"water_redundant", testing::water, kWaterSets, {{"stretch O-H", 0.92}, {"bend H-O-H", 1.07}}},
        RecoveryCase{"ammonia_symmetric", testing::ammonia, "--symmetry" + kAmmoniaSets,
                     {{"stretch N-H", 0.9}, {"bend H-N-H", 1.08}}},
        RecoveryCase{"ammonia_independent", testing::ammonia, "--coordinates independent" + kAmmoniaSets,
                     {{"stretch N-H", 0.9}, {"bend H-N-H", 1.08}}},
        RecoveryCase{"ammonia_redundant", testing::ammonia, kAmmoniaSets, {{"stretch N-H", 0.9}, {"bend H-N-H", 1.08}}},
        RecoveryCase{"methane_symmetric", testing::methane, "--symmetry" + kMethaneSets,
                     {{"stretch C-H", 0.91}, {"bend H-C-H", 0.86}}},
        RecoveryCase{"methane_independent", testing::methane, "--coordinates independent" + kMethaneSets,
                     {{"stretch C-H", 0.91}, {"bend H-C-H", 0.86}}},
        RecoveryCase{"methane_redundant", testing::methane, kMethaneSets, {{"stretch C-H", 0.91}, {"bend H-C-H", 0.86}}},
        RecoveryCase{"formaldehyde_symmetric", testing::formaldehyde, "--symmetry" + kFormaldehydeSets, kFormaldehydeFactors,
                     kFormaldehydeGroups},
        RecoveryCase{"formaldehyde_independent", testing::formaldehyde, "--coordinates independent" + kFormaldehydeSets,
                     kFormaldehydeFactors},
        RecoveryCase{"formaldehyde_redundant", testing::formaldehyde, kFormaldehydeSets, kFormaldehydeFactors,
                     kFormaldehydeGroups},
        RecoveryCase{"ethylene_symmetric", testing::ethylene, "--symmetry" + kEthyleneSets, kEthyleneFactors,
                     kEthyleneGroups},
        RecoveryCase{"ethylene_independent", testing::ethylene, "--coordinates independent" + kEthyleneSets,
                     kEthyleneIndependentFactors},
        RecoveryCase{"ethylene_redundant", testing::ethylene, kEthyleneSets, kEthyleneFactors, kEthyleneGroups}),
    [](const ::testing::TestParamInfo<RecoveryCase>& i) { return i.param.name; });

// Water with only its B2 band observed (H2O and D2O): the antisymmetric
// stretch has no bend in it, so the bend's factor is reported undetermined
// (held at 1, no sigma) and the status says so; the stretch factor still
// comes back. (The A1 stretches alone would fix it weakly, through the
// stretch-bend coupling.)
TEST(FitCommand, AGroupWithNoObservedBandIsUndetermined) {
  const FitCase fc(testing::water, "--symmetry" + kWaterSets);
  const Matrix f_scaled = fc.write_scaled({{"stretch O-H", 0.92}, {"bend H-O-H", 1.07}});
  std::istringstream all(fc.observed(f_scaled, {0, 1}));
  std::string kept, line;
  while (std::getline(all, line)) {
    std::istringstream w(line);
    int set = 0, nu = 0;
    double value = 0;
    w >> set >> nu >> value;
    if (nu == 3) kept += line + "\n";  // ν3, B2
  }
  testing::spill(fc.dir / "obs.txt", kept);
  const json fit = fc.run_json("fit M.DAT" + kHessian + " --observed obs.txt", 1);
  const json& p = fit.at("problems").at(0);
  ASSERT_EQ(p.at("parameters").size(), 2u);
  for (const json& q : p.at("parameters")) {
    const bool bend = q.at("name") == "bend H-X-H";
    EXPECT_EQ(q.at("determined").get<bool>(), !bend) << q.at("name");
    EXPECT_EQ(q.at("sigma").is_null(), bend) << q.at("name");
    EXPECT_NEAR(q.at("value").get<double>(), bend ? 1.0 : 0.92, 1e-6);
  }
}

// A field fitted on H2O and D2O, written to a file and read by modes,
// predicts HDO: modes' wavenumbers are the roots of G F′ for HDO's masses
// with the F′ of the file, formed here.
TEST(FitCommand, AWrittenForceFieldPredictsAnotherIsotopologueThroughModes) {
  const FitCase fc(testing::water, "--symmetry" + kWaterSets);
  const Matrix f_scaled = fc.write_scaled({{"stretch O-H", 0.92}, {"bend H-O-H", 1.07}});
  testing::spill(fc.dir / "obs.txt", fc.observed(f_scaled, {0, 1}));
  const testing::ProgramRun fit =
      testing::run_korvenkit(fc.dir.path(), "fit M.DAT" + kHessian + " --observed obs.txt --write-force-field ff.json");
  ASSERT_EQ(fit.status, 0) << fit.err;
  const json file = json::parse(testing::slurp(fc.dir / "ff.json"));
  const auto n = static_cast<Eigen::Index>(file.at("force_constants").size());
  ASSERT_EQ(n, fc.b.rows());
  Matrix f(n, n);
  for (Eigen::Index i = 0; i < n; ++i)
    for (Eigen::Index j = 0; j < n; ++j) f(i, j) = file.at("force_constants").at(i).at(j).get<double>();
  EXPECT_LT((f - f_scaled).cwiseAbs().maxCoeff(), 1e-6 * f_scaled.cwiseAbs().maxCoeff());
  const json modes = fc.run_json("modes M.DAT --force-field ff.json --mass-set 3");
  const std::vector<double> roots = gf_wavenumbers(fc.b, f, fc.masses(2));
  ASSERT_EQ(modes.at("problems").at(0).at("mass_sets").at(0).at("modes").size(), roots.size());
  for (const json& row : modes.at("problems").at(0).at("mass_sets").at(0).at("modes")) {
    double nearest = 1e9;
    for (double r : roots) nearest = std::min(nearest, std::abs(r - row.at("wavenumber").get<double>()));
    EXPECT_LT(nearest, 1e-6 * row.at("wavenumber").get<double>());
  }
  // Another molecule's deck refuses it, naming the first difference.
  const FitCase formaldehyde(testing::formaldehyde, "--coordinates independent");
  std::filesystem::copy_file(fc.dir / "ff.json", formaldehyde.dir / "ff.json");
  const testing::ProgramRun refused = testing::run_korvenkit(formaldehyde.dir.path(), "modes M.DAT --force-field ff.json");
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("ff.json: "), std::string::npos) << refused.err;
}

struct BadObserved {
  std::string name, text, message;
};

class FitObservedFaults : public ::testing::TestWithParam<BadObserved> {};

TEST_P(FitObservedFaults, AreOneLineNamingTheFileAndLine) {
  static const FitCase fc(testing::water, "--symmetry" + kWaterSets);
  testing::spill(fc.dir / "bad.txt", GetParam().text);
  const testing::ProgramRun r = testing::run_korvenkit(fc.dir.path(), "fit M.DAT" + kHessian + " --observed bad.txt");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("bad.txt: " + GetParam().message), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    FitCommand, FitObservedFaults,
    ::testing::Values(BadObserved{"unknown_mass_set", "# c\n7 1 3657\n", "line 2: mass set 7 is not one of"},
                      BadObserved{"unknown_title", "CO2 1 3657\n", "line 1: mass set CO2"},
                      BadObserved{"no_such_nu", "1 nu9 3657\n", "line 1: mass set 1 has no ν9"},
                      BadObserved{"no_such_species", "1 E:1 3657\n", "line 1: mass set 1 has 0 modes of species E"},
                      BadObserved{"given_twice", "1 1 3657\nH2O nu1 3650\n", "line 2: nu1 of mass set 1 is given twice"},
                      BadObserved{"negative", "1 1 -3657\n", "line 1: the wavenumber -3657"},
                      BadObserved{"zero_weight", "1 1 3657 0\n", "line 1: the weight 0"},
                      BadObserved{"not_a_number", "1 1 nan\n", "line 1: the wavenumber nan"},
                      BadObserved{"too_few_words", "1 3657\n", "line 1: expected MASS-SET MODE WAVENUMBER"},
                      BadObserved{"too_many_bands", "1 1 3657\n1 2 1595\n1 3 3756\n1 ? 1000\n",
                                  "line 4: more bands than mass set 1 has modes"},
                      BadObserved{"empty", "# nothing\n", "holds no observed band"}),
    [](const ::testing::TestParamInfo<BadObserved>& i) { return i.param.name; });

// The psi4 water example with Shimanouchi's fundamentals
// (examples/water_psi4/water.observed): HF/6-31G* wavenumbers are about 10 %
// high, so both factors come out near 0.8 (Pulay et al. 1983 give 0.8–0.9
// for HF/4-21G); the product rule on the observed D2O/H2O bands lies within
// a few per cent of the harmonic value.
TEST(FitCommand, FitsTheWaterExampleToItsObservedFundamentals) {
  const testing::TempDir dir;
  const std::filesystem::path example = std::filesystem::path(KORVEN_SOURCE_DIR) / "examples" / "water_psi4";
  for (const char* f : {"WATER.DAT", "water.fchk", "water.observed"}) std::filesystem::copy_file(example / f, dir / f);
  const testing::ProgramRun r =
      testing::run_korvenkit(dir.path(), "fit WATER.DAT --hessian water.fchk --observed water.observed --json");
  ASSERT_EQ(r.status, 0) << r.err;
  const json p = json::parse(r.out).at("problems").at(0);
  EXPECT_TRUE(p.at("converged").get<bool>());
  EXPECT_EQ(p.at("bands").get<int>(), 9);
  for (const json& q : p.at("parameters")) {
    EXPECT_GT(q.at("value").get<double>(), 0.7) << q.at("name");
    EXPECT_LT(q.at("value").get<double>(), 0.9) << q.at("name");
    EXPECT_FALSE(q.at("sigma").is_null());
  }
  EXPECT_LT(p.at("rms").get<double>(), 30.0);
  const json& rules = p.at("mass_sets").at(1).at("product_rule");
  ASSERT_EQ(rules.size(), 2u);  // A1 and B2 of D2O against H2O
  for (const json& rule : rules)
    EXPECT_NEAR(rule.at("observed_ratio").get<double>() / rule.at("expected").get<double>(), 1.0, 0.05);
}

// The psi4 examples of ammonia, methane, formaldehyde and ethylene, each with
// its deuterated isotopologue, against Shimanouchi's fundamentals
// (examples/observed/fundamentals.tsv, the source named there). HF/6-31G* factors
// come out between 0.7 and 0.9; the rms stays within what anharmonicity
// leaves (ammonia's inversion doublet the most); the product rule on the
// observed bands lies within a few per cent of the harmonic value. The
// species of every fitted band is the one the source gives its ν number, so
// the numbering of `modes` is checked against the source's too.
struct RealFit {
  std::string name;  // the example's folder without _psi4, and its files' stem
  std::string deck;
  int bands;
  double rms_below;        // cm⁻¹
  double product_within;   // relative, observed ratio against the expected
};

class FitRealData : public ::testing::TestWithParam<RealFit> {};

// The source's species of (isotopologue row order: parent first) ν numbers,
// lower case as printed; f2 is t2.
std::vector<std::map<int, std::string>> source_species(const std::string& molecule) {
  std::ifstream in(std::filesystem::path(KORVEN_SOURCE_DIR) / "examples" / "observed" / "fundamentals.tsv");
  std::vector<std::map<int, std::string>> out;
  std::vector<std::string> order;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("molecule\t", 0) == 0) continue;
    std::vector<std::string> f;
    std::stringstream fields(line);
    for (std::string w; std::getline(fields, w, '\t');) f.push_back(w);
    if (f.size() < 7 || f[0] != molecule) continue;
    const auto at = std::find(order.begin(), order.end(), f[1]);
    if (at == order.end()) order.push_back(f[1]), out.emplace_back();
    std::string species = f[3] == "f2" ? "t2" : f[3];
    out[static_cast<std::size_t>(std::find(order.begin(), order.end(), f[1]) - order.begin())][std::stoi(f[2])] = species;
  }
  return out;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST_P(FitRealData, FitsThePsi4ExampleToItsObservedFundamentals) {
  const RealFit& c = GetParam();
  const testing::TempDir dir;
  const std::filesystem::path example = std::filesystem::path(KORVEN_SOURCE_DIR) / "examples" / (c.name + "_psi4");
  for (const std::string& f : {c.deck + ".DAT", c.name + ".fchk", c.name + ".observed"})
    std::filesystem::copy_file(example / f, dir / f);
  const testing::ProgramRun r = testing::run_korvenkit(
      dir.path(), "fit " + c.deck + ".DAT --hessian " + c.name + ".fchk --observed " + c.name + ".observed --json");
  ASSERT_EQ(r.status, 0) << r.err;
  const json p = json::parse(r.out).at("problems").at(0);
  EXPECT_TRUE(p.at("converged").get<bool>());
  EXPECT_EQ(p.at("bands").get<int>(), c.bands);
  for (const json& q : p.at("parameters")) {
    EXPECT_TRUE(q.at("determined").get<bool>()) << q.at("name");
    EXPECT_GT(q.at("value").get<double>(), 0.7) << q.at("name");
    EXPECT_LT(q.at("value").get<double>(), 0.9) << q.at("name");
    EXPECT_FALSE(q.at("sigma").is_null());
  }
  EXPECT_LT(p.at("rms").get<double>(), c.rms_below);
  const std::vector<std::map<int, std::string>> species = source_species(c.name);
  ASSERT_EQ(species.size(), 2u);
  ASSERT_EQ(p.at("mass_sets").size(), 2u);
  for (std::size_t m = 0; m < 2; ++m)
    for (const json& band : p.at("mass_sets").at(m).at("bands"))
      EXPECT_EQ(lower(band.at("species").get<std::string>()), species[m].at(band.at("nu").get<int>()))
          << "mass set " << m + 1 << " nu" << band.at("nu");
  const json& rules = p.at("mass_sets").at(1).at("product_rule");
  std::set<std::string> parent_species;  // every one observed completely in both
  for (const auto& [nu, sp] : species[0]) parent_species.insert(sp);
  EXPECT_EQ(rules.size(), parent_species.size());
  for (const json& rule : rules)
    EXPECT_NEAR(rule.at("observed_ratio").get<double>() / rule.at("expected").get<double>(), 1.0, c.product_within)
        << rule.at("species");
}

INSTANTIATE_TEST_SUITE_P(Psi4Examples, FitRealData,
                         ::testing::Values(RealFit{"ammonia", "AMMONIA", 8, 50, 0.06},
                                           RealFit{"methane", "METHANE", 8, 25, 0.04},
                                           RealFit{"formaldehyde", "H2CO", 12, 20, 0.04},
                                           RealFit{"ethylene", "ETHYLENE", 24, 20, 0.04}),
                         [](const ::testing::TestParamInfo<RealFit>& i) { return i.param.name; });

}  // namespace
}  // namespace korven::kit
