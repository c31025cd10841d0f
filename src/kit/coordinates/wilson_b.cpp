#include "kit/coordinates/wilson_b.h"

#include <algorithm>
#include <cmath>

#include "kit/base/constants.h"
#include "kit/base/text.h"

namespace korven::kit {
namespace {

void add(SparseRow& row, int atom, const Vec3& v) {
  for (int k = 0; k < 3; ++k) row.emplace_back(3 * atom + k, v(k));
}

// One small struct per kind, its value and its B row side by side (Wilson,
// Decius and Cross, "Molecular Vibrations" (1955), ch. 4: the s vectors of
// each kind of coordinate).

SparseRow stretch_row(const std::vector<Vec3>& x, int a, int b) {
  const Vec3 e = (x[b] - x[a]).normalized();
  SparseRow row;
  add(row, a, -e);
  add(row, b, e);
  return row;
}

SparseRow bend_row(const std::vector<Vec3>& x, int i, int j, int k) {
  const Vec3 u = x[i] - x[j], v = x[k] - x[j];
  const double ru = u.norm(), rv = v.norm();
  const Vec3 eu = u / ru, ev = v / rv;
  const double c = eu.dot(ev);
  const double s = std::sqrt(std::max(0.0, 1 - c * c));
  const Vec3 ti = (c * eu - ev) / (ru * s);
  const Vec3 tk = (c * ev - eu) / (rv * s);
  SparseRow row;
  add(row, i, ti);
  add(row, k, tk);
  add(row, j, -(ti + tk));
  return row;
}

// Wilson's out-of-plane angle of the bond J→I against the plane K-J-L.
SparseRow out_of_plane_row(const std::vector<Vec3>& x, int i, int j, int k, int l) {
  const Vec3 d1 = x[i] - x[j], d2 = x[k] - x[j], d3 = x[l] - x[j];
  const double r1 = d1.norm(), r2 = d2.norm(), r3 = d3.norm();
  const Vec3 e1 = d1 / r1, e2 = d2 / r2, e3 = d3 / r3;
  const Vec3 n23 = e2.cross(e3), n31 = e3.cross(e1), n12 = e1.cross(e2);
  const double c = e2.dot(e3);
  const double sphi = std::sqrt(std::max(0.0, 1 - c * c));
  const double sth = e1.dot(n23) / sphi;
  const double cth = std::sqrt(std::max(0.0, 1 - sth * sth));
  const double tth = sth / cth;
  const double p = cth * sphi, q = sphi * sphi;
  const Vec3 ai = (n23 / p - tth * e1) / r1;
  const Vec3 ak = (n31 / p - tth * (e2 - c * e3) / q) / r2;
  const Vec3 al = (n12 / p - tth * (e3 - c * e2) / q) / r3;
  SparseRow row;
  add(row, i, ai);
  add(row, k, ak);
  add(row, l, al);
  add(row, j, -(ai + ak + al));
  return row;
}

SparseRow torsion_row(const std::vector<Vec3>& x, int i, int j, int k, int l) {
  const Vec3 d1 = x[j] - x[i], d2 = x[k] - x[j], d3 = x[l] - x[k];
  const double r1 = d1.norm(), r2 = d2.norm(), r3 = d3.norm();
  const Vec3 e1 = d1 / r1, e2 = d2 / r2, e3 = d3 / r3;
  const Vec3 m = e1.cross(e2), n = e2.cross(e3);
  const double c2 = -e1.dot(e2), c3 = -e3.dot(e2);
  const double q2 = 1 - c2 * c2, q3 = 1 - c3 * c3;
  const Vec3 ai = -m / (r1 * q2);
  const Vec3 aj = m * (r2 - r1 * c2) / (r2 * r1 * q2) - n * c3 / (r2 * q3);
  const Vec3 al = n / (q3 * r3);
  SparseRow row;
  add(row, i, ai);
  add(row, j, aj);
  add(row, l, al);
  add(row, k, -(ai + aj + al));
  return row;
}

// The bending of the straight chain A-B-C towards the unit direction d.
SparseRow linear_bend_row(const std::vector<Vec3>& x, int a, int b, int c, const Vec3& d) {
  const double ru = (x[a] - x[b]).norm(), rv = (x[c] - x[b]).norm();
  SparseRow row;
  add(row, a, -d / ru);
  add(row, c, -d / rv);
  add(row, b, d * (1 / ru + 1 / rv));
  return row;
}


struct Stretch {
  static double value(const std::vector<Vec3>& x, const InternalCoordinate& c) {
    return (x[c.atoms[1]] - x[c.atoms[0]]).norm();
  }
  static SparseRow row(const std::vector<Vec3>& x, const InternalCoordinate& c) {
    return stretch_row(x, c.atoms[0], c.atoms[1]);
  }
};

struct Bend {
  static double value(const std::vector<Vec3>& x, const InternalCoordinate& c) {
    const auto& t = c.atoms;
    const Vec3 u = (x[t[0]] - x[t[1]]).normalized(), v = (x[t[2]] - x[t[1]]).normalized();
    return std::atan2(u.cross(v).norm(), u.dot(v));
  }
  static SparseRow row(const std::vector<Vec3>& x, const InternalCoordinate& c) {
    return bend_row(x, c.atoms[0], c.atoms[1], c.atoms[2]);
  }
};

struct LinearBend {
  // The bending towards the coordinate's direction, zero when straight.
  static double value(const std::vector<Vec3>& x, const InternalCoordinate& c) {
    const auto& t = c.atoms;
    const Vec3 u = x[t[0]] - x[t[1]], v = x[t[2]] - x[t[1]];
    return -c.direction.dot(u) / u.norm() - c.direction.dot(v) / v.norm();
  }
  static SparseRow row(const std::vector<Vec3>& x, const InternalCoordinate& c) {
    return linear_bend_row(x, c.atoms[0], c.atoms[1], c.atoms[2], c.direction);
  }
};

struct OutOfPlane {
  static double value(const std::vector<Vec3>& x, const InternalCoordinate& c) {
    const auto& t = c.atoms;
    const Vec3 e1 = (x[t[0]] - x[t[1]]).normalized();
    const Vec3 e2 = (x[t[2]] - x[t[1]]).normalized(), e3 = (x[t[3]] - x[t[1]]).normalized();
    const double sphi = e2.cross(e3).norm();
    return std::asin(std::clamp(e1.dot(e2.cross(e3)) / sphi, -1.0, 1.0));
  }
  static SparseRow row(const std::vector<Vec3>& x, const InternalCoordinate& c) {
    return out_of_plane_row(x, c.atoms[0], c.atoms[1], c.atoms[2], c.atoms[3]);
  }
};

struct Torsion {
  static double value(const std::vector<Vec3>& x, const InternalCoordinate& c) {
    const auto& t = c.atoms;
    const Vec3 b1 = x[t[1]] - x[t[0]], b2 = x[t[2]] - x[t[1]], b3 = x[t[3]] - x[t[2]];
    return std::atan2(b2.norm() * b1.dot(b2.cross(b3)), b1.cross(b2).dot(b2.cross(b3)));
  }
  static SparseRow row(const std::vector<Vec3>& x, const InternalCoordinate& c) {
    return torsion_row(x, c.atoms[0], c.atoms[1], c.atoms[2], c.atoms[3]);
  }
};

struct Primitive {
  double (*value)(const std::vector<Vec3>&, const InternalCoordinate&);
  SparseRow (*row)(const std::vector<Vec3>&, const InternalCoordinate&);
};

// In the order of CoordinateKind.
constexpr Primitive kPrimitives[] = {
    {Stretch::value, Stretch::row},       {Bend::value, Bend::row},
    {LinearBend::value, LinearBend::row}, {OutOfPlane::value, OutOfPlane::row},
    {Torsion::value, Torsion::row},
};

const Primitive& primitive(CoordinateKind kind) { return kPrimitives[static_cast<int>(kind)]; }

}  // namespace

SparseRow wilson_b_row(const std::vector<Vec3>& x, const InternalCoordinate& c) { return primitive(c.kind).row(x, c); }

Matrix wilson_b_matrix(const std::vector<Vec3>& x, const std::vector<InternalCoordinate>& cs) {
  Matrix b = Matrix::Zero(static_cast<Eigen::Index>(cs.size()), 3 * static_cast<Eigen::Index>(x.size()));
  for (std::size_t r = 0; r < cs.size(); ++r)
    for (const auto& [col, v] : wilson_b_row(x, cs[r])) b(static_cast<Eigen::Index>(r), col) += v;
  return b;
}

double coordinate_value(const std::vector<Vec3>& x, const InternalCoordinate& c) {
  return primitive(c.kind).value(x, c);
}

std::string coordinate_value_text(const InternalCoordinate& c, const std::vector<Vec3>& x) {
  if (c.kind == CoordinateKind::stretch) return format("%.6f A", coordinate_value(x, c));
  if (c.kind == CoordinateKind::linear_bend) {
    // The angle of the chain itself, as the deck's comments record it.
    const auto& t = c.atoms;
    const double cos = (x[t[0]] - x[t[1]]).normalized().dot((x[t[2]] - x[t[1]]).normalized());
    return format("%.2f DEG", std::acos(std::clamp(cos, -1.0, 1.0)) * 180 / kPi);
  }
  return format("%.2f DEG", coordinate_value(x, c) * 180 / kPi);
}

}  // namespace korven::kit
