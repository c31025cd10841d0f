// The shared pieces: text helpers, files written whole, the child process,
// the internal-coordinate kinds and their one spelling, and the problem
// view's choices.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>

#include "kit/base/atomic_file.h"
#include "kit/base/kit_error.h"
#include "kit/base/sandbox.h"
#include "kit/base/text.h"
#include "kit/commands/problem_view.h"
#include "kit/model/internal_coordinate.h"
#include "kit_test_support.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;

TEST(Text, FormatPluralTrimAndJoin) {
  EXPECT_EQ(format("%5.2f|%-3s|%d", 3.14159, "a", 42), " 3.14|a  |42");
  EXPECT_EQ(format("%s", std::string(300, 'x').c_str()).size(), 300u);
  EXPECT_EQ(format("%s", ""), "");
  EXPECT_EQ(plural(1, "vibration"), "1 vibration");
  EXPECT_EQ(plural(0, "vibration"), "0 vibrations");
  EXPECT_EQ(trimmed_right("WATER   "), "WATER");
  EXPECT_EQ(trimmed_right("  "), "");
  EXPECT_EQ(join({1, 4, 7}), "1, 4, 7");
  EXPECT_EQ(join({}, "-"), "");
}

TEST(AtomicFile, WrittenWholeReplacedOnlyWithForce) {
  testing::TempDir dir;
  const fs::path file = dir / "out.txt";
  write_file_atomically(file, "first\n", false);
  EXPECT_EQ(testing::slurp(file), "first\n");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::others_read, fs::perms::others_read);
  try {
    write_file_atomically(file, "second\n", false);
    ADD_FAILURE() << "replaced without force";
  } catch (const InputError& e) {
    EXPECT_EQ(std::string(e.what()), file.string() + ": exists; use --force to replace it");
  }
  write_file_atomically(file, "second\n", true);
  EXPECT_EQ(testing::slurp(file), "second\n");
  fs::create_directory(dir / "folder");
  EXPECT_THROW(write_file_atomically(dir / "folder", "x", true), InputError);
  try {
    write_file_atomically(dir / "no" / "such" / "folder.txt", "x", false);
    ADD_FAILURE() << "wrote into a missing folder";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot write in its folder"), std::string::npos) << e.what();
  }
  // Nothing but the two files is left behind.
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) entries += entry.path().filename() != "folder";
  EXPECT_EQ(entries, 1);
}

TEST(AtomicFile, AFolderStandsUntilItsReplacementIsWhole) {
  testing::TempDir dir;
  const fs::path out = dir / "export";
  const auto fill = [](const std::string& text) {
    return [text](const fs::path& temp) { testing::spill(temp / "a.txt", text); };
  };
  const auto anything = [](const fs::path&) {};
  write_folder_atomically(out, false, anything, fill("one"));
  EXPECT_EQ(testing::slurp(out / "a.txt"), "one");
  EXPECT_THROW(write_folder_atomically(out, false, anything, fill("two")), InputError);
  // A failure while filling leaves the old folder as it was, and no other.
  EXPECT_THROW(write_folder_atomically(out, true, anything, [](const fs::path&) { throw InputError("full"); }),
               InputError);
  EXPECT_EQ(testing::slurp(out / "a.txt"), "one");
  // The caller's refusal keeps the folder too.
  const auto refuse = [](const fs::path& d) { throw InputError(d.string() + ": not ours"); };
  EXPECT_THROW(write_folder_atomically(out, true, refuse, fill("two")), InputError);
  write_folder_atomically(out, true, anything, fill("three"));
  EXPECT_EQ(testing::slurp(out / "a.txt"), "three");
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) entries += entry.path() != out;
  EXPECT_EQ(entries, 0);
}

TEST(Sandbox, TheChildsReplyOrWhyThereIsNone) {
  EXPECT_EQ(run_in_child([] { return std::string("reply"); }, 10).reply, "reply");
  const ChildOutcome crash = run_in_child([]() -> std::string { raise(SIGSEGV); return ""; }, 10);
  EXPECT_EQ(crash.kind, ChildOutcome::crashed);
  EXPECT_EQ(crash.code, SIGSEGV);
  const ChildOutcome thrown = run_in_child([]() -> std::string { throw std::runtime_error("no"); }, 10);
  EXPECT_EQ(thrown.kind, ChildOutcome::failed);
  EXPECT_EQ(thrown.code, 3);
  const ChildOutcome hung = run_in_child([]() -> std::string { pause(); return ""; }, 1);
  EXPECT_EQ(hung.kind, ChildOutcome::timed_out);
  // Large replies come through the pipe whole.
  EXPECT_EQ(run_in_child([] { return std::string(1 << 20, 'z'); }, 10).reply.size(), std::size_t{1} << 20);
}

struct LabelCase {
  const char* name;
  CoordinateEntry entry;
  int component;
  const char* label;
};

class EntryLabel : public ::testing::TestWithParam<LabelCase> {};

