// The U matrix checks and normalisation, the block card, G' = U G U^T by
// blocks with the factoring test, and the U flows of the mass sets.
#include "gmatrix/symmetrized_g.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <thread>

#include "gmatrix/reference_g.h"
#include "run_files.h"
#include "records/fp_trap.h"
#include "records/record_io.h"
#include "records/run_end.h"

namespace korven {
namespace {

using namespace testing;
using Outcome = UTripleOutcome;
using Triples = std::vector<Element>;
constexpr Element kUEnd{-3, 0, 0.0f};

// A U list from triples that end with the -3 triple; a refusal fails the test.
ElementList u_list(std::int32_t count, std::int32_t nic, const Triples& triples) {
  ElementList u;
  UMatrixBuilder builder(count, nic, u);
  for (const Element& t : triples) EXPECT_NE(builder.take(t.row, t.col, t.value), Outcome::error);
  return u;
}

TEST(UMatrix, NormalisesRowsAndSkipsEmptyTriples) {
  const float h = static_cast<float>(1.0 / std::sqrt(2.0));
  const ElementList u = u_list(3, 4, {{0, 9, 5.f}, {1, 2, -3.f}, {2, 1, 1.f}, {0, 0, 0.f},
                                      {2, 4, -1.f}, {3, 3, 2.f}, {3, 4, 2.f}, kUEnd});
  const Triples expected{{1, 2, -1.f}, {2, 1, h}, {2, 4, -h}, {3, 3, h}, {3, 4, h}, kUEnd};
  ASSERT_EQ(u.size(), expected.size());
  for (std::size_t n = 0; n < u.size(); ++n) {
    EXPECT_EQ(u[n].row, expected[n].row);
    EXPECT_EQ(u[n].col, expected[n].col);
    EXPECT_EQ(u[n].value, expected[n].value);
  }
}

TEST(UMatrix, RefusedTriples) {
  // NIC 4; the last triple of each case is refused.
  const std::vector<std::pair<std::int32_t, Triples>> cases{
      {4, {{1, 1, 1.f}, {1, 2, 1.f}, {2, 1, 1.f}, {3, 2, 1.f}, kUEnd}},  // ends on row 3
      {4, {{1, 1, 1.f}, {3, 1, 1.f}, {2, 2, 1.f}}},                        // row goes back
      {4, {{1, 1, 1.f}, {5, 1, 1.f}}},                                      // row above the count
      {4, {{1, 1, 1.f}, {-2, 1, 1.f}}},                                     // negative, not -3
      {4, {{1, 1, 1.f}, {1, 0, 1.f}}},                                      // column 0
      {4, {{1, 1, 1.f}, {1, 5, 1.f}}},                                      // column above NIC
      {4, {{1, 1, 1.f}, {1, 2, 1.f}, {1, 1, 1.f}}},                         // column named twice
      {0, {{1, 1, 1.f}}},                                                   // count 0
  };
  for (const auto& [count, triples] : cases) {
    ElementList u;
    UMatrixBuilder builder(count, 4, u);
    for (std::size_t n = 0; n < triples.size(); ++n) {
      const Element& t = triples[n];
      EXPECT_EQ(builder.take(t.row, t.col, t.value) == Outcome::error, n + 1 == triples.size())
          << "row " << t.row << " column " << t.col;
    }
  }
  // The same column in different rows, and rows 1, 1, 2, 3 ending at the count: accepted.
  EXPECT_EQ(u_list(3, 4, {{1, 1, 1.f}, {1, 2, 1.f}, {2, 1, 1.f}, {3, 1, 1.f}, kUEnd}).size(), 5u);
}

TEST(UMatrix, ZeroSumOfSquaresTraps) {
  FpTrapScope traps;
  for (const Triples& triples :
       {Triples{{1, 1, 1.f}, {3, 1, 1.f}}, Triples{kUEnd}, Triples{{1, 1, 0.f}, {2, 1, 1.f}}}) {
    ElementList u;
    UMatrixBuilder builder(3, 2, u);
    try {
      for (const Element& t : triples) builder.take(t.row, t.col, t.value);
      ADD_FAILURE() << "no trap";
    } catch (const FloatingPointTrap& trap) {
      EXPECT_EQ(trap.number, kTrapDivideByZero);
    }
  }
}

TEST(BlockCard, FirstValueThatBreaksTheRule) {
  EXPECT_FALSE(check_block_card({1, 3, 5}, 4));
  EXPECT_FALSE(check_block_card({1, 999}, 998));
  struct Case {
    std::vector<std::int32_t> blocks;
    std::int32_t count, field, value;
  };
  for (const Case& c : std::vector<Case>{{{1}, 4, 0, 1},          {{2, 5}, 4, 1, 2},
                                          {{1, 3, 3, 5}, 4, 3, 3}, {{1, 5, 5}, 4, 2, 5},
                                          {{1, 3, 4}, 4, 3, 4},    {{1, 3, 6}, 4, 3, 6},
                                          {{1, 1}, 0, 2, 1},       {{1, 999}, 999, 2, 999}}) {
    const auto fault = check_block_card(c.blocks, c.count);
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->field, c.field);
    EXPECT_EQ(fault->value, c.value);
  }
}

TEST(SymmetrizedG, RandomProblemsAgreeWithDenseProduct) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE(trial);
    const int nic = 1 + static_cast<int>(rng() % 9), count = 1 + static_cast<int>(rng() % nic);
    ElementList g;
    std::vector<std::vector<double>> gd(nic + 1, std::vector<double>(nic + 1, 0.0));
    for (int i = 1; i <= nic; ++i)
      for (int j = i; j <= nic; ++j)
        if (rng() % 3 != 0) {
          g.push_back({i, j, unit(rng)});
          gd[i][j] = gd[j][i] = g.back().value;
        }
    g.push_back(kGEndEntry);
    Triples triples;
    std::vector<std::vector<double>> ud(count + 1, std::vector<double>(nic + 1, 0.0));
    for (int s = 1; s <= count; ++s) {
      for (int i = 1; i <= nic; ++i)
        if (i == 1 + s % nic || rng() % 3 == 0) {
          triples.push_back({s, i, unit(rng)});
          ud[s][i] = triples.back().value;
        }
      double norm = 0.0;
      for (double x : ud[s]) norm += x * x;
      for (double& x : ud[s]) x /= std::sqrt(norm);
    }
    triples.push_back(kUEnd);
    const ElementList u = u_list(count, nic, triples);
    SymmetrizedRows rows(g, u, nic, count);
    for (int s = 1; s <= count; ++s) {
      EXPECT_EQ(rows.next_row(), s);
      for (int k = s; k <= count; ++k) {
        double exact = 0.0, magnitude = 0.0;
        for (int i = 1; i <= nic; ++i)
          for (int j = 1; j <= nic; ++j) {
            exact += ud[s][i] * gd[i][j] * ud[k][j];
            magnitude += std::fabs(ud[s][i] * gd[i][j] * ud[k][j]);
          }
        EXPECT_NEAR(rows.value(k), exact, 1e-6 * (1.0 + 4.0 * magnitude)) << s << "," << k;
      }
    }
  }
}

