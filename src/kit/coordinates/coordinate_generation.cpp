#include "kit/coordinates/coordinate_generation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <set>
#include <tuple>

#include "kit/base/elements.h"
#include "kit/coordinates/wilson_b.h"

namespace korven::kit {
namespace {

constexpr double kPi = 3.14159265358979323846;

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

}  // namespace

bool is_linear_molecule(const std::vector<Vec3>& x) {
  if (x.size() <= 2) return true;
  std::size_t far = 1;
  for (std::size_t a = 1; a < x.size(); ++a)
    if ((x[a] - x[0]).norm() > (x[far] - x[0]).norm()) far = a;
  const Vec3 axis = x[far] - x[0];
  if (axis.norm() == 0) return true;
  const Vec3 e = axis.normalized();
  for (const Vec3& p : x) {
    const Vec3 d = p - x[0];
    if ((d - d.dot(e) * e).norm() > 1e-4) return false;
  }
  return true;
}

GeneratedCoordinates redundant_coordinates(const Molecule& m) {
  GeneratedCoordinates out;
  const int n = static_cast<int>(m.atoms.size());
  std::vector<Vec3> x;
  for (const Atom& a : m.atoms) x.push_back(a.position);
  out.bonds = connected_bonds(m);
  out.linear_molecule = is_linear_molecule(x);
  std::vector<std::vector<int>> nb(static_cast<std::size_t>(n));
  for (auto [a, b] : out.bonds) nb[a].push_back(b), nb[b].push_back(a);
  for (auto& list : nb) std::sort(list.begin(), list.end());

  auto& cs = out.coordinates;
  for (auto [a, b] : out.bonds) cs.push_back({CoordinateKind::stretch, {a, b, -1, -1}, 0, Vec3::Zero()});

  // Bends and linear bends at every atom, over every pair of its neighbours.
  std::vector<InternalCoordinate> bends, linear;
  for (int j = 0; j < n; ++j)
    for (std::size_t p = 0; p < nb[j].size(); ++p)
      for (std::size_t q = p + 1; q < nb[j].size(); ++q) {
        const int i = nb[j][p], k = nb[j][q];
        const double c = cosine(x, i, j, k);
        if (straight(c)) {
          const Vec3 d1 = perpendicular(x[k] - x[i]);
          const Vec3 d2 = (x[k] - x[j]).normalized().cross(d1).normalized();
          linear.push_back({CoordinateKind::linear_bend, {i, j, k, -1}, 1, d1});
          linear.push_back({CoordinateKind::linear_bend, {i, j, k, -1}, 2, d2});
          continue;
        }
        if (nearly_straight(c)) {
          char w[160];
          std::snprintf(w, sizeof w, "the angle %d-%d-%d is %.2f degrees: kept as a bend, a vibration may be missing",
                        i + 1, j + 1, k + 1, degrees(c));
          out.warnings.push_back(w);
        }
        bends.push_back({CoordinateKind::bend, {i, j, k, -1}, 0, Vec3::Zero()});
      }
  auto by_atoms = [](const InternalCoordinate& a, const InternalCoordinate& b) {
    return std::tie(a.atoms, a.component) < std::tie(b.atoms, b.component);
  };
  std::stable_sort(bends.begin(), bends.end(), by_atoms);
  std::stable_sort(linear.begin(), linear.end(), by_atoms);
  cs.insert(cs.end(), bends.begin(), bends.end());
  cs.insert(cs.end(), linear.begin(), linear.end());

  // Out-of-plane angles at planar atoms with three neighbours, each
  // neighbour once the atom out of the plane, so the set is symmetric.
  for (int j = 0; j < n; ++j) {
    if (nb[j].size() != 3) continue;
    const int a = nb[j][0], b = nb[j][1], c = nb[j][2];
    const double sum = degrees(cosine(x, a, j, b)) + degrees(cosine(x, b, j, c)) + degrees(cosine(x, a, j, c));
    if (sum < kPlanarSumDegrees) continue;
    cs.push_back({CoordinateKind::out_of_plane, {a, j, b, c}, 0, Vec3::Zero()});
    cs.push_back({CoordinateKind::out_of_plane, {b, j, a, c}, 0, Vec3::Zero()});
    cs.push_back({CoordinateKind::out_of_plane, {c, j, a, b}, 0, Vec3::Zero()});
  }

  // Torsions over every bond, the chain taken through straight segments to
  // the first atom on each side where it bends.
  auto chain_end = [&](int from, int at) {
    while (nb[at].size() == 2) {
      const int next = nb[at][0] == from ? nb[at][1] : nb[at][0];
      if (!straight(cosine(x, from, at, next))) break;
      from = at;
      at = next;
    }
    return std::pair{from, at};  // the atom before the end, and the end
  };
  std::set<std::array<int, 4>> torsions;
  for (auto [j0, k0] : out.bonds) {
    const auto [jprev, j] = chain_end(k0, j0);
    const auto [kprev, k] = chain_end(j0, k0);
    if (j == k) continue;
    for (int i : nb[j]) {
      if (i == jprev) continue;
      for (int l : nb[k]) {
        if (l == kprev || l == i || i == k || l == j) continue;
        if (collinear(cosine(x, i, j, k)) || collinear(cosine(x, j, k, l))) continue;
        std::array<int, 4> t = j < k ? std::array<int, 4>{i, j, k, l} : std::array<int, 4>{l, k, j, i};
        torsions.insert(t);
      }
    }
  }
  std::vector<std::array<int, 4>> ts(torsions.begin(), torsions.end());
  std::sort(ts.begin(), ts.end(), [](const auto& a, const auto& b) {
    return std::tie(a[1], a[2], a[0], a[3]) < std::tie(b[1], b[2], b[0], b[3]);
  });
  for (const auto& t : ts) cs.push_back({CoordinateKind::torsion, t, 0, Vec3::Zero()});
  return out;
}

std::string coordinate_name(const InternalCoordinate& c, const std::vector<int>& elements) {
  static const char* const kinds[] = {"STRETCH", "BEND", "LINEAR BEND", "OUT-OF-PLANE", "TORSION"};
  std::string name = kinds[static_cast<int>(c.kind)];
  if (c.kind == CoordinateKind::linear_bend) name += c.component == 2 ? "(2)" : "(1)";
  name += ' ';
  const int count = c.kind == CoordinateKind::stretch ? 2
                    : (c.kind == CoordinateKind::bend || c.kind == CoordinateKind::linear_bend) ? 3 : 4;
  for (int t = 0; t < count; ++t) {
    const int a = c.atoms[t];
    if (t) name += '-';
    if (a >= 0 && static_cast<std::size_t>(a) < elements.size()) name += element_symbol(elements[a]);
    name += std::to_string(a + 1);
  }
  return name;
}

std::string coordinate_value_text(const InternalCoordinate& c, const std::vector<Vec3>& x) {
  char text[40];
  if (c.kind == CoordinateKind::stretch) {
    std::snprintf(text, sizeof text, "%.6f A", coordinate_value(x, c));
  } else if (c.kind == CoordinateKind::linear_bend) {
    std::snprintf(text, sizeof text, "%.2f DEG", degrees(cosine(x, c.atoms[0], c.atoms[1], c.atoms[2])));
  } else {
    std::snprintf(text, sizeof text, "%.2f DEG", coordinate_value(x, c) * 180 / kPi);
  }
  return text;
}

}  // namespace korven::kit