// The deck's entries spelled as the comment cards of `build` spell them.
TEST_P(EntryLabel, IsTheOneSpelling) {
  DeckProblem p;
  p.entries = {GetParam().entry};
  const DeckRow row{1, {0}, GetParam().component};
  EXPECT_EQ(row_label(p, row, {"C", "C", "H", "H", "O"}), GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EntryLabel,
    ::testing::Values(LabelCase{"stretch", {1, 1, 1, 3, 0, 0, 0, 0, {}}, 0, "STRETCH C1-H3"},
                      LabelCase{"code_zero_is_a_stretch", {1, 0, 2, 5, 0, 0, 0, 0, {}}, 0, "STRETCH C2-O5"},
                      LabelCase{"bend", {1, 2, 3, 1, 4, 0, 0, 0, {}}, 0, "BEND H3-C1-H4"},
                      LabelCase{"out_of_plane", {1, 3, 5, 2, 1, 3, 0, 0, {}}, 0, "OUT-OF-PLANE O5-C2-C1-H3"},
                      LabelCase{"torsion", {1, 4, 3, 1, 2, 4, 0, 0, {}}, 0, "TORSION H3-C1-C2-H4"},
                      LabelCase{"linear_pair_first", {1, 5, 0, 3, 1, 2, 0, 0, {}}, 1, "LINEAR BEND(1) H3-C1-C2"},
                      LabelCase{"linear_pair_second", {1, 5, 0, 3, 1, 2, 0, 0, {}}, 2, "LINEAR BEND(2) H3-C1-C2"},
                      LabelCase{"linear_lone", {1, 6, 3, 1, 2, 0, 0, 0, {}}, 0, "LINEAR BEND H3-C1-C2"},
                      LabelCase{"scaled_bend", {1, 2, 3, 1, 4, 0, 1, 4, {}}, 0, "BEND H3-C1-H4 TIMES R(C1-H4)"},
                      LabelCase{"atom_beyond_symbols", {1, 1, 1, 7, 0, 0, 0, 0, {}}, 0, "STRETCH C1-7"}),
    [](const ::testing::TestParamInfo<LabelCase>& info) { return info.param.name; });

TEST(InternalCoordinate, KindsAndTheirCodesAndLabels) {
  for (CoordinateKind k : {CoordinateKind::stretch, CoordinateKind::bend, CoordinateKind::linear_bend,
                           CoordinateKind::out_of_plane, CoordinateKind::torsion}) {
    EXPECT_EQ(traits(k).kind, k);
    EXPECT_EQ(kind_of_code(traits(k).code), k);
  }
  EXPECT_LT(traits(CoordinateKind::stretch).preference, traits(CoordinateKind::torsion).preference);
  EXPECT_EQ(kind_of_code(-3), CoordinateKind::stretch);
  EXPECT_EQ(kind_of_code(6), CoordinateKind::linear_bend);
  InternalCoordinate lb{CoordinateKind::linear_bend, {0, 1, 2, -1}, 2, Vec3::UnitX()};
  EXPECT_EQ(coordinate_label(lb, {"O", "C", "O"}), "LINEAR BEND(2) O1-C2-O3");
  InternalCoordinate oop{CoordinateKind::out_of_plane, {3, 0, 1, 2}, 0, Vec3::Zero()};
  EXPECT_EQ(coordinate_label(oop, {"N", "H", "H", "H"}), "OUT-OF-PLANE H4-N1-H2-H3");
  DeckProblem p;
  p.entries = {{1, 1, 1, 2, 0, 0, 0, 0, {}}, {0, 1, 1, 3, 0, 0, 0, 0, {}}};
  EXPECT_EQ(row_label(p, {1, {0, 1}, 0}, {"O", "H", "H"}), "MEAN OF STRETCH O1-H2, STRETCH O1-H3");
  EXPECT_EQ(row_label(p, {4, {}, 0}, {"O", "H", "H"}), "ROW 4");
}

TEST(ProblemView, ChoosesProblemsAndSaysWhyNot) {
  EXPECT_EQ(chosen_problems("D.DAT", 3, std::nullopt, false), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(chosen_problems("D.DAT", 3, 2, true), (std::vector<int>{2}));
  EXPECT_EQ(chosen_problems("D.DAT", 1, std::nullopt, true), (std::vector<int>{1}));
  const auto message = [](std::size_t count, std::optional<int> requested, bool need_one) {
    try {
      chosen_problems("D.DAT", count, requested, need_one);
    } catch (const InputError& e) {
      return std::string(e.what());
    }
    return std::string("(accepted)");
  };
  EXPECT_EQ(message(3, 0, false), "D.DAT: has 3 problems; --problem 0 names none of them");
  EXPECT_EQ(message(1, 2, false), "D.DAT: has 1 problem; --problem 2 names none of them");
  EXPECT_EQ(message(2, std::nullopt, true),
            "D.DAT: holds 2 problems; a Hessian is for one molecule: choose one with --problem");
  EXPECT_EQ(message(0, std::nullopt, true), "D.DAT: holds no problem");
}

// B, G and U share the engine's G size: NIC even where the walk numbers
// fewer rows, and the deck's comment cards name the rows they describe.
TEST(ProblemView, RowsOfBAreTheEnginesGSize) {
  Deck deck;
  deck.comments = {"    P7 C  1  STRETCH O1-H2  0.957200 A"};
  DeckProblem p;
  p.number = 7;
  p.nic = 3;
  p.x = {Vec3::Zero(), Vec3(0, 0.76, 0.59), Vec3(0, -0.76, 0.59)};
  p.entries = {{1, 1, 1, 2, 0, 0, 0, 0, {}}, {2, 1, 1, 3, 0, 0, 0, 0, {}}};
  p.mass_sets.push_back({"H2O", {15.994915, 1.007825, 1.007825}, 0, 0, {}, {}});
  deck.problems = {p};
  const ProblemView v(deck, nullptr, 1, "W.DAT");
  EXPECT_EQ(v.b_rows, 3);
  EXPECT_EQ(v.rows.size(), 2u);
  EXPECT_EQ(v.labels, (std::vector<std::string>{"STRETCH O1-H2", "STRETCH O1-H3", "ROW 3"}));
  EXPECT_EQ(v.symbols, (std::vector<std::string>{"O", "H", "H"}));
  EXPECT_FALSE(v.has_b());
  EXPECT_TRUE(v.mass_sets.empty());
  EXPECT_EQ(v.vibrations, 3);
  EXPECT_EQ(v.symmetrization_shift(), 0.0);
}

}  // namespace
}  // namespace korven::kit