std::vector<std::string> section(const ElementList& g, const ElementList& u,
                                 const std::vector<std::int32_t>& blocks, int count) {
  RunFiles files("");
  symmetrize_g(files.listing_unit(), 7, std::string(60, 'T'), blocks, g, u, count, count);
  return files.listing();
}

const std::string kReader = " This SYMMETRIZED G matrix is in the format read by ROSK";
const std::string kReport = " ERRORS UPON ERRORS, G NOT FACTORING.- ELEMENT IN ROW ";

TEST(SymmetrizedG, TwoByTwoExampleWithFactoringReport) {
  // a = 2, b = 0.5, c = 1: block 1 gets (a + 2b + c)/2 and (a - c)/2, block 2 (a - 2b + c)/2.
  const ElementList u = u_list(2, 2, {{1, 1, 1.f}, {1, 2, 1.f}, {2, 1, 1.f}, {2, 2, -1.f}, kUEnd});
  const std::vector<std::string> expected{
      " ", "           SYMMETRIZED G MATRIX ELEMENTS.", " PROBLEM NUMBER     7",
      std::string(60, 'T'), " SYMMETRY BLOCK NUMBER  1.", kReader,
      kReport + "  1, COLUMN   2, HAS VALUE  5.00000E-01",
      "  1  1    2.000000  1  2     .500000 -1  0     .000000", " SYMMETRY BLOCK NUMBER  2.",
      kReader, "  1  1    1.000000 -1  0     .000000"};
  EXPECT_EQ(section({{1, 1, 2.f}, {1, 2, .5f}, {2, 2, 1.f}, kGEndEntry}, u, {1, 2, 3}, 2),
            expected);
  // a = c: G' separates, no report.
  const auto records =
      section({{1, 1, 1.f}, {1, 2, .25f}, {2, 2, 1.f}, kGEndEntry}, u, {1, 2, 3}, 2);
  ASSERT_EQ(records.size(), 10u);
  EXPECT_EQ(records[6], "  1  1    1.250000 -1  0     .000000");
}

