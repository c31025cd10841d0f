// Weighted nonlinear least squares: minimise S(p) = Σ w_i r_i(p)² (plus
// optional regularisation rows) over the free parameters by Gauss–Newton
// steps with Levenberg–Marquardt damping (Levenberg, Q. Appl. Math. 2, 164,
// 1944; Marquardt, J. SIAM 11, 431, 1963), the damping scaled by the
// diagonal of the normal matrix as Marquardt proposed.
//
// The caller computes the residuals and their analytic Jacobian together.
// Parameters the data do not determine are found from the normal matrix,
// held at their start values and reported as such; the fit goes on over the
// rest.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "kit/base/linalg.h"

namespace korven::kit {

// Fills r (one entry per observation) and jacobian (observations × all
// parameters, fixed ones included: their columns are not used) at p:
// jacobian(i, j) = ∂r_i/∂p_j. Entries that are not finite reject the step
// that led to p (at the start values they are an error).
using ResidualFunction = std::function<void(const Vector& p, Vector& r, Matrix& jacobian)>;

// A regularisation row: weight · (p_parameter − value)² joins the sum, so
// a parameter the data leave undetermined is pulled to `value`. The row
// counts as one observation.
struct LeastSquaresPrior {
  int parameter = 0;  // 0-based
  double value = 0;
  double weight = 0;  // > 0, in the units of w r² per unit of the parameter squared
};

struct LeastSquaresProblem {
  ResidualFunction residuals;
  Vector start;                    // one value per parameter
  Vector weights;                  // one per observation, > 0; empty: all 1
  std::vector<bool> fixed;         // per parameter; empty: none fixed
  std::vector<LeastSquaresPrior> priors;
};

// A column of √W J (priors included) whose norm is at most this fraction of
// the largest column's is zero: the data do not depend on that parameter.
inline constexpr double kZeroColumnRelative = 1e-10;
// The scaled normal matrix N = D^-½ (JᵀWJ) D^-½, D its diagonal (so N has
// unit diagonal and is the correlation form of JᵀWJ), with an eigenvalue
// below this has a combination of parameters that moves the weighted
// residuals by less than 1e-5 (the square root) of what its members move
// them singly: the data do not determine it. The member with the largest
// share of that eigenvector is named undetermined, and the test repeats
// over the rest. Rounding leaves exact dependences near 1e-16.
inline constexpr double kUndeterminedEigenvalue = 1e-10;

struct LeastSquaresOptions {
  double relative_change = 1e-12;  // stop when (S_old − S_new) / S_old falls below this
  int max_iterations = 100;
  double undetermined_eigenvalue = kUndeterminedEigenvalue;
  double zero_column_relative = kZeroColumnRelative;
};

enum class ParameterStatus {
  free,          // fitted
  fixed,         // held at its start value by the caller
  undetermined,  // held at its start value: the data do not determine it
};

enum class StopReason {
  small_change,        // the relative change of the sum fell below the limit (converged)
  no_decrease,         // no step lowers the sum, however damped (converged: at a minimum to rounding)
  no_free_parameters,  // nothing left to fit (converged trivially)
  iteration_limit,     // max_iterations reached (not converged)
};

struct LeastSquaresResult {
  Vector values;                        // every parameter; fixed and undetermined at their start values
  std::vector<ParameterStatus> status;  // per parameter
  // σ_j = sqrt(s² (JᵀWJ)⁻¹_jj), s² = S / (n − p) over the n observations
  // (priors included) and p free parameters, at the final values; present
  // only for free parameters and only when n > p.
  std::vector<std::optional<double>> errors;
  // C_ij / sqrt(C_ii C_jj) over the free parameters (C = (JᵀWJ)⁻¹); the rows
  // and columns of fixed and undetermined parameters are zero, their
  // diagonal too.
  Matrix correlation;
  double sum = 0;     // S: Σ w r² over the observations plus the priors' terms
  double rms = 0;     // sqrt(Σ w r² / Σ w) over the observations (no priors)
  int observations = 0;     // residuals (the priors not counted)
  int free_parameters = 0;  // status free at the end
  int iterations = 0;       // accepted steps
  bool converged = false;   // stop != iteration_limit
  StopReason stop = StopReason::iteration_limit;

  // The 0-based indices of the undetermined parameters.
  std::vector<int> undetermined() const;
};

// Throws std::invalid_argument for sizes that do not fit together (weights,
// fixed flags, the residual function's output, a prior's index) and for
// residuals that are not finite at the start values.
LeastSquaresResult least_squares(const LeastSquaresProblem& problem, const LeastSquaresOptions& options = {});

}  // namespace korven::kit
