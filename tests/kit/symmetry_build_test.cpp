// build --symmetry end to end: the deck of every test molecule runs through
// the engine with no factoring report, U has one orthonormal row per
// vibration, partner blocks list the same G', and the rows per species are
// the standard tables' counts (tests/kit/symmetry_molecules.h, from
// Herzberg and the literature, never from the program). check then finds
// the faults of hand-spoiled U matrices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>

#include "kit/commands/build_deck.h"
#include "kit/commands/check_report.h"
#include "kit/model/deck_notes.h"
#include "kit/io/deck_replay.h"
#include "kit/io/deck_writer.h"
#include "kit/io/engine_run.h"
#include "kit/io/geometry_input.h"
#include "kit/io/listing_reader.h"
#include "kit_test_support.h"
#include "symmetry_molecules.h"

namespace korven::kit {
namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// "E(2)" → "E"; the partner number, 0 when none.
std::pair<std::string, int> split_partner(const std::string& species) {
  const auto open = species.find('(');
  if (open == std::string::npos) return {species, 0};
  return {species.substr(0, open), std::stoi(species.substr(open + 1))};
}

struct Built {
  Deck deck;
  Listing listing;
};

Built build_and_run(const std::vector<Molecule>& molecules, const BuildOptions& options, const testing::TempDir& dir) {
  const Deck deck = build_deck(molecules, options).deck;
  const auto path = dir / "SYM.DAT";
  testing::spill(path, deck_text(deck));
  const EngineRun run = run_engine(path);
  EXPECT_EQ(run.status, 0) << options.source_name << ": " << run.console_err;
  return {replay_deck(path), read_listing(run.listing, options.source_name)};
}

class SymmetryBuildOf : public ::testing::TestWithParam<testing::IndexedMolecule> {};

TEST_P(SymmetryBuildOf, FactorsWithTheTablesSpeciesCounts) {
  std::map<std::string, std::map<std::string, int>> counts;
  for (const auto& m : testing::real_molecules()) counts[lower(m.name)] = m.counts;
  testing::TempDir dir;
  {
    const testing::IndexedMolecule& m = GetParam();
    BuildOptions options;
    options.source_name = m.file;
    options.symmetry = true;
    const auto molecules = read_geometry(testing::kit_data("molecules/" + m.file).string());
    const auto start = std::chrono::steady_clock::now();
    const Built b = build_and_run(molecules, options, dir);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(b.listing.problems.size(), 1u) << m.name;
    const ListedProblem& lp = b.listing.problems[0];
    const DeckProblem& dp = b.deck.problems[0];
    const int vibrations = m.linear ? 3 * m.atoms - 5 : 3 * m.atoms - 6;
    EXPECT_TRUE(lp.errors.empty()) << m.name;
    const DeckNotes notes = read_deck_notes(b.deck.comments);
    EXPECT_EQ(notes.groups.at({1, 1}), m.point_group) << m.name;
    ASSERT_FALSE(lp.mass_sets.empty()) << m.name;
    const ListedMassSet& ms = lp.mass_sets[0];
    EXPECT_TRUE(ms.symmetrized) << m.name;
    EXPECT_EQ(dp.mass_sets[0].symmetry_count, vibrations) << m.name;
    Matrix u = Matrix::Zero(dp.mass_sets[0].symmetry_count, dp.nic);
    for (const MatrixElement& e : dp.mass_sets[0].u) u(e.row - 1, e.column - 1) = e.value;
    EXPECT_LT((u * u.transpose() - Matrix::Identity(u.rows(), u.rows())).cwiseAbs().maxCoeff(), 1e-5) << m.name;  // modes' own limit
    std::map<std::string, int> rows_per_species;
    std::map<std::string, const ListedBlock*> first_partner;
    for (std::size_t k = 0; k < ms.blocks.size(); ++k) {
      EXPECT_TRUE(ms.blocks[k].factoring_reports.empty()) << m.name << " block " << k + 1;
      const auto [species, partner] = split_partner(notes.species.at({1, 1, static_cast<int>(k) + 1}));
      const int size = dp.mass_sets[0].boundaries[k + 1] - dp.mass_sets[0].boundaries[k];
      if (partner <= 1) rows_per_species[species] += size;
      if (partner == 1) first_partner[species] = &ms.blocks[k];
      if (partner > 1) {
        const ListedBlock& one = *first_partner.at(species);
        ASSERT_EQ(one.elements.size(), ms.blocks[k].elements.size()) << m.name << " " << species << " partner " << partner;
        for (std::size_t e = 0; e < one.elements.size(); ++e) {
          EXPECT_EQ(one.elements[e].row, ms.blocks[k].elements[e].row);
          EXPECT_EQ(one.elements[e].column, ms.blocks[k].elements[e].column);
          // U is written to six decimals, so partners agree to that rounding.
          EXPECT_NEAR(one.elements[e].value, ms.blocks[k].elements[e].value, 5e-5) << m.name << " " << species;
        }
      }
    }
    const auto expected = counts.find(lower(m.name));
    if (expected != counts.end() && !expected->second.empty() && !m.linear) {
      // A complex pair kept in one block holds two rows per vibration.
      for (auto& [species, rows] : rows_per_species)
        if (!expected->second.count(species) && species.size() > 0) ADD_FAILURE() << m.name << ": species " << species;
      for (const auto& [species, n] : expected->second) {
        const int dim = species[0] == 'E' ? 2 : species[0] == 'T' ? 3 : species[0] == 'G' ? 4 : species[0] == 'H' ? 5 : 1;
        EXPECT_EQ(rows_per_species[species], n * (dim > 1 && first_partner.count(species) ? 1 : dim))
            << m.name << " " << species;
      }
    }
    if (m.name == "c60" && testing::kTimedBuild) {
      EXPECT_LT(seconds, 5.0) << "C60 build and run";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Molecules, SymmetryBuildOf, ::testing::ValuesIn(testing::molecule_index()),
                         [](const ::testing::TestParamInfo<testing::IndexedMolecule>& info) {
                           return testing::case_name(info.param.name);
                         });

TEST(SymmetryBuild, HdoGetsItsOwnBlocksAndD2oTheStoredU) {
  testing::TempDir dir;
  BuildOptions options;
  options.source_name = "water.xyz";
  options.symmetry = true;
  options.isotopologues = {parse_isotopologue("D2O=2:D,3:D"), parse_isotopologue("HDO=3:D")};
  const Built b = build_and_run(read_geometry(testing::kit_data("molecules/water.xyz").string()), options, dir);
  const DeckProblem& p = b.deck.problems.at(0);
  EXPECT_EQ(p.save, 1);
  ASSERT_EQ(p.mass_sets.size(), 3u);
  EXPECT_EQ(p.mass_sets[0].u_mode, 1);
  EXPECT_EQ(p.mass_sets[1].u_mode, -1);
  EXPECT_EQ(p.mass_sets[2].u_mode, 1);
  const DeckNotes notes = read_deck_notes(b.deck.comments);
  EXPECT_EQ(notes.groups.at({1, 2}), "C2v");
  EXPECT_EQ(notes.groups.at({1, 3}), "Cs");
  EXPECT_EQ(p.mass_sets[2].boundaries, (std::vector<int>{1, 4}));  // one A' block
  for (const ListedMassSet& ms : b.listing.problems.at(0).mass_sets)
    for (const ListedBlock& blk : ms.blocks) EXPECT_TRUE(blk.factoring_reports.empty()) << ms.title;
}

TEST(SymmetryBuild, CheckFindsSpoiledUMatrices) {
  testing::TempDir dir;
  testing::spill(dir / "water.xyz", testing::slurp(testing::kit_data("molecules/water.xyz")));
  testing::spill(dir / "ammonia.xyz", testing::slurp(testing::kit_data("molecules/ammonia.xyz")));
  ASSERT_EQ(testing::run_korvenkit(dir.path(), "build water.xyz --symmetry").status, 0);
  ASSERT_EQ(testing::run_korvenkit(dir.path(), "build ammonia.xyz --symmetry").status, 0);
  const std::string water = testing::slurp(dir / "WATER.DAT");
  const std::string ammonia = testing::slurp(dir / "AMMONIA.DAT");
  ASSERT_EQ(testing::run_korvenkit(dir.path(), "check WATER.DAT").status, 0);
  ASSERT_EQ(testing::run_korvenkit(dir.path(), "check AMMONIA.DAT").status, 0);
  // Water's U: rows 1-2 A1 (the stretches' sum, the bend), row 3 B2 (the
  // stretches' difference); block card 1 3 4.
  struct Case {
    std::string name, deck, from, to, expect;
  } cases[] = {
      {"sign flipped", water, "  3  2   -0.707107", "  3  2    0.707107", "block"},
      {"boundary moved", water, "\n  1  3  4\n", "\n  1  2  4\n", "block"},
      {"species mixed", water, "  2  3    1.000000", "  2  3    0.707107  2  1    0.707107", "block"},
      {"boundary moved in ammonia", ammonia, "", "", "block"},
      // Row 2 stays A1 but is no longer orthogonal to row 1.
      {"rows not orthogonal", water, "  2  3    1.000000  3  1    0.707107\n",
       "  2  1    0.010000  2  2    0.010000\n  2  3    1.000000  3  1    0.707107\n", "rows 1 and 2 of U"},
  };
  for (const Case& c : cases) {
    std::string deck = c.deck;
    if (c.from.empty()) {
      // Move ammonia's first boundary up by one (the block card after the U).
      const auto card = deck.find("\n  1  3", deck.find(" -3  0"));
      ASSERT_NE(card, std::string::npos);
      deck.replace(card, 7, "\n  1  2");
    } else {
      const auto at = deck.find(c.from);
      ASSERT_NE(at, std::string::npos) << c.name;
      deck.replace(at, c.from.size(), c.to);
    }
    testing::spill(dir / "SPOILED.DAT", deck);
    const auto run = testing::run_korvenkit(dir.path(), "check SPOILED.DAT");
    EXPECT_EQ(run.status, 1) << c.name << "\n" << run.out << run.err;
    const bool named = run.out.find("mixed") != std::string::npos || run.out.find("row ") != std::string::npos ||
                       run.out.find("factoring") != std::string::npos;
    EXPECT_TRUE(named) << c.name << "\n" << run.out;
    if (c.expect != "block") {
      EXPECT_NE(run.out.find(c.expect), std::string::npos) << c.name << "\n" << run.out;
    }
  }
}

}  // namespace
}  // namespace korven::kit