// The factoring report is written field for field; the write under its
// layout must give the same record.
TEST(SymmetrizedG, FactoringReportAsTheWriteUnderItsLayout) {
  const std::vector<float> values = awkward_reals(29, 500);
  const std::int32_t indices[] = {1, 2, -5, 99, 999, 1000, -100};
  RunFiles direct(""), layout("");
  for (std::size_t n = 0; n < values.size(); ++n) {
    const std::int32_t row = indices[n % 7], column = indices[(n / 7) % 7];
    write_factoring_report(direct.listing_unit(), row, column, values[n]);
    write_record(layout.listing_unit(),
                 "(1X,'ERRORS UPON ERRORS, G NOT FACTORING.- ELEMENT IN ROW ',I3,"
                 "', COLUMN ',I3,', HAS VALUE ',1P,E12.5)",
                 row, column, values[n]);
  }
  EXPECT_EQ(direct.listing(), layout.listing());
}

TEST(SymmetrizedG, BlocksNumberTheirRowsFromTheirFirstValue) {
  const ElementList identity =
      u_list(4, 4, {{1, 1, 1.f}, {2, 2, 1.f}, {3, 3, 1.f}, {4, 4, 1.f}, kUEnd});
  auto records = section(
      {{1, 1, 1.f}, {2, 2, 2.f}, {3, 3, 3.f}, {3, 4, .5f}, {4, 4, 4.f}, kGEndEntry}, identity,
      {1, 3, 5}, 4);
  EXPECT_EQ(records[6], "  1  1    1.000000  2  2    2.000000 -1  0     .000000");
  EXPECT_EQ(records[9], "  1  1    3.000000  1  2     .500000  2  2    4.000000 -1  0     .000000");
  // Blocks 1-2 and 3-4 that G' does not separate; block 2 has no element.
  records = section({{1, 1, 1.f}, {2, 3, .25f}, kGEndEntry}, identity, {1, 3, 5}, 4);
  EXPECT_EQ(records[6], kReport + "  2, COLUMN   3, HAS VALUE  2.50000E-01");
  EXPECT_EQ(records[7], "  1  1    1.000000  2  3     .250000 -1  0     .000000");
  EXPECT_EQ(records.back(), " -1  0     .000000");
}

