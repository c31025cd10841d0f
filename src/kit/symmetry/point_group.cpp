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
//  - D2, D2h: a planar molecule has z perpendicular to its plane and x the
//    in-plane C2 axis through the most atoms (ethylene: x along C=C), the
//    axes of Herzberg's tables, which the literature's numbering of
//    ethylene's vibrations (ν7 B1u, ν12 B3u) follows. A non-planar molecule
//    has z the C2 axis through the most atoms, on a tie the one that cuts
//    the most bonds (atom pairs closer than 1.8 A whose midpoint lies on the
//    axis), and x likewise the better of the two left.
//  - Cnv, even n >= 4: sigma_v (the plane xz) is the class of mirror planes
//    holding the most atoms. Dn, Dnh, even n: C2' (the axis x) is the class
//    of C2 axes through the most atoms (benzene: through the carbons).
//  - Linear molecules: z along the molecule; C2v (Cinfv) or D2h (Dinfh).
#include "kit/symmetry/point_group.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "kit/base/constants.h"

namespace korven::kit {
namespace {

struct Geometry {
  std::vector<Vec3> r;    // relative to the centre of mass
  std::vector<int> kind;  // equal for equivalent atoms
  std::vector<double> mass;
  SymmetryTolerances tol;
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
  std::vector<Vec3> images;
  for (std::size_t i = 0; i < geo.r.size(); ++i) images.push_back(geo.r[perm[i]]);
  return best_orthogonal_about_origin(geo.r, images, det);
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

void add_checked(const Geometry& geo, std::vector<Found>& ops, const Mat3& candidate, double det, double loose) {
  const auto first = match(geo, candidate, loose);
  if (!first || has(ops, *first, det)) return;
  const Mat3 refit = procrustes(geo, *first, det);
  const auto perm = match(geo, refit, geo.tol.position);
  if (!perm || has(ops, *perm, det)) return;
  ops.push_back({procrustes(geo, *perm, det), *perm, det});
}

// The two reference atoms: the farthest from the centre, and the one
// farthest off its line.
std::pair<int, int> reference_atoms(const Geometry& geo) {
  const int n = static_cast<int>(geo.r.size());
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
  if (a2 < 0 || off < geo.tol.reference_off_axis) throw std::logic_error("point group: no second reference atom");
  return {a1, a2};
}

// Closes the set under products (a tolerance near the noise can leave one out).
void close_under_products(const Geometry& geo, std::vector<Found>& ops) {
  const int n = static_cast<int>(geo.r.size());
  const auto most = static_cast<std::size_t>(geo.tol.max_operations);
  for (std::size_t i = 0; i < ops.size() && ops.size() < most; ++i)
    for (std::size_t j = 0; j < ops.size() && ops.size() < most; ++j) {
      std::vector<int> perm(n);
      for (int k = 0; k < n; ++k) perm[k] = ops[i].perm[ops[j].perm[k]];
      const double det = ops[i].det * ops[j].det;
      if (!has(ops, perm, det)) add_checked(geo, ops, ops[i].m * ops[j].m, det, 2 * geo.tol.position);
    }
}

std::vector<Found> all_operations(const Geometry& geo) {
  const int n = static_cast<int>(geo.r.size());
  const double tol = geo.tol.position;
  const auto [a1, a2] = reference_atoms(geo);
  // Frames built on noisy atoms turn the images by up to tol / off radians:
  // candidates are matched loosely, refitted, then checked at the tolerance.
  const double off = geo.r[a2].cross(geo.r[a1].normalized()).norm();
  const double rmax = geo.r[a1].norm();
  const double loose =
      std::min(std::max(geo.tol.loose_factor * tol, geo.tol.loose_factor * tol * rmax / off), geo.tol.loose_limit);
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
      if (b2 == b1 || geo.kind[b2] != geo.kind[a2] || std::abs(geo.r[b2].norm() - len2) > 2 * tol ||
          std::abs(geo.r[b1].dot(geo.r[b2]) - dot) > 2 * tol * (len1 + len2))
        continue;
      const Mat3 f = orthonormal_frame(geo.r[b1], geo.r[b2]);
      add_checked(geo, ops, f * e.transpose(), 1, loose);
      add_checked(geo, ops, f * flip * e.transpose(), -1, loose);
    }
  }
  close_under_products(geo, ops);
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
    if (p.norm() > 10 * geo.tol.position) return canonical(p.normalized());
  }
  Vec3 e = Vec3::Unit(0);
  for (int k = 1; k < 3; ++k)
    if (std::abs(z(k)) < std::abs(e.dot(z))) e = Vec3::Unit(k);
  return (e - e.dot(z) * z).normalized();
}

