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

class LiteratureNumbering : public ::testing::TestWithParam<NumberingCase> {};

TEST_P(LiteratureNumbering, SpeciesOfEachNuAsPublished) {
  const NumberingCase& c = GetParam();
  testing::TempDir dir;
  testing::spill(dir / "m.xyz", testing::slurp(testing::kit_data(std::string("molecules/") + c.molecule + ".xyz")));
  const testing::ProgramRun built = testing::run_korvenkit(dir.path(), "build m.xyz -o M.DAT --symmetry");
  ASSERT_EQ(built.status, 0) << built.err;
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
  const ModesReport report = analyze_modes(deck, listing, o, "M.DAT");
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

}  // namespace
}  // namespace korven::kit
