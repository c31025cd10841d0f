// The point group of a molecule from its geometry and masses: every symmetry
// operation as an exactly orthogonal 3x3 matrix with the permutation of the
// atoms it induces, the class of each in the group's character table, and the
// symmetrized geometry.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/symmetry/character_tables.h"

namespace korven::kit {

// Every tolerance of the search in one place. `position` is the user's
// (--tolerance); the others are fixed.
struct SymmetryTolerances {
  double position = 0.01;  // Å: an image counts when it lies this close to an equivalent atom
  double mass_relative = 1e-6;        // atoms of the same element are equivalent when their masses agree this well
  double identity_angle = 1e-3;       // rad: an operation turning less is the identity or the inversion
  double axis_order = 1e-2;           // 2π/angle this close to a whole number gives the axis's order
  double parallel = 2e-4;             // axes with 1 − |cos| below this are one axis
  double perpendicular = 1e-2;        // |cos| below this: perpendicular
  double rotoreflection_angle = 1e-2;  // rad: an S axis's angle against π/n
  double table_match = 0.03;          // largest element difference from the table's operation
  double bond_length = 1.8;           // Å: atoms closer count as bonded when C2 axes of D2 are ranked
  double reference_off_axis = 1e-9;   // Å: the second reference atom's least distance from the first's line
  double loose_factor = 3;            // candidates are matched at this many tolerances before they are refitted
  double loose_limit = 0.5;           // Å: and at most this
  int max_operations = 500;           // the closure under products stops here
};

// Default tolerance of the symmetry search, Angstrom.
inline constexpr double kSymmetryTolerance = 0.01;

struct SymmetryOperation {
  Mat3 matrix = Mat3::Identity();  // acts on positions relative to `center`
  std::vector<int> permutation;    // atom i goes to permutation[i]
  int class_index = 0;             // class in the working table
};

struct PointGroup {
  GroupType type;     // the molecule's group: C2v, Dinfh, ...
  GroupType working;  // the finite group worked in: type, or C2v / D2h for linear molecules
  Vec3 center = Vec3::Zero();  // centre of mass, the fixed point of every operation
  // Rows: the standard frame's x, y, z axes in the input's coordinates, so
  // that frame * (r - center) gives standard coordinates.
  Mat3 frame = Mat3::Identity();
  // The working group, operation k the table's operation k.
  std::vector<SymmetryOperation> operations;

  std::string name() const { return type.name(); }
  bool linear() const { return type.linear(); }
  const CharacterTable& table() const { return character_table(working); }
};

// Why a group could not be found or used; the caller names the file.
class SymmetryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Finds the point group of atoms at `positions` (Angstrom) with `masses` and
// `elements` (atomic numbers): atoms are equivalent when both agree. An
// operation is accepted when every image lies within `tolerance` of an
// equivalent atom. Throws SymmetryError for mismatched sizes, no atoms, a
// non-finite value, a tolerance outside (0, 0.5], or operations that form no
// group the kit has a table for.
// Which of the two perpendicular directions is x in the groups whose
// labels depend on it (C2v, D2, D2h): the convention at the head of
// point_group.cpp, or the other one, turned by 90° about z (B1 and B2 of
// C2v trade places, as do B2 and B3 of D2h).
enum class AxesChoice { standard, other };

PointGroup find_point_group(const std::vector<Vec3>& positions, const std::vector<double>& masses,
                            const std::vector<int>& elements, double tolerance = kSymmetryTolerance,
                            AxesChoice axes = AxesChoice::standard);

struct Symmetrized {
  std::vector<Vec3> positions;
  double largest_shift = 0;  // Angstrom
};

// Each atom replaced by the average over the group of g^-1 applied to its
// image under g (positions relative to the group's centre), so that the
// geometry is exactly symmetric.
Symmetrized symmetrize(const std::vector<Vec3>& positions, const PointGroup& group);

}  // namespace korven::kit
