// Character tables of the point groups, as data: the operations of each
// group in its standard frame, their classes, and the real species with
// Mulliken's labels.
//
// Axis conventions of the standard frame (Mulliken, J. Chem. Phys. 23, 1997
// (1955)); point_group.cpp turns a molecule into this frame by the rules
// given there:
//  - z is the principal axis: the n-fold axis of Cn, Cnv, Cnh, Dn, Dnh, Dnd,
//    the S2n axis of S2n, the normal of the plane of Cs.
//  - Cnv: the plane xz is a sigma_v (for even n, the sigma_v are the planes
//    containing x and its images; the other class is sigma_d). In C2v, B1 is
//    symmetric under the plane xz, B2 under yz.
//  - Dn, Dnh: x is a C2' axis (for even n the C2' are x and its images, the
//    other class C2''); sigma_v contains a C2' axis. D2 and D2h: B1 is
//    symmetric under C2(z), B2 under C2(y), B3 under C2(x).
//  - Dnd: x is a C2' axis; the sigma_d bisect the angles between them.
//  - T, Td, Th: the C2 axes (S4 axes in Td) are x, y, z; the C3 axes lie
//    along (+-1, +-1, +-1). O, Oh: the C4 axes are x, y, z.
//  - I, Ih: the C2 axes include x, y, z; the C5 axes lie along (0, +-1,
//    +-phi) and its cyclic permutations (phi the golden ratio).
//
// The axial families are generated from the closed forms of the characters
// of the cyclic and dihedral groups (e.g. Cotton, Chemical Applications of
// Group Theory, 3rd ed., ch. 4 and appendix IIA): in Cn the species m has the
// character exp(2 pi i k m / n) on C_n^k; a complex pair (m, n - m) is kept
// as one real species E_m with the character 2 cos(2 pi k m / n). In Dn the
// rotations about z carry the same characters and the C2 perpendicular to z
// at the angle theta from x carry A1: 1, A2: -1, B1: cos(n theta),
// B2: -cos(n theta), E_m: 0. Cnv is Dn with the vertical planes in place of
// those C2 (a plane containing the direction at the angle theta); Dnd with
// even n is isomorphic to C2nv, S2n is cyclic of order 2n. The groups that
// hold a central improper element s (the inversion, or sigma_h for odd n)
// are direct products R x {E, s}: a species of R with parity p gives the
// character p chi_R(s g) on an improper g, labelled g/u (s = i) or '/''
// (s = sigma_h). The cubic and icosahedral rotation groups are literal data
// (the same reference, appendix IIA); Td is isomorphic to O through
// g -> det(g) g, and Th, Oh, Ih are T, O, I times {E, i}.
#include "kit/symmetry/character_tables.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <tuple>

#include "kit/base/constants.h"

