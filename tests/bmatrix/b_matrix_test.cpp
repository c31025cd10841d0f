// The dispatch of entries by CODE with its row bookkeeping, the linear bend's
// reference-point card and listing records, the closing of the B list, the B
// section of the listing and the store in the first scratch file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bmatrix/b_matrix.h"
#include "bmatrix/kinds.h"
#include "bmatrix/test_support.h"
#include "run_files.h"
#include "records/fp_trap.h"
#include "records/record_io.h"
#include "records/run_end.h"

namespace korven {
namespace {

using testing::expect_elements;
using testing::positions;

// A deck, a listing and the first scratch file in a fresh directory, with
// the floating-point traps on as in a run.
class BMatrixFiles : public ::testing::Test {
 protected:
  void open(const std::string& deck) { files_ = std::make_unique<testing::RunFiles>(deck); }

  Unit& deck() { return files_->deck(); }
  Unit& listing_unit() { return files_->listing_unit(); }
  std::vector<std::string> listing() { return files_->listing(); }

  std::int32_t dispatch(const CoordinateEntry& entry, std::int32_t& current_row,
                        std::int32_t& pair_row, const Positions& x) {
    std::int32_t error = 0;
    dispatch_entry(entry, current_row, pair_row, error, b_, x,
                   static_cast<std::int32_t>(x.size()), deck(), listing_unit());
    return error;
  }

  // The next deck card as a reference point: shows that it was not read.
  Vec3 next_reference_point() {
    Vec3 p{};
    ReadStatement rd(deck(), "(3F12.6)");
    rd.read_real(p[0]).read_real(p[1]).read_real(p[2]);
    rd.end_read();
    return p;
  }

