// The constants command as a whole, on the psi4 water example (deck, listing
// and HF/6-31G* Hessian): rotational constants against the inertia tensor of
// the deck's X with each mass set's masses, the Coriolis constants of a
// planar molecule against what its symmetry and sum rule allow, the text and
// the JSON against each other, the command line's statuses and refusals, and
// the time of the example and of a 60-atom molecule with three mass sets.
#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "kit/commands/constants_report.h"
#include "kit/commands/json_output.h"
#include "kit/io/deck_replay.h"
#include "kit/io/listing_reader.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;

const fs::path kExample = fs::path(KORVEN_SOURCE_DIR) / "examples" / "water_psi4";

// CODATA 2018, written out here.
constexpr double kH = 6.62607015e-34, kU = 1.66053906660e-27, kPiHere = 3.14159265358979323846;

// A folder with the example's deck, Hessian and listing.
struct WaterExample {
  testing::TempDir dir;
  WaterExample() {
    fs::copy_file(kExample / "WATER.DAT", dir / "WATER.DAT");
    fs::copy_file(kExample / "water.fchk", dir / "water.fchk");
    fs::copy_file(kExample / "expected" / "WATER.OUT", dir / "WATER.OUT");
  }
};

ConstantsReport example_report(ConstantsCommandOptions o = {}) {
  o.hessian = (kExample / "water.fchk").string();
  const Deck deck = replay_deck(kExample / "WATER.DAT");
  const Listing listing = read_listing_file(kExample / "expected" / "WATER.OUT");
  return analyze_constants(deck, listing, o, "WATER.DAT");
}

Vec3 principal_moments(const std::vector<Vec3>& x, const std::vector<double>& m) {
  Vec3 centre = Vec3::Zero();
  double total = 0;
  for (std::size_t i = 0; i < x.size(); ++i) centre += m[i] * x[i], total += m[i];
  centre /= total;
  Mat3 t = Mat3::Zero();
  for (std::size_t i = 0; i < x.size(); ++i) {
    const Vec3 r = x[i] - centre;
    t += m[i] * (r.dot(r) * Mat3::Identity() - r * r.transpose());
  }
  return Eigen::SelfAdjointEigenSolver<Mat3>(t).eigenvalues();
}

TEST(ConstantsCommand, RotationalConstantsAreTheDecksInertiaWithEachMassSet) {
  const ConstantsReport report = example_report();
  const Deck deck = replay_deck(kExample / "WATER.DAT");
  ASSERT_EQ(report.problems.size(), 1u);
  const ProblemConstants& p = report.problems[0];
  ASSERT_EQ(p.mass_sets.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    const MassSetConstants& m = p.mass_sets[k];
    SCOPED_TRACE(m.title);
    const Vec3 moments = principal_moments(deck.problems[0].x, deck.problems[0].mass_sets[k].masses);
    const RotationalConstants& r = m.constants.rotation;
    EXPECT_EQ(r.frame.type, RotorType::asymmetric);
    for (int a = 0; a < 3; ++a) {
      // The deck's masses carry six decimals, the listing's the same.
      EXPECT_NEAR(r.frame.moments(a), moments(a), 1e-6 * moments(2));
      const double mhz = kH / (8 * kPiHere * kPiHere * moments(a) * kU * 1e-20) / 1e6;
      EXPECT_NEAR(*r.mhz[static_cast<std::size_t>(a)], mhz, 1e-5 * mhz);
    }
    const double a = 1 / moments(0), b = 1 / moments(1), c = 1 / moments(2);
    EXPECT_NEAR(*r.kappa, (2 * b - a - c) / (a - c), 1e-5);
    EXPECT_TRUE(r.planar);
    EXPECT_EQ(m.constants.amplitudes.size(), 3u);
    EXPECT_EQ(m.modes.size(), 3u);
  }
  EXPECT_EQ(report.exit_status(), 0);
}

// In-plane modes of a planar molecule turn only about c, the axis normal to
// the plane: ζ^a = ζ^b = 0, and the c-sum is the closed value of the
// moments. In C2v the two A1 modes (ν1, ν2) do not couple (A1 × A1 holds no
// R_z), so water's only ζ are ζ^c_13 and ζ^c_23.
TEST(ConstantsCommand, PlanarWaterCouplesOnlyAboutTheNormalAxis) {
  const ConstantsReport report = example_report();
  const MassSetConstants& h2o = report.problems[0].mass_sets[0];
  const CoriolisConstants& c = h2o.constants.coriolis;
  EXPECT_LT(c.zeta[0].cwiseAbs().maxCoeff(), 1e-8);
  EXPECT_LT(c.zeta[1].cwiseAbs().maxCoeff(), 1e-8);
  ASSERT_EQ(h2o.modes[0].nu, 1);
  ASSERT_EQ(h2o.modes[2].nu, 3);
  EXPECT_EQ(h2o.modes[2].species, "B2");
  EXPECT_LT(std::abs(c.zeta[2](0, 1)), 1e-6);
  // Σ (ζ^c)² = N − 4 + P_b/I_a + P_a/I_b + P_c²/(I_a I_b), P_α = (ΣI − 2I_α)/2:
  // 1 for a planar triatomic (P_c = 0, P_a = I_b, P_b = I_a).
  const Vec3 i = h2o.constants.rotation.frame.moments;
  const auto p = [&](int k) { return (i.sum() - 2 * i(k)) / 2; };
  const double closed = 3 - 4 + p(1) / i(0) + p(0) / i(1) + p(2) * p(2) / (i(0) * i(1));
  EXPECT_NEAR(std::pow(c.zeta[2](0, 2), 2) + std::pow(c.zeta[2](1, 2), 2), closed, 1e-8);
  EXPECT_NEAR(closed, 1.0, 1e-6);
}