int atoms_on_axis(const Geometry& geo, const Vec3& a) {
  int count = 0;
  for (const Vec3& r : geo.r) count += (r - r.dot(a) * a).norm() <= geo.tol.position;
  return count;
}

int bonds_cut(const Geometry& geo, const Vec3& a) {
  int count = 0;
  const double tol = geo.tol.position;
  for (std::size_t i = 0; i < geo.r.size(); ++i)
    for (std::size_t j = i + 1; j < geo.r.size(); ++j) {
      const Vec3 mid = 0.5 * (geo.r[i] + geo.r[j]);
      const bool off_axis = (geo.r[i] - geo.r[i].dot(a) * a).norm() > tol;
      count += off_axis && (geo.r[i] - geo.r[j]).norm() < geo.tol.bond_length && (mid - mid.dot(a) * a).norm() <= tol;
    }
  return count;
}

std::pair<int, double> atoms_in_plane(const Geometry& geo, const Vec3& normal) {
  int count = 0;
  double mass = 0;
  for (std::size_t i = 0; i < geo.r.size(); ++i)
    if (std::abs(geo.r[i].dot(normal)) <= geo.tol.position) {
      ++count;
      mass += geo.mass[i];
    }
  return {count, mass};
}

// ------------------------------------------------- the group from its elements

struct Axis {
  Vec3 dir;
  int order;
};

// What the operations are, each classified once: proper axes (parallel ones
// merged, with their highest order), mirror planes (normals), improper axes
// with their rotoreflection angle, and the inversion.
struct SymmetryElements {
  int order = 0;
  bool inversion = false;
  std::vector<Axis> axes;
  std::vector<Vec3> mirrors;
  std::vector<std::pair<Vec3, double>> improper;
  std::vector<Axis> high, twofold;  // the axes of order 3 and more, and of order 2
  int top = 1;                      // the highest order
};

struct Tests {
  const SymmetryTolerances& tol;
  bool parallel(const Vec3& a, const Vec3& b) const { return std::abs(a.dot(b)) > 1 - tol.parallel; }
  bool perpendicular(const Vec3& a, const Vec3& b) const { return std::abs(a.dot(b)) < tol.perpendicular; }
  std::vector<Axis> perpendicular_to(const std::vector<Axis>& list, const Vec3& z) const {
    std::vector<Axis> out;
    for (const Axis& a : list)
      if (perpendicular(a.dir, z)) out.push_back(a);
    return out;
  }
};

void add_proper(const Tests& t, SymmetryElements& el, const Mat3& p, double a) {
  const Vec3 ax = axis_of(p);
  const double k = 2 * kPi / a;
  const int ord = std::abs(k - std::round(k)) < t.tol.axis_order ? static_cast<int>(std::lround(k)) : 0;
  for (Axis& existing : el.axes)
    if (t.parallel(existing.dir, ax)) {
      existing.order = std::max(existing.order, ord);
      return;
    }
  el.axes.push_back({ax, ord});
}

SymmetryElements classify(const Tests& t, const std::vector<Found>& ops) {
  SymmetryElements el;
  el.order = static_cast<int>(ops.size());
  for (const Found& f : ops) {
    const Mat3 p = f.det * f.m;
    const double a = angle_of(p);
    if (f.det < 0) {
      if (a < t.tol.identity_angle) {
        el.inversion = true;
        continue;
      }
      const Vec3 ax = axis_of(p);
      if (a > kPi - t.tol.identity_angle) el.mirrors.push_back(ax);
      el.improper.push_back({ax, kPi - a});
    } else if (a >= t.tol.identity_angle) {
      add_proper(t, el, p, a);
    }
  }
  for (const Axis& a : el.axes) {
    if (a.order >= 3) el.high.push_back(a);
    if (a.order == 2) el.twofold.push_back(a);
    el.top = std::max(el.top, a.order);
  }
  return el;
}

struct Naming {
  GroupType type;
  std::vector<Mat3> frames;  // candidates, the preferred first
};