  FpTrapScope traps_;
  std::unique_ptr<testing::RunFiles> files_;
  ElementList b_;
};

// Atoms at -1, 0 and 2 on the x axis; the reference point (0, 1, 0).
const Positions kChain = positions({{-1, 0, 0}, {0, 0, 0}, {2, 0, 0}});
const std::string kUpCard = "    0.000000    1.000000    0.000000\n";
const std::vector<std::string> kChainRecords = {
    "     .000000    1.000000     .000000",  // the reference point
    "   -1.000000    1.000000     .000000",  // x of e_u, e_v, e_w
    "     .000000     .000000    1.000000",  // y
    "     .000000     .000000     .000000",  // z
    "   -1.000000     .000000",              // the two cosines
};

// ---------------------------------------------------------------- linear bend

TEST_F(BMatrixFiles, LinearBendWithOneAndWithTwoRows) {
  open(kUpCard + kUpCard);
  std::int32_t row = 4, pair = 0;
  EXPECT_EQ(dispatch({1, 6, 1, 2, 3, 0, 0, 0}, row, pair, kChain), 0);
  expect_elements(b_, {{4, 2, -1.0f}, {4, 8, -0.5f}, {4, 5, 1.5f}});
  EXPECT_EQ(row, 4);
  EXPECT_EQ(pair, 0);
  EXPECT_EQ(listing(), kChainRecords);

  // CODE 5 takes two row numbers. I is neither used nor checked with L > 0.
  b_.clear();
  EXPECT_EQ(dispatch({1, 5, 99, 1, 2, 3, 0, 0}, row, pair, kChain), 0);
  expect_elements(b_, {{4, 2, -1.0f}, {4, 8, -0.5f}, {4, 5, 1.5f},
                       {5, 3, -1.0f}, {5, 9, -0.5f}, {5, 6, 1.5f}});
  EXPECT_EQ(pair, 5);
  EXPECT_EQ(row, 5);
  EXPECT_EQ(listing().size(), 2 * kChainRecords.size());
}

TEST_F(BMatrixFiles, CodeSixWritesItsSecondComponentToThePairRow) {
  open(kUpCard);
  std::int32_t row = 8, pair = 3;  // scaled by the distance 3 of atoms 1 and 3
  EXPECT_EQ(dispatch({0, 6, 0, 1, 2, 3, 1, 3}, row, pair, kChain), 0);
  expect_elements(b_, {{8, 2, -3.0f}, {8, 8, -1.5f}, {8, 5, 4.5f},
                       {3, 3, -3.0f}, {3, 9, -1.5f}, {3, 6, 4.5f}});
  EXPECT_EQ(row, 8);
  EXPECT_EQ(pair, 3);
}

TEST_F(BMatrixFiles, LinearBendReferencePointNotPerpendicular) {
  // c2 = -0.0001: rejected after all five records; CODE 5 still moves on.
  open("    0.000100    1.000000    0.000000\n");
  std::int32_t row = 2, pair = 0;
  EXPECT_EQ(dispatch({1, 5, 1, 2, 3, 0, 0, 0}, row, pair, kChain), kDegenerateGeometry);
  const auto records = listing();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[4], "   -1.000000    -.000100");
  EXPECT_TRUE(b_.empty());
  EXPECT_EQ(pair, 3);
  EXPECT_EQ(row, 3);
}

TEST_F(BMatrixFiles, LinearBendNegativeLAfterTheCardIsEchoed) {
  open(kUpCard);
  std::int32_t row = 2, pair = 0;
  EXPECT_EQ(dispatch({1, 5, 1, 2, 3, -1, 0, 0}, row, pair, kChain), kFieldOutOfRange);
  EXPECT_EQ(listing(), std::vector<std::string>{kChainRecords[0]});
  EXPECT_TRUE(b_.empty());
  EXPECT_EQ(row, 3);
}

TEST_F(BMatrixFiles, LinearBendRangeErrorLeavesTheCardUnread) {
  open(kUpCard);
  const CoordinateEntry bad[] = {
      {1, 6, 1, 4, 3, 0, 0, 0},   // J above N
      {1, 6, 4, 2, 3, 0, 0, 0},   // I above N with L = 0
      {1, 6, 1, 2, 3, 4, 0, 0},   // L above N
      {1, 6, 0, 2, 3, 0, 0, 0},   // I names no atom
      {1, 6, 1, 2, 3, 0, 0, 4},   // JX above N
      {1, 6, 1, 2, 3, 0, 2, 0},   // a scale length without its second atom
      {1, 6, 1, 2, 0, -1, 0, 0},  // K names no atom, ahead of the read
  };
  for (const CoordinateEntry& e : bad) {
    std::int32_t row = 1, pair = 0;
    EXPECT_EQ(dispatch(e, row, pair, kChain), kFieldOutOfRange);
  }
  EXPECT_TRUE(listing().empty());
  EXPECT_TRUE(b_.empty());
  EXPECT_EQ(next_reference_point(), (Vec3{0, 1, 0}));
}

// ---------------------------------------------------------------- dispatch

TEST_F(BMatrixFiles, DispatchChoosesTheRoutineByCode) {
  open("");
  const Positions x = positions({{0, 0.5f, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0.3f}});
  const std::pair<decltype(&stretch_row), CoordinateEntry> cases[] = {
      {stretch_row, {1, 1, 1, 3, 0, 0, 0, 0}},      {stretch_row, {1, 0, 1, 3, 0, 0, 0, 0}},
      {stretch_row, {1, -4, 1, 3, 0, 0, 0, 0}},     {bend_row, {1, 2, 1, 2, 3, 0, 0, 0}},
      {out_of_plane_row, {1, 3, 1, 2, 3, 4, 0, 0}}, {torsion_row, {1, 4, 1, 2, 3, 4, 0, 0}},
  };
  for (const auto& [routine, e] : cases) {
    b_.clear();
    std::int32_t row = 7, pair = 2, error = 0;
    EXPECT_EQ(dispatch(e, row, pair, x), 0);
    EXPECT_EQ(row, 7);
    EXPECT_EQ(pair, 2);
    ElementList direct;
    routine(direct, x, 4, 7, e.i, e.j, e.k, e.l, e.ix, e.jx, error);
    ASSERT_FALSE(direct.empty());
    expect_elements(b_, direct);
  }
  std::int32_t row = 1, pair = 0;
  EXPECT_EQ(dispatch({1, 2, 1, 2, 3, 1, 0, 0}, row, pair, x), kFieldOutOfRange);
}

TEST_F(BMatrixFiles, RowsThatNameNoCoordinateAreRejectedBeforeTheCardIsRead) {
  open(kUpCard);
  struct Case {
    CoordinateEntry entry;
    std::int32_t row, pair;
  };
  const Case cases[] = {
      {{0, 6, 1, 2, 3, 0, 0, 0}, 0, 0},      // a continuation ahead of any coordinate
      {{0, 1, 1, 3, 0, 0, 0, 0}, 0, 0},
      {{1, 5, 1, 2, 3, 0, 0, 0}, 999, 0},    // its second row would be 1000
      {{1, 1, 1, 3, 0, 0, 0, 0}, 1000, 0},
      {{1, 6, 0, 1, 2, 3, 0, 0}, 1, 0},      // second component before any CODE 5
  };
  for (const Case& c : cases) {
    std::int32_t row = c.row, pair = c.pair;
    EXPECT_EQ(dispatch(c.entry, row, pair, kChain), kFieldOutOfRange);
    EXPECT_EQ(row, c.row);
    EXPECT_EQ(pair, c.pair);
  }
  EXPECT_TRUE(b_.empty());
  EXPECT_TRUE(listing().empty());
  EXPECT_EQ(next_reference_point(), (Vec3{0, 1, 0}));
}

TEST_F(BMatrixFiles, HighestRowsStillAccepted) {
  open(kUpCard + kUpCard);
  std::int32_t row = 998, pair = 0;
  EXPECT_EQ(dispatch({1, 5, 0, 1, 2, 3, 0, 0}, row, pair, kChain), 0);
  EXPECT_EQ(row, 999);
  EXPECT_EQ(dispatch({1, 6, 0, 1, 2, 3, 0, 0}, row, pair, kChain), 0);  // pair row 999
  EXPECT_EQ(b_.back().row, 999);
}

TEST_F(BMatrixFiles, LinearBendFollowedByContinuationIsAveraged) {
  // A CODE 5 entry (L = 0) on row 1, then a continuation entry of CODE 6
  // with its own reference point: the second row holds the continuation and
  // is divided by the continuation count 2.
  open(kUpCard + "    0.000000    0.000000    1.000000\n");
  std::int32_t row = 1, pair = 0;
  ASSERT_EQ(dispatch({1, 5, 1, 2, 3, 0, 0, 0}, row, pair, kChain), 0);
  ASSERT_EQ(dispatch({0, 6, 1, 2, 3, 0, 0, 0}, row, pair, kChain), 0);
  finish_b_list(b_, {1, 1, 2});
  expect_elements(b_, {{1, 2, -1.0f}, {1, 8, -0.5f}, {1, 5, 1.5f},
                       {2, 3, -0.5f}, {2, 9, -0.25f}, {2, 6, 0.75f}, {-5, 0, 0.0f}});
}

// ---------------------------------------------------------------- finish

TEST(FinishBList, DividesEachCombinedRowByItsEntryCount) {
  // Rows 1, 2, 2 from entries numbered 1, 1, 0; row 3 sums three entries;
  // row 4 lies beyond the counts and stays.
  ElementList b = {{1, 1, -1.0f}, {1, 4, 1.0f}, {2, 1, -1.0f}, {2, 7, 1.0f},
                   {2, 4, -0.6f}, {3, 2, 1.0f}, {4, 2, 1.0f}};
  finish_b_list(b, {1, 1, 2, 3});
  const float third = static_cast<float>(1.0 / 3);
  expect_elements(b, {{1, 1, -1.0f}, {1, 4, 1.0f}, {2, 1, -0.5f}, {2, 7, 0.5f},
                      {2, 4, -0.3f}, {3, 2, third}, {4, 2, 1.0f}, {-5, 0, 0.0f}});
  EXPECT_EQ(b[5].value, third);
  EXPECT_EQ(element_count(b), 7);

  ElementList empty;
  finish_b_list(empty, {});
  expect_elements(empty, {{-5, 0, 0.0f}});
  EXPECT_EQ(element_count(empty), 0);
}

// ---------------------------------------------------------------- listing

Problem titled_problem(std::int32_t number) {
  Problem p;
  p.number = number;
  p.title1 = std::string("FIRST TITLE") + std::string(69, ' ');
  p.title2 = std::string(79, ' ') + "Z";
  return p;
}

TEST_F(BMatrixFiles, ListingOfAnEmptyBList) {
  open("");
  finish_b_list(b_, {});
  write_b_listing(listing_unit(), titled_problem(7), b_);
  const Problem p = titled_problem(7);
  const std::vector<std::string> expected = {
      " ",
      "          B MATRIX ELEMENTS.",
      " PROBLEM NUMBER     7",
      p.title1,
      p.title2,
      "     0 NON-ZERO ELEMENTS.",
      " This B matrix is in the format read by TALMIR",
      " -5  0     .000000",
  };
  EXPECT_EQ(listing(), expected);
}

TEST_F(BMatrixFiles, ListingOfOneStretch) {
  open("");
  std::int32_t row = 1, pair = 0;
  ASSERT_EQ(dispatch({1, 1, 1, 2, 0, 0, 0, 0}, row, pair, positions({{0, 0, 0}, {1, 0, 0}})), 0);
  finish_b_list(b_, {1, 1});
  write_b_listing(listing_unit(), titled_problem(12), b_);
  const auto records = listing();
  ASSERT_EQ(records.size(), 8u);
  EXPECT_EQ(records[2], " PROBLEM NUMBER    12");
  EXPECT_EQ(records[5], "     2 NON-ZERO ELEMENTS.");
  EXPECT_EQ(records[7], "  1  1   -1.000000  1  4    1.000000 -5  0     .000000");
}

TEST_F(BMatrixFiles, ElementRecordsHoldFourEntries) {
  open("");
  b_ = {{1, 1, 0.5f},  {1, 2, -0.25f}, {2, 3, 1.0f}, {2, 4, 2.0f},
        {3, 5, 3.0f},  {3, 6, -4.0f}};
  finish_b_list(b_, {});
  write_b_listing(listing_unit(), titled_problem(1), b_);
  const auto records = listing();
  ASSERT_EQ(records.size(), 9u);
  EXPECT_EQ(records[5], "     6 NON-ZERO ELEMENTS.");
  EXPECT_EQ(records[7], "  1  1     .500000  1  2    -.250000  2  3    1.000000  2  4    2.000000");
  EXPECT_EQ(records[8], "  3  5    3.000000  3  6   -4.000000 -5  0     .000000");
}

// ---------------------------------------------------------------- store

TEST_F(BMatrixFiles, StoredListReloadsWhole) {
  open("");
  b_ = {{1, 1, -1.0f}, {1, 4, 1.0f}, {2, 7, 0.123456f}};
  finish_b_list(b_, {});
  store_b_list(files_->units(), b_);
  ElementList back;
  reload_element_list(files_->units(), kBScratchUnit, back, b_.size());
  expect_elements(back, b_);
  EXPECT_EQ(back[2].value, 0.123456f);

  // The record holds exactly nB + 1 entries.
  EXPECT_THROW(reload_element_list(files_->units(), kBScratchUnit, back, b_.size() + 1), RunFailure);

  // The next problem's store replaces the first record.
  ElementList next = {{1, 2, 0.5f}};
  finish_b_list(next, {});
  store_b_list(files_->units(), next);
  reload_element_list(files_->units(), kBScratchUnit, back, next.size());
  expect_elements(back, next);
}

}  // namespace
}  // namespace korven
