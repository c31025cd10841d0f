// The unsymmetrized G matrix: its values against B M^-1 B^T, the threshold,
// the order of its sums, and the mass-set listing section.
#include "gmatrix/g_matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "run_files.h"
#include "gmatrix/symmetrized_g.h"
#include "records/fp_trap.h"
#include "records/run_end.h"

namespace korven {
namespace {

using namespace testing;

constexpr Element kBEnd{-5, 0, 0.0f};

ElementList g_of(const ElementList& b, const std::vector<float>& masses, std::int32_t nic) {
  ElementList g;
  compute_unsymmetrized_g(b, masses, nic, g);
  return g;
}

// The value of element (i, j) of a G list, 0 when it is not listed.
float listed(const ElementList& g, std::int32_t i, std::int32_t j) {
  for (const Element& e : g)
    if (e.row == i && e.col == j) return e.value;
  return 0.0f;
}

TEST(UnsymmetrizedG, SmallListsAndThreshold) {
  // Two-atom stretch: G = 1/m1 + 1/m2.
  ElementList g = g_of({{1, 1, -1.0f}, {1, 4, 1.0f}, kBEnd}, {12.0f, 16.0f}, 1);
  ASSERT_EQ(g.size(), 2u);
  EXPECT_FLOAT_EQ(g[0].value, 1.0f / 12.0f + 1.0f / 16.0f);
  EXPECT_EQ(g[1].row, -1);

  EXPECT_EQ(g_of({kBEnd}, {1.0f}, 3).size(), 1u);

  // Row 2 has no B entry: nothing in its row or column; row 4 follows the last B row.
  g = g_of({{1, 1, 1.0f}, {3, 1, 2.0f}, kBEnd}, {1.0f}, 4);
  ASSERT_EQ(g.size(), 4u);
  EXPECT_EQ(g[1].col, 3);
  EXPECT_EQ(g[2].row, 3);

  // G(1, 2) = t exactly: dropped at the threshold, kept one step above it.
  const float above = std::nextafter(4.99999987E-05f, 1.0f);
  for (float t : {4.99999987E-05f, -4.99999987E-05f, above, -above}) {
    g = g_of({{1, 1, 1.0f}, {2, 1, t}, kBEnd}, {1.0f}, 2);
    const bool kept = std::fabs(t) == above;
    EXPECT_EQ(listed(g, 1, 2), kept ? t : 0.0f) << t;
    EXPECT_EQ(g.size(), kept ? 3u : 2u);
  }
}

TEST(UnsymmetrizedG, SumsRoundedAfterEveryAdditionInListOrder) {
  // Each tiny term is lost against 1.0 when the sum is rounded after every
  // addition; summed at double and rounded once they would add up to 2^-23.
  const float tiny = std::ldexp(1.0f, -25);
  const ElementList b{{1, 1, 1.0f}, {1, 1, tiny}, {1, 1, tiny}, {1, 1, tiny},
                      {2, 1, 1.0f}, {2, 1, tiny}, {2, 1, tiny}, {2, 1, tiny}, kBEnd};
  const ElementList g = g_of(b, {1.0f}, 2);
  EXPECT_EQ(listed(g, 1, 1), 1.0f);
  EXPECT_EQ(listed(g, 1, 2), 1.0f);
  // value * w * mu at double, rounded once: 1.3f * 1.3f / 3.
  EXPECT_EQ(listed(g_of({{1, 1, 1.3f}, kBEnd}, {3.0f}, 1), 1, 1), 0.5633333325386047f);
}

TEST(UnsymmetrizedG, RandomProblemsAgreeWithDenseProduct) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE(trial);
    const int atoms = 2 + static_cast<int>(rng() % 5), nic = 1 + static_cast<int>(rng() % 10);
    std::vector<float> masses(atoms);
    for (float& m : masses) m = 1.0f + 15.0f * std::fabs(unit(rng));
    ElementList b;
    for (int row = 1; row <= nic + 1; ++row) {  // row nic + 1 takes no part
      if (rng() % 5 == 0) continue;
      for (int n = 1 + static_cast<int>(rng() % 5); n > 0; --n)
        b.push_back({row, 1 + static_cast<int>(rng() % (3 * atoms)), unit(rng)});
    }
    // An entry of the first row behind all later rows, as a CODE 6 entry can
    // leave it: the same G, to the bit, as the list grouped by rows.
    if (trial % 2 == 1 && b.size() > 2) std::rotate(b.begin(), b.begin() + 1, b.end());
    ElementList grouped = b;
    std::stable_sort(grouped.begin(), grouped.end(),
                     [](const Element& x, const Element& y) { return x.row < y.row; });
    b.push_back(kBEnd);
    grouped.push_back(kBEnd);
    const ElementList g = g_of(b, masses, nic), g_grouped = g_of(grouped, masses, nic);
    ASSERT_EQ(g.size(), g_grouped.size());
    EXPECT_EQ(std::memcmp(g.data(), g_grouped.data(), g.size() * sizeof(Element)), 0);