TEST(ConstantsCommand, TextAndJsonOnTheCommandLine) {
  const WaterExample w;
  const testing::ProgramRun text =
      testing::run_korvenkit(w.dir.path(), "constants WATER.DAT --hessian water.fchk --listing WATER.OUT");
  ASSERT_EQ(text.status, 0) << text.err;
  for (const char* words : {"mass set 1: H2O", "mass set 3: HDO", "Watson's A reduction, Ir representation (kHz)",
                            "Watson's S reduction, Ir representation", "planarity relations", "sum rules",
                            "mean amplitudes at 298.15 K", "O1     H2"})
    EXPECT_NE(text.out.find(words), std::string::npos) << words << "\n" << text.out;
  const testing::ProgramRun js = testing::run_korvenkit(
      w.dir.path(), "constants WATER.DAT --hessian water.fchk --listing WATER.OUT --json --representation IIIr");
  ASSERT_EQ(js.status, 0) << js.err;
  const nlohmann::ordered_json j = nlohmann::ordered_json::parse(js.out);
  const auto& sets = j.at("problems").at(0).at("mass_sets");
  ASSERT_EQ(sets.size(), 3u);
  const std::vector<std::string> keys = {"title", "rotor", "axes", "moments", "rotational_constants_mhz",
                                         "rotational_constants_cm", "kappa", "coriolis", "tau_mhz", "reduction",
                                         "temperature", "mean_amplitudes"};
  std::vector<std::string> found;
  for (const auto& item : sets[0].items()) found.push_back(item.key());
  EXPECT_EQ(found, keys);
  const ConstantsReport report = example_report();
  for (std::size_t k = 0; k < 3; ++k) {
    const MassSetConstants& m = report.problems[0].mass_sets[k];
    EXPECT_EQ(sets[k].at("title"), m.title);
    EXPECT_EQ(sets[k].at("rotor"), "asymmetric");
    for (std::size_t a = 0; a < 3; ++a)
      EXPECT_NEAR(sets[k].at("rotational_constants_mhz")[a].get<double>(), *m.constants.rotation.mhz[a], 1e-9 * *m.constants.rotation.mhz[a]);
    EXPECT_EQ(sets[k].at("tau_mhz").size(), 21u);
    EXPECT_EQ(sets[k].at("reduction")[0].at("representation"), "IIIr");
    EXPECT_EQ(sets[k].at("reduction")[1].at("name"), "S");
    EXPECT_EQ(sets[k].at("mean_amplitudes").size(), 3u);
  }
  // H2O's ζ: only about c, between ν1, ν2 and ν3.
  std::set<std::string> pairs;
  for (const auto& z : sets[0].at("coriolis")) pairs.insert(z.at("axis").get<std::string>() + z.at("r").get<std::string>() + z.at("s").get<std::string>());
  EXPECT_EQ(pairs, (std::set<std::string>{"c13", "c23"}));
}

// The mean amplitudes grow with the temperature as coth(hcν̃/2kT) of each mode.
TEST(ConstantsCommand, ZeroPointAmplitudesAreSmallerThanWarmOnes) {
  ConstantsCommandOptions cold, warm;
  cold.temperature = 0;
  warm.temperature = 2000;
  const ConstantsReport c = example_report(cold), w = example_report(warm);
  for (std::size_t p = 0; p < 3; ++p)
    EXPECT_LT(c.problems[0].mass_sets[0].constants.amplitudes[p].amplitude,
              w.problems[0].mass_sets[0].constants.amplitudes[p].amplitude);
}

struct Refusal {
  const char* name;
  const char* arguments;
  const char* words;
};

class ConstantsRefused : public ::testing::TestWithParam<Refusal> {};

