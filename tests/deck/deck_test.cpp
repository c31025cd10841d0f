// The problem front: problem card, heading, sizes and the X matrix, what is
// stored, echoed and rejected.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "deck/problem_input.h"
#include "records/fp_trap.h"
#include "run_files.h"

namespace korven {
namespace {

using testing::RunFiles;
using testing::triples_cards;

Problem problem_of(std::int32_t atoms) {
  Problem p;
  p.number = 7;
  p.atoms = atoms;
  p.coordinates = 20;
  return p;
}

TEST(XMatrix, TriplesAreStoredUpToTheEndTriple) {
  FpTrapScope traps;
  RunFiles files(triples_cards({{0, 0, 0.0f}, {1, 2, 1.5f}, {2, 2, 9.0f}, {3, 1, -2.0f}}) +
                 triples_cards({{2, 2, 2.5f}, {-1, 0, 0.0f}, {1, 1, 7.0f}}));
  Positions x;
  ASSERT_TRUE(read_x_matrix(files.deck(), files.listing_unit(), problem_of(3), x));
  ASSERT_EQ(x.size(), 3u);
  EXPECT_EQ(x[1][0], 1.5f);
  EXPECT_EQ(x[1][1], 2.5f);  // a later triple replaces an earlier one
  EXPECT_EQ(x[0][2], -2.0f);
  EXPECT_EQ(x[0][0], 0.0f);  // after the end triple: echoed, not stored
  EXPECT_EQ(x[2][1], 0.0f);
  const auto listing = files.listing();
  ASSERT_EQ(listing.size(), 4u);
  EXPECT_EQ(listing[3].substr(20, 20), " -1   0      .000000");
}

TEST(XMatrix, BadTriplesAreReportedNeverStored) {
  for (const Element& bad : {Element{-2, 1, 1.0f}, Element{4, 1, 1.0f}, Element{1, 0, 1.0f}, Element{1, 4, 1.0f}}) {
    FpTrapScope traps;
    RunFiles files(triples_cards({{1, 1, 3.0f}, bad}));
    Positions x;
    EXPECT_FALSE(read_x_matrix(files.deck(), files.listing_unit(), problem_of(3), x));
    EXPECT_EQ(x[0][0], 3.0f);  // the triple ahead of it on the card was stored
    EXPECT_EQ(files.listing().back().substr(0, 38), "0X MATRIX ERROR PROBLEM      7FIELD  2");
  }
}

TEST(ProblemFront, SizesTheListingCannotShowAreRefused) {
  FpTrapScope traps;
  RunFiles files("");
  for (auto [atoms, nic, ok] : {std::tuple{1, 1, true}, {333, 999, true}, {334, 3, false}, {3, 1000, false},
                                {0, 3, false}, {3, -1, false}}) {
    Problem p = problem_of(atoms);
    p.coordinates = nic;
    EXPECT_EQ(check_problem_size(files.listing_unit(), p), ok) << atoms << " " << nic;
  }
  EXPECT_EQ(files.listing().back(), "0PROBLEM SIZE ERROR PROBLEM      7ATOMS     3COORDINATES    -1");
}

}  // namespace
}  // namespace korven
