// The shared decompositions against matrices whose answers are known.
#include <gtest/gtest.h>

#include <random>

#include "kit/base/linalg.h"

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

// The sparse products against the dense ones, for a wide and a tall matrix
// whose rows repeat columns (they add up) and name columns outside it (left
// out).
TEST(Linalg, SparseProductsAreTheDenseOnes) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> value(-2, 2);
  for (const auto& [rows, columns] : {std::pair{9, 14}, std::pair{14, 9}}) {
    std::vector<SparseRow> sparse(rows);
    Matrix a = Matrix::Zero(rows, columns);
    for (int r = 0; r < rows; ++r)
      for (int k = 0; k < 4; ++k) {
        const int c = static_cast<int>(gen() % static_cast<unsigned>(columns + 2)) - 1;
        const double v = value(gen);
        sparse[r].emplace_back(c, v);
        if (c >= 0 && c < columns) a(r, c) += v;
      }
    const Vector w = Vector::Random(columns).cwiseAbs();
    const Matrix g = Matrix::Random(columns, columns);
    EXPECT_LT((weighted_row_products(sparse, w) - a * w.asDiagonal() * a.transpose()).norm(), 1e-12);
    EXPECT_LT((sandwich(sparse, g) - a * g * a.transpose()).norm(), 1e-12);
    const std::vector<double> s = singular_values(sparse, columns), d = singular_values(a);
    ASSERT_EQ(s.size(), d.size());
    for (std::size_t i = 0; i < s.size(); ++i) EXPECT_NEAR(s[i], d[i], 1e-12);
  }
}

}  // namespace
}  // namespace korven::kit