TEST_P(ConstantsRefused, WithOneLineAndStatusTwo) {
  const WaterExample w;
  // A copy of the deck whose HDO set has lost its deuterium.
  std::ifstream in(w.dir / "WATER.DAT");
  std::stringstream text;
  text << in.rdbuf();
  testing::spill(w.dir / "ZERO.DAT",
                 std::regex_replace(text.str(), std::regex("   15.994915    1.007825    2.014102"),
                                    "   15.994915    1.007825    0.000000"));
  const testing::ProgramRun run = testing::run_korvenkit(w.dir.path(), GetParam().arguments);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find(GetParam().words), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConstantsRefused,
    ::testing::Values(
        // The listing of the deck before its mass was zeroed is refused as another deck's, naming the mass.
        Refusal{"zero_mass", "constants ZERO.DAT --hessian water.fchk --listing WATER.OUT", "mass 0.000000 in the deck"},
        Refusal{"zero_mass_run", "constants ZERO.DAT --hessian water.fchk", "ZERO.DAT: "},
        Refusal{"representation", "constants WATER.DAT --hessian water.fchk --listing WATER.OUT --representation IVr",
                "IVr is none of"},
        Refusal{"negative_temperature",
                "constants WATER.DAT --hessian water.fchk --listing WATER.OUT --temperature -5", "temperature"},
        Refusal{"mass_set", "constants WATER.DAT --hessian water.fchk --listing WATER.OUT --mass-set 4", "--mass-set 4"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// ---- Time ---------------------------------------------------------------------

TEST(ConstantsCommand, TheExampleUnderHalfASecond) {
  const double start = testing::cpu_seconds();
  const ConstantsReport report = example_report();
  const double seconds = testing::cpu_seconds() - start;
  RecordProperty("seconds", std::to_string(seconds));
  EXPECT_EQ(report.problems[0].mass_sets.size(), 3u);
  if (testing::kTimedBuild) {
    EXPECT_LT(seconds, 0.5);
  }
}

// Every example deck with a Hessian beside it (and its listing in
// expected/), with each of its Hessians: constants for every mass set, the
// Coriolis sum rules met (status 0), in under 0.5 s of processor time each.
TEST(ConstantsCommand, EveryExampleWithAHessianUnderHalfASecond) {
  int runs = 0;
  for (const auto& folder : fs::directory_iterator(fs::path(KORVEN_SOURCE_DIR) / "examples")) {
    if (!folder.is_directory()) continue;
    std::vector<fs::path> decks, hessians;
    for (const auto& file : fs::directory_iterator(folder.path())) {
      const std::string ext = file.path().extension().string();
      if (ext == ".DAT") decks.push_back(file.path());
      if (ext == ".fchk" || ext == ".hess") hessians.push_back(file.path());
    }
    for (const fs::path& deck_file : decks) {
      const fs::path listing_file = folder.path() / "expected" / (deck_file.stem().string() + ".OUT");
      if (!fs::exists(listing_file)) continue;
      const Deck deck = replay_deck(deck_file);
      const Listing listing = read_listing_file(listing_file);
      for (const fs::path& hessian : hessians) {
        SCOPED_TRACE(hessian.string());
        ConstantsCommandOptions o;
        o.hessian = hessian.string();
        const double start = testing::cpu_seconds();
        const ConstantsReport report = analyze_constants(deck, listing, o, deck_file.filename().string());
        const double seconds = testing::cpu_seconds() - start;
        EXPECT_EQ(report.exit_status(), 0);
        ASSERT_EQ(report.problems.size(), 1u);
        EXPECT_EQ(report.problems[0].mass_sets.size(), deck.problems.at(0).mass_sets.size());
        if (testing::kTimedBuild) {
          EXPECT_LT(seconds, 0.5);
        }
        ++runs;
      }
    }
  }
  EXPECT_GE(runs, 6);  // water (two Hessians), ammonia, methane, formaldehyde (two), ethylene
}

// The 60-atom lattice of the vibrations tests, three mass sets: analysis and
// every constant (all pairs' amplitudes, all ζ) in under 2 s.
TEST(ConstantsCommand, SixtyAtomsThreeMassSetsUnderTwoSeconds) {
  if (testing::under_valgrind()) GTEST_SKIP() << "under Valgrind";
  const testing::BracedLattice l = testing::braced_lattice();
  const double start = testing::cpu_seconds();
  for (const auto& ms : l.masses) {
    const VibrationAnalysis v = analyze_vibrations({l.b, ms, l.x, l.h, std::nullopt, {}, 1.0, "lattice"});
    const MolecularConstants c = molecular_constants(normal_modes(v, l.x, ms, "lattice"));
    EXPECT_EQ(c.amplitudes.size(), 1770u);
    EXPECT_LT(c.coriolis.largest_sum_deviation, 1e-8);
  }
  const double seconds = testing::cpu_seconds() - start;
  RecordProperty("seconds", std::to_string(seconds));
  if (testing::kTimedBuild) {
    EXPECT_LT(seconds, 2.0);
  }
}

}  // namespace
}  // namespace korven::kit
