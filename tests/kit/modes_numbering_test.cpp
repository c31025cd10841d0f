// ν numbers against the literature: each molecule built with --symmetry,
// given a valence force field (stretches stiff, bends soft, torsions
// softer: the ordering every real molecule has), and the species of ν1, ν2,
// … compared with the published assignments: Herzberg, Infrared and Raman
// Spectra of Polyatomic Molecules (1945), and Shimanouchi, Tables of
// Molecular Vibrational Frequencies, Consolidated Volume I, NSRDS-NBS 39
// (1972), whose ethylene axes (x along C=C, z perpendicular to the plane)
// the kit uses. Linear triatomics keep ν2 for the bend.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit/commands/modes_report.h"
#include "kit/commands/problem_view.h"
#include "kit/io/deck_replay.h"
#include "kit/io/engine_run.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

struct NumberingCase {
  const char* molecule;
  std::vector<std::string> species;  // of ν1, ν2, …
  std::vector<int> degeneracy;       // of ν1, ν2, … (empty: all 1)
};

double valence_constant(const std::string& cls) {
  if (cls.rfind("stretch", 0) == 0) return 5.0;
  if (cls.rfind("linear", 0) == 0) return 0.3;
  if (cls.rfind("bend", 0) == 0) return 0.6;
  if (cls.rfind("out-of-plane", 0) == 0) return 0.4;
  return 0.1;
}

// The molecule's deck built with --symmetry (and `extra` options) and
// analysed with the valence force field above.
ModesReport valence_modes(const std::string& molecule, const std::string& extra = "") {
  testing::TempDir dir;
  testing::spill(dir / "m.xyz", testing::slurp(testing::kit_data("molecules/" + molecule + ".xyz")));
  const testing::ProgramRun built = testing::run_korvenkit(dir.path(), "build m.xyz -o M.DAT --symmetry " + extra);
  EXPECT_EQ(built.status, 0) << built.err;
  const Deck deck = replay_deck(dir / "M.DAT");
  const Listing listing = run_and_read(dir / "M.DAT");
  const ProblemView v(deck, &listing, 1, "M.DAT");
  const Matrix b = v.dense_b();
  Vector f(b.rows());
  for (Eigen::Index i = 0; i < b.rows(); ++i) f(i) = valence_constant(v.classes[static_cast<std::size_t>(i)]);
  const Matrix h = b.transpose() * f.asDiagonal() * b;
  testing::spill(dir / "h.txt", testing::plain_text(h));
  ModesOptions o;
  o.hessian = (dir / "h.txt").string();
  o.units = HessianUnits::mdyn_per_angstrom;
  return analyze_modes(deck, listing, o, "M.DAT");
}

class LiteratureNumbering : public ::testing::TestWithParam<NumberingCase> {};

TEST_P(LiteratureNumbering, SpeciesOfEachNuAsPublished) {
  const NumberingCase& c = GetParam();
  const ModesReport report = valence_modes(c.molecule);
  const MassSetModes& m = report.problems.at(0).mass_sets.at(0);
  ASSERT_EQ(m.modes.size(), c.species.size());
  for (std::size_t k = 0; k < c.species.size(); ++k) {
    SCOPED_TRACE("nu" + std::to_string(k + 1));
    EXPECT_EQ(m.modes[k].nu, static_cast<int>(k) + 1);
    EXPECT_EQ(m.modes[k].species.value_or("?"), c.species[k]);
    EXPECT_EQ(m.modes[k].degeneracy, c.degeneracy.empty() ? 1 : c.degeneracy[k]);
    EXPECT_EQ(static_cast<int>(m.modes[k].partners.size()), m.modes[k].degeneracy);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Molecules, LiteratureNumbering,
    ::testing::Values(
        NumberingCase{"water", {"A1", "A1", "B2"}, {}},
        NumberingCase{"ammonia", {"A1", "A1", "E", "E"}, {1, 1, 2, 2}},
        NumberingCase{"methane", {"A1", "E", "T2", "T2"}, {1, 2, 3, 3}},
        NumberingCase{"formaldehyde", {"A1", "A1", "A1", "B1", "B2", "B2"}, {}},
        NumberingCase{"ethylene",
                      {"Ag", "Ag", "Ag", "Au", "B1g", "B1g", "B1u", "B2g", "B2u", "B2u", "B3u", "B3u"},
                      {}},
        NumberingCase{"bf3", {"A1'", "A2''", "E'", "E'"}, {1, 1, 2, 2}},
        NumberingCase{"co2", {"Sigma_g+", "Pi_u", "Sigma_u+"}, {1, 2, 1}},
        NumberingCase{"hcn", {"Sigma+", "Pi", "Sigma+"}, {1, 2, 1}},
        NumberingCase{"acetylene", {"Sigma_g+", "Sigma_g+", "Sigma_u+", "Pi_g", "Pi_u"}, {1, 1, 1, 2, 2}}),
    [](const ::testing::TestParamInfo<NumberingCase>& info) { return std::string(info.param.molecule); });

// The other axes put planar water in xz: its antisymmetric stretch is B1,
// and the deck, check and modes all agree on it.
TEST(LiteratureNumbering, TheOtherAxesTradeB1AndB2) {
  const ModesReport report = valence_modes("water", "--axes other");
  const MassSetModes& m = report.problems.at(0).mass_sets.at(0);
  ASSERT_EQ(m.modes.size(), 3u);
  EXPECT_EQ(m.modes[0].species, "A1");
  EXPECT_EQ(m.modes[1].species, "A1");
  EXPECT_EQ(m.modes[2].species, "B1");
  EXPECT_TRUE(m.agree) << m.verdict;
}

// Isotopologues matched by species: every vibration of C2H4 to one of the
// same species in C2D4, each falling on deuteration, and the Teller–Redlich
// product rule, exact for a harmonic force field, met per species.
TEST(IsotopologueMatching, BySpeciesNothingRisesAndTheProductRuleHolds) {
  const ModesReport report = valence_modes("ethylene", "--isotopologue C2D4=3:D,4:D,5:D,6:D");
  const ProblemModes& p = report.problems.at(0);
  ASSERT_EQ(p.mass_sets.size(), 2u);
  const MassSetModes& light = p.mass_sets[0];
  const MassSetModes& heavy = p.mass_sets[1];
  ASSERT_EQ(heavy.matched_nu.size(), light.modes.size());
  for (std::size_t k = 0; k < light.modes.size(); ++k) {
    SCOPED_TRACE("nu" + std::to_string(light.modes[k].nu));
    ASSERT_EQ(heavy.matched_nu[k].size(), 1u);
    const ModeRow& partner = heavy.modes.at(static_cast<std::size_t>(heavy.matched_nu[k][0] - 1));
    EXPECT_EQ(partner.species, light.modes[k].species);
    EXPECT_LE(partner.wavenumber, light.modes[k].wavenumber + 1e-6);
  }
  EXPECT_TRUE(heavy.heavier);
  ASSERT_FALSE(heavy.product_rule.empty());
  for (const ProductRule& r : heavy.product_rule) {
    SCOPED_TRACE(r.species);
    // B listed to six decimals: the ratio to about 1e-5.
    EXPECT_NEAR(r.ratio / r.expected, 1.0, 1e-4);
  }
}

}  // namespace
}  // namespace korven::kit
