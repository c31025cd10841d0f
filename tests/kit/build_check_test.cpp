// build and check together on real molecules: every deck runs through the
// engine, its B has the rank the molecule's shape demands, and check counts
// what a removed or doubled coordinate does to it. The expected ranks come
// from the atom count and the shape, not from the kit's routines.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "kit/commands/build_deck.h"
#include "kit/commands/check_report.h"
#include "kit/io/deck_replay.h"
#include "kit/io/deck_writer.h"
#include "kit/io/engine_run.h"
#include "kit/io/geometry_input.h"
#include "kit/io/listing_reader.h"
#include "kit_test_support.h"

namespace korven::kit {
namespace {

using testing::TempDir;

int vibrations_of(int atoms, bool linear) { return linear ? 3 * atoms - 5 : 3 * atoms - 6; }

ProblemReport built_and_checked(const Deck& deck, const TempDir& dir, const std::string& name) {
  const auto path = dir / name;
  testing::spill(path, deck_text(deck));
  const EngineRun run = run_engine(path);
  EXPECT_EQ(run.status, 0) << name << ": " << run.console_err;
  const Listing listing = read_listing(run.listing, name);
  const CheckReport report = check_deck(replay_deck(path), listing, std::nullopt, name);
  EXPECT_EQ(report.problems.size(), 1u) << name;
  return report.problems.empty() ? ProblemReport{} : report.problems.front();
}

class BuildCheckOf : public ::testing::TestWithParam<testing::IndexedMolecule> {};

TEST_P(BuildCheckOf, GivesARunnableCompleteDeckInBothModes) {
  const testing::IndexedMolecule& m = GetParam();
  TempDir dir;
  const auto molecules = read_geometry(testing::kit_data("molecules/" + m.file).string());
  ASSERT_EQ(molecules.size(), 1u);
  ASSERT_EQ(static_cast<int>(molecules[0].atoms.size()), m.atoms);
  const int vibrations = vibrations_of(m.atoms, m.linear);
  for (const CoordinateMode mode : {CoordinateMode::redundant, CoordinateMode::independent}) {
    const bool independent = mode == CoordinateMode::independent;
    SCOPED_TRACE(independent ? "independent" : "redundant");
    BuildOptions options;
    options.source_name = m.file;
    options.coordinates = mode;
    const BuiltDeck built = build_deck(molecules, options);
    const int nic = built.deck.problems.at(0).nic;
    const ProblemReport r = built_and_checked(built.deck, dir, independent ? "IND.DAT" : "RED.DAT");
    EXPECT_TRUE(r.errors.empty()) << (r.errors.empty() ? "" : r.errors[0]);
    EXPECT_EQ(r.linear, m.linear);
    EXPECT_EQ(r.vibrations, vibrations);
    EXPECT_EQ(r.rank.value_or(-1), vibrations);
    EXPECT_EQ(r.missing.value_or(-1), 0);
    ASSERT_TRUE(r.redundant.has_value());
    EXPECT_EQ(static_cast<int>(r.redundant->size()), r.coordinates - vibrations);
    if (independent) {
      EXPECT_EQ(nic, vibrations);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Molecules, BuildCheckOf, ::testing::ValuesIn(testing::molecule_index()),
                         [](const ::testing::TestParamInfo<testing::IndexedMolecule>& info) {
                           return testing::case_name(info.param.name);
                         });

TEST(BuildCheck, TheIndexHoldsTheSharedTestMolecules) { EXPECT_GE(testing::molecule_index().size(), 22u); }

TEST(BuildCheck, ARemovedCoordinateIsMissingAndADoubledOneRedundant) {
  TempDir dir;
  for (const char* name : {"water", "ethylene", "benzene", "ammonia"}) {
    const auto molecules = read_geometry(testing::kit_data(std::string("molecules/") + name + ".xyz").string());
    BuildOptions options;
    options.source_name = name;
    options.coordinates = CoordinateMode::independent;
    const Deck deck = build_deck(molecules, options).deck;
    const DeckProblem& p = deck.problems.at(0);
    const int vibrations = p.nic;

    Deck removed = deck;  // the last coordinate (a bend or a torsion: one row) left out
    removed.problems[0].entries.pop_back();
    removed.problems[0].nic -= 1;
    const ProblemReport r = built_and_checked(removed, dir, "REMOVED.DAT");
    EXPECT_EQ(r.rank.value_or(-1), vibrations - 1) << name;
    EXPECT_EQ(r.missing.value_or(-1), 1) << name;
    EXPECT_TRUE(r.redundant && r.redundant->empty()) << name;

    Deck doubled = deck;  // the first stretch given twice, as the last row
    doubled.problems[0].entries.push_back(p.entries.front());
    doubled.problems[0].nic += 1;
    const ProblemReport d = built_and_checked(doubled, dir, "DOUBLED.DAT");
    EXPECT_EQ(d.rank.value_or(-1), vibrations) << name;
    EXPECT_EQ(d.missing.value_or(-1), 0) << name;
    EXPECT_EQ(d.redundant.value_or(std::vector<int>{}), std::vector<int>{vibrations + 1}) << name;
  }
}

// A zigzag alkane CnH2n+2 with tetrahedral angles.
std::string alkane_xyz(int carbons, int extra_hydrogens = 0) {
  const double cc = 1.54, ch = 1.09, half = 109.47 / 2 * M_PI / 180, hangle = 54.75 * M_PI / 180;
  std::ostringstream s;
  s.precision(6);
  s << std::fixed << 3 * carbons + 2 + extra_hydrogens << "\nalkane\n";
  for (int i = 0; i < carbons; ++i) s << "C " << i * cc * std::sin(half) << " " << (i % 2 ? 0.5 : -0.5) * cc * std::cos(half) << " 0\n";
  for (int i = 0; i < carbons; ++i) {
    const double y = (i % 2 ? 0.5 : -0.5) * cc * std::cos(half) + (i % 2 ? 1 : -1) * ch * std::cos(hangle);
    for (int side : {1, -1}) s << "H " << i * cc * std::sin(half) << " " << y << " " << side * ch * std::sin(hangle) << "\n";
  }
  s << "H " << -0.98 << " " << -0.5 * cc * std::cos(half) - 0.3 << " 0\n";
  const double last = (carbons - 1) * cc * std::sin(half);
  s << "H " << last + 0.98 << " " << ((carbons - 1) % 2 ? 0.5 : -0.5) * cc * std::cos(half) * 1.6 << " 0\n";
  for (int h = 0; h < extra_hydrogens; ++h) s << "H " << last + 3 + h << " 5 5\n";
  return s.str();
}

TEST(BuildCheck, TheLargestMoleculeBuildsAndChecksQuicklyAndOneMoreAtomIsRefused) {
  TempDir dir;
  testing::spill(dir / "c110.xyz", alkane_xyz(110));  // 332 atoms
  testing::spill(dir / "big.xyz", alkane_xyz(110, 2));  // 334 atoms
  const auto start = std::chrono::steady_clock::now();
  const auto build = testing::run_korvenkit(dir.path(), "build c110.xyz --coordinates independent");
  const auto built = std::chrono::steady_clock::now();
  const auto check = testing::run_korvenkit(dir.path(), "check C110.DAT --json");
  const auto checked = std::chrono::steady_clock::now();
  EXPECT_EQ(build.status, 0) << build.err;
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_NE(check.out.find("\"rank\": 990"), std::string::npos);
  if (testing::kTimedBuild) {
    EXPECT_LT(std::chrono::duration<double>(built - start).count(), 2.0);
    EXPECT_LT(std::chrono::duration<double>(checked - built).count(), 2.0);
  }
  const auto refused = testing::run_korvenkit(dir.path(), "build big.xyz --coordinates independent");
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("334 atoms; a deck holds at most 333"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "BIG.DAT"));
}

}  // namespace
}  // namespace korven::kit