    // Dense B M^-1 B^T at double; the error bound grows with the terms' magnitudes.
    std::vector<std::vector<double>> bd(nic + 1, std::vector<double>(3 * atoms + 1, 0.0));
    for (const Element& e : b)
      if (e.row > 0 && e.row <= nic) bd[e.row][e.col] += e.value;
    std::size_t at = 0;
    for (int i = 1; i <= nic; ++i)
      for (int j = i; j <= nic; ++j) {
        double exact = 0.0, magnitude = 0.0;
        for (int c = 1; c <= 3 * atoms; ++c) {
          exact += bd[i][c] * bd[j][c] / masses[(c - 1) / 3];
          magnitude += std::fabs(bd[i][c] * bd[j][c] / masses[(c - 1) / 3]);
        }
        const double tolerance = 1e-6 * (4.0 + magnitude);
        if (at < g.size() && g[at].row == i && g[at].col == j) {
          EXPECT_NEAR(g[at++].value, exact, tolerance) << i << "," << j;
        } else {
          EXPECT_LE(std::fabs(exact), kSizeThreshold + tolerance) << i << "," << j;
        }
      }
    EXPECT_EQ(at + 1, g.size()) << "elements out of order or outside the upper triangle";
  }
}

// Water, B rows built by hand: r1 (O-H1), r2 (O-H2), the bend H1-O-H2; then
// the symmetry coordinates r1 + r2, the bend (block A1) and r1 - r2 (B2).
TEST(UnsymmetrizedG, WaterMatchesClosedForms) {
  const double r = 0.9572, a = 104.52 * std::acos(-1.0) / 180.0, ca = std::cos(a);
  const double e1[2] = {std::sin(a / 2), std::cos(a / 2)}, e2[2] = {-e1[0], e1[1]};
  const double k = 1.0 / (r * std::sin(a));
  const double s1[2] = {(ca * e1[0] - e2[0]) * k, (ca * e1[1] - e2[1]) * k};
  const double s2[2] = {(ca * e2[0] - e1[0]) * k, (ca * e2[1] - e1[1]) * k};
  ElementList b;
  auto put = [&](int row, int atom, double x, double y) {
    b.push_back({row, 3 * atom - 2, static_cast<float>(x)});
    b.push_back({row, 3 * atom - 1, static_cast<float>(y)});
  };
  put(1, 1, -e1[0], -e1[1]), put(1, 2, e1[0], e1[1]);
  put(2, 1, -e2[0], -e2[1]), put(2, 3, e2[0], e2[1]);
  put(3, 1, -s1[0] - s2[0], -s1[1] - s2[1]), put(3, 2, s1[0], s1[1]), put(3, 3, s2[0], s2[1]);
  b.push_back(kBEnd);

  const float m_o = 15.994915f, m_h = 1.007825f;
  const ElementList g = g_of(b, {m_o, m_h, m_h}, 3);
  const double mu_o = 1.0 / m_o, mu_h = 1.0 / m_h;
  const double rr = mu_h + mu_o, rr2 = mu_o * ca, ra = -mu_o * std::sin(a) / r;
  const double aa = 2 * mu_h / (r * r) + 2 * mu_o * (1 - ca) / (r * r);
  const std::vector<Element> expected{{1, 1, float(rr)}, {1, 2, float(rr2)}, {1, 3, float(ra)},
                                      {2, 2, float(rr)}, {2, 3, float(ra)},  {3, 3, float(aa)},
                                      kGEndEntry};
  ASSERT_EQ(g.size(), expected.size());
  for (std::size_t n = 0; n < g.size(); ++n) {
    EXPECT_EQ(g[n].row, expected[n].row);
    EXPECT_EQ(g[n].col, expected[n].col);
    EXPECT_NEAR(g[n].value, expected[n].value, 2e-6 * (1 + std::fabs(expected[n].value)));
  }

  ElementList u;
  UMatrixBuilder builder(3, 3, u);
  for (const Element& t : std::vector<Element>{
           {1, 1, 1.f}, {1, 2, 1.f}, {2, 3, 1.f}, {3, 1, 1.f}, {3, 2, -1.f}, {-3, 0, 0.f}})
    builder.take(t.row, t.col, t.value);
  SymmetrizedRows rows(g, u, 3, 3);
  rows.next_row();
  EXPECT_NEAR(rows.value(1), rr + rr2, 4e-6);
  EXPECT_NEAR(rows.value(2), std::sqrt(2.0) * ra, 4e-6);
  EXPECT_LE(std::fabs(rows.value(3)), kSizeThreshold);
  rows.next_row();
  EXPECT_NEAR(rows.value(2), aa, 4e-6);
  EXPECT_LE(std::fabs(rows.value(3)), kSizeThreshold);
  rows.next_row();
  EXPECT_NEAR(rows.value(3), rr - rr2, 4e-6);
}

