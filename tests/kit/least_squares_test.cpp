// The damped Gauss–Newton minimiser on problems whose answers are known: a
// weighted linear model solved in closed form here (QR of √W X), nonlinear
// problems with exact minima, a parameter the data do not determine, a
// fixed one, and regularisation rows.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "kit/base/least_squares.h"

namespace korven::kit {
namespace {

// y = Σ_j p_j x^j over the given columns of powers, with weights.
struct LinearData {
  Vector x, y, w;
  Matrix design;  // observations × parameters
};

LinearData quadratic_data() {
  LinearData d;
  d.x = Vector::LinSpaced(9, -2.0, 2.0);
  d.y.resize(9);
  d.w.resize(9);
  for (Eigen::Index i = 0; i < 9; ++i) {
    const double noise = 0.01 * std::sin(7.0 * static_cast<double>(i));  // residuals that do not vanish
    d.y(i) = 1.5 - 0.7 * d.x(i) + 0.25 * d.x(i) * d.x(i) + noise;
    d.w(i) = 1.0 + 0.5 * static_cast<double>(i % 3);
  }
  d.design.resize(9, 3);
  d.design << Vector::Ones(9), d.x, d.x.cwiseAbs2();
  return d;
}

Vector values(std::initializer_list<double> v) {
  Vector out(static_cast<Eigen::Index>(v.size()));
  Eigen::Index i = 0;
  for (double x : v) out(i++) = x;
  return out;
}

ResidualFunction linear_residuals(const Matrix& design, const Vector& y) {
  return [design, y](const Vector& p, Vector& r, Matrix& j) {
    r = y - design * p;
    j = -design;
  };
}

// The weighted solution and its covariance by QR of √W X, not through the
// normal equations.
struct ClosedForm {
  Vector beta;
  Matrix covariance;  // s² (XᵀWX)⁻¹
};

ClosedForm closed_form(const Matrix& x, const Vector& y, const Vector& w) {
  const Vector rw = w.cwiseSqrt();
  const Matrix a = rw.asDiagonal() * x;
  const Eigen::HouseholderQR<Matrix> qr(a);
  ClosedForm c;
  c.beta = qr.solve(Vector(rw.cwiseProduct(y)));
  const Matrix r = qr.matrixQR().topRows(x.cols()).triangularView<Eigen::Upper>();
  const Matrix r_inv = r.inverse();
  const double s2 = (a * c.beta - rw.cwiseProduct(y)).squaredNorm() / static_cast<double>(x.rows() - x.cols());
  c.covariance = s2 * r_inv * r_inv.transpose();
  return c;
}

TEST(LeastSquares, WeightedLinearModelIsTheClosedForm) {
  const LinearData d = quadratic_data();
  LeastSquaresProblem problem{linear_residuals(d.design, d.y), Vector::Zero(3), d.w, {}, {}};
  const LeastSquaresResult r = least_squares(problem);
  const ClosedForm c = closed_form(d.design, d.y, d.w);
  ASSERT_TRUE(r.converged);
  EXPECT_EQ(r.stop, StopReason::small_change);
  EXPECT_EQ(r.observations, 9);
  EXPECT_EQ(r.free_parameters, 3);
  EXPECT_TRUE(r.undetermined().empty());
  for (Eigen::Index k = 0; k < 3; ++k) {
    EXPECT_NEAR(r.values(k), c.beta(k), 1e-10) << k;
    ASSERT_TRUE(r.errors[static_cast<std::size_t>(k)]);
    EXPECT_NEAR(*r.errors[static_cast<std::size_t>(k)], std::sqrt(c.covariance(k, k)), 1e-9 * std::sqrt(c.covariance(k, k)));
    for (Eigen::Index l = 0; l < 3; ++l)
      EXPECT_NEAR(r.correlation(k, l), c.covariance(k, l) / std::sqrt(c.covariance(k, k) * c.covariance(l, l)), 1e-9);
  }
  const Vector res = d.y - d.design * c.beta;
  EXPECT_NEAR(r.sum, res.cwiseAbs2().dot(d.w), 1e-14);
  EXPECT_NEAR(r.rms, std::sqrt(res.cwiseAbs2().dot(d.w) / d.w.sum()), 1e-14);
  EXPECT_GT(r.rms, 1e-3);  // the data are not exact: s² is not zero
}

TEST(LeastSquares, AFixedParameterStaysAndTheRestIsTheReducedClosedForm) {
  const LinearData d = quadratic_data();
  Vector start(3);
  start << 0, -0.5, 0;  // the slope held at −0.5
  LeastSquaresProblem problem{linear_residuals(d.design, d.y), start, d.w, {false, true, false}, {}};
  const LeastSquaresResult r = least_squares(problem);
  Matrix reduced(9, 2);
  reduced << d.design.col(0), d.design.col(2);
  const ClosedForm c = closed_form(reduced, d.y + 0.5 * d.x, d.w);
  EXPECT_EQ(r.status[1], ParameterStatus::fixed);
  EXPECT_EQ(r.values(1), -0.5);
  EXPECT_FALSE(r.errors[1]);
  EXPECT_EQ(r.free_parameters, 2);
  EXPECT_NEAR(r.values(0), c.beta(0), 1e-10);
  EXPECT_NEAR(r.values(2), c.beta(1), 1e-10);
  EXPECT_NEAR(*r.errors[2], std::sqrt(c.covariance(1, 1)), 1e-9);
  EXPECT_EQ(r.correlation(1, 1), 0.0);
  EXPECT_EQ(r.correlation(0, 1), 0.0);
}

// y = (a + b) x + c + 0·d: a and b only through their sum, d not at all.
TEST(LeastSquares, UndeterminedParametersAreNamedAndHeldAtTheirStart) {
  const LinearData d = quadratic_data();
  Matrix design(9, 4);
  design << d.x, d.x, Vector::Ones(9), Vector::Zero(9);
  Vector y = 0.3 + 1.1 * d.x.array();
  y += 0.02 * d.x.cwiseAbs2();  // a misfit, so that s² > 0
  Vector start(4);
  start << 0.2, 0.4, 0, 7;
  const LeastSquaresResult r = least_squares({linear_residuals(design, y), start, {}, {}, {}});
  const std::vector<int> undetermined = r.undetermined();
  ASSERT_EQ(undetermined.size(), 2u);
  EXPECT_EQ(undetermined[0] + undetermined[1], 3);  // d (3) and one of a, b (0 or 1)
  EXPECT_TRUE(undetermined[0] == 0 || undetermined[0] == 1);
  EXPECT_EQ(r.status[3], ParameterStatus::undetermined);
  for (int k : undetermined) {
    EXPECT_EQ(r.values(k), start(k));
    EXPECT_FALSE(r.errors[static_cast<std::size_t>(k)]);
    EXPECT_EQ(r.correlation(k, k), 0.0);
  }
  Matrix reduced(9, 2);
  reduced << d.x, Vector::Ones(9);
  const ClosedForm c = closed_form(reduced, y, Vector::Ones(9));
  const int kept = 1 - undetermined[0];
  EXPECT_NEAR(r.values(0) + r.values(1), c.beta(0), 1e-10);
  EXPECT_NEAR(r.values(2), c.beta(1), 1e-10);
  ASSERT_TRUE(r.errors[static_cast<std::size_t>(kept)]);
  EXPECT_NEAR(*r.errors[static_cast<std::size_t>(kept)], std::sqrt(c.covariance(0, 0)), 1e-9);
  EXPECT_TRUE(r.converged);
}

// One observation of a + b, and priors on both: the closed form of the
// augmented system [1 1; √w_a 0; 0 √w_b] p = [y; √w_a a₀; √w_b b₀].
TEST(LeastSquares, PriorsPullAnUnderdeterminedPairToTheirClosedForm) {
  Matrix design(1, 2);
  design << 1, 1;
  const Vector y = Vector::Constant(1, 5.0);
  LeastSquaresProblem problem{linear_residuals(design, y), Vector::Zero(2), {}, {}, {{0, 1.0, 0.5}, {1, 3.0, 2.0}}};
  const LeastSquaresResult r = least_squares(problem);
  Matrix augmented(3, 2);
  augmented << 1, 1, std::sqrt(0.5), 0, 0, std::sqrt(2.0);
  Vector rhs(3);
  rhs << 5.0, std::sqrt(0.5) * 1.0, std::sqrt(2.0) * 3.0;
  const Vector expected = augmented.householderQr().solve(rhs);
  EXPECT_TRUE(r.undetermined().empty());
  EXPECT_NEAR(r.values(0), expected(0), 1e-10);
  EXPECT_NEAR(r.values(1), expected(1), 1e-10);
  EXPECT_NEAR(r.sum, (augmented * expected - rhs).squaredNorm(), 1e-12);
  // Three rows (the priors count), two parameters: one degree of freedom.
  const ClosedForm c = closed_form(augmented, rhs, Vector::Ones(3));
  for (std::size_t k = 0; k < 2; ++k) {
    ASSERT_TRUE(r.errors[k]);
    const auto i = static_cast<Eigen::Index>(k);
    EXPECT_NEAR(*r.errors[k], std::sqrt(c.covariance(i, i)), 1e-9 * std::sqrt(c.covariance(i, i)));
  }
  EXPECT_EQ(r.observations, 1);
}

// The same without priors: one of the two is undetermined; with a weak prior
// on b alone, b goes to its prior and a takes the rest of the sum.
TEST(LeastSquares, AWeakPriorDeterminesWhatTheDataLeaveOpen) {
  Matrix design(2, 2);
  design << 1, 1, 2, 2;
  Vector y(2);
  y << 5.0, 10.0;
  const LeastSquaresResult open = least_squares({linear_residuals(design, y), Vector::Zero(2), {}, {}, {}});
  EXPECT_EQ(open.undetermined().size(), 1u);
  const LeastSquaresResult pulled =
      least_squares({linear_residuals(design, y), Vector::Zero(2), {}, {}, {{1, 3.0, 1e-4}}});
  EXPECT_TRUE(pulled.undetermined().empty());
  EXPECT_NEAR(pulled.values(1), 3.0, 1e-9);
  EXPECT_NEAR(pulled.values(0), 2.0, 1e-9);
}

// ---- Nonlinear problems with known minima ---------------------------------

struct NonlinearCase {
  std::string name;
  ResidualFunction residuals;
  Vector start, answer;
  double sum;  // at the answer
};

NonlinearCase rosenbrock() {
  // r = (10 (p₂ − p₁²), 1 − p₁): Rosenbrock's valley, minimum 0 at (1, 1).
  ResidualFunction f = [](const Vector& p, Vector& r, Matrix& j) {
    r.resize(2);
    r << 10 * (p(1) - p(0) * p(0)), 1 - p(0);
    j.resize(2, 2);
    j << -20 * p(0), 10, -1, 0;
  };
  return {"rosenbrock", f, values({-1.2, 1.0}), Vector::Ones(2), 0.0};
}

NonlinearCase exponential_decay() {
  // y_i = 3 exp(−0.4 t_i), exact: A = 3, k = 0.4 from A = 1, k = 1.
  ResidualFunction f = [](const Vector& p, Vector& r, Matrix& j) {
    r.resize(12);
    j.resize(12, 2);
    for (int i = 0; i < 12; ++i) {
      const double t = 0.5 * i, e = std::exp(-p(1) * t);
      r(i) = 3 * std::exp(-0.4 * t) - p(0) * e;
      j(i, 0) = -e;
      j(i, 1) = p(0) * t * e;
    }
  };
  return {"exponential_decay", f, Vector::Ones(2), values({3.0, 0.4}), 0.0};
}

NonlinearCase square_root() {
  // r = √p − 0.001: the undamped step from p = 1 lands below zero, where
  // the residual is not a number; the damped one does not. Minimum at 1e-6.
  ResidualFunction f = [](const Vector& p, Vector& r, Matrix& j) {
    r = Vector::Constant(1, std::sqrt(p(0)) - 0.001);
    j = Matrix::Constant(1, 1, 0.5 / std::sqrt(p(0)));
  };
  return {"square_root_guarded", f, Vector::Ones(1), Vector::Constant(1, 1e-6), 0.0};
}

NonlinearCase circle_fit() {
  // Points on a circle of radius 2 about (1, −1), r_i = |x_i − c| − R:
  // centre and radius come back exactly.
  ResidualFunction f = [](const Vector& p, Vector& r, Matrix& j) {
    r.resize(7);
    j.resize(7, 3);
    for (int i = 0; i < 7; ++i) {
      const double a = 0.9 * i;
      const double x = 1 + 2 * std::cos(a) - p(0), y = -1 + 2 * std::sin(a) - p(1);
      const double d = std::hypot(x, y);
      r(i) = d - p(2);
      j(i, 0) = -x / d;
      j(i, 1) = -y / d;
      j(i, 2) = -1;
    }
  };
  Vector answer(3);
  answer << 1, -1, 2;
  return {"circle", f, values({0.0, 0.0, 1.0}), answer, 0.0};
}

class NonlinearMinimum : public ::testing::TestWithParam<NonlinearCase> {};

TEST_P(NonlinearMinimum, ComesBackFromTheStart) {
  const NonlinearCase& c = GetParam();
  const LeastSquaresResult r = least_squares({c.residuals, c.start, {}, {}, {}});
  EXPECT_TRUE(r.converged);
  EXPECT_LE(r.iterations, 100);
  for (Eigen::Index k = 0; k < c.answer.size(); ++k)
    EXPECT_NEAR(r.values(k), c.answer(k), 1e-8 * std::abs(c.answer(k))) << k;
  EXPECT_NEAR(r.sum, c.sum, 1e-16);
  // As many observations as parameters leave no residual variance: no σ.
  if (r.observations == r.free_parameters) {
    for (const auto& e : r.errors) EXPECT_FALSE(e);
  }
}

INSTANTIATE_TEST_SUITE_P(LeastSquares, NonlinearMinimum,
                         ::testing::Values(rosenbrock(), exponential_decay(), square_root(), circle_fit()),
                         [](const ::testing::TestParamInfo<NonlinearCase>& i) { return i.param.name; });

TEST(LeastSquares, SaysWhenItStoppedAtTheIterationLimit) {
  const NonlinearCase c = rosenbrock();
  LeastSquaresOptions options;
  options.max_iterations = 2;
  const LeastSquaresResult r = least_squares({c.residuals, c.start, {}, {}, {}}, options);
  EXPECT_FALSE(r.converged);
  EXPECT_EQ(r.stop, StopReason::iteration_limit);
  EXPECT_EQ(r.iterations, 2);
  EXPECT_GT(r.sum, 1e-6);
}

TEST(LeastSquares, AllFixedIsNothingToFit) {
  const LinearData d = quadratic_data();
  const LeastSquaresResult r =
      least_squares({linear_residuals(d.design, d.y), Vector::Ones(3), {}, {true, true, true}, {}});
  EXPECT_EQ(r.stop, StopReason::no_free_parameters);
  EXPECT_TRUE(r.converged);
  EXPECT_EQ(r.iterations, 0);
  EXPECT_EQ(r.values, Vector::Ones(3));
}

TEST(LeastSquares, RefusesProblemsThatDoNotFitTogether) {
  const LinearData d = quadratic_data();
  const ResidualFunction f = linear_residuals(d.design, d.y);
  EXPECT_THROW(least_squares({f, Vector::Zero(3), Vector::Ones(4), {}, {}}), std::invalid_argument);
  EXPECT_THROW(least_squares({f, Vector::Zero(3), {}, {true}, {}}), std::invalid_argument);
  EXPECT_THROW(least_squares({f, Vector::Zero(3), {}, {}, {{3, 0.0, 1.0}}}), std::invalid_argument);
  // Two start values for a function of three parameters: the function is
  // evaluated once and its three Jacobian columns give the mismatch away.
  const ResidualFunction three_columns = [&d](const Vector&, Vector& r, Matrix& j) {
    r = d.y;
    j = -d.design;
  };
  EXPECT_THROW(least_squares({three_columns, Vector::Zero(2), {}, {}, {}}), std::invalid_argument);
  EXPECT_THROW(least_squares({f, Vector::Zero(3), -Vector::Ones(9), {}, {}}), std::invalid_argument);
  const NonlinearCase root = square_root();
  EXPECT_THROW(least_squares({root.residuals, -Vector::Ones(1), {}, {}, {}}), std::invalid_argument);
}

}  // namespace
}  // namespace korven::kit