// T, Td, Th, O, Oh, I, Ih: z along a C2 (T family) or C4 axis, x along a
// perpendicular one.
Naming name_cubic(const Tests& t, const SymmetryElements& el) {
  Naming out;
  const bool octa = el.top == 4;
  using F = GroupFamily;
  if (el.top == 5) out.type = {el.inversion ? F::Ih : F::I, 1};
  else if (octa) out.type = {el.inversion ? F::Oh : F::O, 1};
  else out.type = {el.inversion ? F::Th : (el.order == 24 ? F::Td : F::T), 1};
  std::vector<Axis> ref;
  for (const Axis& a : el.axes)
    if (a.order == (octa ? 4 : 2)) ref.push_back(a);
  if (ref.empty()) throw std::logic_error("point group: no reference axis");
  const Vec3 z = canonical(ref[0].dir);
  for (const Axis& a : t.perpendicular_to(ref, z)) {
    const Vec3 x = canonical(a.dir);
    out.frames.push_back(frame_from(z, x));
    out.frames.push_back(frame_from(z, z.cross(x)));
    break;
  }
  return out;
}

// Cs, Ci, C1: z normal to the mirror plane.
Naming name_without_axes(const Geometry& geo, const SymmetryElements& el) {
  Naming out;
  if (!el.mirrors.empty()) {
    const Vec3 z = canonical(el.mirrors[0]);
    out.type = {GroupFamily::Cs, 1};
    out.frames.push_back(frame_from(z, some_perpendicular(geo, z)));
  } else {
    out.type = {el.inversion ? GroupFamily::Ci : GroupFamily::C1, 1};
    out.frames.push_back(Mat3::Identity());
  }
  return out;
}

// Of the C2 axes in `candidates`, the one through the most atoms, on a tie
// the one that cuts the most bonds, on a tie the first.
int best_twofold(const Geometry& geo, const std::vector<Axis>& twofold, const std::vector<int>& candidates) {
  auto score = [&](int k) { return std::make_pair(atoms_on_axis(geo, twofold[k].dir), bonds_cut(geo, twofold[k].dir)); };
  int best = candidates[0];
  for (int k : candidates)
    if (score(k) > score(best)) best = k;
  return best;
}

// D2, D2h (Mulliken's rule at the head of the file) and D2d (about its S4).
Naming name_d2_family(const Tests& t, const Geometry& geo, const SymmetryElements& el) {
  Naming out;
  for (const auto& [ax, angle] : el.improper)
    if (std::abs(angle - kPi / 2) < t.tol.rotoreflection_angle) {
      const Vec3 z = canonical(ax);
      out.type = {GroupFamily::Dnd, 2};
      for (const Axis& a : t.perpendicular_to(el.twofold, z)) out.frames.push_back(frame_from(z, canonical(a.dir)));
      return out;
    }
  out.type = {el.inversion ? GroupFamily::Dnh : GroupFamily::Dn, 2};
  const auto& c2 = el.twofold;
  auto others = [](int not1, int not2) {
    std::vector<int> rest;
    for (int k : {0, 1, 2})
      if (k != not1 && k != not2) rest.push_back(k);
    return rest;
  };
  int normal = -1;
  for (int k : {0, 1, 2}) {
    bool planar = true;
    for (const Vec3& r : geo.r) planar = planar && std::abs(r.dot(c2[k].dir)) <= geo.tol.position;
    if (planar && normal < 0) normal = k;
  }
  int z, x;
  if (normal >= 0) {
    z = normal;
    x = best_twofold(geo, c2, others(z, -1));
  } else {
    z = best_twofold(geo, c2, others(-1, -1));
    x = best_twofold(geo, c2, others(z, -1));
  }
  out.frames.push_back(frame_from(canonical(c2[z].dir), canonical(c2[x].dir)));
  return out;
}

// The family of a group with one principal axis of order n along z, and the
// candidate x axes with their scores (the C2 axes perpendicular to z, or
// the in-plane directions of the vertical planes).
struct AxialFamily {
  GroupType type;
  int expected_order = 0;
  std::vector<std::pair<int, Vec3>> xs;
};

