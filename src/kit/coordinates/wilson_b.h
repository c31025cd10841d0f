// The Wilson B matrix of the kit's internal coordinates in double precision:
// the derivatives of each coordinate with respect to the 3N Cartesian
// displacements, at the given positions (Ångström; angles in radians, so
// angle rows are per Ångström). The engine forms the same rows in single
// precision from the deck; the kit needs them before a deck exists.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kit/model/internal_coordinate.h"
#include "kit/base/linalg.h"

namespace korven::kit {

SparseRow wilson_b_row(const std::vector<Vec3>& x, const InternalCoordinate& c);
Matrix wilson_b_matrix(const std::vector<Vec3>& x, const std::vector<InternalCoordinate>& cs);

// The coordinate's value: a length in Ångström or an angle in radians. A
// linear bend's value is the bending towards its direction,
// -d·(x_A - x_B)/|x_A - x_B| - d·(x_C - x_B)/|x_C - x_B|, zero when straight.
double coordinate_value(const std::vector<Vec3>& x, const InternalCoordinate& c);

// "104.52 DEG" or "0.957200 A": the coordinate's value at x as the deck's
// comment cards record it (a linear bend: the angle of its chain).
std::string coordinate_value_text(const InternalCoordinate& c, const std::vector<Vec3>& x);

}  // namespace korven::kit
