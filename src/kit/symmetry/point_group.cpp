// The point-group search.
//
// Every operation maps a reference atom a1 to an equivalent atom b1 at the
// same distance from the centre of mass, and a second reference atom a2 (off
// the line of a1) to an equivalent b2 with the same angle to b1. The frame
// built on (a1, a2) and the one on (b1, b2), with the third axis kept or
// reversed, give the one proper and the one improper candidate of each pair
// (b1, b2); a candidate is an operation when every image lies within the
// tolerance of an equivalent atom. This finds every operation of any group,
// whatever the order of its axes, without hunting for axes first. Each
// accepted operation is refitted to its permutation (the orthogonal
// Procrustes solution with the determinant fixed, Kabsch, Acta Cryst. A32,
// 922 (1976)), the group is named from its axes and planes, the molecule is
// turned into the group's standard frame, and each operation is replaced by
// the exact operation of the character table it matches, turned back.
//
// Rules for the frame, where the labels depend on it (Mulliken, J. Chem.
// Phys. 23, 1997 (1955)):
//  - C2v: the plane yz is the mirror plane holding the most atoms (so a
//    planar molecule lies in yz and x is perpendicular to it); on a tie the
//    plane holding the greater mass, then the first found.
//  - D2, D2h: a planar molecule has x perpendicular to its plane. z is the C2
//    axis through the most atoms, on a tie the one that cuts the most bonds
//    (atom pairs closer than 1.8 A whose midpoint lies on the axis); x is
//    likewise the better of the two left (for a non-planar molecule).
//  - Cnv, even n >= 4: sigma_v (the plane xz) is the class of mirror planes
//    holding the most atoms. Dn, Dnh, even n: C2' (the axis x) is the class
//    of C2 axes through the most atoms (benzene: through the carbons).
//  - Linear molecules: z along the molecule; C2v (Cinfv) or D2h (Dinfh).
#include "kit/symmetry/point_group.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "kit/base/kit_error.h"