namespace korven::kit {
namespace {

using Chi = std::function<double(const Mat3&)>;

struct SpeciesRule {
  std::string label;
  int dimension;
  bool separable;
  Chi chi;
};

Mat3 rotation_z(double phi) {
  Mat3 m;
  m << std::cos(phi), -std::sin(phi), 0, std::sin(phi), std::cos(phi), 0, 0, 0, 1;
  return m;
}

Mat3 rotation_about(const Vec3& axis, double phi) {
  const Vec3 a = axis.normalized();
  Mat3 k;
  k << 0, -a.z(), a.y(), a.z(), 0, -a.x(), -a.y(), a.x(), 0;
  return Mat3::Identity() + std::sin(phi) * k + (1 - std::cos(phi)) * k * k;
}

Mat3 diagonal(double a, double b, double c) { return Vec3(a, b, c).asDiagonal(); }

const Mat3 kSigmaH = diagonal(1, 1, -1);
const Mat3 kInversion = -Mat3::Identity();

bool same(const Mat3& a, const Mat3& b) { return (a - b).cwiseAbs().maxCoeff() < 1e-8; }

// Every product of the generators, the identity first, in breadth-first order.
std::vector<Mat3> closure(const std::vector<Mat3>& generators) {
  std::vector<Mat3> group{Mat3::Identity()};
  for (std::size_t next = 0; next < group.size(); ++next) {
    for (const Mat3& g : generators) {
      const Mat3 product = g * group[next];
      bool found = false;
      for (const Mat3& h : group) found = found || same(h, product);
      if (!found) group.push_back(product);
      if (group.size() > 1000) throw std::logic_error("character tables: runaway group closure");
    }
  }
  return group;
}

// The angle of the part in the xy plane of an operation that keeps the z
// axis or turns it over: a rotation about z by phi, sigma_h times one, or a C2
// (a vertical plane) at phi / 2.
double xy_angle(const Mat3& m) { return std::atan2(m(1, 0), m(0, 0)); }
bool proper(const Mat3& m) { return m.determinant() > 0; }
bool keeps_z(const Mat3& m) { return m(2, 2) > 0; }

// Rotation angle of a proper operation, in [0, pi].
double rotation_angle(const Mat3& m) {
  return std::acos(std::clamp((m.trace() - 1) / 2, -1.0, 1.0));
}

std::string e_label(int m, int count) { return count == 1 ? "E" : "E" + std::to_string(m); }

// Cn: A, B (even n), E_m for m = 1 .. (n-1)/2 (complex pairs, separable).
std::vector<SpeciesRule> cyclic_species(int n) {
  std::vector<SpeciesRule> out;
  const int e_count = (n - 1) / 2;
  out.push_back({"A", 1, false, [](const Mat3&) { return 1.0; }});
  if (n % 2 == 0)
    out.push_back({"B", 1, false, [n](const Mat3& g) { return std::cos(n * xy_angle(g) / 2); }});
  for (int m = 1; m <= e_count; ++m)
    out.push_back({e_label(m, e_count), 2, true,
                   [m](const Mat3& g) { return 2 * std::cos(m * xy_angle(g)); }});
  return out;
}

// Dn (flip = a C2 perpendicular to z) and Cnv (flip = a vertical plane):
// A1, A2, B1, B2 (even n), E_m for m = 1 .. (n-1)/2.
std::vector<SpeciesRule> dihedral_species(int n) {
  std::vector<SpeciesRule> out;
  const int e_count = (n - 1) / 2;
  auto flips = [](const Mat3& g) { return proper(g) != keeps_z(g); };
  out.push_back({"A1", 1, false, [](const Mat3&) { return 1.0; }});
  out.push_back({"A2", 1, false, [flips](const Mat3& g) { return flips(g) ? -1.0 : 1.0; }});
  if (n % 2 == 0) {
    for (int sign : {1, -1})
      out.push_back({sign > 0 ? "B1" : "B2", 1, false, [n, sign, flips](const Mat3& g) {
                       const double a = xy_angle(g);
                       return flips(g) ? sign * std::cos(n * a / 2) : std::cos(n * a / 2);
                     }});
  }
  for (int m = 1; m <= e_count; ++m)
    out.push_back({e_label(m, e_count), 2, false, [m, flips](const Mat3& g) {
                     return flips(g) ? 0.0 : 2 * std::cos(m * xy_angle(g));
                   }});
  return out;
}

// D2's own labels: B1 symmetric under C2(z), B2 under C2(y), B3 under C2(x).
std::vector<SpeciesRule> d2_species() {
  std::vector<SpeciesRule> generic = dihedral_species(2);  // A1 A2 B1 B2
  generic[0].label = "A";
  generic[1].label = "B1";
  generic[3].label = "B2";
  generic[2].label = "B3";
  return {generic[0], generic[1], generic[3], generic[2]};
}

// Dnd with even n, isomorphic to C2nv: psi the angle of the rotational part
// (S2n^k has psi = k pi / n); E_m for m = 1 .. n-1.
std::vector<SpeciesRule> dnd_even_species(int n) {
  std::vector<SpeciesRule> out;
  auto c2 = [](const Mat3& g) { return proper(g) && !keeps_z(g); };
  auto sd = [](const Mat3& g) { return !proper(g) && keeps_z(g); };
  out.push_back({"A1", 1, false, [](const Mat3&) { return 1.0; }});
  out.push_back({"A2", 1, false, [=](const Mat3& g) { return c2(g) || sd(g) ? -1.0 : 1.0; }});
  out.push_back({"B1", 1, false, [=](const Mat3& g) {
                   return c2(g) ? 1.0 : sd(g) ? -1.0 : std::cos(n * xy_angle(g));
                 }});
  out.push_back({"B2", 1, false, [=](const Mat3& g) {
                   return c2(g) ? -1.0 : sd(g) ? 1.0 : std::cos(n * xy_angle(g));
                 }});
  for (int m = 1; m < n; ++m)
    out.push_back({e_label(m, n - 1), 2, false, [=](const Mat3& g) {
                     return c2(g) || sd(g) ? 0.0 : 2 * std::cos(m * xy_angle(g));
                   }});
  return out;
}

// S2n, cyclic of order 2n generated by S2n: the species m = 0 .. n has
// 2 cos(m psi) (1 cos for m = 0, n). For odd n it is Cn x {E, i}, labelled
// g/u with the index of the Cn species.
std::vector<SpeciesRule> s2n_species(int n) {
  std::vector<SpeciesRule> out;
  auto chi = [](int m, int top) {
    return [m, top](const Mat3& g) {
      return (m == 0 || m == top ? 1.0 : 2.0) * std::cos(m * xy_angle(g));
    };
  };
  if (n % 2 == 0) {
    out.push_back({"A", 1, false, chi(0, n)});
    out.push_back({"B", 1, false, chi(n, n)});
    for (int m = 1; m < n; ++m) out.push_back({e_label(m, n - 1), 2, true, chi(m, n)});
    return out;
  }
  const int e_count = (n - 1) / 2;
  for (int parity : {0, 1}) {
    const char* suffix = parity == 0 ? "g" : "u";
    out.push_back({std::string("A") + suffix, 1, false, chi(parity == 0 ? 0 : n, n)});
    for (int index = 1; index <= e_count; ++index) {
      // The species m of S2n whose rotations carry E_index of Cn and whose
      // parity (-1)^m under i matches.
      int m = index;
      if (m % 2 != parity) m = n - m;
      out.push_back({e_label(index, e_count) + suffix, 2, true, chi(m, n)});
    }
  }
  return out;
}

// R x {E, s}, s central and improper: species of R with parity +1 then -1.
std::vector<SpeciesRule> times(const std::vector<SpeciesRule>& base, const Mat3& s,
                               const std::string& plus, const std::string& minus) {
  std::vector<SpeciesRule> out;
  for (int p : {1, -1})
    for (const SpeciesRule& b : base) {
      Chi chi = b.chi;
      out.push_back({b.label + (p > 0 ? plus : minus), b.dimension, b.separable,
                     [chi, s, p](const Mat3& g) { return proper(g) ? chi(g) : p * chi(s * g); }});
    }
  return out;
}

// Literal tables of the rotation groups T, O, I: a class function of the
// proper operations (standard frame) and the characters per class.
struct LiteralTable {
  std::function<int(const Mat3&)> class_of;
  std::vector<std::pair<std::string, std::vector<double>>> rows;
  std::vector<bool> separable;
};

int angle_class(const Mat3& g, const std::vector<double>& angles_degrees) {
  const double a = rotation_angle(g) * 180 / kPi;
  for (std::size_t i = 0; i < angles_degrees.size(); ++i)
    if (std::abs(a - angles_degrees[i]) < 1e-4) return static_cast<int>(i);
  throw std::logic_error("character tables: operation outside the group");
}

LiteralTable literal_t() {
  // Classes: E, 4C3 + 4C3^2 (one real class), 3C2.
  return {[](const Mat3& g) { return angle_class(g, {0, 120, 180}); },
          {{"A", {1, 1, 1}}, {"E", {2, -1, 2}}, {"T", {3, 0, -1}}},
          {false, true, false}};
}

LiteralTable literal_o() {
  // Classes: E, 8C3, 6C4, 3C2 (= C4^2, about x, y, z), 6C2'.
  return {[](const Mat3& g) {
            const int c = angle_class(g, {0, 120, 90, 180});
            if (c == 3 && !g.isDiagonal(1e-8)) return 4;
            return c;
          },
          {{"A1", {1, 1, 1, 1, 1}},
           {"A2", {1, 1, -1, 1, -1}},
           {"E", {2, -1, 0, 2, 0}},
           {"T1", {3, 0, 1, -1, -1}},
           {"T2", {3, 0, -1, -1, 1}}},
          {false, false, false, false, false}};
}

LiteralTable literal_i() {
  // Classes: E, 12C5, 12C5^2, 20C3, 15C2.
  const double phi = (1 + std::sqrt(5.0)) / 2;
  return {[](const Mat3& g) { return angle_class(g, {0, 72, 144, 120, 180}); },
          {{"A", {1, 1, 1, 1, 1}},
           {"T1", {3, phi, 1 - phi, 0, -1}},
           {"T2", {3, 1 - phi, phi, 0, -1}},
           {"G", {4, -1, -1, 1, 0}},
           {"H", {5, 0, 0, -1, 1}}},
          {false, false, false, false, false}};
}

// Species of a literal rotation table; `improper_map` makes Td's species
// from O's (g -> det(g) g).
std::vector<SpeciesRule> literal_species(const LiteralTable& table, bool det_map) {
  std::vector<SpeciesRule> out;
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    const auto& row = table.rows[r];
    auto class_of = table.class_of;
    std::vector<double> chars = row.second;
    out.push_back({row.first, static_cast<int>(std::lround(chars[0])), table.separable[r],
                   [class_of, chars, det_map](const Mat3& g) {
                     const Mat3 p = det_map && !proper(g) ? Mat3(-g) : g;
                     return chars[class_of(p)];
                   }});
  }
  return out;
}

// A readable name for a class from one of its operations.
std::string class_name(const Mat3& g, bool axial) {
  auto fraction = [](double angle) {  // angle = 2 pi j / n with the smallest n
    for (int n = 1; n <= 240; ++n) {
      const double j = angle * n / (2 * kPi);
      if (std::abs(j - std::round(j)) < 1e-6) {
        const long jj = std::lround(j);
        return "C" + std::to_string(n) + (jj == 1 ? "" : "^" + std::to_string(jj));
      }
    }
    return std::string("C?");
  };
  if (proper(g)) {
    if (same(g, Mat3::Identity())) return "E";
    if (axial && !keeps_z(g)) return "C2'";
    return fraction(rotation_angle(g));
  }
  if (same(g, kInversion)) return "i";
  const Mat3 p = -g;
  const double alpha = kPi - rotation_angle(p);  // g = sigma C(alpha)
  if (alpha < 1e-6) {
    if (axial) return keeps_z(g) ? "sv" : "sh";
    return "s";
  }
  return "S" + fraction(alpha).substr(1);
}

// Which species carry the dipole (x, y, z) and which the polarizability
// (the symmetric products of x, y, z): the multiplicity of each species in
// the vector representation, χ(g) = tr R(g), and in its symmetric square,
// χ(g) = ((tr R(g))² + tr(R(g)²)) / 2.
void add_selection_rules(CharacterTable& table) {
  std::vector<double> vector_chi, tensor_chi;
  for (const Mat3& r : table.operations) {
    vector_chi.push_back(r.trace());
    tensor_chi.push_back((r.trace() * r.trace() + (r * r).trace()) / 2);
  }
  for (int s = 0; s < static_cast<int>(table.species.size()); ++s) {
    table.species[s].ir_active = table.multiplicity(s, vector_chi) > 0;
    table.species[s].raman_active = table.multiplicity(s, tensor_chi) > 0;
  }
}

// Herzberg's sort key of a label: degenerate last, then primes, the
// letter, the subscript number, g before u.
std::tuple<int, int, int, int, int> herzberg_key(const Species& s) {
  const std::string& l = s.label;
  static const std::string letters = "ABETFGH";
  const std::size_t letter = letters.find(l.empty() ? '?' : l[0]);
  int number = 0;
  std::size_t i = 1;
  while (i < l.size() && l[i] >= '0' && l[i] <= '9') number = 10 * number + (l[i++] - '0');
  const int primes = static_cast<int>(std::count(l.begin(), l.end(), '\''));
  const int parity = l.find('u', 1) != std::string::npos ? 1 : 0;
  return {s.dimension > 1 ? 1 : 0, primes, letter == std::string::npos ? 9 : static_cast<int>(letter), number,
          parity};
}

std::vector<int> herzberg_order(const std::vector<Species>& species) {
  std::vector<int> order(species.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int>(k);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return herzberg_key(species[a]) < herzberg_key(species[b]); });
  return order;
}

