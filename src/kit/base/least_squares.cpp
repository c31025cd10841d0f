#include "kit/base/least_squares.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace korven::kit {
namespace {

// Marquardt's λ: the first step's damping, and the bounds it moves in. A
// rejected step multiplies it by ν and doubles ν; an accepted one divides it
// by 3 and resets ν to 2 (Nielsen, IMM report, DTU 1999), so that a run of
// rejections reaches kMaxDamping in about a dozen tries.
constexpr double kInitialDamping = 1e-3;
constexpr double kMinDamping = 1e-15;
constexpr double kMaxDamping = 1e16;

struct State {
  Vector p, r;
  Matrix j;
  double sum = 0;
  bool finite = false;
};

// The normal equations over the free parameters: A = JᵀWJ (+ the priors'
// weights on the diagonal) and g = JᵀWr (+ w (p − v)), so that the
// Gauss–Newton step is δ = −A⁻¹ g.
struct Normal {
  Matrix a;
  Vector g;
};

class Solver {
 public:
  Solver(const LeastSquaresProblem& problem, const LeastSquaresOptions& options);
  LeastSquaresResult run();

 private:
  State evaluate(const Vector& p) const;
  std::vector<int> free_indices() const;
  Normal normal(const State& s, const std::vector<int>& f) const;
  bool mark_undetermined(State& s);
  bool step(State& s, double& damping);
  void finish(const State& s, LeastSquaresResult& out) const;

