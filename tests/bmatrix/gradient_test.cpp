// Each B row must be s times the gradient of its coordinate's geometric
// definition. The definitions here are independent of the s-vector formulas
// and are differentiated numerically in double precision, on many random
// non-degenerate geometries, half of them with a scale length.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <numeric>
#include <random>

#include "bmatrix/kinds.h"

namespace korven {
namespace {

constexpr int kAtoms = 6;
constexpr int kTrials = 300;

using D3 = std::array<double, 3>;
using Geometry = std::array<D3, kAtoms>;      // atom a at index a - 1
using Atoms = std::array<std::int32_t, kAtoms>;  // roles in order, then IX, JX
using Coordinate = std::function<double(const Geometry&)>;

D3 sub(const D3& a, const D3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dotd(const D3& a, const D3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double norm(const D3& a) { return std::sqrt(dotd(a, a)); }
D3 crossd(const D3& a, const D3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
D3 unitd(const D3& a) { return {a[0] / norm(a), a[1] / norm(a), a[2] / norm(a)}; }
D3 vec(const Geometry& g, std::int32_t from, std::int32_t to) { return sub(g[to - 1], g[from - 1]); }
double angle(const D3& u, const D3& v) { return std::atan2(norm(crossd(u, v)), dotd(u, v)); }
double degrees_at(const Geometry& g, std::int32_t a, std::int32_t apex, std::int32_t c) {
  return angle(vec(g, apex, a), vec(g, apex, c)) * 180 / 3.14159265358979;
}

// Compares one row of b with s times the central-difference gradient of f.
// Elements that fail the size test may be absent: small values get a margin.
void expect_row_is_gradient(const ElementList& b, std::int32_t row, const Coordinate& f,
                            const Geometry& g, double s) {
  std::map<std::int32_t, double> values;
  for (const Element& e : b)
    if (e.row == row) values[e.col] += e.value;
  const double h = 1e-5;
  for (std::int32_t col = 1; col <= 3 * kAtoms; ++col) {
    Geometry plus = g, minus = g;
    plus[(col - 1) / 3][(col - 1) % 3] += h;
    minus[(col - 1) / 3][(col - 1) % 3] -= h;
    const double expected = s * (f(plus) - f(minus)) / (2 * h);
    const double actual = values.count(col) ? values[col] : 0.0;
    EXPECT_NEAR(actual, expected, 1.5e-4 * std::max(1.0, s) + 1e-4 * std::fabs(expected))
        << "row " << row << " column " << col;
    values.erase(col);
  }
  EXPECT_TRUE(values.empty()) << "a column beyond the atoms";
}

struct Trial {
  Positions x;  // as the program holds them
  Geometry g;   // the same positions in double
  Atoms atoms;  // a random order of 1..6
  std::int32_t ix, jx;
  double s;
};

class RandomTrials {
 public:
  explicit RandomTrials(unsigned seed) : engine_(seed) {}
  double uniform(double lo, double hi) {
    return lo + (hi - lo) * std::generate_canonical<double, 53>(engine_);
  }
  D3 direction() {
    const D3 p = {uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
    return norm(p) > 0.2 ? unitd(p) : direction();
  }
  // Random atoms in a cube; shape may move them before they are rounded.
  Trial next(int n, const std::function<void(Geometry&, const Atoms&)>& shape = {}) {
    Trial t;
    for (D3& p : t.g)
      for (double& c : p) c = uniform(-2, 2);
    std::iota(t.atoms.begin(), t.atoms.end(), 1);
    std::shuffle(t.atoms.begin(), t.atoms.end(), engine_);
    if (shape) shape(t.g, t.atoms);
    t.x.resize(kAtoms);
    for (int a = 0; a < kAtoms; ++a)
      for (int k = 0; k < 3; ++k) t.g[a][k] = t.x[a][k] = static_cast<float>(t.g[a][k]);
    // Even trials: no scale length (IX = 0, any JX up to N).
    t.ix = n % 2 ? t.atoms[4] : 0;
    t.jx = n % 2 ? t.atoms[5] : n % (kAtoms + 1);
    t.s = n % 2 ? norm(vec(t.g, t.ix, t.jx)) : 1.0;
    return t;
  }

 private:
  std::mt19937_64 engine_;
};

using Routine = decltype(&bend_row);

// Runs the routine on kTrials geometries that admit admits, and compares its
// row with the gradient of f.
void check_kind(unsigned seed, Routine routine, int atoms_used,
                const std::function<bool(const Trial&)>& admits,
                const std::function<Coordinate(const Atoms&)>& coordinate) {
  RandomTrials rnd(seed);
  int tested = 0;
  for (int n = 0; tested < kTrials && n < 50 * kTrials; ++n) {
    Trial t = rnd.next(n);
    if (!admits(t)) continue;
    ++tested;
    const Atoms& a = t.atoms;
    const bool scaled = atoms_used > 2;  // every kind but the stretch
    ElementList b;
    std::int32_t error = 0;
    routine(b, t.x, kAtoms, 3, a[0], a[1], scaled ? a[2] : 0, atoms_used > 3 ? a[3] : 0,
            scaled ? t.ix : 0, scaled ? t.jx : 0, error);
    ASSERT_EQ(error, 0);
    expect_row_is_gradient(b, 3, coordinate(a), t.g, scaled ? t.s : 1.0);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_EQ(tested, kTrials);
}

TEST(RowsAreGradients, StretchBendOutOfPlaneTorsion) {
  check_kind(
      11, stretch_row, 2, [](const Trial& t) { return norm(vec(t.g, t.atoms[0], t.atoms[1])) > 0.5; },
      [](const Atoms& a) { return [=](const Geometry& q) { return norm(vec(q, a[0], a[1])); }; });

  check_kind(
      22, bend_row, 3,
      [](const Trial& t) {
        const Atoms& a = t.atoms;
        const double theta = degrees_at(t.g, a[0], a[1], a[2]);
        return norm(vec(t.g, a[1], a[0])) > 0.8 && norm(vec(t.g, a[1], a[2])) > 0.8 &&
               theta > 20 && theta < 160;
      },
      [](const Atoms& a) {
        return [=](const Geometry& q) { return angle(vec(q, a[1], a[0]), vec(q, a[1], a[2])); };
      });

  // theta = asin(e1 . (e2 x e3) / sin phi), phi the angle K-J-L.
  const auto wag = [](const Atoms& a) -> Coordinate {
    return [=](const Geometry& q) {
      const D3 e1 = unitd(vec(q, a[1], a[0]));
      const D3 n = crossd(unitd(vec(q, a[1], a[2])), unitd(vec(q, a[1], a[3])));
      return std::asin(dotd(e1, n) / norm(n));
    };
  };
  check_kind(
      33, out_of_plane_row, 4,
      [&](const Trial& t) {
        const Atoms& a = t.atoms;
        const double phi = degrees_at(t.g, a[2], a[1], a[3]);
        for (int r : {0, 2, 3})
          if (norm(vec(t.g, a[1], a[r])) < 0.8) return false;
        return phi > 30 && phi < 150 && std::fabs(wag(a)(t.g)) < 1.0;
      },
      wag);

  check_kind(
      44, torsion_row, 4,
      [](const Trial& t) {
        const Atoms& a = t.atoms;
        for (int r : {0, 1, 2})
          if (norm(vec(t.g, a[r], a[r + 1])) < 0.8) return false;
        const double ijk = degrees_at(t.g, a[0], a[1], a[2]);
        const double jkl = degrees_at(t.g, a[1], a[2], a[3]);
        return ijk > 25 && ijk < 155 && jkl > 25 && jkl < 155;
      },
      [](const Atoms& a) {
        return [=](const Geometry& q) {
          const D3 b1 = vec(q, a[0], a[1]), b2 = vec(q, a[1], a[2]), b3 = vec(q, a[2], a[3]);
          return std::atan2(norm(b2) * dotd(b1, crossd(b2, b3)),
                            dotd(crossd(b1, b2), crossd(b2, b3)));
        };
      });
}

// For a fixed unit direction d perpendicular to the chain A-B-C, the ends'
// displacement -d . (x_A - x_B)/r_u - d . (x_C - x_B)/r_v.
Coordinate displacement(std::int32_t a, std::int32_t centre, std::int32_t c, D3 d) {
  return [=](const Geometry& q) {
    const D3 u = vec(q, centre, a), v = vec(q, centre, c);
    return -dotd(d, u) / norm(u) - dotd(d, v) / norm(v);
  };
}

TEST(RowsAreGradients, LinearBend) {
  RandomTrials rnd(55);
  for (int n = 0; n < kTrials; ++n) {
    // A straight chain, its ends on opposite sides of the centre or (every
    // fourth trial) on one side, and a reference point off its axis.
    const D3 axis = rnd.direction();
    const double ru = rnd.uniform(0.8, 2.5);
    const double rv = n % 4 == 3 ? ru + rnd.uniform(0.5, 1.5) : -rnd.uniform(0.8, 2.5);
    const Trial t = rnd.next(n, [&](Geometry& g, const Atoms& a) {
      for (int k = 0; k < 3; ++k) {
        g[a[0] - 1][k] = g[a[1] - 1][k] + ru * axis[k];
        g[a[2] - 1][k] = g[a[1] - 1][k] + rv * axis[k];
      }
    });
    const std::int32_t a = t.atoms[0], centre = t.atoms[1], c = t.atoms[2];
    const D3 side = rnd.direction();
    const D3 perp = unitd(crossd(axis, side));
    const double rw = rnd.uniform(0.5, 3.0);
    Vec3 p;
    for (int k = 0; k < 3; ++k) p[k] = static_cast<float>(t.g[centre - 1][k] + rw * perp[k]);

    ElementList b;
    std::int32_t error = 0;
    const LinearBendFrame f = compute_linear_bend_frame(t.x, a, centre, c, p);
    append_linear_bend_rows(b, f, static_cast<float>(t.s), 7, 8, a, centre, c, true, error);
    ASSERT_EQ(error, 0);

    const D3 towards_p = unitd(sub({p[0], p[1], p[2]}, t.g[centre - 1]));
    const D3 across = unitd(crossd(unitd(vec(t.g, centre, c)), towards_p));
    expect_row_is_gradient(b, 7, displacement(a, centre, c, towards_p), t.g, t.s);
    expect_row_is_gradient(b, 8, displacement(a, centre, c, across), t.g, t.s);
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace korven
