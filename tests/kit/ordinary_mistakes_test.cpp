// The mistakes a busy spectroscopist makes every week, each run through the
// real programs on the real faulty input: the message, the exit status, and
// that no file was half-written or lost.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "kit/io/deck_replay.h"
#include "kit_test_support.h"
#include "synthetic_hessians.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;
using testing::TempDir;

void build(const TempDir& dir, const std::string& molecule, const std::string& deck, const std::string& extra = "") {
  testing::spill(dir / (molecule + ".xyz"), testing::slurp(testing::kit_data("molecules/" + molecule + ".xyz")));
  const ProgramRun run = testing::run_korvenkit(dir.path(), "build " + molecule + ".xyz -o " + deck + " " + extra);
  ASSERT_EQ(run.status, 0) << run.err;
}

void run_korven(const TempDir& dir, const std::string& deck) {
  const std::string command = "cd '" + dir.path().string() + "' && '" KORVEN_BINARY "' " + deck + " </dev/null >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
}

// The deck's card with atom 2's y, its number moved one column to the left:
// ten times larger.
void shift_a_column(const TempDir& dir, const std::string& deck) {
  std::string text = testing::slurp(dir / deck);
  const std::regex card(R"(  2  2    0\.(\d{6}))");
  text = std::regex_replace(text, card, "  2  2   0$1.", std::regex_constants::format_first_only);
  testing::spill(dir / deck, text);
}

// A water Hessian from a valence force field at the deck's X, written as
// plain text in mdyn/Å, optionally turned by 0.5 rad about x with the
// turned geometry beside it.
void water_hessian(const TempDir& dir, bool turned, double unit) {
  const testing::ForceFieldMolecule w = testing::water();
  const std::vector<Vec3> x = replay_deck(dir / "W.DAT").problems.at(0).x;
  const Matrix b = testing::b_matrix(x, w.independent);
  Matrix h = b.transpose() * w.f * b;
  const double c = std::cos(0.5), s = std::sin(0.5);
  Mat3 r;
  r << 1, 0, 0, 0, c, -s, 0, s, c;
  if (turned) {
    Matrix k = Matrix::Zero(9, 9);
    for (int a = 0; a < 3; ++a) k.block<3, 3>(3 * a, 3 * a) = r;
    h = k * h * k.transpose();
    std::ostringstream xyz;
    xyz.precision(10);
    xyz << "3\nturned\n";
    const char* symbols[] = {"O", "H", "H"};
    for (int a = 0; a < 3; ++a) {
      const Vec3 p = r * x[static_cast<std::size_t>(a)];
      xyz << symbols[a] << " " << p.x() << " " << p.y() << " " << p.z() << "\n";
    }
    testing::spill(dir / "turned.xyz", xyz.str());
  }
  testing::spill(dir / "h.txt", testing::plain_text(h, unit));
}

struct Mistake {
  const char* name;
  std::function<void(const TempDir&)> setup;
  std::string args;
  int status;
  const char* says;                   // in standard error for status 2, standard output otherwise
  std::vector<std::string> unwritten;  // files that must not exist afterwards
};

class OrdinaryMistake : public ::testing::TestWithParam<Mistake> {};

