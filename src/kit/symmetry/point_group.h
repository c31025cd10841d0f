// The point group of a molecule from its geometry and masses: every symmetry
// operation as an exactly orthogonal 3x3 matrix with the permutation of the
// atoms it induces, the class of each in the group's character table, and the
// symmetrized geometry.
#pragma once

#include <string>
#include <vector>

#include "kit/symmetry/character_tables.h"
#include "kit/base/linalg.h"

namespace korven::kit {

struct SymmetryOperation {
  Mat3 matrix = Mat3::Identity();  // acts on positions relative to `center`
  std::vector<int> permutation;    // atom i goes to permutation[i]
  int class_index = 0;             // class in the working table
};

struct PointGroup {
  std::string name;          // the molecule's group: "C2v", "Dinfh", ...
  std::string working_name;  // the finite group worked in: name, or C2v / D2h for linear ones
  bool linear = false;
  Vec3 center = Vec3::Zero();  // centre of mass, the fixed point of every operation
  // Rows: the standard frame's x, y, z axes in the input's coordinates, so
  // that frame * (r - center) gives standard coordinates.
  Mat3 frame = Mat3::Identity();
  // The working group, operation k the table's operation k.
  std::vector<SymmetryOperation> operations;

  const CharacterTable& table() const { return character_table(working_name); }
};

// Default tolerance of the symmetry search, Angstrom.
inline constexpr double kSymmetryTolerance = 0.01;

// Finds the point group of atoms at `positions` (Angstrom) with `masses` and
// `elements` (atomic numbers): atoms are equivalent when both agree. An
// operation is accepted when every image lies within `tolerance` of an
// equivalent atom. Throws InputError for mismatched sizes, no atoms, a
// non-finite value or a tolerance outside (0, 0.5].
PointGroup find_point_group(const std::vector<Vec3>& positions, const std::vector<double>& masses,
                            const std::vector<int>& elements,
                            double tolerance = kSymmetryTolerance);

struct Symmetrized {
  std::vector<Vec3> positions;
  double largest_shift = 0;  // Angstrom
};

// Each atom replaced by the average over the group of g^-1 applied to its
// image under g (positions relative to the group's centre), so that the
// geometry is exactly symmetric.
Symmetrized symmetrize(const std::vector<Vec3>& positions, const PointGroup& group);

}  // namespace korven::kit
