#include "kit/vibrations/force_field.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"

namespace korven::kit {
namespace {

const char* const kModelSource = "force field";

void check_mass_set(const ForceFieldMassSet& set, Eigen::Index coordinates, Eigen::Index cartesians) {
  const std::string source = set.source.empty() ? kModelSource : set.source;
  if (static_cast<Eigen::Index>(3 * set.masses.size()) != cartesians)
    throw input_error(source, format("%zu masses for B's %ld Cartesian columns", set.masses.size(),
                                     static_cast<long>(cartesians)));
  for (std::size_t a = 0; a < set.masses.size(); ++a)
    if (!(set.masses[a] > 0) || !std::isfinite(set.masses[a]))
      throw input_error(source, format("atom %zu has mass %g: masses must be positive", a + 1, set.masses[a]));
  if (!set.u) {
    if (!set.blocks.empty()) throw input_error(source, "symmetry blocks without U");
    return;
  }
  if (set.u->cols() != coordinates)
    throw input_error(source, format("U has %ld columns for %ld internal coordinates", static_cast<long>(set.u->cols()),
                                     static_cast<long>(coordinates)));
  const double dev = orthonormal_deviation(*set.u);
  if (!(dev <= kOrthonormalTolerance))
    throw input_error(source, format("the rows of U are not orthonormal: U Ut differs from 1 by %.3g (limit %g)", dev,
                                     kOrthonormalTolerance));
  int next = 0;
  for (const ModeBlock& blk : set.blocks) {
    if (blk.first != next || blk.size < 1)
      throw input_error(source, format("the symmetry blocks do not tile the rows of U in order (block at row %d)",
                                       blk.first + 1));
    next += blk.size;
  }
  if (!set.blocks.empty() && next != set.u->rows())
    throw input_error(source, format("the symmetry blocks cover %d of U's %ld rows", next,
                                     static_cast<long>(set.u->rows())));
}

// The range of G_b = D_b D_bᵀ as K = V Λ^½ over its eigenvalues above `cut`
// (K Kᵀ = G_b, Kᵀ K = Λ), the approach of vibrations.cpp: when D_b has more
// rows than columns the eigenvalues come from the smaller D_bᵀ D_b = W Λ Wᵀ
// and K = D_b W.
Matrix range_basis(const Matrix& d, double cut) {
  const bool tall = d.rows() > d.cols();
  const SymmetricEigen e = symmetric_eigen(tall ? Matrix(d.transpose() * d) : Matrix(d * d.transpose()));
  std::vector<Eigen::Index> kept;
  for (Eigen::Index i = 0; i < e.values.size(); ++i)
    if (e.values(i) > cut) kept.push_back(i);
  Matrix k(d.rows(), static_cast<Eigen::Index>(kept.size()));
  for (std::size_t j = 0; j < kept.size(); ++j) {
    const Vector v = e.vectors.col(kept[j]);
    k.col(static_cast<Eigen::Index>(j)) = tall ? Vector(d * v) : Vector(v * std::sqrt(e.values(kept[j])));
  }
  return k;
}

// kGRangeRelative of G's largest eigenvalue, from the smaller Gram matrix of D.
double range_cut(const Matrix& d) {
  const Vector e = symmetric_eigenvalues(d.rows() > d.cols() ? Matrix(d.transpose() * d) : Matrix(d * d.transpose()));
  return kGRangeRelative * (e.size() ? e.cwiseAbs().maxCoeff() : 0.0);
}

void check_refined(const std::vector<RefinedElement>& refined, const std::vector<ForceFieldMassSet>& sets, Eigen::Index nic) {
  for (std::size_t e = 0; e < refined.size(); ++e) {
    const RefinedElement& r = refined[e];
    Eigen::Index limit = nic;
    if (r.basis == ElementBasis::symmetry) {
      if (r.mass_set < 0 || r.mass_set >= static_cast<int>(sets.size()) || !sets[static_cast<std::size_t>(r.mass_set)].u)
        throw input_error(kModelSource, format("refined element %zu is in the symmetry coordinates of mass set %d, "
                                               "which has no U", e + 1, r.mass_set + 1));
      limit = sets[static_cast<std::size_t>(r.mass_set)].u->rows();
    }
    if (r.row < 0 || r.column < 0 || r.row >= limit || r.column >= limit)
      throw input_error(kModelSource, format("refined element %zu (%d, %d) lies outside the %ld coordinates", e + 1,
                                             r.row + 1, r.column + 1, static_cast<long>(limit)));
  }
}

// ν̃ = k √|λ| (negative for λ < 0), so dν̃/dλ = k / (2 √|λ|) either way.
double wavenumber_slope(double lambda) {
  return wavenumber_per_root_eigenvalue() / (2 * std::sqrt(std::abs(lambda)));
}

}  // namespace

Matrix internal_force_constants(const Matrix& b, const Matrix& hessian, const std::string& source) {
  if (hessian.rows() != b.cols() || hessian.cols() != b.cols())
    throw input_error(source, format("the Hessian is %ld x %ld for B's %ld Cartesian columns",
                                     static_cast<long>(hessian.rows()), static_cast<long>(hessian.cols()),
                                     static_cast<long>(b.cols())));
  // B⁺ = Bᵀ (B Bᵀ)⁺ or, from the smaller Gram matrix, (Bᵀ B)⁺ Bᵀ: the same
  // Moore–Penrose inverse (Penrose, Proc. Camb. Phil. Soc. 51, 406, 1955).
  const Matrix b_plus = b.rows() <= b.cols()
                            ? Matrix(b.transpose() * pseudo_inverse_symmetric(b * b.transpose(), kForceConstantRankRelative))
                            : Matrix(pseudo_inverse_symmetric(b.transpose() * b, kForceConstantRankRelative) * b.transpose());
  Matrix f = b_plus.transpose() * hessian * b_plus;
  return 0.5 * (f + f.transpose());
}

ForceFieldModel::ForceFieldModel(Matrix b, Matrix f, std::vector<int> groups, std::vector<ForceFieldMassSet> mass_sets,
                                 std::vector<RefinedElement> refined)
    : f_(std::move(f)), group_of_(std::move(groups)), refined_(std::move(refined)), mass_sets_(std::move(mass_sets)) {
  const Eigen::Index nic = b.rows();
  if (f_.rows() != nic || f_.cols() != nic)
    throw input_error(kModelSource, format("F is %ld x %ld for B's %ld rows", static_cast<long>(f_.rows()),
                                           static_cast<long>(f_.cols()), static_cast<long>(nic)));
  if (static_cast<Eigen::Index>(group_of_.size()) != nic)
    throw input_error(kModelSource, format("%zu group numbers for %ld internal coordinates", group_of_.size(),
                                           static_cast<long>(nic)));
  for (int g : group_of_) {
    if (g < 0) throw input_error(kModelSource, format("group %d: groups count from 0", g));
    groups_ = std::max(groups_, g + 1);
  }
  group_indicator_ = Matrix::Zero(groups_, nic);
  for (Eigen::Index i = 0; i < nic; ++i) group_indicator_(group_of_[static_cast<std::size_t>(i)], i) = 1;
  if (mass_sets_.empty()) throw input_error(kModelSource, "no mass set");
  for (const ForceFieldMassSet& set : mass_sets_) check_mass_set(set, nic, b.cols());
  check_refined(refined_, mass_sets_, nic);
  for (const ForceFieldMassSet& set : mass_sets_) sets_.push_back(prepare(b, set));
}

ForceFieldModel::SetData ForceFieldModel::prepare(const Matrix& b, const ForceFieldMassSet& set) const {
  Vector inv_root(b.cols());
  for (Eigen::Index i = 0; i < b.cols(); ++i) inv_root(i) = std::sqrt(1.0 / set.masses[static_cast<std::size_t>(i / 3)]);
  const Matrix d = b * inv_root.asDiagonal();
  SetData out{d * d.transpose(), set.u.has_value(), {}};
  const double cut = range_cut(d);
  std::vector<ModeBlock> blocks = set.blocks;
  if (blocks.empty()) blocks.push_back({0, static_cast<int>(set.u ? set.u->rows() : b.rows()), ""});
  for (const ModeBlock& blk : blocks) {
    Block block{blk.species, Matrix(), Matrix(), Matrix()};
    if (set.u) {
      const Matrix ub = set.u->middleRows(blk.first, blk.size);
      block.k = range_basis(ub * d, cut);
      block.q = ub.transpose() * block.k;
    } else {
      block.q = range_basis(d, cut);
    }
    block.refined_rows.resize(2 * refined(), block.q.cols());
    for (std::size_t e = 0; e < refined_.size(); ++e) {
      const RefinedElement& r = refined_[e];
      const auto row_of = [&](int i) -> Vector {
        if (r.basis == ElementBasis::internal) return block.q.row(i).transpose();
        return (mass_sets_[static_cast<std::size_t>(r.mass_set)].u->row(i) * block.q).transpose();
      };
      block.refined_rows.row(static_cast<Eigen::Index>(2 * e)) = row_of(r.row).transpose();
      block.refined_rows.row(static_cast<Eigen::Index>(2 * e + 1)) = row_of(r.column).transpose();
    }
    out.blocks.push_back(std::move(block));
  }
  return out;
}

const Matrix& ForceFieldModel::g(int mass_set) const { return sets_.at(static_cast<std::size_t>(mass_set)).g; }

std::vector<int> ForceFieldModel::block_sizes(int mass_set) const {
  std::vector<int> sizes;
  for (const Block& b : sets_.at(static_cast<std::size_t>(mass_set)).blocks) sizes.push_back(static_cast<int>(b.q.cols()));
  return sizes;
}

Vector ForceFieldModel::start() const {
  Vector p = Vector::Zero(parameters());
  p.head(groups_).setOnes();
  return p;
}

namespace {

// √c per internal coordinate; throws for a factor that is not positive.
Vector root_factors(const Vector& p, const std::vector<int>& group_of, int groups, int parameters) {
  if (p.size() != parameters)
    throw std::domain_error(format("%ld parameters for a model of %d", static_cast<long>(p.size()), parameters));
  for (int g = 0; g < groups; ++g)
    if (!(p(g) > 0) || !std::isfinite(p(g)))
      throw std::domain_error(format("scale factor %d is %g: factors must be positive", g + 1, p(g)));
  if (!p.allFinite()) throw std::domain_error("a refined element is not finite");
  Vector s(static_cast<Eigen::Index>(group_of.size()));
  for (std::size_t i = 0; i < group_of.size(); ++i) s(static_cast<Eigen::Index>(i)) = std::sqrt(p(group_of[i]));
  return s;
}

}  // namespace

Matrix ForceFieldModel::scaled_force_field(const Vector& p) const {
  const Vector s = root_factors(p, group_of_, groups_, parameters());
  Matrix f = s.asDiagonal() * f_ * s.asDiagonal();
  for (std::size_t e = 0; e < refined_.size(); ++e) {
    const RefinedElement& r = refined_[e];
    const double delta = p(groups_ + static_cast<Eigen::Index>(e));
    if (r.basis == ElementBasis::internal) {
      f(r.row, r.column) += delta;
      if (r.row != r.column) f(r.column, r.row) += delta;
      continue;
    }
    const Matrix& u = *mass_sets_[static_cast<std::size_t>(r.mass_set)].u;
    const Vector a = u.row(r.row).transpose(), bv = u.row(r.column).transpose();
    f += r.row == r.column ? Matrix(delta * a * a.transpose())
                           : Matrix(delta * (a * bv.transpose() + bv * a.transpose()));
  }
  return f;
}

// With S Q and X = F S Q: W = Qᵀ F′ Q = (SQ)ᵀ X + Σ Δ_e (a bᵀ + b aᵀ), the
// symmetric form of G F′ on the block's range; W = C Ω Cᵀ, L = Q C. Then
// dλ_k/dc_g = l_kᵀ (∂F′/∂c_g) l_k = Σ_{i∈g} (L_ik / s_i) (F S L)_ik with
// F S L = X C, and dλ_k/dΔ_e = 2 (aᵀc_k)(bᵀc_k) (or (aᵀc_k)² for a
// diagonal element).
void ForceFieldModel::solve_block(const Block& block, const Vector& s, const Vector& p, bool derivatives,
                                  BlockModes& out) const {
  out.species = block.species;
  const Matrix sq = s.asDiagonal() * block.q;
  const Matrix x = f_ * sq;
  Matrix w = sq.transpose() * x;
  for (std::size_t e = 0; e < refined_.size(); ++e) {
    const double delta = p(groups_ + static_cast<Eigen::Index>(e));
    const Vector a = block.refined_rows.row(static_cast<Eigen::Index>(2 * e)).transpose();
    const Vector b = block.refined_rows.row(static_cast<Eigen::Index>(2 * e + 1)).transpose();
    w += refined_[e].row == refined_[e].column ? Matrix(delta * a * a.transpose())
                                               : Matrix(delta * (a * b.transpose() + b * a.transpose()));
  }
  w = 0.5 * (w + w.transpose()).eval();
  const SymmetricEigen e = symmetric_eigen(w);
  const Eigen::Index m = e.values.size();
  out.lambda = e.values.reverse();
  const Matrix c = e.vectors.rowwise().reverse();
  out.wavenumbers = out.lambda.unaryExpr([](double l) { return wavenumber_from_eigenvalue(l); });
  out.l = block.q * c;
  out.l_symmetry = block.k.size() ? Matrix(block.k * c) : Matrix();
  if (!derivatives) return;
  out.dlambda.resize(m, parameters());
  const Matrix t = (s.cwiseInverse().asDiagonal() * out.l).cwiseProduct(x * c);
  out.dlambda.leftCols(groups_) = (group_indicator_ * t).transpose();
  const Matrix ab = block.refined_rows * c;
  for (std::size_t k = 0; k < refined_.size(); ++k) {
    const auto row = static_cast<Eigen::Index>(2 * k);
    const Vector d = refined_[k].row == refined_[k].column
                         ? Vector(ab.row(row).transpose().cwiseAbs2())
                         : Vector(2 * ab.row(row).transpose().cwiseProduct(ab.row(row + 1).transpose()));
    out.dlambda.col(groups_ + static_cast<Eigen::Index>(k)) = d;
  }
}

std::vector<ForceFieldModes> ForceFieldModel::evaluate(const Vector& p, bool derivatives) const {
  const Vector s = root_factors(p, group_of_, groups_, parameters());
  std::vector<ForceFieldModes> out(sets_.size());
  for (std::size_t k = 0; k < sets_.size(); ++k) {
    out[k].blocks.resize(sets_[k].blocks.size());
    for (std::size_t b = 0; b < sets_[k].blocks.size(); ++b)
      solve_block(sets_[k].blocks[b], s, p, derivatives, out[k].blocks[b]);
  }
  return out;
}

ModeValue mode_value(const ForceFieldModes& modes, const std::vector<ModeMember>& members) {
  if (members.empty()) throw std::out_of_range("a band with no modes");
  ModeValue v;
  for (const ModeMember& m : members) {
    if (m.block < 0 || m.block >= static_cast<int>(modes.blocks.size()))
      throw std::out_of_range(format("block %d does not exist", m.block + 1));
    const BlockModes& b = modes.blocks[static_cast<std::size_t>(m.block)];
    if (m.rank < 0 || m.rank >= b.lambda.size())
      throw std::out_of_range(format("block %d has no mode of rank %d", m.block + 1, m.rank + 1));
    v.lambda += b.lambda(m.rank);
    if (b.dlambda.size() == 0) continue;
    if (v.dlambda.size() == 0) v.dlambda = Vector::Zero(b.dlambda.cols());
    v.dlambda += b.dlambda.row(m.rank).transpose();
  }
  const double n = static_cast<double>(members.size());
  v.lambda /= n;
  v.wavenumber = wavenumber_from_eigenvalue(v.lambda);
  if (v.dlambda.size()) {
    v.dlambda /= n;
    v.dwavenumber = v.dlambda * wavenumber_slope(v.lambda);
  }
  return v;
}

namespace {

void check_bands(const ForceFieldModel& model, const std::vector<ObservedBand>& bands) {
  for (std::size_t i = 0; i < bands.size(); ++i) {
    const ObservedBand& band = bands[i];
    if (band.mass_set < 0 || band.mass_set >= model.mass_sets())
      throw input_error(kModelSource, format("band %zu names mass set %d of %d", i + 1, band.mass_set + 1,
                                             model.mass_sets()));
    const std::vector<int> sizes = model.block_sizes(band.mass_set);
    if (band.members.empty()) throw input_error(kModelSource, format("band %zu names no mode", i + 1));
    for (const ModeMember& m : band.members)
      if (m.block < 0 || m.block >= static_cast<int>(sizes.size()) || m.rank < 0 ||
          m.rank >= sizes[static_cast<std::size_t>(m.block)])
        throw input_error(kModelSource, format("band %zu names mode %d of block %d, which does not exist", i + 1,
                                               m.rank + 1, m.block + 1));
    if (!(band.weight > 0) || !std::isfinite(band.wavenumber))
      throw input_error(kModelSource, format("band %zu: weight %g, wavenumber %g", i + 1, band.weight, band.wavenumber));
  }
}

// r_i = ν̃_obs − ν̃_calc and ∂r_i/∂p = −∂ν̃_calc/∂p; not-a-number at
// parameters the model refuses (a factor that is not positive), so that
// the step there is rejected.
void band_residuals(const ForceFieldModel& model, const std::vector<ObservedBand>& bands, const Vector& p, Vector& r,
                    Matrix& j) {
  const auto n = static_cast<Eigen::Index>(bands.size());
  r.resize(n);
  j.setZero(n, model.parameters());
  std::vector<ForceFieldModes> modes;
  try {
    modes = model.evaluate(p);
  } catch (const std::domain_error&) {
    r.setConstant(std::numeric_limits<double>::quiet_NaN());
    return;
  }
  for (Eigen::Index i = 0; i < n; ++i) {
    const ObservedBand& band = bands[static_cast<std::size_t>(i)];
    const ModeValue v = mode_value(modes[static_cast<std::size_t>(band.mass_set)], band.members);
    r(i) = band.wavenumber - v.wavenumber;
    j.row(i) = -v.dwavenumber.transpose();
  }
}

}  // namespace

ForceFieldFit fit_force_field(const ForceFieldModel& model, const std::vector<ObservedBand>& bands,
                              const FitSettings& settings) {
  check_bands(model, bands);
  LeastSquaresProblem problem;
  problem.start = settings.start.size() ? settings.start : model.start();
  problem.fixed = settings.fixed;
  problem.weights.resize(static_cast<Eigen::Index>(bands.size()));
  for (std::size_t i = 0; i < bands.size(); ++i) problem.weights(static_cast<Eigen::Index>(i)) = bands[i].weight;
  if (settings.regularize)
    for (int e = 0; e < model.refined(); ++e) problem.priors.push_back({model.groups() + e, 0.0, *settings.regularize});
  problem.residuals = [&](const Vector& p, Vector& r, Matrix& j) { band_residuals(model, bands, p, r, j); };
  ForceFieldFit fit;
  fit.result = least_squares(problem, settings.options);
  fit.modes = model.evaluate(fit.result.values, false);
  for (const ObservedBand& band : bands)
    fit.calculated.push_back(mode_value(fit.modes[static_cast<std::size_t>(band.mass_set)], band.members).wavenumber);
  return fit;
}

}  // namespace korven::kit
