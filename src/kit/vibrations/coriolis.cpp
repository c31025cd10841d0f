#include "kit/vibrations/coriolis.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

#include "kit/base/constants.h"

namespace korven::kit {
namespace {

// Masses of one isotope agree to far better than this (u).
constexpr double kSameMass = 1e-6;
// The pair's 2 × 2 image under the operation counts as a rotation of the
// pair when it is orthogonal with determinant +1 to within this, and as
// turning it when |sin| of its angle exceeds it.
constexpr double kPairRotation = 1e-3;

// A rotation or rotation-reflection about one principal axis that maps the
// molecule onto itself: image[i] is the atom that atom i goes to.
struct AxisOperation {
  int n = 0;
  bool improper = false;
  Mat3 matrix;
  std::vector<int> image;
  std::string name() const { return (improper ? "S" : "C") + std::to_string(n); }
};

std::optional<std::vector<int>> atom_images(const PrincipalModes& m, const Mat3& r, double tolerance) {
  std::vector<int> image(m.positions.size(), -1);
  for (std::size_t i = 0; i < m.positions.size(); ++i) {
    const Vec3 to = r * m.positions[i];
    for (std::size_t j = 0; j < m.positions.size() && image[i] < 0; ++j)
      if (std::abs(m.masses[i] - m.masses[j]) <= kSameMass && (to - m.positions[j]).norm() <= tolerance)
        image[i] = static_cast<int>(j);
    if (image[i] < 0) return std::nullopt;
  }
  return image;
}

// The proper rotation about `axis` of smallest angle 2π/n (n = 12 … 3) that
// maps the molecule onto itself, else the improper one (n = 12 … 4, even).
std::optional<AxisOperation> axis_operation(const PrincipalModes& m, int axis, double tolerance) {
  const Vec3 e = Vec3::Unit(axis);
  for (const bool improper : {false, true})
    for (int n = 12; n >= (improper ? 4 : 3); n -= improper ? 2 : 1) {
      Mat3 r = Eigen::AngleAxisd(2 * kPi / n, e).toRotationMatrix();
      if (improper) r = (Mat3::Identity() - 2 * e * e.transpose()) * r;
      if (auto image = atom_images(m, r, tolerance))
        return AxisOperation{n, improper, r, std::move(*image)};
    }
  return std::nullopt;
}

// ζ_t of one degenerate pair, turned by the operation as rotation.h states.
DegenerateCoriolis degenerate_pair(const PrincipalModes& m, const std::optional<AxisOperation>& op,
                                   const Matrix& zeta_z, int first, int second) {
  DegenerateCoriolis d{first, second, std::abs(zeta_z(first, second)), ""};
  if (!op) return d;
  Matrix e(m.modes.rows(), 2), turned(m.modes.rows(), 2);
  e << m.modes.col(first), m.modes.col(second);
  for (std::size_t i = 0; i < op->image.size(); ++i)
    turned.middleRows(3 * op->image[i], 3) = op->matrix * e.middleRows(static_cast<Eigen::Index>(3 * i), 3);
  const Matrix pair = e.transpose() * turned;  // pair(j, k) = e_jᵀ O e_k
  const bool rotation = (pair.transpose() * pair - Matrix::Identity(2, 2)).cwiseAbs().maxCoeff() <= kPairRotation &&
                        std::abs(pair.determinant() - 1) <= kPairRotation;
  const double sine = 0.5 * (pair(1, 0) - pair(0, 1));  // O e_1 = cos e_1 + sin e_2
  if (!rotation || std::abs(sine) <= kPairRotation) return d;
  d.zeta = (sine > 0 ? 1 : -1) * zeta_z(first, second);
  d.operation = op->name();
  const double angle = std::atan2(std::abs(sine), 0.5 * (pair(0, 0) + pair(1, 1)));
  d.turn = static_cast<int>(std::lround(angle * op->n / (2 * kPi)));
  return d;
}

// The sums by turn (coriolis.h), from the on-axis atoms, P_z and I_⊥.
std::vector<DegenerateSum> degenerate_sums(const PrincipalModes& m, int axis, double position_tolerance,
                                           const std::vector<DegenerateCoriolis>& pairs) {
  double p = 0, perpendicular = 0;
  int on_axis = 0;
  const int other = (axis + 1) % 3;
  for (std::size_t i = 0; i < m.positions.size(); ++i) {
    const Vec3& r = m.positions[i];
    p += m.masses[i] * r(axis) * r(axis);
    perpendicular += m.masses[i] * (r.squaredNorm() - r(other) * r(other));
    if ((r - r(axis) * Vec3::Unit(axis)).norm() <= position_tolerance) ++on_axis;
  }
  std::vector<DegenerateSum> sums;
  for (const DegenerateCoriolis& d : pairs) {
    auto it = std::find_if(sums.begin(), sums.end(), [&](const DegenerateSum& s) { return s.turn == d.turn; });
    if (it == sums.end()) {
      sums.push_back({d.turn, 0, d.turn == 1 ? on_axis - 1 - p / perpendicular : 0.0});
      it = sums.end() - 1;
    }
    it->sum += d.zeta;
  }
  std::sort(sums.begin(), sums.end(), [](const DegenerateSum& x, const DegenerateSum& y) { return x.turn < y.turn; });
  return sums;
}

void degenerate_modes(const PrincipalModes& m, const PrincipalFrame& frame, const ConstantsTolerances& tolerances,
                      CoriolisConstants& c) {
  const auto groups = degenerate_groups(m.eigenvalues, tolerances.eigenvalue_relative);
  const bool any_pair = std::any_of(groups.begin(), groups.end(), [](const auto& g) { return g.size() == 2; });
  if (!frame.unique_axis || !any_pair) return;
  const int axis = *frame.unique_axis;
  const auto op = axis_operation(m, axis, tolerances.symmetry_position);
  bool all_oriented = true;
  for (const auto& g : groups) {
    if (g.size() == 2) c.degenerate.push_back(degenerate_pair(m, op, c.zeta[static_cast<std::size_t>(axis)], g[0], g[1]));
    all_oriented = all_oriented && g.size() <= 2 && (g.size() == 1 || c.degenerate.back().turn > 0);
  }
  if (op && !op->improper && all_oriented)
    c.degenerate_sums = degenerate_sums(m, axis, tolerances.symmetry_position, c.degenerate);
}

// The closed values of the sum rules (coriolis.h).
void expected_sums(const PrincipalModes& m, const PrincipalFrame& frame, const std::vector<Mat3>& da,
                   CoriolisConstants& c) {
  const Mat3 inertia = inertia_tensor(m.positions, m.masses);  // the positions are centred already
  const bool linear = frame.type == RotorType::linear;
  Vec3 p = Vec3::Zero();
  for (std::size_t i = 0; i < m.positions.size(); ++i) p += m.masses[i] * m.positions[i].cwiseAbs2();
  const auto atoms = static_cast<double>(m.positions.size());
  for (int a = 0; a < 3; ++a) {
    const int b = (a + 1) % 3, g = (a + 2) % 3;
    c.totals_expected(a) = linear ? atoms - 2
                                  : atoms - 4 + p(g) / inertia(b, b) + p(b) / inertia(g, g) +
                                        p(a) * p(a) / (inertia(b, b) * inertia(g, g));
    for (Eigen::Index r = 0; r < m.modes.cols(); ++r) {
      double v = 1;
      for (Eigen::Index i = a; i < m.modes.rows(); i += 3) v -= m.modes(i, r) * m.modes(i, r);
      for (int k = linear ? 1 : 0; k < 3; ++k) v -= da[static_cast<std::size_t>(r)](a, k) * da[static_cast<std::size_t>(r)](a, k) / (4 * inertia(k, k));
      c.mode_sums_expected(r, a) = v;
    }
  }
}

}  // namespace

std::vector<std::vector<int>> degenerate_groups(const std::vector<double>& eigenvalues, double relative) {
  std::vector<int> order(eigenvalues.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return eigenvalues[x] < eigenvalues[y]; });
  std::vector<std::vector<int>> groups;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const double here = eigenvalues[order[k]];
    if (k == 0 || here - eigenvalues[order[k - 1]] > relative * std::max(std::abs(here), std::abs(eigenvalues[order[k - 1]])))
      groups.emplace_back();
    groups.back().push_back(order[k]);
  }
  for (auto& g : groups) std::sort(g.begin(), g.end());
  return groups;
}

