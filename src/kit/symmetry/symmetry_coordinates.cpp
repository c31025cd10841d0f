// Symmetry coordinates.
//
// The space the coordinates reach, range(B), has the orthonormal basis
// Q = B V S^-1 (B = Q S V^T, the thin singular value decomposition, from the
// eigenvectors of B^T B). An operation g acts on the Cartesian displacements
// by T(g) (atom i's block moved to atom perm(i) and turned by the 3x3
// matrix), and on the coordinates by D(g) = B T(g) B^+ (B T(g) = D(g) B for a
// set closed under the group); in the basis Q that is
// D_Q(g) = Q^T D(g) Q = S V^T T(g) V S^-1, an r x r orthogonal matrix for a
// closed set (r = 3N-6 or 3N-5).
//
// Species: the projector (d / |G|) sum_g chi(g) D_Q(g) (Wigner; a separable
// pair with d / 2, the dimension of each of its complex components) onto the
// isotypic component. A degenerate species of real type is split into its d
// partners by Wigner's transfer operators P_k1 = (d / |G|) sum_g
// Gamma(g)_k1 D_Q(g), with the representation matrices Gamma taken from one
// irreducible subspace of the component: the eigenspace of one eigenvalue
// of sum_g D(g) A D(g)^T, A a fixed pseudo-random symmetric matrix (that sum
// commutes with the representation, so its eigenspaces are invariant; a
// generic A leaves each of dimension d). Partner k of a coordinate is P_k1
// applied to partner 1, so all partner blocks of G' are equal element for
// element. The basis of that one subspace is taken from the projections of
// the coordinates, so that partner 1 is adapted to the first coordinate's
// own symmetry.
//
// A separable pair (E in C3, E1 in C5, Eg in Th, E in S4) stays one block:
// its two real partners are related by an operation with no real
// irreducible matrices, and G' couples them: in a basis of matching
// partners the block has the form [[A, B], [-B, A]] with B antisymmetric,
// nonzero once the species occurs twice. One block per pair is what
// factors.
//
// Within a block the basis comes from the projections of the internal
// coordinates taken in their order, Gram-Schmidt orthonormalised (so that
// simple sums and differences of equivalent coordinates come out as such),
// with the sign making the largest coefficient positive.
#include "kit/symmetry/symmetry_coordinates.h"

#include <cmath>
#include <limits>
#include <random>
#include <sstream>

#include "kit/symmetry/mode_symmetry.h"


