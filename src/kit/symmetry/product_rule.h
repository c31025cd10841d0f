// The Teller–Redlich product rule: for each species of a point group shared
// by two isotopologues, the ratio of the products of their harmonic
// wavenumbers follows from the masses and moments of inertia alone,
//
//   Π ω′ᵢ / Π ωᵢ = [ Π_j (m_j / m′_j)^{a_j} (M′ / M)^t Π (I′ / I) ]^½,
//
// j over the sets of equivalent atoms, a_j the number of times the species
// occurs in the Cartesian displacements of set j, t the number of times in
// the translations, and the inertia factor over the rotations of the
// species (Redlich, Z. phys. Chem. B 28, 371, 1935; Wilson, Decius and
// Cross, Molecular Vibrations, 1955, sec. 8-6). A degenerate species counts
// each degenerate vibration once.
#pragma once

#include <vector>

#include "kit/base/linalg.h"
#include "kit/symmetry/point_group.h"

namespace korven::kit {

// The expected ratio for species `s` of `group`'s working table, the
// primed masses over the unprimed ones; `group` must be a symmetry of both
// mass sets (its equivalent atoms of equal mass in each).
double product_rule_ratio(const PointGroup& group, int s, const std::vector<Vec3>& x,
                          const std::vector<double>& masses, const std::vector<double>& primed_masses);

// Whether every operation of `sub` is one of `group`'s (the same matrix and
// the same permutation of the atoms).
bool is_subgroup(const PointGroup& sub, const PointGroup& group);

}  // namespace korven::kit