AxialFamily axial_family(const Tests& t, const Geometry& geo, const SymmetryElements& el, const Vec3& z, int n) {
  bool sigma_h = false, s2n = false;
  std::vector<Vec3> vertical;
  for (const Vec3& m : el.mirrors) {
    if (t.parallel(m, z)) sigma_h = true;
    if (t.perpendicular(m, z)) vertical.push_back(m);
  }
  for (const auto& [ax, angle] : el.improper)
    if (t.parallel(ax, z) && std::abs(angle - kPi / n) < t.tol.rotoreflection_angle) s2n = true;
  const std::vector<Axis> c2perp = t.perpendicular_to(el.twofold, z);
  const bool all_vertical = static_cast<int>(vertical.size()) == n;
  using F = GroupFamily;
  AxialFamily out;
  if (static_cast<int>(c2perp.size()) == n) {
    out.type = {sigma_h ? F::Dnh : all_vertical ? F::Dnd : F::Dn, n};
    out.expected_order = sigma_h || all_vertical ? 4 * n : 2 * n;
    for (const Axis& a : c2perp) out.xs.push_back({atoms_on_axis(geo, a.dir), canonical(a.dir)});
  } else if (sigma_h) {
    out.type = {F::Cnh, n};
    out.expected_order = 2 * n;
  } else if (all_vertical) {
    out.type = {F::Cnv, n};
    out.expected_order = 2 * n;
    for (const Vec3& m : vertical) {
      const auto [count, mass] = atoms_in_plane(geo, m);
      if (n == 2)  // x perpendicular to the plane with the most atoms, then mass
        out.xs.push_back({count * 1000000 + static_cast<int>(std::lround(mass * 100)), canonical(m)});
      else
        out.xs.push_back({count, canonical(z.cross(m))});
    }
  } else if (s2n) {
    out.type = {F::S2n, 2 * n};
    out.expected_order = 2 * n;
  } else {
    out.type = {F::Cn, n};
    out.expected_order = n;
  }
  return out;
}

// Cn, Cnv, Cnh, S2n, Dn, Dnh, Dnd: z the principal axis, x the best scored
// candidate (see the head of the file).
Naming name_axial(const Tests& t, const Geometry& geo, const SymmetryElements& el) {
  const Axis principal = el.high.empty() ? el.twofold[0] : el.high[0];
  const Vec3 z = canonical(principal.dir);
  AxialFamily family = axial_family(t, geo, el, z, principal.order);
  if (family.expected_order != el.order)
    throw SymmetryError("symmetry operations found (" + std::to_string(el.order) + ") do not form the group " +
                        family.type.name() + "; try another tolerance");
  if (family.xs.empty()) family.xs.push_back({0, some_perpendicular(geo, z)});
  std::stable_sort(family.xs.begin(), family.xs.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  Naming out{family.type, {}};
  for (const auto& [score, x] : family.xs) out.frames.push_back(frame_from(z, x));
  return out;
}

// The group's type and standard frame from its operations.
Naming name_group(const Geometry& geo, const std::vector<Found>& ops) {
  const Tests t{geo.tol};
  const SymmetryElements el = classify(t, ops);
  if (el.high.size() >= 2) return name_cubic(t, el);
  if (el.axes.empty()) return name_without_axes(geo, el);
  if (el.high.empty() && el.twofold.size() == 3) return name_d2_family(t, geo, el);
  return name_axial(t, geo, el);
}

// Each found operation's table operation in frame f, or nothing.
std::optional<std::vector<int>> assign(const std::vector<Found>& ops, const CharacterTable& table, const Mat3& f,
                                       double match) {
  if (static_cast<int>(ops.size()) != table.order()) return std::nullopt;
  std::vector<int> which(ops.size(), -1);
  std::vector<bool> used(table.order(), false);
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const Mat3 s = f * ops[i].m * f.transpose();
    for (int k = 0; k < table.order(); ++k)
      if (!used[k] && (s - table.operations[k]).cwiseAbs().maxCoeff() < match) {
        which[i] = k;
        used[k] = true;
        break;
      }
    if (which[i] < 0) return std::nullopt;
  }
  return which;
}

