// The program as a user meets it: exit statuses and one-line errors for
// every command, from a table of command lines.
#include <gtest/gtest.h>

#include "kit_test_support.h"

namespace korven::kit {
namespace {

using testing::run_korvenkit;

constexpr const char* kWater = "3\nwater\nO 0 0 0.1173\nH 0 0.7572 -0.4692\nH 0 -0.7572 -0.4692\n";

// A water deck with only the two stretches: one vibration undescribed.
constexpr const char* kIncomplete =
    " -9\n  0     1   3   2   0\nWATER\nTWO STRETCHES\n"
    "  2  2    0.757200  3  2   -0.520862  2  3   -0.757200  3  3   -0.520862\n"
    "  3  1    0.065638 -1  0    0.000000\n"
    "  1  1  1  2  0  0  0  0  1  1  1  3  0  0  0  0 -1\n"
    " -6  0  0  0H2O\n   15.994915    1.007825    1.007825\n999\n";

TEST(Cli, StatusAndErrorLineOfEachCommandLine) {
  testing::TempDir dir;
  testing::spill(dir / "water.xyz", kWater);
  testing::spill(dir / "one.xyz", "1\nneon\nNe 0 0 0\n");
  testing::spill(dir / "empty.xyz", "");
  testing::spill(dir / "TWO.DAT", kIncomplete);
  std::string zero = kIncomplete;
  zero.replace(zero.find("15.994915"), 9, " 0.000000");
  testing::spill(dir / "ZERO.DAT", zero);
  struct Case {
    std::string args, input;
    int status;
    std::string in_out, in_err;  // text the output or the error line must hold
  } cases[] = {
      {"--version", "", 0, "korvenkit 1.0", ""},
      {"--help", "", 0, "build", ""},
      {"build --help", "", 0, "--isotopologue", ""},
      {"check --help", "", 0, "--listing", ""},
      {"", "", 2, "", ""},
      {"frobnicate", "", 2, "", "frobnicate is not a command"},
      {"build", "", 2, "", "GEOMETRY"},
      {"build water.xyz --coordinates some", "", 2, "", "--coordinates"},
      {"build water.xyz", "", 0, "WATER.DAT", ""},
      {"build water.xyz", "", 2, "", "WATER.DAT: exists; use --force"},
      {"build empty.xyz -o WATER.DAT", "", 2, "", "empty.xyz"},  // the geometry's fault comes first
      {"build water.xyz --force --symmetry --tolerance 0.6", "", 2, "", "--tolerance"},
      {"build water.xyz --force --isotopologue D2O=2:D,3:D", "", 0, "2 mass sets", ""},
      {"build water.xyz -o W2.DAT --isotopologue X=4:D", "", 2, "", "has no atom 4"},
      {"build water.xyz -o W2.DAT --isotopologue X=2:99H", "", 2, "", "unknown isotope 99H"},
      {"build water.xyz -o W2.DAT --isotopologue X=1:D", "", 2, "", "atom 1 is O, not H"},
      {"build missing.xyz", "", 2, "", "missing.xyz"},
      {"build empty.xyz", "", 2, "", "empty.xyz"},
      {"build one.xyz", "", 2, "", "a single atom has no internal coordinates"},
      {"build -", kWater, 2, "", "needs --format and -o"},
      {"build - --format xyz -o STDIN.DAT", kWater, 0, "STDIN.DAT", ""},
      {"check WATER.DAT", "", 0, "complete: 3 coordinates, 3 vibrations", ""},
      {"check STDIN.DAT --json", "", 0, "\"missing\": 0", ""},
      {"check TWO.DAT", "", 1, "incomplete: 1 vibration not described", ""},
      {"check TWO.DAT --json --problem 1", "", 1, "\"missing\": 1", ""},
      {"check TWO.DAT --problem 2", "", 2, "", "--problem 2 names none"},
      {"check ZERO.DAT", "", 2, "", "ZERO.DAT: KORVEN ended with a run-time failure"},
      {"check NONE.DAT", "", 2, "", "NONE.DAT"},
      {"check WATER.DAT --listing NONE.OUT", "", 2, "", "NONE.OUT"},
      {"check WATER.DAT --listing water.xyz", "", 2, "", "water.xyz"},
      {"export NONE.DAT", "", 2, "", "NONE.DAT"},
      {"export WATER.DAT -o EXP", "", 0, "", ""},
      {"export WATER.DAT -o EXP", "", 2, "", "EXP"},
      {"view NONE.DAT", "", 2, "", "NONE.DAT"},
      {"view WATER.DAT --problem 2", "", 2, "", "--problem 2"},
      {"view WATER.DAT", "", 0, "", ""},
  };
  for (const Case& c : cases) {
    const auto run = run_korvenkit(dir.path(), c.args, c.input);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.out << run.err;
    EXPECT_NE(run.out.find(c.in_out), std::string::npos) << c.args << "\n" << run.out;
    EXPECT_NE(run.err.find(c.in_err), std::string::npos) << c.args << "\n" << run.err;
    if (c.status == 2 && !c.in_err.empty()) {
      EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << c.args << ": one line\n" << run.err;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "W2.DAT"));
}

}  // namespace
}  // namespace korven::kit