TEST(SymmetrizedG, BlockOfMoreThanHundredElements) {
  // 16 coordinates, G' = G dense; block 1 = 1 ... 15 holds 135 elements, each
  // row's last one (column 16) a factoring report. The report of row 9 comes
  // after the first 100 elements were written.
  ElementList g;
  Triples identity;
  for (int i = 1; i <= 16; ++i) {
    identity.push_back({i, i, 1.0f});
    for (int j = i; j <= 16; ++j) g.push_back({i, j, 1.0f + 0.01f * i + 0.001f * j});
  }
  g.push_back(kGEndEntry);
  identity.push_back(kUEnd);
  const auto records = section(g, u_list(16, 16, identity), {1, 16, 17}, 16);
  std::string shape;  // R: report, E: element record
  std::vector<std::string> element_records;
  for (std::size_t n = 6; n + 3 < records.size(); ++n) {
    const bool report = records[n].starts_with(kReport);
    shape += report ? 'R' : 'E';
    if (!report) element_records.push_back(records[n]);
  }
  EXPECT_EQ(shape, std::string(8, 'R') + std::string(25, 'E') + std::string(7, 'R') +
                       std::string(9, 'E'));
  const std::vector<Element> listed = parse_elements(element_records);
  ASSERT_EQ(listed.size(), 136u);
  std::size_t n = 0;
  for (int i = 1; i <= 15; ++i)
    for (int j = i; j <= 16; ++j, ++n) {
      EXPECT_EQ(listed[n].row, i);
      EXPECT_EQ(listed[n].col, j);
    }
  EXPECT_EQ(listed[135].row, -1);
}

// Sections long enough for their rows to be formed ahead on the other
// thread, each against the plain loops: the same records, and a row whose t
// overflows traps in both, with the records before it the same.
TEST(SymmetrizedG, SectionsFormedAheadAreThePlainOnesUpToATrap) {
  FpTrapScope traps;
  struct Case {
    int count, trap_row;  // 0: none
  } const cases[] = {{40, 0}, {40, 1}, {40, 25}, {300, 0}, {300, 280}, {999, 990}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.count) + " " + std::to_string(c.trap_row));
    // G tridiagonal; U the identity but for its trap row, which takes two
    // coordinates where G is near the largest single.
    const float huge = 3.0e38f;
    ElementList g;
    for (int i = 1; i <= c.count; ++i) {
      const bool hot = c.trap_row != 0 && (i == c.trap_row || i == c.trap_row + 1);
      g.push_back({i, i, hot ? huge : 2.0f + 0.001f * static_cast<float>(i)});
      if (i < c.count) g.push_back({i, i + 1, i == c.trap_row ? huge : -0.5f});
    }
    g.push_back(kGEndEntry);
    Triples triples;
    for (int s = 1; s <= c.count; ++s) {
      triples.push_back({s, s, 1.0f});
      if (s == c.trap_row) triples.push_back({s, s + 1, 1.0f});
    }
    triples.push_back(kUEnd);
    const ElementList u = u_list(c.count, c.count, triples);
    const std::vector<std::int32_t> blocks{1, c.count / 2 + 1, c.count + 1};
    auto run = [&](auto&& form) {
      RunFiles files("");
      int trap = 0;
      try {
        form(files.listing_unit());
      } catch (const FloatingPointTrap& t) {
        trap = t.number;
      }
      return std::pair{trap, files.listing()};
    };
    const auto ahead = run([&](Unit& l) { symmetrize_g(l, 7, "T", blocks, g, u, c.count, c.count); });
    const auto plain = run([&](Unit& l) { reference::symmetrize_g(l, 7, "T", blocks, g, u, c.count, c.count); });
    EXPECT_EQ(ahead.first, c.trap_row ? kTrapOverflow : 0);
    EXPECT_EQ(ahead.first, plain.first);
    EXPECT_EQ(ahead.second, plain.second);

    // Left to run to its end, the worker forms every row before the trap
    // row, as one SymmetrizedRows does, and none from it on.
    RowsFormedAhead formed(c.count);
    formed.start(g, u, c.count);
    const auto start = std::chrono::steady_clock::now();
    while (!formed.stopped() && std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
      std::this_thread::yield();
    ASSERT_TRUE(formed.stopped());
    SymmetrizedRows rows(g, u, c.count, c.count);
    for (int s = 1; s <= c.count; ++s) {
      const RowsFormedAhead::Row* row = formed.take(s);
      if (c.trap_row != 0 && s >= c.trap_row) {
        EXPECT_EQ(row, nullptr) << s;
        continue;
      }
      ASSERT_NE(row, nullptr) << s;
      rows.next_row();
      ASSERT_EQ(row->columns, rows.columns()) << s;
      for (std::size_t n = 0; n < row->columns.size(); ++n)
        EXPECT_EQ(row->values[n], rows.value(row->columns[n])) << s << "," << row->columns[n];
    }
  }
}