  const LeastSquaresProblem& problem_;
  const LeastSquaresOptions& options_;
  Eigen::Index parameters_ = 0, observations_ = -1;
  Vector weights_;
  std::vector<ParameterStatus> status_;
};

Solver::Solver(const LeastSquaresProblem& problem, const LeastSquaresOptions& options)
    : problem_(problem), options_(options), parameters_(problem.start.size()) {
  if (!problem.residuals) throw std::invalid_argument("least squares: no residual function");
  if (!problem.fixed.empty() && static_cast<Eigen::Index>(problem.fixed.size()) != parameters_)
    throw std::invalid_argument("least squares: " + std::to_string(problem.fixed.size()) + " fixed flags for " +
                                std::to_string(parameters_) + " parameters");
  for (const LeastSquaresPrior& prior : problem.priors)
    if (prior.parameter < 0 || prior.parameter >= parameters_ || !(prior.weight > 0))
      throw std::invalid_argument("least squares: a prior on parameter " + std::to_string(prior.parameter) +
                                  " with weight " + std::to_string(prior.weight) + " does not fit");
  for (Eigen::Index k = 0; k < parameters_; ++k)
    status_.push_back(!problem.fixed.empty() && problem.fixed[static_cast<std::size_t>(k)] ? ParameterStatus::fixed
                                                                                           : ParameterStatus::free);
}

State Solver::evaluate(const Vector& p) const {
  State s{p, Vector(), Matrix(), 0, false};
  problem_.residuals(p, s.r, s.j);
  if (s.j.rows() != s.r.size() || s.j.cols() != parameters_ ||
      (observations_ >= 0 && s.r.size() != observations_))
    throw std::invalid_argument("least squares: the residual function gave " + std::to_string(s.r.size()) +
                                " residuals and a " + std::to_string(s.j.rows()) + " x " +
                                std::to_string(s.j.cols()) + " Jacobian for " + std::to_string(parameters_) +
                                " parameters");
  const Vector& w = weights_.size() ? weights_ : problem_.weights;
  if (w.size() && w.size() != s.r.size())
    throw std::invalid_argument("least squares: " + std::to_string(w.size()) + " weights for " +
                                std::to_string(s.r.size()) + " residuals");
  s.sum = w.size() ? s.r.cwiseAbs2().dot(w) : s.r.squaredNorm();
  for (const LeastSquaresPrior& prior : problem_.priors)
    s.sum += prior.weight * std::pow(p(prior.parameter) - prior.value, 2);
  s.finite = std::isfinite(s.sum) && s.j.allFinite();
  return s;
}

std::vector<int> Solver::free_indices() const {
  std::vector<int> f;
  for (Eigen::Index k = 0; k < parameters_; ++k)
    if (status_[static_cast<std::size_t>(k)] == ParameterStatus::free) f.push_back(static_cast<int>(k));
  return f;
}

Normal Solver::normal(const State& s, const std::vector<int>& f) const {
  const Matrix jf = s.j(Eigen::all, f);
  const Matrix wj = weights_.asDiagonal() * jf;
  Normal n{jf.transpose() * wj, wj.transpose() * s.r};
  for (const LeastSquaresPrior& prior : problem_.priors) {
    const auto at = std::find(f.begin(), f.end(), prior.parameter);
    if (at == f.end()) continue;
    const auto k = at - f.begin();
    n.a(k, k) += prior.weight;
    n.g(k) += prior.weight * (s.p(prior.parameter) - prior.value);
  }
  return n;
}

// Marks the free parameters the normal matrix does not determine (a zero
// column, then the smallest eigenvalues of its correlation form, one
// parameter at a time) and puts them back at their start values. Returns
// whether it marked any.
bool Solver::mark_undetermined(State& s) {
  std::vector<int> f = free_indices();
  if (f.empty()) return false;
  std::vector<int> marked;
  const Matrix a = normal(s, f).a;
  const double largest = a.diagonal().cwiseMax(0.0).maxCoeff();
  std::vector<int> keep;  // positions in f
  for (std::size_t k = 0; k < f.size(); ++k) {
    const double d = a(static_cast<Eigen::Index>(k), static_cast<Eigen::Index>(k));
    const double zero = options_.zero_column_relative * options_.zero_column_relative * largest;
    if (largest > 0 && d > zero) keep.push_back(static_cast<int>(k));
    else marked.push_back(f[k]);
  }
  while (!keep.empty()) {
    const Vector scale = a.diagonal()(keep).cwiseSqrt().cwiseInverse();
    const SymmetricEigen e = symmetric_eigen(scale.asDiagonal() * a(keep, keep) * scale.asDiagonal());
    if (e.values(0) >= options_.undetermined_eigenvalue) break;
    Eigen::Index worst = 0;
    e.vectors.col(0).cwiseAbs().maxCoeff(&worst);
    marked.push_back(f[static_cast<std::size_t>(keep[static_cast<std::size_t>(worst)])]);
    keep.erase(keep.begin() + worst);
  }
  if (marked.empty()) return false;
  Vector p = s.p;
  for (int k : marked) {
    status_[static_cast<std::size_t>(k)] = ParameterStatus::undetermined;
    p(k) = problem_.start(k);
  }
  s = evaluate(p);
  if (!s.finite) throw std::invalid_argument("least squares: the residuals are not finite once the undetermined "
                                             "parameters are back at their start values");
  return true;
}

// One accepted Levenberg–Marquardt step: (A + λ diag A) δ = −g, λ raised
// until the sum goes down. False when no damping lowers it.
bool Solver::step(State& s, double& damping) {
  const std::vector<int> f = free_indices();
  const Normal n = normal(s, f);
  double growth = 2;
  while (damping <= kMaxDamping) {
    Matrix a = n.a;
    a.diagonal() += damping * n.a.diagonal();
    const Vector delta = a.ldlt().solve(-n.g);
    Vector p = s.p;
    p(f) += delta;
    State trial = evaluate(p);
    if (trial.finite && trial.sum < s.sum) {
      s = std::move(trial);
      damping = std::max(damping / 3, kMinDamping);
      return true;
    }
    damping *= growth;
    growth *= 2;
  }
  return false;
}

void Solver::finish(const State& s, LeastSquaresResult& out) const {
  out.values = s.p;
  out.status = status_;
  out.sum = s.sum;
  out.observations = static_cast<int>(s.r.size());
  const double total_weight = weights_.sum();
  out.rms = total_weight > 0 ? std::sqrt(s.r.cwiseAbs2().dot(weights_) / total_weight) : 0.0;
  out.errors.assign(static_cast<std::size_t>(parameters_), std::nullopt);
  out.correlation = Matrix::Zero(parameters_, parameters_);
  const std::vector<int> f = free_indices();
  out.free_parameters = static_cast<int>(f.size());
  if (f.empty()) return;
  const Normal n = normal(s, f);
  const Matrix c = n.a.ldlt().solve(Matrix::Identity(n.a.rows(), n.a.cols()));
  // The observations and the priors on free parameters, with their part of
  // the sum.
  double used = s.r.cwiseAbs2().dot(weights_);
  int rows = out.observations;
  for (const LeastSquaresPrior& prior : problem_.priors)
    if (status_[static_cast<std::size_t>(prior.parameter)] == ParameterStatus::free)
      used += prior.weight * std::pow(s.p(prior.parameter) - prior.value, 2), ++rows;
  const int dof = rows - out.free_parameters;
  for (std::size_t x = 0; x < f.size(); ++x) {
    const auto i = static_cast<Eigen::Index>(x);
    for (std::size_t y = 0; y < f.size(); ++y) {
      const auto j = static_cast<Eigen::Index>(y);
      out.correlation(f[x], f[y]) = c(i, j) / std::sqrt(c(i, i) * c(j, j));
    }
    if (dof > 0) out.errors[static_cast<std::size_t>(f[x])] = std::sqrt(used / dof * c(i, i));
  }
}

LeastSquaresResult Solver::run() {
  State s = evaluate(problem_.start);
  observations_ = s.r.size();
  weights_ = problem_.weights.size() ? problem_.weights : Vector::Ones(observations_);
  if (!s.finite) throw std::invalid_argument("least squares: the residuals at the start values are not finite");
  LeastSquaresResult out;
  double damping = kInitialDamping;
  bool done = false;
  // Determinacy is checked before every step and once more at the end: a
  // parameter found undetermined goes back to its start value and the fit
  // resumes over the rest.
  while (true) {
    if (mark_undetermined(s)) {
      done = false;
      continue;
    }
    if (free_indices().empty()) {
      out.stop = StopReason::no_free_parameters;
      break;
    }
    if (done) break;
    if (out.iterations >= options_.max_iterations) {
      out.stop = StopReason::iteration_limit;
      break;
    }
    const double before = s.sum;
    if (!step(s, damping)) {
      out.stop = StopReason::no_decrease;
      done = true;
      continue;
    }
    ++out.iterations;
    if (s.sum == 0 || (before - s.sum) / before < options_.relative_change) {
      out.stop = StopReason::small_change;
      done = true;
    }
  }
  out.converged = out.stop != StopReason::iteration_limit;
  finish(s, out);
  return out;
}

}  // namespace

std::vector<int> LeastSquaresResult::undetermined() const {
  std::vector<int> u;
  for (std::size_t k = 0; k < status.size(); ++k)
    if (status[k] == ParameterStatus::undetermined) u.push_back(static_cast<int>(k));
  return u;
}

LeastSquaresResult least_squares(const LeastSquaresProblem& problem, const LeastSquaresOptions& options) {
  if (problem.weights.size() && !(problem.weights.array() > 0).all())
    throw std::invalid_argument("least squares: weights must be positive");
  Solver solver(problem, options);
  return solver.run();
}

}  // namespace korven::kit