CharacterTable build(const std::string& name, const std::vector<Mat3>& generators,
                     const std::vector<SpeciesRule>& rules, bool axial) {
  CharacterTable table;
  table.group = name;
  table.operations = closure(generators);
  const int order = table.order();
  table.operation_class.assign(order, -1);
  // Classes merged with their inverses: the real characters are equal on them.
  for (int g = 0; g < order; ++g) {
    if (table.operation_class[g] >= 0) continue;
    const int c = static_cast<int>(table.class_names.size());
    int size = 0;
    for (const Mat3& h : table.operations)
      for (const Mat3& x : {table.operations[g], Mat3(table.operations[g].transpose())}) {
        const Mat3 conj = h * x * h.transpose();
        for (int k = 0; k < order; ++k)
          if (table.operation_class[k] < 0 && same(table.operations[k], conj)) {
            table.operation_class[k] = c;
            ++size;
          }
      }
    std::string cname = class_name(table.operations[g], axial);
    for (const std::string& earlier : table.class_names)
      if (earlier == cname) cname += "'";
    table.class_names.push_back(cname);
    table.class_sizes.push_back(size);
  }
  for (const SpeciesRule& rule : rules) {
    Species s{rule.label, rule.dimension, rule.separable,
              std::vector<double>(table.class_names.size(), 0.0)};
    std::vector<bool> seen(table.class_names.size(), false);
    for (int g = 0; g < order; ++g) {
      const int c = table.operation_class[g];
      const double chi = rule.chi(table.operations[g]);
      if (!seen[c]) {
        s.characters[c] = chi;
        seen[c] = true;
      } else if (std::abs(s.characters[c] - chi) > 1e-9) {
        throw std::logic_error("character tables: " + name + " " + rule.label +
                               " is not a class function");
      }
    }
    for (double& x : s.characters)
      if (std::abs(x - std::round(x)) < 1e-12) x = std::round(x);
    table.species.push_back(std::move(s));
  }
  add_selection_rules(table);
  table.herzberg_order = herzberg_order(table.species);
  return table;
}