namespace korven::kit {
namespace {

struct Action {
  Matrix q;                 // NIC x r, orthonormal basis of range(B)
  std::vector<Matrix> d;    // D_Q(g) per operation, r x r
  double closure_error = 0;  // largest |D D^T - 1|
};

Action coordinate_action(const Matrix& b, const PointGroup& group, int vibrations) {
  if (group.operations.empty()) throw SymmetryError("symmetry coordinates: a group without operations");
  const int atoms = static_cast<int>(group.operations[0].permutation.size());
  if (b.cols() != 3 * atoms)
    throw SymmetryError("symmetry coordinates: B has " + std::to_string(b.cols()) +
                     " columns for " + std::to_string(atoms) + " atoms");
  if (vibrations < 1 || vibrations > b.rows() || vibrations > 3 * atoms)
    throw SymmetryError("symmetry coordinates: " + std::to_string(b.rows()) +
                     " internal coordinates cannot describe " + std::to_string(vibrations) +
                     " vibrations");
  const SymmetricEigen eig = symmetric_eigen(b.transpose() * b);
  const int cols = static_cast<int>(b.cols());
  const double top = std::max(eig.values(cols - 1), 1e-300);
  const double kept = eig.values(cols - vibrations);
  const double next = cols > vibrations ? eig.values(cols - vibrations - 1) : 0.0;
  if (kept < 1e-10 * top) {
    int rank = 0;
    for (int k = 0; k < cols; ++k) rank += eig.values(k) > 1e-10 * top;
    throw SymmetryError("symmetry coordinates: the internal coordinates describe " +
                     std::to_string(rank) + " of " + std::to_string(vibrations) + " vibrations");
  }
  if (next > 1e-6 * top)
    throw SymmetryError("symmetry coordinates: B has rank above the " + std::to_string(vibrations) +
                     " vibrations (it moves a rigid molecule)");
  const Matrix v = eig.vectors.rightCols(vibrations);
  Vector sigma = eig.values.tail(vibrations).cwiseSqrt();
  Action act;
  act.q = b * v * sigma.cwiseInverse().asDiagonal();
  for (const SymmetryOperation& op : group.operations) {
    Matrix tv(v.rows(), v.cols());
    for (int i = 0; i < atoms; ++i)
      tv.middleRows(3 * op.permutation[i], 3) = op.matrix * v.middleRows(3 * i, 3);
    Matrix d = sigma.asDiagonal() * (v.transpose() * tv) * sigma.cwiseInverse().asDiagonal();
    act.closure_error = std::max(
        act.closure_error,
        (d * d.transpose() - Matrix::Identity(vibrations, vibrations)).cwiseAbs().maxCoeff());
    act.d.push_back(std::move(d));
  }
  return act;
}

Matrix projector(const Action& act, const CharacterTable& table, int s) {
  const Species& sp = table.species[s];
  const double f = (sp.separable ? sp.dimension / 2.0 : sp.dimension) / table.order();
  Matrix p = Matrix::Zero(act.d[0].rows(), act.d[0].cols());
  for (int g = 0; g < table.order(); ++g) p += f * table.character(s, g) * act.d[g];
  return p;
}

// Orthonormal vectors from p * candidates[j] in the order of j; those whose
// residual is a clear part of them first, then the largest residuals, until
// `want` are found.
std::vector<Vector> gram_schmidt(const Matrix& p, const Matrix& candidates, int want) {
  std::vector<Vector> basis;
  auto residual = [&](int j) {
    Vector x = p * candidates.col(j);
    for (int pass = 0; pass < 2; ++pass)
      for (const Vector& e : basis) x -= e.dot(x) * e;
    return x;
  };
  for (int j = 0; j < candidates.cols() && static_cast<int>(basis.size()) < want; ++j) {
    const Vector x = residual(j);
    if (x.norm() > 1e-3) basis.push_back(x.normalized());
  }
  while (static_cast<int>(basis.size()) < want) {
    int best = -1;
    double best_norm = 1e-9;
    for (int j = 0; j < candidates.cols(); ++j) {
      const double nrm = residual(j).norm();
      if (nrm > best_norm) {
        best_norm = nrm;
        best = j;
      }
    }
    if (best < 0) break;
    basis.push_back(residual(best).normalized());
  }
  return basis;
}

Matrix columns(const std::vector<Vector>& vs, int rows) {
  Matrix m(rows, static_cast<int>(vs.size()));
  for (std::size_t k = 0; k < vs.size(); ++k) m.col(static_cast<int>(k)) = vs[k];
  return m;
}

// +1 or -1: the sign that makes the largest coefficient (the first of equals)
// positive.
double sign_of_largest(const Vector& row) {
  int k = 0;
  for (int i = 1; i < row.size(); ++i)
    if (std::abs(row(i)) > std::abs(row(k)) + 1e-9) k = i;
  return row(k) < 0 ? -1.0 : 1.0;
}

// A d-dimensional irreducible subspace of the component with basis y (r x m),
// as an m x d orthonormal matrix in y's coordinates. The eigenvalues of the
// averaged matrix come in groups of d; the group that stands out best from
// its neighbours is taken (a geometry symmetric only to its written digits
// spreads each group a little).
Matrix irreducible_copy(const std::vector<Matrix>& dw, int d) {
  const int m = static_cast<int>(dw[0].rows());
  std::mt19937 random(20240611u);
  for (int attempt = 0; attempt < 8; ++attempt) {
    Matrix a(m, m);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j <= i; ++j) a(i, j) = a(j, i) = random() / 4294967296.0 - 0.5;
    Matrix c = Matrix::Zero(m, m);
    for (const Matrix& g : dw) c += g * a * g.transpose();
    c = 0.5 * (c + c.transpose());
    const SymmetricEigen eig = symmetric_eigen(c);
    if (m == d) return eig.vectors;
    int best = -1;
    double best_score = 10;  // the gap to the neighbours over the group's spread
    for (int start = 0; start + d <= m; start += d) {
      const double spread = eig.values(start + d - 1) - eig.values(start);
      double gap = std::numeric_limits<double>::infinity();
      if (start > 0) gap = std::min(gap, eig.values(start) - eig.values(start - 1));
      if (start + d < m) gap = std::min(gap, eig.values(start + d) - eig.values(start + d - 1));
      const double score = gap / std::max(spread, 1e-300);
      if (score > best_score) {
        best_score = score;
        best = start;
      }
    }
    if (best >= 0) return eig.vectors.middleCols(best, d);
  }
  throw std::logic_error("symmetry coordinates: no irreducible subspace separated");
}

// A linear molecule's blocks named by its own species: the working
// group's A1 or Ag is Sigma+ or Sigma_g+, the two components of a Π its
// partners Pi_u(1) and Pi_u(2).
std::string linear_label(const PointGroup& group, const std::string& label) {
  const LinearSpecies ls = linear_species(group, label);
  return ls.partner > 0 ? ls.name + "(" + std::to_string(ls.partner) + ")" : ls.name;
}

}  // namespace

