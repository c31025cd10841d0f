// The kit's B rows against central differences of each coordinate's value,
// and the greedy independent subset against ranks counted independently.
#include <gtest/gtest.h>

#include <random>

#include "kit/coordinates/independence.h"
#include "kit/coordinates/wilson_b.h"

namespace korven::kit {
namespace {

std::vector<Vec3> random_positions(std::mt19937& rng, int n) {
  std::uniform_real_distribution<double> u(-1.5, 1.5);
  std::vector<Vec3> x;
  for (int a = 0; a < n; ++a) x.emplace_back(u(rng), u(rng), u(rng));
  return x;
}

TEST(WilsonB, EveryKindIsTheGradientOfItsValue) {
  std::mt19937 rng(7);
  const Vec3 d = Vec3(0, 0, 1);
  struct Case { InternalCoordinate c; } cases[] = {
      {{CoordinateKind::stretch, {0, 1, -1, -1}, 0, Vec3::Zero()}},
      {{CoordinateKind::bend, {0, 1, 2, -1}, 0, Vec3::Zero()}},
      {{CoordinateKind::out_of_plane, {0, 1, 2, 3}, 0, Vec3::Zero()}},
      {{CoordinateKind::torsion, {0, 1, 2, 3}, 0, Vec3::Zero()}},
  };
  for (int trial = 0; trial < 50; ++trial) {
    const std::vector<Vec3> x = random_positions(rng, 4);
    for (const Case& k : cases) {
      const Matrix b = wilson_b_matrix(x, {k.c});
      for (int col = 0; col < 12; ++col) {
        std::vector<Vec3> plus = x, minus = x;
        const double h = 1e-6;
        plus[col / 3](col % 3) += h;
        minus[col / 3](col % 3) -= h;
        const double fd = (coordinate_value(plus, k.c) - coordinate_value(minus, k.c)) / (2 * h);
        EXPECT_NEAR(b(0, col), fd, 1e-5 * (1 + std::abs(fd))) << "kind " << int(k.c.kind) << " column " << col;
      }
    }
  }
  // A straight chain along x bending towards z: the gradient at the straight
  // geometry of its value.
  const std::vector<Vec3> line{Vec3(-1.1, 0, 0), Vec3(0, 0, 0), Vec3(1.3, 0, 0)};
  const InternalCoordinate lb{CoordinateKind::linear_bend, {0, 1, 2, -1}, 1, d};
  const Matrix b = wilson_b_matrix(line, {lb});
  for (int col = 0; col < 9; ++col) {
    std::vector<Vec3> plus = line, minus = line;
    plus[col / 3](col % 3) += 1e-6;
    minus[col / 3](col % 3) -= 1e-6;
    const double fd = (coordinate_value(plus, lb) - coordinate_value(minus, lb)) / 2e-6;
    EXPECT_NEAR(b(0, col), fd, 1e-6) << "linear bend column " << col;
  }
}

TEST(Independence, KeepsAMaximalSubsetInPreferenceOrder) {
  // Rows in R^4: a, b, a + b, c, 2c, d. The sum is preferred (rank 0) and
  // kept; of a and b (rank 1) only one is then independent, the lower on a
  // tie; of c and 2c (rank 2) the longer residual fraction ties too.
  const SparseRow a{{0, 1.0}}, b{{1, 1.0}}, sum{{0, 1.0}, {1, 1.0}}, c{{2, 1.0}, {3, 0.5}},
      c2{{2, 2.0}, {3, 1.0}}, dd{{3, 1.0}};
  const std::vector<SparseRow> rows{a, b, sum, c, c2, dd};
  EXPECT_EQ(independent_rows(rows, 4, {1, 1, 0, 2, 2, 3}), (std::vector<bool>{true, false, true, true, false, true}));
  // Within a kind the row that adds most goes first: d before c here, and
  // then c still adds its (2, 0.5) direction.
  EXPECT_EQ(independent_rows({dd, c, SparseRow{{3, 2.0}}}, 4, {0, 0, 0}), (std::vector<bool>{true, true, false}));
  // At most `limit` rows.
  EXPECT_EQ(independent_rows(rows, 4, {0, 0, 0, 0, 0, 0}, 2), (std::vector<bool>{true, true, false, false, false, false}));
  // Entries of one column add up: {0: 0.5, 0: 0.5} is the row a.
  const std::vector<bool> split = independent_rows({a, SparseRow{{0, 0.5}, {0, 0.5}}}, 4, {0, 1});
  EXPECT_EQ(split, (std::vector<bool>{true, false}));
  // The count equals the rank of the dense matrix on random sparse rows.
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> col(0, 29);
  std::normal_distribution<double> val;
  std::vector<SparseRow> random;
  Matrix dense = Matrix::Zero(60, 30);
  for (int r = 0; r < 60; ++r) {
    SparseRow row;
    for (int e = 0; e < (r % 7 == 0 ? 0 : 3); ++e) {
      const int c = r < 40 ? col(rng) % 20 : col(rng);
      const double v = val(rng);
      row.emplace_back(c, v);
      dense(r, c) += v;
    }
    random.push_back(row);
  }
  const std::vector<bool> picked = independent_rows(random, 30, std::vector<int>(60, 0));
  const int count = static_cast<int>(std::count(picked.begin(), picked.end(), true));
  Eigen::FullPivLU<Matrix> lu(dense);
  EXPECT_EQ(count, lu.rank());
}

}  // namespace
}  // namespace korven::kit