PointGroup finish(GroupType type, GroupType working, const Geometry& geo, const Vec3& center,
                  const std::vector<Found>& ops, const std::vector<Mat3>& frames) {
  const CharacterTable* known = nullptr;
  try {
    known = &character_table(working);
  } catch (const std::invalid_argument&) {
    throw SymmetryError("the point group " + working.name() + " has no character table here (axes of order above 60)");
  }
  const CharacterTable& table = *known;
  for (const Mat3& f : frames) {
    const auto which = assign(ops, table, f, geo.tol.table_match);
    if (!which) continue;
    PointGroup g;
    g.type = type;
    g.working = working;
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
  throw SymmetryError("the symmetry operations of " + type.name() +
                      " could not be put in the standard frame; try another tolerance");
}

// The atoms relative to the centre of mass, with equivalent atoms (same
// element and mass) sharing a kind.
Geometry geometry_of(const std::vector<Vec3>& positions, const std::vector<double>& masses,
                     const std::vector<int>& elements, const Vec3& center, double tolerance) {
  Geometry geo;
  geo.tol.position = tolerance;
  std::vector<std::pair<int, double>> kinds;
  for (std::size_t i = 0; i < positions.size(); ++i) {
    geo.r.push_back(positions[i] - center);
    geo.mass.push_back(masses[i]);
    int k = -1;
    for (std::size_t j = 0; j < kinds.size(); ++j)
      if (kinds[j].first == elements[i] &&
          std::abs(kinds[j].second - masses[i]) <= geo.tol.mass_relative * std::max(1.0, masses[i]))
        k = static_cast<int>(j);
    if (k < 0) {
      k = static_cast<int>(kinds.size());
      kinds.push_back({elements[i], masses[i]});
    }
    geo.kind.push_back(k);
  }
  return geo;
}

void check_input(const std::vector<Vec3>& positions, const std::vector<double>& masses,
                 const std::vector<int>& elements, double tolerance) {
  const std::size_t n = positions.size();
  if (n == 0) throw SymmetryError("point group: no atoms");
  if (masses.size() != n || elements.size() != n)
    throw SymmetryError("point group: " + std::to_string(n) + " positions but " + std::to_string(masses.size()) +
                        " masses and " + std::to_string(elements.size()) + " elements");
  if (!(tolerance > 0 && tolerance <= 0.5)) throw SymmetryError("point group: tolerance must lie in (0, 0.5] Angstrom");
  for (std::size_t i = 0; i < n; ++i)
    if (!positions[i].allFinite() || !std::isfinite(masses[i]) || masses[i] <= 0)
      throw SymmetryError("point group: atom " + std::to_string(i + 1) +
                          " has a non-finite position or a mass that is not positive");
}

// A linear molecule: z along it, in C2v (Cinfv) or D2h (Dinfh).
PointGroup linear_group(const Geometry& geo, const Vec3& center, const Vec3& line) {
  const bool centric = match(geo, -Mat3::Identity(), geo.tol.position).has_value();
  const GroupType working{centric ? GroupFamily::Dnh : GroupFamily::Cnv, 2};
  const Mat3 f = frame_from(line, some_perpendicular(geo, line));
  const CharacterTable& table = character_table(working);
  std::vector<Found> ops;
  for (const Mat3& s : table.operations) {
    const Mat3 m = f.transpose() * s * f;
    const auto perm = match(geo, m, geo.tol.position);
    if (!perm) throw std::logic_error("point group: a linear molecule lost an operation");
    ops.push_back({m, *perm, m.determinant()});
  }
  return finish({centric ? GroupFamily::Dinfh : GroupFamily::Cinfv, 1}, working, geo, center, ops, {f});
}

}  // namespace

PointGroup find_point_group(const std::vector<Vec3>& positions, const std::vector<double>& masses,
                            const std::vector<int>& elements, double tolerance) {
  check_input(positions, masses, elements, tolerance);
  const Vec3 center = centre_of_mass(positions, masses);
  const Geometry geo = geometry_of(positions, masses, elements, center, tolerance);
  const std::size_t n = positions.size();
  if (n == 1) {
    std::vector<Found> identity{{Mat3::Identity(), {0}, 1}};
    return finish({GroupFamily::C1, 1}, {GroupFamily::C1, 1}, geo, center, identity, {Mat3::Identity()});
  }
  // Linear: every atom within the tolerance of the line along the largest
  // spread.
  Mat3 spread = Mat3::Zero();
  for (const Vec3& r : geo.r) spread += r * r.transpose();
  Eigen::SelfAdjointEigenSolver<Mat3> eig(spread);
  const Vec3 line = canonical(eig.eigenvectors().col(2));
  bool linear = true;
  for (const Vec3& r : geo.r) linear = linear && (r - r.dot(line) * line).norm() <= tolerance;
  if (linear) return linear_group(geo, center, line);
  const std::vector<Found> ops = all_operations(geo);
  const Naming naming = name_group(geo, ops);
  return finish(naming.type, naming.type, geo, center, ops, naming.frames);
}

Symmetrized symmetrize(const std::vector<Vec3>& positions, const PointGroup& group) {
  Symmetrized out;
  const std::size_t n = positions.size();
  for (const SymmetryOperation& op : group.operations)
    if (op.permutation.size() != n)
      throw SymmetryError("symmetrize: the group was found for " + std::to_string(op.permutation.size()) +
                          " atoms, not " + std::to_string(n));
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