SymmetryCoordinates symmetry_coordinates(const Matrix& b, const PointGroup& group, int vibrations) {
  const Action act = coordinate_action(b, group, vibrations);
  // The engine's factoring threshold is 5e-5; a geometry written to six
  // decimals leaves D(g) orthogonal to about 1e-6.
  if (act.closure_error > 1e-4) {
    std::ostringstream msg;
    msg << "symmetry coordinates: the internal coordinates are not closed under " << group.name()
        << " (largest deviation " << act.closure_error << ")";
    throw SymmetryError(msg.str());
  }
  const CharacterTable& table = group.table();
  const int r = vibrations;
  const int nic = static_cast<int>(b.rows());
  const Matrix candidates = act.q.transpose();  // column j: coordinate j in the basis Q
  SymmetryCoordinates out;
  std::vector<Vector> rows;  // in the basis Q
  for (int s = 0; s < static_cast<int>(table.species.size()); ++s) {
    const Species& sp = table.species[s];
    const Matrix p = projector(act, table, s);
    const int m = static_cast<int>(std::lround(p.trace()));
    if (m == 0) continue;
    if (m % sp.dimension != 0)
      throw std::logic_error("symmetry coordinates: a component of " + sp.label +
                             " is not a whole number of copies");
    if (sp.dimension == 1 || sp.separable) {
      std::vector<Vector> basis = gram_schmidt(p, candidates, m);
      if (static_cast<int>(basis.size()) != m)
        throw std::logic_error("symmetry coordinates: " + sp.label + " lost a coordinate");
      out.blocks.push_back({sp.label, s, 0, static_cast<int>(rows.size()), m});
      for (Vector& v : basis) rows.push_back(sign_of_largest(act.q * v) * v);
      continue;
    }
    const int d = sp.dimension;
    const int copies = m / d;
    const Matrix y = columns(gram_schmidt(p, candidates, m), r);
    std::vector<Matrix> dw;
    for (const Matrix& g : act.d) dw.push_back(y.transpose() * g * y);
    // The copy's basis from the projections of the coordinates in their
    // order: partner 1 is then the combination the first coordinate's own
    // symmetry leaves alone (as 2 r1 - r2 - r3 in C3v), not a random one.
    const Matrix copy = irreducible_copy(dw, d);
    const Matrix e = columns(gram_schmidt(copy * copy.transpose(), y.transpose() * candidates, d), m);
    if (e.cols() != d) throw std::logic_error("symmetry coordinates: a partner basis fell short");
    std::vector<Matrix> transfer(d, Matrix::Zero(m, m));
    for (int g = 0; g < table.order(); ++g) {
      const Matrix gamma = e.transpose() * dw[g] * e;
      for (int k = 0; k < d; ++k) transfer[k] += (double(d) / table.order()) * gamma(k, 0) * dw[g];
    }
    std::vector<Vector> first = gram_schmidt(transfer[0], y.transpose() * candidates, copies);
    if (static_cast<int>(first.size()) != copies)
      throw std::logic_error("symmetry coordinates: " + sp.label + " lost a partner");
    for (Vector& v : first) v *= sign_of_largest(act.q * (y * v));
    for (int k = 0; k < d; ++k) {
      out.blocks.push_back({sp.label + "(" + std::to_string(k + 1) + ")", s, k + 1,
                            static_cast<int>(rows.size()), copies});
      for (const Vector& v : first) rows.push_back(y * (k == 0 ? v : Vector(transfer[k] * v)));
    }
  }
  if (static_cast<int>(rows.size()) != r)
    throw std::logic_error("symmetry coordinates: the species hold " +
                           std::to_string(rows.size()) + " of " + std::to_string(r) + " rows");
  // Rows orthonormal to rounding even when the geometry is symmetric only to
  // its written digits: Loewdin's symmetric orthonormalisation, which moves
  // each row least (the rows are orthonormal in the basis Q up to that
  // asymmetry).
  Matrix rq(r, r);
  for (int k = 0; k < r; ++k) rq.row(k) = rows[k].transpose();
  const SymmetricEigen overlap = symmetric_eigen(rq * rq.transpose());
  const Matrix root = overlap.vectors * overlap.values.cwiseSqrt().cwiseInverse().asDiagonal() *
                      overlap.vectors.transpose();
  out.u = (root * rq) * act.q.transpose();
  if (group.linear())
    for (SymmetryBlock& blk : out.blocks) blk.species = linear_label(group, blk.species);
  for (int k = 0; k < r; ++k)
    for (int j = 0; j < nic; ++j)
      if (std::abs(out.u(k, j)) < 1e-13) out.u(k, j) = 0;
  return out;
}