TEST(MassSets, GSectionWithSevenMasses) {
  RunFiles files(ints_card({-6, 0, 0, 0}, "WATER, NORMAL ISOTOPES") +
                 reals_cards({12.0f, 16.0f, 1.0f, 1.0f, 1.0f, 1.0f, 2.5f}) + ints_card({-9}));
  ElementList b{{1, 1, -1.0f}, {1, 4, 1.0f}, kBEnd};
  StoredU u;
  const MassSetsEnd end = run_mass_sets(files.units(), Problem{0, 12, 7, 1, 0, "", ""}, b, u);
  EXPECT_FALSE(end.search);
  EXPECT_EQ(end.control, -9);
  const std::vector<std::string> expected{
      " ",
      "           UNSYMMETRIZED G MATRIX ELEMENTS.",
      " PROBLEM NUMBER    12",
      "WATER, NORMAL ISOTOPES" + std::string(38, ' '),
      "      USING THE MASSES,    12.000000   16.000000    1.000000    1.000000    1.000000"
      "    1.000000",
      "     2.500000",
      "     1 NON-ZERO ELEMENTS.",
      " This G matrix is in the format read by ROSK",
      " ",
      "  1  1     .145833 -1  0     .000000"};
  EXPECT_EQ(files.listing(), expected);
}

TEST(MassSets, EveryMassSetReloadsTheStoredBList) {
  RunFiles files(ints_card({-6}) + reals_cards({1.0f, 1.0f}) + ints_card({-6}) +
                 reals_cards({2.0f, 2.0f}) + ints_card({999, 5, 5, 5}));
  ElementList b{{1, 1, -1.0f}, {1, 4, 1.0f}, kBEnd};
  store_element_list(files.units(), kBScratchUnit, b);
  b[1].value = 2.0f;  // only the stored list may be used
  StoredU u;
  EXPECT_EQ(run_mass_sets(files.units(), Problem{0, 1, 2, 1, 1, "", ""}, b, u).control, 999);
  const auto records = files.listing();
  ASSERT_EQ(records.size(), 18u);
  EXPECT_EQ(parse_elements({records[8]})[0].value, 2.0f);
  EXPECT_EQ(parse_elements({records[17]})[0].value, 1.0f);

  RunFiles other(ints_card({0, -6}));
  EXPECT_EQ(run_mass_sets(other.units(), Problem{}, b, u).control, 0);
  EXPECT_TRUE(other.listing().empty());
}

TEST(MassSets, ZeroMassTrapsAfterTheHeading) {
  RunFiles files(ints_card({-6, 0, 0, 0}) + reals_cards({1.0f, 0.0f}));
  ElementList b{{1, 1, -1.0f}, {1, 4, 1.0f}, kBEnd};
  StoredU u;
  FpTrapScope traps;
  try {
    run_mass_sets(files.units(), Problem{0, 3, 2, 1, 0, "", ""}, b, u);
    ADD_FAILURE() << "no trap";
  } catch (const FloatingPointTrap& trap) {
    EXPECT_EQ(trap.number, kTrapDivideByZero);
  }
  const auto records = files.listing();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[4], "      USING THE MASSES,     1.000000     .000000");
}

}  // namespace
}  // namespace korven