const Mat3 kC2x = diagonal(1, -1, -1);
const Mat3 kSigmaXz = diagonal(1, -1, 1);

// C3 about (1, 1, 1), and T's generators with it.
Mat3 c3_body_diagonal() {
  Mat3 c3;
  c3 << 0, 0, 1, 1, 0, 0, 0, 1, 0;
  return c3;
}
std::vector<Mat3> t_generators() { return {diagonal(-1, -1, 1), kC2x, c3_body_diagonal()}; }

CharacterTable cubic_table(GroupType group) {
  const std::string name = group.name();
  std::vector<Mat3> gens = t_generators();
  Mat3 c4;
  c4 << 0, -1, 0, 1, 0, 0, 0, 0, 1;
  const double golden = (1 + std::sqrt(5.0)) / 2;
  switch (group.family) {
    case GroupFamily::T: return build(name, gens, literal_species(literal_t(), false), false);
    case GroupFamily::Th:
      gens.push_back(kInversion);
      return build(name, gens, times(literal_species(literal_t(), false), kInversion, "g", "u"), false);
    case GroupFamily::Td: {
      Mat3 sd;
      sd << 0, 1, 0, 1, 0, 0, 0, 0, 1;
      gens.push_back(sd);
      return build(name, gens, literal_species(literal_o(), true), false);
    }
    case GroupFamily::O: return build(name, {c4, c3_body_diagonal()}, literal_species(literal_o(), false), false);
    case GroupFamily::Oh:
      return build(name, {c4, c3_body_diagonal(), kInversion},
                   times(literal_species(literal_o(), false), kInversion, "g", "u"), false);
    case GroupFamily::I:
      gens.push_back(rotation_about(Vec3(0, 1, golden), 2 * kPi / 5));
      return build(name, gens, literal_species(literal_i(), false), false);
    default:
      gens.push_back(rotation_about(Vec3(0, 1, golden), 2 * kPi / 5));
      gens.push_back(kInversion);
      return build(name, gens, times(literal_species(literal_i(), false), kInversion, "g", "u"), false);
  }
}