namespace {

// What a row of U is: one species, several mixed, or partly outside the
// space of the coordinates.
enum class RowKind { species, mixed, outside };
struct RowSpecies {
  RowKind kind = RowKind::mixed;
  int species = -1;  // with RowKind::species
  Vector a;          // the row in the basis Q, normalised
};

std::vector<RowSpecies> row_species(const Matrix& u, const Action& act, const std::vector<Matrix>& projectors,
                                    double tolerance) {
  std::vector<RowSpecies> rows(static_cast<std::size_t>(u.rows()));
  for (int i = 0; i < static_cast<int>(u.rows()); ++i) {
    RowSpecies& r = rows[i];
    const Vector row = u.row(i).transpose();
    r.a = act.q.transpose() * row;
    if (row.norm() == 0 || r.a.norm() < (1 - tolerance) * row.norm()) {
      r.kind = RowKind::outside;
      continue;
    }
    r.a.normalize();
    for (int s = 0; s < static_cast<int>(projectors.size()); ++s)
      if ((projectors[s] * r.a).squaredNorm() > 1 - tolerance) r.kind = RowKind::species, r.species = s;
  }
  return rows;
}

// Each block labelled with its rows' one species, or "mixed" naming the
// first row that does not fit; `block_of` gets the species index (-1 mixed).
std::vector<BlockFinding> label_blocks(const std::vector<RowSpecies>& rows, const std::vector<int>& boundaries,
                                       const CharacterTable& table, std::vector<int>& block_of) {
  const int nblocks = boundaries.empty() ? 0 : static_cast<int>(boundaries.size()) - 1;
  std::vector<BlockFinding> out(nblocks);
  block_of.assign(nblocks, -1);
  const auto same = [&](int i, int lo) { return rows[i].kind == RowKind::species && rows[i].species == rows[lo].species; };
  for (int k = 0; k < nblocks; ++k) {
    const int lo = boundaries[k], hi = boundaries[k + 1];
    for (int i = lo; i < hi; ++i)
      if (!same(i, lo)) {
        const int bad = rows[lo].kind != RowKind::species ? lo : i;
        out[k] = {"mixed", bad,
                  rows[bad].kind == RowKind::outside ? "a row lies outside the space of the coordinates"
                  : rows[bad].kind == RowKind::mixed
                      ? "a row mixes species"
                      : "rows of " + table.species[rows[lo].species].label + " and " +
                            table.species[rows[i].species].label};
        break;
      }
    if (out[k].species.empty()) {
      block_of[k] = rows[lo].species;
      out[k].species = table.species[rows[lo].species].label;
    }
  }
  return out;
}

// The partner blocks k … k + run − 1 of the degenerate species s: Gamma of
// row j, (a_{p,j} . D(g) a_{q,j}), must be orthogonal and equal to that of
// row 0 for every operation; the first block whose row breaks that is mixed.
void check_partner_rows(const std::vector<RowSpecies>& rows, const std::vector<int>& boundaries, int k, int d,
                        const Action& act, const std::string& label, double tolerance, std::vector<BlockFinding>& out) {
  const int size = boundaries[k + 1] - boundaries[k];
  std::vector<std::vector<Matrix>> gamma(size);
  for (int j = 0; j < size; ++j)
    for (const Matrix& g : act.d) {
      Matrix m(d, d);
      for (int p = 0; p < d; ++p)
        for (int q = 0; q < d; ++q) m(p, q) = rows[boundaries[k + p] + j].a.dot(g * rows[boundaries[k + q] + j].a);
      gamma[j].push_back(m);
    }
  for (int j = 0; j < size; ++j) {
    int worst = -1;
    double worst_dev = 10 * tolerance;
    for (std::size_t g = 0; g < act.d.size(); ++g) {
      const Matrix& m = gamma[j][g];
      const Matrix ortho = m * m.transpose() - Matrix::Identity(d, d);
      const Matrix diff = j == 0 ? Matrix::Zero(d, d) : Matrix(m - gamma[0][g]);
      for (int p = 1; p < d; ++p) {
        const double dev = std::max(ortho.row(p).cwiseAbs().maxCoeff(),
                                    std::max(diff.row(p).cwiseAbs().maxCoeff(), diff.col(p).cwiseAbs().maxCoeff()));
        if (dev > worst_dev) worst_dev = dev, worst = p;
      }
    }
    if (worst > 0 && out[k + worst].bad_row < 0)
      out[k + worst] = {"mixed", boundaries[k + worst] + j,
                        "the row is not the partner of row " + std::to_string(boundaries[k] + j + 1) + " in " + label};
  }
}

// Split degenerate species: d consecutive blocks of equal size whose rows
// are partners row by row, labelled "E(1)", "E(2)".
void check_partner_runs(const std::vector<RowSpecies>& rows, const std::vector<int>& boundaries,
                        const std::vector<int>& block_of, const Action& act, const CharacterTable& table,
                        double tolerance, std::vector<BlockFinding>& out) {
  const int nblocks = static_cast<int>(block_of.size());
  for (int k = 0; k < nblocks;) {
    const int s = block_of[k];
    if (s < 0 || table.species[s].dimension == 1 || table.species[s].separable) {
      ++k;
      continue;
    }
    const int d = table.species[s].dimension;
    int run = 1;
    while (k + run < nblocks && block_of[k + run] == s) ++run;
    const int size = boundaries[k + 1] - boundaries[k];
    bool equal = run == d;
    for (int j = 0; j < run && equal; ++j) equal = boundaries[k + j + 1] - boundaries[k + j] == size;
    for (int j = 0; j < run; ++j) out[k + j].species += "(" + std::to_string(j + 1) + ")";
    if (!equal) {
      for (int j = 0; j < run; ++j)
        out[k + j] = {"mixed", boundaries[k + j],
                      table.species[s].label + " needs " + std::to_string(d) + " partner blocks of equal size"};
    } else {
      check_partner_rows(rows, boundaries, k, d, act, table.species[s].label, tolerance, out);
    }
    k += run;
  }
}

}  // namespace

