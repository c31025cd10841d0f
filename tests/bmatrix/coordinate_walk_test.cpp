// The walk over the internal coordinate cards: what is echoed, numbered,
// combined and rejected, and the B rows it builds.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bmatrix/b_matrix.h"
#include "bmatrix/coordinate_walk.h"
#include "records/fp_trap.h"
#include "run_files.h"

namespace korven {
namespace {

using testing::ints_card;
using testing::RunFiles;

Problem problem_of(std::int32_t atoms) {
  Problem p;
  p.number = 7;
  p.atoms = atoms;
  p.coordinates = 20;
  return p;
}

// Four atoms on the axes: every stretch between two of them has elements.
const Positions kAtoms = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

struct Walk {
  bool ok;
  ElementList b;
  std::vector<std::int32_t> counts;
  std::vector<std::string> listing;
};

Walk walk(const std::string& cards, std::int32_t pair_row = 0) {
  FpTrapScope traps;
  RunFiles files(cards);
  Walk w{};
  w.ok = read_coordinates(files.deck(), files.listing_unit(), problem_of(4), kAtoms, w.b, pair_row, w.counts);
  if (w.ok) finish_b_list(w.b, w.counts);
  w.listing = files.listing();
  return w;
}

std::string entry(int no, int code, int i = 0, int j = 0, int k = 0, int l = 0) {
  return ints_card({no, code, i, j, k, l, 0, 0}, "");
}

std::string card(std::initializer_list<std::string> entries) {
  std::string c;
  for (const auto& e : entries) c += e.substr(0, 24);
  return c + "\n";
}

TEST(Coordinates, RowsComeFromTheWalkNotFromTheCard) {
  const Walk w = walk(card({entry(7, 1, 1, 2), entry(0, 0), entry(3, 0, 1, 3)}) +
                      card({entry(12, 1, 1, 4), entry(-1, 0)}));
  ASSERT_TRUE(w.ok);
  ASSERT_EQ(w.listing.size(), 6u);  // blank, two heading records, three echoes
  EXPECT_EQ(w.listing[3], "     1    1     1    2    0    0    0    0");
  EXPECT_EQ(w.listing[4], "     2    0     1    3    0    0    0    0");  // CODE 0: a stretch
  EXPECT_EQ(w.listing[5], "     3    1     1    4    0    0    0    0");
  EXPECT_EQ(w.b.back().row, -5);
  EXPECT_EQ(w.b[2].row, 2);
}

TEST(Coordinates, EndingEntryFirstOnItsCardEchoesNothingOfIt) {
  const Walk w = walk(card({entry(1, 1, 1, 2)}) + card({entry(-1, 0), entry(2, 1, 1, 3)}));
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(w.listing.size(), 4u);
  EXPECT_EQ(element_count(w.b), 2);
}

TEST(Coordinates, EachCombinedRowIsTheMeanOfItsOwnEntries) {
  // Row 1 sums two stretches, row 2 three; an entry with NO 0 and a negative
  // CODE is skipped and counts for nothing.
  const Walk w = walk(card({entry(1, 1, 1, 2), entry(0, 1, 1, 2), entry(0, -1, 1, 3)}) +
                      card({entry(1, 1, 1, 3), entry(0, 1, 1, 3), entry(0, 1, 1, 3)}) + card({entry(-1, 0)}));
  ASSERT_TRUE(w.ok);
  // Equal terms: each mean sums, column by column, to one term.
  std::map<std::pair<int, int>, double> sums;
  for (const Element& e : w.b) {
    if (e.row > 0) sums[{e.row, e.col}] += e.value;
  }
  EXPECT_EQ(sums.size(), 4u);
  for (const auto& [rc, sum] : sums) EXPECT_NEAR(std::fabs(sum), 1.0, 1e-6) << rc.first << "," << rc.second;
  EXPECT_EQ(w.listing.size(), 3u + 5u);  // the skipped entry has no echo
}

TEST(Coordinates, LinearBendTakesTwoRowsAndItsContinuationIsHalved) {
  const Positions line = {{-1, 0, 0}, {0, 0, 0}, {2, 0, 0}};
  FpTrapScope traps;
  RunFiles files(card({entry(1, 5, 1, 2, 3), entry(0, 6, 1, 2, 3)}) + "         0.0         1.0         0.0\n" +
                 "         0.0         0.0         1.0\n" + card({entry(1, 1, 1, 2), entry(-1, 0)}));
  ElementList b;
  std::vector<std::int32_t> counts;
  std::int32_t pair_row = 0;
  Problem p = problem_of(3);
  ASSERT_TRUE(read_coordinates(files.deck(), files.listing_unit(), p, line, b, pair_row, counts));
  finish_b_list(b, counts);
  EXPECT_EQ(pair_row, 2);
  // Row 1: the bend towards y; row 2: the continuation's bend towards z,
  // halved; the stretch is row 3.
  EXPECT_EQ(b[0].row, 1);
  EXPECT_FLOAT_EQ(b[0].value, -1.0f);
  EXPECT_EQ(b[3].row, 2);
  EXPECT_FLOAT_EQ(b[3].value, -0.5f);
  EXPECT_EQ(b[6].row, 3);
}

TEST(Coordinates, RejectionsWriteTheReportWithTheFieldsAsRead) {
  Walk w = walk(card({entry(1, 1, 1, 2), entry(5, 7, 1, 2)}));
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(w.listing.back(), "0INTERNAL COORDINATE ERROR:FIELD 2 READS   5   7   1   2   0   0   0   0 JOKER= 0");
  EXPECT_EQ(w.listing[w.listing.size() - 2], " ");
  w = walk(card({entry(1, 1, 1, 5)}));
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(w.listing.back(), "0INTERNAL COORDINATE ERROR:FIELD 1 READS   1   1   1   5   0   0   0   0 JOKER= 1");
  EXPECT_EQ(w.listing[w.listing.size() - 3], "     1    1     1    5    0    0    0    0");  // echoed first
}

}  // namespace
}  // namespace korven