// Cn, Cnv, Cnh, Dn, Dnh, Dnd and S2n from their generators.
CharacterTable axial_table(GroupType group) {
  const std::string name = group.name();
  const int n = group.n;
  const Mat3 cn = rotation_z(2 * kPi / n);
  const bool even = n % 2 == 0;
  const Mat3& s = even ? kInversion : kSigmaH;
  const std::string plus = even ? "g" : "'";
  const std::string minus = even ? "u" : "''";
  const auto dn = [n] { return n == 2 ? d2_species() : dihedral_species(n); };
  switch (group.family) {
    case GroupFamily::S2n: return build(name, {Mat3(kSigmaH * rotation_z(2 * kPi / n))}, s2n_species(n / 2), true);
    case GroupFamily::Cn: return build(name, {cn}, cyclic_species(n), true);
    case GroupFamily::Cnv: return build(name, {cn, kSigmaXz}, dihedral_species(n), true);
    case GroupFamily::Cnh: return build(name, {cn, kSigmaH}, times(cyclic_species(n), s, plus, minus), true);
    case GroupFamily::Dn: return build(name, {cn, kC2x}, dn(), true);
    case GroupFamily::Dnh: return build(name, {cn, kC2x, kSigmaH}, times(dn(), s, plus, minus), true);
    default: {
      const Mat3 s2n = kSigmaH * rotation_z(kPi / n);
      if (even) return build(name, {s2n, kC2x}, dnd_even_species(n), true);
      return build(name, {s2n, kC2x}, times(dn(), kInversion, "g", "u"), true);
    }
  }
}