std::vector<BlockFinding> block_species(const Matrix& u, const std::vector<int>& boundaries, const Matrix& b,
                                        const PointGroup& group, int vibrations, double tolerance) {
  if (u.cols() != b.rows())
    throw SymmetryError("block species: U has " + std::to_string(u.cols()) + " columns for " +
                        std::to_string(b.rows()) + " internal coordinates");
  for (std::size_t k = 0; k + 1 < boundaries.size(); ++k)
    if (boundaries[k] < 0 || boundaries[k] >= boundaries[k + 1] || boundaries[k + 1] > u.rows())
      throw SymmetryError("block species: the block boundaries must rise within the " + std::to_string(u.rows()) +
                          " rows of U");
  const Action act = coordinate_action(b, group, vibrations);
  const CharacterTable& table = group.table();
  std::vector<Matrix> projectors;
  for (int s = 0; s < static_cast<int>(table.species.size()); ++s) projectors.push_back(projector(act, table, s));
  const std::vector<RowSpecies> rows = row_species(u, act, projectors, tolerance);
  std::vector<int> block_of;
  std::vector<BlockFinding> out = label_blocks(rows, boundaries, table, block_of);
  check_partner_runs(rows, boundaries, block_of, act, table, tolerance, out);
  if (group.linear())
    for (BlockFinding& f : out)
      if (f.species != "mixed") f.species = linear_label(group, f.species);
  return out;
}

}  // namespace korven::kit
