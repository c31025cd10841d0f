// The redundant set of internal coordinates of a molecule, found from its
// bonds: stretches, bends, linear bends, out-of-plane angles and torsions,
// always in the same order for the same geometry.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kit/model/internal_coordinate.h"
#include "kit/model/molecule.h"

namespace korven::kit {

// An angle counts as straight when 1 - |cos| is at most this (about
// 179.64°). The engine accepts a linear bend only within 1e-4 of ±1 in single
// precision (about 179.19°), so a straight angle passes its test five times
// over.
inline constexpr double kStraightMargin = 2e-5;
// Bends at or above this angle are kept, with a warning that a vibration may
// go undescribed.
inline constexpr double kNearlyStraightDegrees = 175.0;
// An atom with three neighbours is planar when its three angles sum to at
// least this.
inline constexpr double kPlanarSumDegrees = 355.0;

struct GeneratedCoordinates {
  std::vector<InternalCoordinate> coordinates;  // stretches, bends, linear bends, out-of-plane, torsions
  std::vector<std::pair<int, int>> bonds;       // the molecule's bonds and the contacts that join its fragments
  bool linear_molecule = false;
  std::vector<std::string> warnings;
};

// Every coordinate of the redundant set at the molecule's positions.
GeneratedCoordinates redundant_coordinates(const Molecule& molecule);

}  // namespace korven::kit