namespace korven::kit {
namespace {

constexpr double kPi = std::numbers::pi;

struct Geometry {
  std::vector<Vec3> r;    // relative to the centre of mass
  std::vector<int> kind;  // equal for equivalent atoms
  std::vector<double> mass;
  double tolerance;
};

// The permutation that R induces, or nothing when an image has no
// equivalent atom within `tol`.
std::optional<std::vector<int>> match(const Geometry& geo, const Mat3& rot, double tol) {
  const int n = static_cast<int>(geo.r.size());
  std::vector<int> perm(n, -1);
  std::vector<bool> used(n, false);
  for (int i = 0; i < n; ++i) {
    const Vec3 image = rot * geo.r[i];
    int best = -1;
    double best_d = tol;
    for (int j = 0; j < n; ++j) {
      if (used[j] || geo.kind[j] != geo.kind[i]) continue;
      const double d = (image - geo.r[j]).norm();
      if (d <= best_d) {
        best_d = d;
        best = j;
      }
    }
    if (best < 0) return std::nullopt;
    perm[i] = best;
    used[best] = true;
  }
  return perm;
}

// The orthogonal matrix of determinant `det` that best maps each r_i onto
// r_perm(i).
Mat3 procrustes(const Geometry& geo, const std::vector<int>& perm, double det) {
  Mat3 h = Mat3::Zero();
  for (std::size_t i = 0; i < geo.r.size(); ++i) h += geo.r[perm[i]] * geo.r[i].transpose();
  Eigen::JacobiSVD<Mat3> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Mat3 d = Mat3::Identity();
  if ((svd.matrixU() * svd.matrixV().transpose()).determinant() * det < 0) d(2, 2) = -1;
  return svd.matrixU() * d * svd.matrixV().transpose();
}

struct Found {
  Mat3 m;
  std::vector<int> perm;
  double det;
};

bool has(const std::vector<Found>& ops, const std::vector<int>& perm, double det) {
  for (const Found& f : ops)
    if (f.det * det > 0 && f.perm == perm) return true;
  return false;
}

Mat3 orthonormal_frame(const Vec3& a, const Vec3& b) {
  const Vec3 e1 = a.normalized();
  const Vec3 e2 = (b - b.dot(e1) * e1).normalized();
  Mat3 f;
  f.col(0) = e1;
  f.col(1) = e2;
  f.col(2) = e1.cross(e2);
  return f;
}

void add_checked(const Geometry& geo, std::vector<Found>& ops, const Mat3& candidate, double det,
                 double loose) {
  const auto first = match(geo, candidate, loose);
  if (!first || has(ops, *first, det)) return;
  const Mat3 refit = procrustes(geo, *first, det);
  const auto perm = match(geo, refit, geo.tolerance);
  if (!perm || has(ops, *perm, det)) return;
  ops.push_back({procrustes(geo, *perm, det), *perm, det});
}

std::vector<Found> all_operations(const Geometry& geo) {
  const int n = static_cast<int>(geo.r.size());
  const double tol = geo.tolerance;
  int a1 = 0;
  for (int i = 1; i < n; ++i)
    if (geo.r[i].norm() > geo.r[a1].norm() + 1e-12) a1 = i;
  const Vec3 u1 = geo.r[a1].normalized();
  int a2 = -1;
  double off = 0;
  for (int i = 0; i < n; ++i) {
    const double d = geo.r[i].cross(u1).norm();
    if (d > off + 1e-12) {
      off = d;
      a2 = i;
    }
  }
  if (a2 < 0 || off < 1e-9) throw std::logic_error("point group: no second reference atom");
  // Frames built on noisy atoms turn the images by up to tol / off radians:
  // candidates are matched loosely, refitted, then checked at the tolerance.
  const double rmax = geo.r[a1].norm();
  const double loose = std::min(std::max(3 * tol, 3 * tol * rmax / off), 0.5);
  const Mat3 e = orthonormal_frame(geo.r[a1], geo.r[a2]);
  const double len1 = geo.r[a1].norm(), len2 = geo.r[a2].norm();
  const double dot = geo.r[a1].dot(geo.r[a2]);
  std::vector<Found> ops;
  ops.push_back({Mat3::Identity(), {}, 1});
  for (int i = 0; i < n; ++i) ops[0].perm.push_back(i);
  const Mat3 flip = Vec3(1, 1, -1).asDiagonal();
  for (int b1 = 0; b1 < n; ++b1) {
    if (geo.kind[b1] != geo.kind[a1] || std::abs(geo.r[b1].norm() - len1) > 2 * tol) continue;
    for (int b2 = 0; b2 < n; ++b2) {
      if (b2 == b1 || geo.kind[b2] != geo.kind[a2] ||
          std::abs(geo.r[b2].norm() - len2) > 2 * tol ||
          std::abs(geo.r[b1].dot(geo.r[b2]) - dot) > 2 * tol * (len1 + len2))
        continue;
      const Mat3 f = orthonormal_frame(geo.r[b1], geo.r[b2]);
      add_checked(geo, ops, f * e.transpose(), 1, loose);
      add_checked(geo, ops, f * flip * e.transpose(), -1, loose);
    }
  }
  // Close the set under products (a tolerance near the noise can leave one out).
  for (std::size_t i = 0; i < ops.size() && ops.size() < 500; ++i)
    for (std::size_t j = 0; j < ops.size() && ops.size() < 500; ++j) {
      std::vector<int> perm(n);
      for (int k = 0; k < n; ++k) perm[k] = ops[i].perm[ops[j].perm[k]];
      const double det = ops[i].det * ops[j].det;
      if (!has(ops, perm, det)) add_checked(geo, ops, ops[i].m * ops[j].m, det, 2 * tol);
    }
  return ops;
}

// Rotation angle in [0, pi] and axis of a proper matrix.
double angle_of(const Mat3& p) { return std::acos(std::clamp((p.trace() - 1) / 2, -1.0, 1.0)); }
Vec3 axis_of(const Mat3& p) {
  Eigen::SelfAdjointEigenSolver<Mat3> eig(0.5 * (p + p.transpose()));
  int best = 0;
  for (int k = 1; k < 3; ++k)
    if (std::abs(eig.eigenvalues()(k) - 1) < std::abs(eig.eigenvalues()(best) - 1)) best = k;
  return eig.eigenvectors().col(best).normalized();
}

bool parallel(const Vec3& a, const Vec3& b) { return std::abs(a.dot(b)) > 1 - 2e-4; }
bool perpendicular(const Vec3& a, const Vec3& b) { return std::abs(a.dot(b)) < 1e-2; }

struct Axis {
  Vec3 dir;
  int order;
};

// A vector's sign fixed by its largest component, for deterministic frames.
Vec3 canonical(Vec3 v) {
  int k = 0;
  for (int i = 1; i < 3; ++i)
    if (std::abs(v(i)) > std::abs(v(k)) + 1e-9) k = i;
  return v(k) < 0 ? Vec3(-v) : v;
}

Mat3 frame_from(const Vec3& z_in, const Vec3& x_in) {
  const Vec3 z = z_in.normalized();
  const Vec3 x = (x_in - x_in.dot(z) * z).normalized();
  Mat3 f;
  f.row(0) = x.transpose();
  f.row(1) = z.cross(x).transpose();
  f.row(2) = z.transpose();
  return f;
}

// A unit vector perpendicular to z: towards the first atom off the axis.
Vec3 some_perpendicular(const Geometry& geo, const Vec3& z) {
  for (const Vec3& r : geo.r) {
    const Vec3 p = r - r.dot(z) * z;
    if (p.norm() > 10 * geo.tolerance) return canonical(p.normalized());
  }
  Vec3 e = Vec3::Unit(0);
  for (int k = 1; k < 3; ++k)
    if (std::abs(z(k)) < std::abs(e.dot(z))) e = Vec3::Unit(k);
  return (e - e.dot(z) * z).normalized();
}

int atoms_on_axis(const Geometry& geo, const Vec3& a) {
  int count = 0;
  for (const Vec3& r : geo.r) count += (r - r.dot(a) * a).norm() <= geo.tolerance;
  return count;
}

int bonds_cut(const Geometry& geo, const Vec3& a) {
  int count = 0;
  const double tol = geo.tolerance;
  for (std::size_t i = 0; i < geo.r.size(); ++i)
    for (std::size_t j = i + 1; j < geo.r.size(); ++j) {
      const Vec3 mid = 0.5 * (geo.r[i] + geo.r[j]);
      const bool off_axis = (geo.r[i] - geo.r[i].dot(a) * a).norm() > tol;
      count += off_axis && (geo.r[i] - geo.r[j]).norm() < 1.8 && (mid - mid.dot(a) * a).norm() <= tol;
    }
  return count;
}

std::pair<int, double> atoms_in_plane(const Geometry& geo, const Vec3& normal) {
  int count = 0;
  double mass = 0;
  for (std::size_t i = 0; i < geo.r.size(); ++i)
    if (std::abs(geo.r[i].dot(normal)) <= geo.tolerance) {
      ++count;
      mass += geo.mass[i];
    }
  return {count, mass};
}

struct Naming {
  std::string name;
  std::vector<Mat3> frames;  // candidates, the preferred first
};

// The group's name and standard frame from its operations.
Naming name_group(const Geometry& geo, const std::vector<Found>& ops) {
  const int order = static_cast<int>(ops.size());
  bool inversion = false;
  std::vector<Axis> axes;          // proper rotation axes with their order
  std::vector<Vec3> mirrors;       // normals
  std::vector<std::pair<Vec3, double>> improper;  // axis, rotoreflection angle
  for (const Found& f : ops) {
    const Mat3 p = f.det * f.m;
    const double a = angle_of(p);
    if (f.det < 0) {
      if (a < 1e-3) {
        inversion = true;
        continue;
      }
      const Vec3 ax = axis_of(p);
      if (a > kPi - 1e-3) mirrors.push_back(ax);
      improper.push_back({ax, kPi - a});
      continue;
    }
    if (a < 1e-3) continue;
    const Vec3 ax = axis_of(p);
    const double k = 2 * kPi / a;
    const int ord = std::abs(k - std::round(k)) < 1e-2 ? static_cast<int>(std::lround(k)) : 0;
    bool merged = false;
    for (Axis& existing : axes)
      if (parallel(existing.dir, ax)) {
        existing.order = std::max(existing.order, ord);
        merged = true;
      }
    if (!merged) axes.push_back({ax, ord});
  }
  std::vector<Axis> high, twofold;
  int top = 1;
  for (const Axis& a : axes) {
    if (a.order >= 3) high.push_back(a);
    if (a.order == 2) twofold.push_back(a);
    top = std::max(top, a.order);
  }
  auto perpendicular_to = [](const std::vector<Axis>& list, const Vec3& z) {
    std::vector<Axis> out;
    for (const Axis& a : list)
      if (perpendicular(a.dir, z)) out.push_back(a);
    return out;
  };
  Naming out;
  if (high.size() >= 2) {  // cubic or icosahedral
    const bool octa = top == 4;
    if (top == 5) out.name = inversion ? "Ih" : "I";
    else if (octa) out.name = inversion ? "Oh" : "O";
    else out.name = inversion ? "Th" : (order == 24 ? "Td" : "T");
    std::vector<Axis> ref;
    for (const Axis& a : axes)
      if (a.order == (octa ? 4 : 2)) ref.push_back(a);
    if (ref.empty()) throw std::logic_error("point group: no reference axis");
    const Vec3 z = canonical(ref[0].dir);
    for (const Axis& a : perpendicular_to(ref, z)) {
      const Vec3 x = canonical(a.dir);
      out.frames.push_back(frame_from(z, x));
      out.frames.push_back(frame_from(z, z.cross(x)));
      break;
    }
    return out;
  }
  if (axes.empty()) {
    if (!mirrors.empty()) {
      const Vec3 z = canonical(mirrors[0]);
      out.name = "Cs";
      out.frames.push_back(frame_from(z, some_perpendicular(geo, z)));
    } else {
      out.name = inversion ? "Ci" : "C1";
      out.frames.push_back(Mat3::Identity());
    }
    return out;
  }
  if (high.empty() && twofold.size() == 3) {
    for (const auto& [ax, angle] : improper)
      if (std::abs(angle - kPi / 2) < 1e-2) {  // S4: D2d about that axis
        const Vec3 z = canonical(ax);
        out.name = "D2d";
        for (const Axis& a : perpendicular_to(twofold, z))
          out.frames.push_back(frame_from(z, canonical(a.dir)));
        return out;
      }
    out.name = inversion ? "D2h" : "D2";
    // Mulliken's rule for the three C2 axes (see the head of the file).
    std::vector<int> idx{0, 1, 2};
    auto score = [&](int k) {
      return std::make_pair(atoms_on_axis(geo, twofold[k].dir), bonds_cut(geo, twofold[k].dir));
    };
    auto best_of = [&](std::vector<int> cand) {
      int best = cand[0];
      for (int k : cand)
        if (score(k) > score(best)) best = k;
      return best;
    };
    int x = -1;
    for (int k : idx) {
      bool planar = true;
      for (const Vec3& r : geo.r) planar = planar && std::abs(r.dot(twofold[k].dir)) <= geo.tolerance;
      if (planar && x < 0) x = k;
    }
    int z;
    if (x >= 0) {
      std::vector<int> rest;
      for (int k : idx)
        if (k != x) rest.push_back(k);
      z = best_of(rest);
    } else {
      z = best_of(idx);
      std::vector<int> rest;
      for (int k : idx)
        if (k != z) rest.push_back(k);
      x = best_of(rest);
    }
    out.frames.push_back(frame_from(canonical(twofold[z].dir), canonical(twofold[x].dir)));
    return out;
  }
  // One principal axis of order n.
  Axis principal = high.empty() ? twofold[0] : high[0];
  const int n = principal.order;
  const Vec3 z = canonical(principal.dir);
  bool sigma_h = false;
  std::vector<Vec3> vertical;
  for (const Vec3& m : mirrors) {
    if (parallel(m, z)) sigma_h = true;
    if (perpendicular(m, z)) vertical.push_back(m);
  }
  bool s2n = false;
  for (const auto& [ax, angle] : improper)
    if (parallel(ax, z) && std::abs(angle - kPi / n) < 1e-2) s2n = true;
  const std::vector<Axis> c2perp = perpendicular_to(twofold, z);
  const std::string nn = std::to_string(n);
  int expected = 0;
  // Candidate x axes: the C2 axes perpendicular to z, or the in-plane
  // directions of the vertical planes, the ones through most atoms first.
  std::vector<std::pair<int, Vec3>> xs;
  if (static_cast<int>(c2perp.size()) == n) {
    out.name = "D" + nn + (sigma_h ? "h" : static_cast<int>(vertical.size()) == n ? "d" : "");
    expected = sigma_h || static_cast<int>(vertical.size()) == n ? 4 * n : 2 * n;
    for (const Axis& a : c2perp) xs.push_back({atoms_on_axis(geo, a.dir), canonical(a.dir)});
  } else if (sigma_h) {
    out.name = "C" + nn + "h";
    expected = 2 * n;
  } else if (static_cast<int>(vertical.size()) == n) {
    out.name = "C" + nn + "v";
    expected = 2 * n;
    for (const Vec3& m : vertical) {
      const auto [count, mass] = atoms_in_plane(geo, m);
      if (n == 2)  // x perpendicular to the plane with the most atoms, then mass
        xs.push_back({count * 1000000 + static_cast<int>(std::lround(mass * 100)), canonical(m)});
      else
        xs.push_back({count, canonical(z.cross(m))});
    }
  } else if (s2n) {
    out.name = "S" + std::to_string(2 * n);
    expected = 2 * n;
  } else {
    out.name = "C" + nn;
    expected = n;
  }
  if (expected != order) {
    std::ostringstream msg;
    msg << "symmetry operations found (" << order << ") do not form the group " << out.name
        << "; try another tolerance";
    throw InputError(msg.str());
  }
  if (xs.empty()) xs.push_back({0, some_perpendicular(geo, z)});
  std::stable_sort(xs.begin(), xs.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [score, x] : xs) out.frames.push_back(frame_from(z, x));
  return out;
}

// Each found operation's table operation in frame f, or nothing.
std::optional<std::vector<int>> assign(const std::vector<Found>& ops, const CharacterTable& table,
                                       const Mat3& f) {
  if (static_cast<int>(ops.size()) != table.order()) return std::nullopt;
  std::vector<int> which(ops.size(), -1);
  std::vector<bool> used(table.order(), false);
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const Mat3 s = f * ops[i].m * f.transpose();
    for (int k = 0; k < table.order(); ++k)
      if (!used[k] && (s - table.operations[k]).cwiseAbs().maxCoeff() < 0.03) {
        which[i] = k;
        used[k] = true;
        break;
      }
    if (which[i] < 0) return std::nullopt;
  }
  return which;
}

PointGroup finish(const std::string& name, const std::string& working, bool linear,
                  const Vec3& center, const std::vector<Found>& ops,
                  const std::vector<Mat3>& frames) {
  const CharacterTable* known = nullptr;
  try {
    known = &character_table(working);
  } catch (const std::invalid_argument&) {
    throw InputError("the point group " + working + " has no character table here (axes of order above 60)");
  }
  const CharacterTable& table = *known;
  for (const Mat3& f : frames) {
    const auto which = assign(ops, table, f);
    if (!which) continue;
    PointGroup g;
    g.name = name;
    g.working_name = working;
    g.linear = linear;
    g.center = center;
    g.frame = f;
    g.operations.resize(table.order());
    for (std::size_t i = 0; i < ops.size(); ++i) {
      const int k = (*which)[i];
      g.operations[k].matrix = f.transpose() * table.operations[k] * f;
      g.operations[k].permutation = ops[i].perm;
      g.operations[k].class_index = table.operation_class[k];
    }
    return g;
  }
  throw InputError("the symmetry operations of " + name +
                   " could not be put in the standard frame; try another tolerance");
}

}  // namespace

