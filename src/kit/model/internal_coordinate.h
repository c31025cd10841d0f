// Internal coordinates as the kit generates them from a molecule's bonds:
// the redundant set, in a fixed order, each coordinate with the atoms of its
// kind. Atom indices are 0-based here; the deck writer adds 1.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/model/molecule.h"

namespace korven::kit {

enum class CoordinateKind { stretch, bend, linear_bend, out_of_plane, torsion };

struct InternalCoordinate {
  CoordinateKind kind = CoordinateKind::stretch;
  // stretch: a, b; bend: end, apex, end; linear bend: end, centre, end;
  // out-of-plane: the atom out of the plane, the centre, the two plane atoms;
  // torsion: the chain.
  std::array<int, 4> atoms{-1, -1, -1, -1};
  // Linear bend: component 1 bends towards `direction`, component 2 towards
  // the unit vector along (C - B) × direction; both perpendicular to the axis.
  int component = 0;
  Vec3 direction = Vec3::Zero();
};

}  // namespace korven::kit