// Mass sets of problem 7: two atoms of masses 1 and 2, NIC 2, G = (1.5, -0.5; -0.5, 1.5).
struct UFlow {
  std::vector<std::string> records;
  MassSetsEnd end;
};
UFlow run_u_flow(const std::string& cards, std::int32_t save, StoredU& stored) {
  RunFiles files(cards);
  ElementList b{{1, 1, -1.f}, {1, 4, 1.f}, {2, 1, 1.f}, {2, 4, 1.f}, {-5, 0, 0.f}};
  store_element_list(files.units(), kBScratchUnit, b);
  const MassSetsEnd end =
      run_mass_sets(files.units(), Problem{0, 7, 2, 2, save, "", ""}, b, stored);
  return {files.listing(), end};
}
const std::string kMasses = reals_cards({1.f, 2.f});
const std::string kUCards =
    triples_cards({{1, 1, 1.f}, {1, 2, 1.f}, {2, 1, 1.f}, {2, 2, -1.f}, kUEnd});
const std::string kNegative = ints_card({-6, -1, 3, 2}) + kMasses + ints_card({1, 2, 3});

TEST(MassSets, StoredUGivesTheSameSymmetrizedG) {
  StoredU stored;
  const UFlow flow = run_u_flow(ints_card({-6, 1, 3, 2}) + kMasses + kUCards +
                                    ints_card({1, 2, 3}) + kNegative + ints_card({-9}),
                                1, stored);
  EXPECT_EQ(flow.end.control, -9);
  EXPECT_TRUE(stored.usable);
  ASSERT_EQ(flow.records.size(), 2 * 19u);
  EXPECT_EQ(flow.records[15], "  1  1    1.000000 -1  0     .000000");
  EXPECT_EQ(flow.records[18], "  1  1    2.000000 -1  0     .000000");
  EXPECT_EQ(std::vector(flow.records.begin(), flow.records.begin() + 19),
            std::vector(flow.records.begin() + 19, flow.records.end()));
}

// g++ 12 at -O3 takes the nested braced lists of StoredU in this test for
// uninitialised (-Wmaybe-uninitialized), a false positive.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
TEST(MassSets, ReportsThatAbandonTheProblem) {
  const std::string positive = ints_card({-6, 1, 3, 2}) + kMasses;
  const std::string unusable = "0STORED U MATRIX UNUSABLE PROBLEM      7";
  struct Case {
    std::string cards;
    std::int32_t save;
    StoredU stored;
    std::string report;
  };
  for (Case c : std::vector<Case>{
           {kNegative, 1, {}, unusable},
           {positive + kUCards + ints_card({1, 2, 3}) + kNegative, 0, {}, unusable},
           {kNegative, 1, {{{1, 3, 1.f}, kUEnd}, true}, unusable},  // column above NIC
           {positive + triples_cards({{1, 1, 1.f}, {0, 0, 0.f}, {2, 1, 1.f}, {1, 2, 1.f}}), 1,
            {{{1, 1, 1.f}, kUEnd}, true},
            "0U MATRIX ERROR PROBLEM      7FIELD  4READS   1   2    1.000000"},
           {ints_card({-6, 1, 1, 2}) + kMasses + kUCards, 1, {},
            "0BLOCK CARD ERROR PROBLEM      7FIELD   0READS   1"},
           {positive + kUCards + ints_card({1, 3, 2}), 1, {},
            "0BLOCK CARD ERROR PROBLEM      7FIELD   2READS   3"}}) {
    SCOPED_TRACE(c.report);
    const UFlow flow = run_u_flow(c.cards, c.save, c.stored);
    EXPECT_TRUE(flow.end.search);
    ASSERT_GE(flow.records.size(), 2u);
    EXPECT_EQ(flow.records[flow.records.size() - 2], " ");
    EXPECT_EQ(flow.records.back(), c.report);
    if (c.report.starts_with("0U")) {
      EXPECT_FALSE(c.stored.usable);
    }
  }
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace
}  // namespace korven