PointGroup find_point_group(const std::vector<Vec3>& positions, const std::vector<double>& masses,
                            const std::vector<int>& elements, double tolerance) {
  const std::size_t n = positions.size();
  if (n == 0) throw InputError("point group: no atoms");
  if (masses.size() != n || elements.size() != n)
    throw InputError("point group: " + std::to_string(n) + " positions but " +
                     std::to_string(masses.size()) + " masses and " +
                     std::to_string(elements.size()) + " elements");
  if (!(tolerance > 0 && tolerance <= 0.5))
    throw InputError("point group: tolerance must lie in (0, 0.5] Angstrom");
  Geometry geo;
  geo.tolerance = tolerance;
  Vec3 center = Vec3::Zero();
  double total = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!positions[i].allFinite() || !std::isfinite(masses[i]) || masses[i] <= 0)
      throw InputError("point group: atom " + std::to_string(i + 1) +
                       " has a non-finite position or a mass that is not positive");
    center += masses[i] * positions[i];
    total += masses[i];
  }
  center /= total;
  std::vector<std::pair<int, double>> kinds;
  for (std::size_t i = 0; i < n; ++i) {
    geo.r.push_back(positions[i] - center);
    geo.mass.push_back(masses[i]);
    int k = -1;
    for (std::size_t j = 0; j < kinds.size(); ++j)
      if (kinds[j].first == elements[i] &&
          std::abs(kinds[j].second - masses[i]) <= 1e-6 * std::max(1.0, masses[i]))
        k = static_cast<int>(j);
    if (k < 0) {
      k = static_cast<int>(kinds.size());
      kinds.push_back({elements[i], masses[i]});
    }
    geo.kind.push_back(k);
  }
  std::vector<Found> identity{{Mat3::Identity(), {}, 1}};
  for (std::size_t i = 0; i < n; ++i) identity[0].perm.push_back(static_cast<int>(i));
  if (n == 1) return finish("C1", "C1", false, center, identity, {Mat3::Identity()});

  // Linear: every atom within the tolerance of the line along the largest
  // spread.
  Mat3 spread = Mat3::Zero();
  for (const Vec3& r : geo.r) spread += r * r.transpose();
  Eigen::SelfAdjointEigenSolver<Mat3> eig(spread);
  const Vec3 line = canonical(eig.eigenvectors().col(2));
  bool linear = true;
  for (const Vec3& r : geo.r) linear = linear && (r - r.dot(line) * line).norm() <= tolerance;
  if (linear) {
    const bool centric = match(geo, -Mat3::Identity(), tolerance).has_value();
    const std::string working = centric ? "D2h" : "C2v";
    const Mat3 f = frame_from(line, some_perpendicular(geo, line));
    const CharacterTable& table = character_table(working);
    std::vector<Found> ops;
    for (const Mat3& s : table.operations) {
      const Mat3 m = f.transpose() * s * f;
      const auto perm = match(geo, m, tolerance);
      if (!perm) throw std::logic_error("point group: a linear molecule lost an operation");
      ops.push_back({m, *perm, m.determinant()});
    }
    return finish(centric ? "Dinfh" : "Cinfv", working, true, center, ops, {f});
  }
  const std::vector<Found> ops = all_operations(geo);
  const Naming naming = name_group(geo, ops);
  return finish(naming.name, naming.name, false, center, ops, naming.frames);
}

Symmetrized symmetrize(const std::vector<Vec3>& positions, const PointGroup& group) {
  Symmetrized out;
  const std::size_t n = positions.size();
  for (const SymmetryOperation& op : group.operations)
    if (op.permutation.size() != n)
      throw InputError("symmetrize: the group was found for " +
                       std::to_string(op.permutation.size()) + " atoms, not " + std::to_string(n));
  out.positions.assign(n, Vec3::Zero());
  if (group.operations.empty()) {
    out.positions = positions;
    return out;
  }
  for (std::size_t i = 0; i < n; ++i) {
    Vec3 sum = Vec3::Zero();
    for (const SymmetryOperation& op : group.operations)
      sum += op.matrix.transpose() * (positions[op.permutation[i]] - group.center);
    out.positions[i] = group.center + sum / static_cast<double>(group.operations.size());
    out.largest_shift = std::max(out.largest_shift, (out.positions[i] - positions[i]).norm());
  }
  return out;
}

}  // namespace korven::kit
