#include "kit/symmetry/product_rule.h"

#include <cmath>

namespace korven::kit {
namespace {

// The characters of a representation given per operation.
using Characters = std::vector<double>;

// The Cartesian displacements of the atoms of one set: the atoms an
// operation leaves in place contribute tr R each.
Characters displacement_characters(const PointGroup& g, const std::vector<int>& set) {
  Characters chi;
  for (const SymmetryOperation& op : g.operations) {
    int unmoved = 0;
    for (int a : set) unmoved += op.permutation[static_cast<std::size_t>(a)] == a;
    chi.push_back(unmoved * op.matrix.trace());
  }
  return chi;
}

// The sets of atoms the group's operations carry into one another.
std::vector<std::vector<int>> equivalent_sets(const PointGroup& g, std::size_t atoms) {
  std::vector<int> set_of(atoms, -1);
  std::vector<std::vector<int>> sets;
  for (std::size_t a = 0; a < atoms; ++a) {
    if (set_of[a] >= 0) continue;
    sets.emplace_back();
    for (const SymmetryOperation& op : g.operations) {
      const int b = op.permutation[a];
      if (set_of[static_cast<std::size_t>(b)] < 0) {
        set_of[static_cast<std::size_t>(b)] = static_cast<int>(sets.size()) - 1;
        sets.back().push_back(b);
      }
    }
  }
  return sets;
}

// The inertia factor: the determinant of the primed inertia tensor over the
// unprimed one, both restricted to the rotations of species s (axial
// vectors, χ = det R tr R), per partner of a degenerate species.
double inertia_factor(const PointGroup& g, int s, const Mat3& inertia, const Mat3& primed) {
  const CharacterTable& table = g.table();
  const Species& sp = table.species[static_cast<std::size_t>(s)];
  Mat3 p = Mat3::Zero();
  for (int k = 0; k < table.order(); ++k) {
    const Mat3& r = g.operations[static_cast<std::size_t>(k)].matrix;
    p += table.character(s, k) * r.determinant() * r;
  }
  p *= (sp.separable ? sp.dimension / 2.0 : sp.dimension) / table.order();
  const Eigen::SelfAdjointEigenSolver<Mat3> eig(0.5 * (p + p.transpose()));
  std::vector<Vec3> basis;
  for (int k = 0; k < 3; ++k)
    if (eig.eigenvalues()(k) > 0.5) basis.push_back(eig.eigenvectors().col(k));
  if (basis.empty()) return 1;
  Matrix w(3, static_cast<Eigen::Index>(basis.size()));
  for (std::size_t k = 0; k < basis.size(); ++k) w.col(static_cast<Eigen::Index>(k)) = basis[k];
  const double ratio = (w.transpose() * primed * w).determinant() / (w.transpose() * inertia * w).determinant();
  return std::pow(ratio, 1.0 / sp.dimension);
}

}  // namespace

double product_rule_ratio(const PointGroup& g, int s, const std::vector<Vec3>& x, const std::vector<double>& masses,
                          const std::vector<double>& primed) {
  const CharacterTable& table = g.table();
  double squared = 1;
  for (const std::vector<int>& set : equivalent_sets(g, x.size())) {
    const int a = table.multiplicity(s, displacement_characters(g, set));
    const double m = masses[static_cast<std::size_t>(set.front())];
    const double mp = primed[static_cast<std::size_t>(set.front())];
    squared *= std::pow(m / mp, a);
  }
  Characters translations;
  for (const SymmetryOperation& op : g.operations) translations.push_back(op.matrix.trace());
  double total = 0, total_primed = 0;
  for (std::size_t a = 0; a < masses.size(); ++a) total += masses[a], total_primed += primed[a];
  squared *= std::pow(total_primed / total, table.multiplicity(s, translations));
  squared *= inertia_factor(g, s, inertia_tensor(x, masses), inertia_tensor(x, primed));
  return std::sqrt(squared);
}

bool is_subgroup(const PointGroup& sub, const PointGroup& group) {
  for (const SymmetryOperation& op : sub.operations) {
    bool found = false;
    for (const SymmetryOperation& other : group.operations)
      found = found || (other.permutation == op.permutation && (other.matrix - op.matrix).cwiseAbs().maxCoeff() < 1e-6);
    if (!found) return false;
  }
  return true;
}

}  // namespace korven::kit
