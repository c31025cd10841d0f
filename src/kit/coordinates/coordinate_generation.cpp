#include "kit/coordinates/coordinate_generation.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <tuple>

#include "kit/base/constants.h"
#include "kit/base/text.h"

namespace korven::kit {
namespace {

double cosine(const std::vector<Vec3>& x, int i, int j, int k) {
  return (x[i] - x[j]).normalized().dot((x[k] - x[j]).normalized());
}
double degrees(double cos) { return std::acos(std::clamp(cos, -1.0, 1.0)) * 180 / kPi; }
bool straight(double cos) { return 1 - std::abs(cos) <= kStraightMargin; }
bool nearly_straight(double cos) { return degrees(cos) >= kNearlyStraightDegrees; }
// Straight or folded back within the same margin: no plane for a torsion.
bool collinear(double cos) { return degrees(std::abs(cos)) <= 180 - kNearlyStraightDegrees; }

// Union-find over atoms, to find the fragments the bonds leave.
struct Fragments {
  std::vector<int> parent;
  explicit Fragments(int n) : parent(static_cast<std::size_t>(n)) { std::iota(parent.begin(), parent.end(), 0); }
  int find(int a) {
    while (parent[a] != a) a = parent[a] = parent[parent[a]];
    return a;
  }
  void join(int a, int b) { parent[find(a)] = find(b); }
};

// The bonds, and the contacts that join the fragments they leave: the
// shortest contact between two fragments, and every other contact within
// 0.01 Å of it (so that symmetric contacts come in together), again and
// again until the molecule is one piece.
std::vector<std::pair<int, int>> connected_bonds(const Molecule& m) {
  const int n = static_cast<int>(m.atoms.size());
  std::set<std::pair<int, int>> bonds;
  Fragments f(n);
  for (auto [a, b] : m.bonds) {
    if (a == b || a < 0 || b < 0 || a >= n || b >= n) continue;
    bonds.insert(std::minmax(a, b));
    f.join(a, b);
  }
  auto distance = [&](int a, int b) { return (m.atoms[a].position - m.atoms[b].position).norm(); };
  for (;;) {
    double best = INFINITY;
    for (int a = 0; a < n; ++a)
      for (int b = a + 1; b < n; ++b)
        if (f.find(a) != f.find(b)) best = std::min(best, distance(a, b));
    if (!std::isfinite(best)) break;
    std::vector<std::pair<int, int>> contacts;
    for (int a = 0; a < n; ++a)
      for (int b = a + 1; b < n; ++b)
        if (f.find(a) != f.find(b) && distance(a, b) <= best + 0.01) contacts.emplace_back(a, b);
    for (auto [a, b] : contacts) bonds.insert({a, b}), f.join(a, b);
  }
  return {bonds.begin(), bonds.end()};
}

// A unit vector perpendicular to the axis: the Cartesian axis least aligned
// with it, made perpendicular.
Vec3 perpendicular(const Vec3& axis) {
  const Vec3 e = axis.normalized();
  int best = 0;
  for (int k = 1; k < 3; ++k)
    if (std::abs(e(k)) < std::abs(e(best)) - 1e-12) best = k;
  Vec3 t = Vec3::Zero();
  t(best) = 1;
  return (t - t.dot(e) * e).normalized();
}

// The molecule as the generators see it: positions and sorted neighbours.
struct Graph {
  std::vector<Vec3> x;
  std::vector<std::vector<int>> neighbours;
};

void stretches(const std::vector<std::pair<int, int>>& bonds, std::vector<InternalCoordinate>& cs) {
  for (auto [a, b] : bonds) cs.push_back({CoordinateKind::stretch, {a, b, -1, -1}, 0, Vec3::Zero()});
}

// Bends and linear bends at every atom, over every pair of its neighbours:
// the bends first, then the linear bends, each sorted by their atoms.
void bends_and_linear_bends(const Graph& g, std::vector<InternalCoordinate>& cs, std::vector<std::string>& warnings) {
  const auto& x = g.x;
  std::vector<InternalCoordinate> bends, linear;
  for (int j = 0; j < static_cast<int>(x.size()); ++j)
    for (std::size_t p = 0; p < g.neighbours[j].size(); ++p)
      for (std::size_t q = p + 1; q < g.neighbours[j].size(); ++q) {
        const int i = g.neighbours[j][p], k = g.neighbours[j][q];
        const double c = cosine(x, i, j, k);
        if (straight(c)) {
          const Vec3 d1 = perpendicular(x[k] - x[i]);
          const Vec3 d2 = (x[k] - x[j]).normalized().cross(d1).normalized();
          linear.push_back({CoordinateKind::linear_bend, {i, j, k, -1}, 1, d1});
          linear.push_back({CoordinateKind::linear_bend, {i, j, k, -1}, 2, d2});
          continue;
        }
        if (nearly_straight(c))
          warnings.push_back(format("the angle %d-%d-%d is %.2f degrees: kept as a bend, a vibration may be missing",
                                    i + 1, j + 1, k + 1, degrees(c)));
        bends.push_back({CoordinateKind::bend, {i, j, k, -1}, 0, Vec3::Zero()});
      }
  auto by_atoms = [](const InternalCoordinate& a, const InternalCoordinate& b) {
    return std::tie(a.atoms, a.component) < std::tie(b.atoms, b.component);
  };
  std::stable_sort(bends.begin(), bends.end(), by_atoms);
  std::stable_sort(linear.begin(), linear.end(), by_atoms);
  cs.insert(cs.end(), bends.begin(), bends.end());
  cs.insert(cs.end(), linear.begin(), linear.end());
}

// Out-of-plane angles at planar atoms with three neighbours, each neighbour
// once the atom out of the plane, so the set is symmetric.
void out_of_plane_angles(const Graph& g, std::vector<InternalCoordinate>& cs) {
  for (int j = 0; j < static_cast<int>(g.x.size()); ++j) {
    const auto& nb = g.neighbours[j];
    if (nb.size() != 3) continue;
    const int a = nb[0], b = nb[1], c = nb[2];
    const double sum =
        degrees(cosine(g.x, a, j, b)) + degrees(cosine(g.x, b, j, c)) + degrees(cosine(g.x, a, j, c));
    if (sum < kPlanarSumDegrees) continue;
    cs.push_back({CoordinateKind::out_of_plane, {a, j, b, c}, 0, Vec3::Zero()});
    cs.push_back({CoordinateKind::out_of_plane, {b, j, a, c}, 0, Vec3::Zero()});
    cs.push_back({CoordinateKind::out_of_plane, {c, j, a, b}, 0, Vec3::Zero()});
  }
}

// The end of the chain from `from` through `at`, taken through straight
// segments to the first atom where it bends: the atom before the end, and
// the end.
std::pair<int, int> chain_end(const Graph& g, int from, int at) {
  while (g.neighbours[at].size() == 2) {
    const int next = g.neighbours[at][0] == from ? g.neighbours[at][1] : g.neighbours[at][0];
    if (!straight(cosine(g.x, from, at, next))) break;
    from = at;
    at = next;
  }
  return {from, at};
}

// Torsions over every bond, each chain taken through straight segments.
void torsions(const Graph& g, const std::vector<std::pair<int, int>>& bonds, std::vector<InternalCoordinate>& cs) {
  std::set<std::array<int, 4>> found;
  for (auto [j0, k0] : bonds) {
    const auto [jprev, j] = chain_end(g, k0, j0);
    const auto [kprev, k] = chain_end(g, j0, k0);
    if (j == k) continue;
    for (int i : g.neighbours[j]) {
      if (i == jprev) continue;
      for (int l : g.neighbours[k]) {
        if (l == kprev || l == i || i == k || l == j) continue;
        if (collinear(cosine(g.x, i, j, k)) || collinear(cosine(g.x, j, k, l))) continue;
        found.insert(j < k ? std::array<int, 4>{i, j, k, l} : std::array<int, 4>{l, k, j, i});
      }
    }
  }
  std::vector<std::array<int, 4>> ts(found.begin(), found.end());
  std::sort(ts.begin(), ts.end(), [](const auto& a, const auto& b) {
    return std::tie(a[1], a[2], a[0], a[3]) < std::tie(b[1], b[2], b[0], b[3]);
  });
  for (const auto& t : ts) cs.push_back({CoordinateKind::torsion, t, 0, Vec3::Zero()});
}

}  // namespace

GeneratedCoordinates redundant_coordinates(const Molecule& m) {
  GeneratedCoordinates out;
  Graph g;
  for (const Atom& a : m.atoms) g.x.push_back(a.position);
  out.bonds = connected_bonds(m);
  out.linear_molecule = is_linear_molecule(g.x);
  g.neighbours.resize(m.atoms.size());
  for (auto [a, b] : out.bonds) g.neighbours[a].push_back(b), g.neighbours[b].push_back(a);
  for (auto& list : g.neighbours) std::sort(list.begin(), list.end());
  stretches(out.bonds, out.coordinates);
  bends_and_linear_bends(g, out.coordinates, out.warnings);
  out_of_plane_angles(g, out.coordinates);
  torsions(g, out.bonds, out.coordinates);
  return out;
}

}  // namespace korven::kit
