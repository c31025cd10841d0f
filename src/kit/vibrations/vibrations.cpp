#include "kit/vibrations/vibrations.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <sstream>

#include "kit/base/constants.h"
#include "kit/base/kit_error.h"

namespace korven::kit {
namespace {

// Gram eigenvalues of the external displacements below this fraction of the
// largest count as zero: the rotation about the axis of a linear molecule.
constexpr double kExternalRelative = 1e-8;
// B M^-1/2 moved by translations or rotations beyond this fraction of its
// norm is named in the verdict.
constexpr double kBInvarianceTolerance = 1e-6;

std::string number(double v, int precision = 3) {
  std::ostringstream s;
  s.precision(precision);
  s << v;
  return s.str();
}

// The range of G = D Dᵀ (D = B M^-1/2, or U_b D for one symmetry block) as
// K = V Λ^½ over G's eigenvalues Λ above the cut: K Kᵀ = G on its range, the
// columns of K orthogonal, Kᵀ K = Λ. When D has more rows than columns the
// eigenvalues come from the smaller Dᵀ D = W Λ Wᵀ, and K = D W (the same
// nonzero eigenvalues; 3N × 3N instead of NIC × NIC, which matters for
// large redundant sets). A negative cut takes kGRangeRelative of the largest
// eigenvalue; `cut` returns the one used.
struct Range {
  Matrix k;
  Vector lambda;
};

Range range_of(const Matrix& d, double& cut) {
  const bool tall = d.rows() > d.cols();
  const SymmetricEigen e = symmetric_eigen(tall ? Matrix(d.transpose() * d) : Matrix(d * d.transpose()));
  if (cut < 0) cut = kGRangeRelative * (e.values.size() ? e.values.cwiseAbs().maxCoeff() : 0.0);
  std::vector<Eigen::Index> kept;
  for (Eigen::Index i = 0; i < e.values.size(); ++i)
    if (e.values(i) > cut) kept.push_back(i);
  Range r{Matrix(d.rows(), static_cast<Eigen::Index>(kept.size())), Vector(static_cast<Eigen::Index>(kept.size()))};
  for (std::size_t j = 0; j < kept.size(); ++j) {
    const auto c = static_cast<Eigen::Index>(j);
    r.lambda(c) = e.values(kept[j]);
    r.k.col(c) = tall ? Vector(d * e.vectors.col(kept[j])) : Vector(e.vectors.col(kept[j]) * std::sqrt(r.lambda(c)));
  }
  return r;
}

// The GF problem of one block in symmetric form, restricted to the range of
// G: with K = V Λ^½ from range_of, Kᵀ F K = C Ω Cᵀ (the matrix G^½ F G^½
// on G's range), and L = K C satisfies G F L = L Ω, L Lᵀ = G and Lᵀ F L = Ω
// (Wilson, Decius & Cross, Molecular Vibrations, ch. 4).
struct GfSolution {
  Vector lambda;
  Matrix l;
};

GfSolution solve_gf(const Range& range, const Matrix& f) {
  Matrix w = range.k.transpose() * f * range.k;
  w = 0.5 * (w + w.transpose()).eval();
  const SymmetricEigen we = symmetric_eigen(w);
  return {we.values, range.k * we.vectors};
}

std::vector<double> potential_energy_distribution(const Vector& f_diagonal, const Vector& l_column) {
  std::vector<double> p(static_cast<std::size_t>(l_column.size()), 0.0);
  double sum = 0;
  for (Eigen::Index i = 0; i < l_column.size(); ++i) sum += f_diagonal(i) * l_column(i) * l_column(i);
  if (sum == 0 || !std::isfinite(sum)) return p;
  for (Eigen::Index i = 0; i < l_column.size(); ++i)
    p[static_cast<std::size_t>(i)] = 100.0 * f_diagonal(i) * l_column(i) * l_column(i) / sum;
  return p;
}

// Orthonormal mass-weighted translations and rotations about the centre of
// mass, 3N × (3, 5 or 6): the space the Eckart conditions remove.
Matrix external_space(const std::vector<Vec3>& x, const std::vector<double>& m) {
  const auto n = static_cast<Eigen::Index>(x.size());
  const Vec3 com = centre_of_mass(x, m);
  Matrix e = Matrix::Zero(3 * n, 6);
  for (Eigen::Index a = 0; a < n; ++a) {
    const double s = std::sqrt(m[static_cast<std::size_t>(a)]);
    const Vec3 d = x[static_cast<std::size_t>(a)] - com;
    for (int k = 0; k < 3; ++k) {
      e(3 * a + k, k) = s;
      e.block<3, 1>(3 * a, 3 + k) = s * Vec3::Unit(k).cross(d);
    }
  }
  const SymmetricEigen ge = symmetric_eigen(e.transpose() * e);
  const double largest = ge.values.maxCoeff();
  Matrix basis(3 * n, 0);
  for (Eigen::Index i = 0; i < ge.values.size(); ++i)
    if (ge.values(i) > kExternalRelative * largest) {
      basis.conservativeResize(Eigen::NoChange, basis.cols() + 1);
      basis.col(basis.cols() - 1) = e * ge.vectors.col(i) / std::sqrt(ge.values(i));
    }
  return basis;
}

double relative_norm(const Matrix& part, const Matrix& whole) {
  const double w = whole.norm();
  return w > 0 ? part.norm() / w : 0.0;
}

void check_input(const VibrationInput& in) {
  const std::size_t n = in.masses.size();
  const auto n3 = static_cast<Eigen::Index>(3 * n);
  if (n == 0) throw input_error(in.source, "no atoms");
  if (in.positions.size() != n || in.b.cols() != n3 || in.hessian.rows() != n3 || in.hessian.cols() != n3)
    throw input_error(in.source, "B has " + std::to_string(in.b.cols()) + " columns, the Hessian " +
                                     std::to_string(in.hessian.rows()) + " rows, for " + std::to_string(n) +
                                     " atoms: they do not fit together");
  for (std::size_t a = 0; a < n; ++a)
    if (!(in.masses[a] > 0) || !std::isfinite(in.masses[a]))
      throw input_error(in.source, "atom " + std::to_string(a + 1) + " has mass " + number(in.masses[a]) +
                                       ": masses must be positive");
  if (!in.u) return;
  if (in.u->cols() != in.b.rows())
    throw input_error(in.source, "U has " + std::to_string(in.u->cols()) + " columns for " +
                                     std::to_string(in.b.rows()) + " internal coordinates");
  const double dev = orthonormal_deviation(*in.u);
  if (!(dev <= kOrthonormalTolerance))
    throw input_error(in.source, "the rows of U are not orthonormal: U Ut differs from 1 by " + number(dev) +
                                     " (limit 1e-05)");
  int next = 0;
  for (const ModeBlock& blk : in.blocks) {
    if (blk.first != next || blk.size < 1)
      throw input_error(in.source, "the symmetry blocks do not tile the rows of U in order (block at row " +
                                       std::to_string(blk.first + 1) + ")");
    next += blk.size;
  }
  if (!in.blocks.empty() && next != in.u->rows())
    throw input_error(in.source, "the symmetry blocks cover " + std::to_string(next) + " of U's " +
                                     std::to_string(in.u->rows()) + " rows");
}

struct RawMode {
  double lambda;
  Vector l;        // internal coordinates
  Vector l_sym;    // symmetry coordinates (empty without U)
  int block;
};

void compare(VibrationAnalysis& out, int vibrations, double external_fraction, double b_external) {
  Comparison& c = out.comparison;
  c.vibrations = vibrations;
  c.described = static_cast<int>(out.modes.size());
  c.external_fraction = external_fraction;
  c.b_external_fraction = b_external;
  bool within = true;
  if (out.modes.size() == out.cartesian_wavenumbers.size()) {
    for (std::size_t k = 0; k < out.modes.size(); ++k) {
      const double cart = out.cartesian_wavenumbers[k];
      out.modes[k].cartesian_wavenumber = cart;
      const double diff = std::abs(out.modes[k].wavenumber - cart);
      c.largest_difference = std::max(c.largest_difference, diff);
      if (diff > std::max(kWavenumberTolerance, kRelativeWavenumberTolerance * std::abs(cart))) within = false;
    }
  }
  const bool stationary = external_fraction <= kStationaryTolerance;
  const bool counts = c.described == c.vibrations;
  c.agree = counts && within && stationary;

  std::vector<std::string> why;
  if (c.described < c.vibrations)
    why.push_back("the coordinates describe " + std::to_string(c.described) + " of " + std::to_string(c.vibrations) +
                  " vibrations (rank of G " + std::to_string(out.g_rank) +
                  "), so the internal-coordinate wavenumbers are not the molecule's");
  if (c.described > c.vibrations)
    why.push_back("the coordinates give " + std::to_string(c.described) + " modes for " +
                  std::to_string(c.vibrations) + " vibrations: translations or rotations move them");
  if (!stationary)
    why.push_back("the Hessian is not at a stationary point of this geometry: its translation and rotation part is " +
                  number(external_fraction) + " of its norm (limit 0.001)");
  if (counts && !within) {
    std::string s = "the internal-coordinate and Cartesian wavenumbers differ by up to " +
                    number(c.largest_difference, 4) + " cm-1";
    if (b_external > kBInvarianceTolerance)
      s += ": B changes under translations and rotations of the deck's geometry (" + number(b_external) +
           " of its norm), so it does not belong to this geometry";
    why.push_back(s);
  }
  if (why.empty()) {
    c.verdict = "the internal-coordinate and Cartesian wavenumbers agree (largest difference " +
                number(c.largest_difference, 2) + " cm-1)";
    return;
  }
  c.verdict = why.front();
  for (std::size_t i = 1; i < why.size(); ++i) c.verdict += "; " + why[i];
}


// G = B M⁻¹ Bᵀ, its range, and F = Aᵀ H A with A = M⁻¹ Bᵀ G⁺ (Wilson,
// Decius & Cross, ch. 4; the generalized inverse for redundant sets as in
// Pulay & Fogarasi, J. Chem. Phys. 96, 2856, 1992). With K = V Λ^½ from
// range_of, G⁺ = V Λ⁻¹ Vᵀ = K Λ⁻² Kᵀ, and A = M^-1/2 Dᵀ G⁺.
Range internal_force_constants(const VibrationInput& in, const Vector& inv_root, VibrationAnalysis& out,
                               double& cut) {
  const Matrix d = in.b * inv_root.asDiagonal();
  out.g = d * d.transpose();
  Range range = range_of(d, cut);
  out.g_rank = static_cast<int>(range.lambda.size());
  const Vector inv_square = range.lambda.cwiseProduct(range.lambda).cwiseInverse();
  const Matrix a = inv_root.asDiagonal() * ((d.transpose() * range.k) * inv_square.asDiagonal() * range.k.transpose());
  out.f = a.transpose() * in.hessian * a;
  out.f = 0.5 * (out.f + out.f.transpose()).eval();
  return range;
}

// The GF roots, of the whole G or block by block in symmetry coordinates.
std::vector<RawMode> gf_modes(const VibrationInput& in, const Range& range, double cut, const Vector& inv_root,
                              VibrationAnalysis& out) {
  std::vector<RawMode> raw;
  if (!in.u) {
    const GfSolution s = solve_gf(range, out.f);
    for (Eigen::Index k = 0; k < s.lambda.size(); ++k) raw.push_back({s.lambda(k), s.l.col(k), Vector(), -1});
    return raw;
  }
  const Matrix d = in.b * inv_root.asDiagonal();
  const Matrix& u = *in.u;
  out.g_symmetry = u * out.g * u.transpose();
  out.f_symmetry = u * out.f * u.transpose();
  std::vector<ModeBlock> blocks = in.blocks;
  if (blocks.empty()) blocks.push_back({0, static_cast<int>(u.rows()), ""});
  for (std::size_t bi = 0; bi < blocks.size(); ++bi) {
    const ModeBlock& blk = blocks[bi];
    double block_cut = cut;  // the whole G's, so that every block counts rank alike
    const GfSolution s = solve_gf(range_of(u.middleRows(blk.first, blk.size) * d, block_cut),
                                  out.f_symmetry->block(blk.first, blk.first, blk.size, blk.size));
    for (Eigen::Index k = 0; k < s.lambda.size(); ++k) {
      Vector ls = Vector::Zero(u.rows());
      ls.segment(blk.first, blk.size) = s.l.col(k);
      raw.push_back({s.lambda(k), u.transpose() * ls, ls, static_cast<int>(bi)});
    }
  }
  return raw;
}

// The modes in ascending order with their wavenumbers, species and PED, and
// L in internal (and symmetry) coordinates.
void store_modes(const VibrationInput& in, std::vector<RawMode> raw, VibrationAnalysis& out, const Range& range,
                 const Vector& inv_root) {
  std::stable_sort(raw.begin(), raw.end(), [](const RawMode& x, const RawMode& y) { return x.lambda < y.lambda; });
  const auto count = static_cast<Eigen::Index>(raw.size());
  out.l.resize(in.b.rows(), count);
  if (in.u) out.l_symmetry = Matrix(in.u->rows(), count);
  const Vector f_diag = in.u ? Vector(out.f_symmetry->diagonal()) : Vector(out.f.diagonal());
  for (Eigen::Index k = 0; k < count; ++k) {
    const RawMode& r = raw[static_cast<std::size_t>(k)];
    Mode m;
    m.eigenvalue = r.lambda;
    m.wavenumber = in.scale * wavenumber_from_eigenvalue(r.lambda);
    m.imaginary = r.lambda < 0;
    out.l.col(k) = r.l;
    if (in.u) {
      out.l_symmetry->col(k) = r.l_sym;
      m.block = r.block;
      m.species = in.blocks.empty() ? std::string() : in.blocks[static_cast<std::size_t>(r.block)].species;
      m.ped = potential_energy_distribution(f_diag, r.l_sym);
    } else {
      m.ped = potential_energy_distribution(f_diag, r.l);
    }
    out.modes.push_back(std::move(m));
  }
  // Dᵀ G⁺ L with G⁺ = K Λ⁻² Kᵀ.
  const Vector inv_square = range.lambda.cwiseProduct(range.lambda).cwiseInverse();
  const Matrix d = in.b * inv_root.asDiagonal();
  out.cartesian_modes = d.transpose() * (range.k * (inv_square.asDiagonal() * (range.k.transpose() * out.l)));
}

// The Cartesian route: H_m = M^-1/2 H M^-1/2 restricted to the orthogonal
// complement of the external space (the Eckart projection). With B
// describing every vibration both routes diagonalize the same operator, so a
// difference points at B; a Hessian that is not at a stationary point shows
// instead in its translation and rotation part, measured directly.
void cartesian_wavenumbers(const VibrationInput& in, const Vector& inv_root, VibrationAnalysis& out) {
  const Eigen::Index n3 = in.b.cols();
  const Matrix hm = inv_root.asDiagonal() * in.hessian * inv_root.asDiagonal();
  const Matrix ext = external_space(in.positions, in.masses);
  const Eigen::HouseholderQR<Matrix> qr(ext);
  const Matrix full = qr.householderQ() * Matrix::Identity(n3, n3);
  const Matrix inner = full.rightCols(n3 - ext.cols());
  Matrix hv = inner.transpose() * hm * inner;
  hv = 0.5 * (hv + hv.transpose()).eval();
  const Vector cart = symmetric_eigenvalues(hv);
  for (Eigen::Index k = 0; k < cart.size(); ++k)
    out.cartesian_wavenumbers.push_back(in.scale * wavenumber_from_eigenvalue(cart(k)));
  const Matrix bm = in.b * inv_root.asDiagonal();
  compare(out, static_cast<int>(n3 - ext.cols()), relative_norm(hm * ext, hm), relative_norm(bm * ext, bm));
}

}  // namespace

VibrationAnalysis analyze_vibrations(const VibrationInput& in) {
  check_input(in);
  const Eigen::Index n3 = in.b.cols();
  Vector inv_root(n3);
  for (Eigen::Index i = 0; i < n3; ++i) inv_root(i) = std::sqrt(1.0 / in.masses[static_cast<std::size_t>(i / 3)]);
  VibrationAnalysis out;
  double cut = -1;
  const Range range = internal_force_constants(in, inv_root, out, cut);
  store_modes(in, gf_modes(in, range, cut, inv_root, out), out, range, inv_root);
  cartesian_wavenumbers(in, inv_root, out);
  return out;
}

}  // namespace korven::kit