TEST_P(OrdinaryMistake, SaysSoAndWritesNothingHalfWay) {
  const Mistake& c = GetParam();
  TempDir dir;
  c.setup(dir);
  if (::testing::Test::HasFatalFailure()) return;
  const ProgramRun run = testing::run_korvenkit(dir.path(), c.args);
  EXPECT_EQ(run.status, c.status) << run.out << run.err;
  const std::string& where = c.status == 2 ? run.err : run.out + run.err;
  EXPECT_TRUE(std::regex_search(where, std::regex(c.says))) << where;
  if (c.status == 2) {
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  for (const std::string& f : c.unwritten) EXPECT_FALSE(fs::exists(dir / f)) << f;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

const auto water = [](const TempDir& d) { build(d, "water", "W.DAT"); };

INSTANTIATE_TEST_SUITE_P(
    Cases, OrdinaryMistake,
    ::testing::Values(
        Mistake{"another_decks_listing",
                [](const TempDir& d) {
                  build(d, "water", "W.DAT");
                  build(d, "h2s", "V.DAT");
                  run_korven(d, "V.DAT");
                },
                "check W.DAT --listing V.OUT", 2, "^korvenkit: V.OUT: is not the listing of W.DAT: problem 1: ", {}},
        Mistake{"a_column_shifted", [](const TempDir& d) { water(d); shift_a_column(d, "W.DAT"); }, "check W.DAT", 1,
                "geometry: atom 2 \\(its X card\\) has no neighbour within 3 A", {}},
        Mistake{"a_card_changed_since_build",
                [](const TempDir& d) {
                  water(d);
                  std::string t = testing::slurp(d / "W.DAT");
                  const auto at = t.find("  2  2    0.");
                  t[at + 12] = static_cast<char>(t[at + 12] == '9' ? '8' : t[at + 12] + 1);
                  testing::spill(d / "W.DAT", t);
                },
                "check W.DAT --json", 1, "is [0-9.]+ A from the X cards, [0-9.]+ A on the deck's comment card", {}},
        Mistake{"hessian_in_another_frame", [](const TempDir& d) { water(d); water_hessian(d, true, 1); },
                "modes W.DAT --hessian h.txt --units mdyn/A", 2,
                "h.txt: the Hessian is in another orientation than the deck's X.*--hessian-geometry", {}},
        Mistake{"hessian_given_its_frame", [](const TempDir& d) { water(d); water_hessian(d, true, 1); },
                "modes W.DAT --hessian h.txt --units mdyn/A --hessian-geometry turned.xyz", 0,
                "the internal-coordinate and Cartesian wavenumbers agree|nu1 +A1", {}},
        Mistake{"hartree_read_as_mdyn",
                [](const TempDir& d) { water(d); water_hessian(d, false, testing::kHartreeBohr2); },
                "modes W.DAT --hessian h.txt --units mdyn/A", 2, "too soft for chemical bonds: is the file in hartree",
                {}},
        Mistake{"mdyn_read_as_hartree", [](const TempDir& d) { water(d); water_hessian(d, false, 1); },
                "modes W.DAT --hessian h.txt", 2, "too stiff for chemical bonds: is the file in mdyn/A", {}},
        Mistake{"a_deck_name_korven_cannot_take",
                [](const TempDir& d) {
                  testing::spill(d / "w.xyz", testing::slurp(testing::kit_data("molecules/water.xyz")));
                },
                "build w.xyz -o pyridine_sdf.DAT", 2, "pyridine_sdf.DAT: not a name korven can take", {"pyridine_sdf.DAT"}},
        Mistake{"a_file_in_bohr",
                [](const TempDir& d) {
                  testing::spill(d / "b.xyz", "3\nin bohr\nO 0 0 0.2217\nH 0 1.4309 -0.8867\nH 0 -1.4309 -0.8867\n");
                },
                "build b.xyz -o B.DAT", 0, "is this file in bohr\\?", {}},
        Mistake{"an_atom_named_twice",
                [](const TempDir& d) {
                  testing::spill(d / "water.xyz", testing::slurp(testing::kit_data("molecules/water.xyz")));
                }, "build water.xyz -o D.DAT --isotopologue D=2:D,2:T",
                2, "atom 2 is named twice", {"D.DAT"}},
        Mistake{"noise_hides_the_group",
                [](const TempDir& d) {
                  testing::spill(d / "n.xyz", "3\nnoisy\nO 0.02 0 0.1173\nH 0 0.7572 -0.4692\nH 0 -0.79 -0.4692\n");
                },
                "build n.xyz -o N.DAT --symmetry", 0, "is Cs, but C2v fits within 0.1 A: use --tolerance 0.1", {}},
        Mistake{"stored_u_shared_by_nd3",
                [](const TempDir& d) {
                  testing::spill(d / "nh3.xyz", testing::slurp(testing::kit_data("molecules/ammonia.xyz")));
                },
                "build nh3.xyz -o NH3.DAT --symmetry --isotopologue ND3=2:D,3:D,4:D", 0,
                "mass set ND3: point group C3v, [0-9]+ blocks \\(the stored U of the mass set before\\)", {}},
        Mistake{"problem_zero", water, "check W.DAT --problem 0", 2, "W.DAT: has 1 problem; --problem 0 names none", {}},
        Mistake{"export_of_a_refused_problem",
                [](const TempDir& d) {
                  testing::spill(d / "E.DAT", testing::slurp(fs::path(KORVEN_SOURCE_DIR) / "examples/errors/ERRORS.DAT"));
                },
                "export E.DAT --problem 2 -o out", 2, "E.DAT: nothing to export: problem 2: the engine listed no B",
                {"out"}},
        Mistake{"gaussian_input",
                [](const TempDir& d) {
                  testing::spill(d / "w.gjf",
                                 "%chk=w.chk\n# HF/6-31G* opt\n\nwater\n\n0 1\nO 0 0 0.1173\nH1 0 0.7572 -0.4692\n"
                                 "H 0 -0.7572 -0.4692\n\n");
                },
                "build w.gjf -o G.DAT", 0, "G.DAT: problem 1, 3 atoms, 3 internal coordinates", {}},
        Mistake{"gaussian_z_matrix",
                [](const TempDir& d) {
                  testing::spill(d / "z.com", "# HF\n\nwater\n\n0 1\nO\nH 1 0.96\nH 1 0.96 2 104.5\n\n");
                },
                "build z.com -o Z.DAT", 2, "z.com: line 6: not a Cartesian atom line \\(a Z-matrix is not read",
                {"Z.DAT"}}),
    [](const ::testing::TestParamInfo<Mistake>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korven::kit