bool axial(GroupFamily f) {
  return f == GroupFamily::Cn || f == GroupFamily::Cnv || f == GroupFamily::Cnh || f == GroupFamily::Dn ||
         f == GroupFamily::Dnh || f == GroupFamily::Dnd || f == GroupFamily::S2n;
}

bool has_table(GroupType g) {
  if (g.family == GroupFamily::S2n) return g.n % 2 == 0 && g.n >= 4 && g.n <= 120;
  if (axial(g.family)) return g.n >= 2 && g.n <= 60;
  return !g.linear();
}

CharacterTable make_table(GroupType group) {
  if (!has_table(group)) throw std::invalid_argument("no character table for the group " + group.name());
  switch (group.family) {
    case GroupFamily::C1: return build("C1", {}, cyclic_species(1), true);
    case GroupFamily::Cs: return build("Cs", {kSigmaH}, times(cyclic_species(1), kSigmaH, "'", "''"), true);
    case GroupFamily::Ci: return build("Ci", {kInversion}, times(cyclic_species(1), kInversion, "g", "u"), true);
    default: return axial(group.family) ? axial_table(group) : cubic_table(group);
  }
}

struct FamilyName {
  GroupFamily family;
  const char* prefix;  // the letters before the order, or the whole name
  const char* suffix;  // after the order; nullptr: a family without an order
};

constexpr FamilyName kFamilyNames[] = {
    {GroupFamily::C1, "C1", nullptr},  {GroupFamily::Cs, "Cs", nullptr},  {GroupFamily::Ci, "Ci", nullptr},
    {GroupFamily::Cn, "C", ""},        {GroupFamily::Cnv, "C", "v"},      {GroupFamily::Cnh, "C", "h"},
    {GroupFamily::Dn, "D", ""},        {GroupFamily::Dnh, "D", "h"},      {GroupFamily::Dnd, "D", "d"},
    {GroupFamily::S2n, "S", ""},       {GroupFamily::T, "T", nullptr},    {GroupFamily::Td, "Td", nullptr},
    {GroupFamily::Th, "Th", nullptr},  {GroupFamily::O, "O", nullptr},    {GroupFamily::Oh, "Oh", nullptr},
    {GroupFamily::I, "I", nullptr},    {GroupFamily::Ih, "Ih", nullptr},  {GroupFamily::Cinfv, "Cinfv", nullptr},
    {GroupFamily::Dinfh, "Dinfh", nullptr},
};

}  // namespace

int CharacterTable::multiplicity(int species_index, const std::vector<double>& chi) const {
  const Species& s = species[static_cast<std::size_t>(species_index)];
  double sum = 0;
  for (int g = 0; g < order(); ++g) sum += chi[static_cast<std::size_t>(g)] * character(species_index, g);
  return static_cast<int>(std::lround(sum / (order() * (s.separable ? 2.0 : 1.0))));
}

int CharacterTable::index_of(const std::string& label) const {
  for (std::size_t k = 0; k < species.size(); ++k)
    if (species[k].label == label) return static_cast<int>(k);
  return -1;
}

std::string GroupType::name() const {
  for (const FamilyName& f : kFamilyNames)
    if (f.family == family) return f.suffix ? f.prefix + std::to_string(n) + f.suffix : f.prefix;
  return "?";
}

std::optional<GroupType> parse_group(std::string_view name) {
  for (const FamilyName& f : kFamilyNames) {
    if (!f.suffix) {
      if (name == f.prefix) return GroupType{f.family, 1};
      continue;
    }
    const std::string_view prefix(f.prefix), suffix(f.suffix);
    if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix)
      continue;
    const std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.size() > 3 || digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
      continue;
    const GroupType g{f.family, std::stoi(std::string(digits))};
    if (g.name() == name) return g;
  }
  return std::nullopt;
}

const CharacterTable& character_table(GroupType group) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<CharacterTable>> cache;
  const std::lock_guard<std::mutex> lock(mutex);
  const std::string key = group.name();
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, std::make_unique<CharacterTable>(make_table(group))).first;
  return *it->second;
}

}  // namespace korven::kit
