// The shared decompositions against matrices whose answers are known.
#include <gtest/gtest.h>

#include "kit/linalg.h"

namespace korven::kit {
namespace {

TEST(Linalg, RankAndGeneralizedInverseOfAKnownMatrix) {
  // Rows 1 and 2 span a plane; row 3 is their sum: rank 2.
  Matrix a(3, 3);
  a << 1, 0, 0, 0, 2, 0, 1, 2, 0;
  const std::vector<double> s = singular_values(a);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(numeric_rank(s, 1e-9), 2);
  const Matrix g = a * a.transpose();
  const Matrix gp = pseudo_inverse_symmetric(g, 1e-12);
  EXPECT_LT((g * gp * g - g).norm(), 1e-12);  // a generalized inverse
  EXPECT_LT((gp * g * gp - gp).norm(), 1e-12);
}

}  // namespace
}  // namespace korven::kit