CoriolisConstants coriolis_constants(const PrincipalModes& modes, const PrincipalFrame& frame,
                                     const std::vector<Mat3>& inertia_derivatives,
                                     const ConstantsTolerances& tolerances) {
  const Eigen::Index n = modes.modes.cols(), atoms = static_cast<Eigen::Index>(modes.positions.size());
  std::array<Matrix, 3> part;  // part[α](i, k) = l_ikα
  for (int a = 0; a < 3; ++a) {
    part[static_cast<std::size_t>(a)].resize(atoms, n);
    for (Eigen::Index i = 0; i < atoms; ++i) part[static_cast<std::size_t>(a)].row(i) = modes.modes.row(3 * i + a);
  }
  CoriolisConstants c;
  c.mode_sums.resize(n, 3);
  c.mode_sums_expected.resize(n, 3);
  for (std::size_t a = 0; a < 3; ++a) {
    const Matrix& pb = part[(a + 1) % 3];
    const Matrix& pg = part[(a + 2) % 3];
    const Matrix half = pb.transpose() * pg;
    c.zeta[a] = half - half.transpose();
    c.mode_sums.col(static_cast<Eigen::Index>(a)) = c.zeta[a].cwiseAbs2().rowwise().sum();
    c.totals(static_cast<Eigen::Index>(a)) = 0.5 * c.zeta[a].squaredNorm();
  }
  expected_sums(modes, frame, inertia_derivatives, c);
  c.largest_sum_deviation = std::max(n ? (c.mode_sums - c.mode_sums_expected).cwiseAbs().maxCoeff() : 0.0,
                                     (c.totals - c.totals_expected).cwiseAbs().maxCoeff());
  degenerate_modes(modes, frame, tolerances, c);
  return c;
}

}  // namespace korven::kit
