// Symmetry coordinates from a redundant set of internal coordinates: the
// action of the point group on the coordinates, derived from B, and an
// orthonormal basis of the space B's rows reach, adapted to the species and
// to the partners of the degenerate ones, so that G' = U G U^T falls apart
// into one block per species and partner. Also the check of a given U.
#pragma once

#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/symmetry/point_group.h"

namespace korven::kit {

struct SymmetryBlock {
  std::string species;  // "A1", "E'", "T2(3)": partner in brackets for split species; a linear
                        // molecule's "Sigma_g+", "Pi_u(1)", "Pi_u(2)" (ASCII)
  int species_index = 0;  // in the working character table
  int partner = 0;        // 1 .. d for a split degenerate species, else 0
  int first_row = 0;      // 0-based row of U
  int size = 0;
};

struct SymmetryCoordinates {
  Matrix u;  // rows: symmetry coordinates; columns: the internal coordinates
  std::vector<SymmetryBlock> blocks;
};

// U for the internal coordinates whose Wilson B matrix is `b` (rows =
// coordinates, columns = x, y, z of atom 1, then atom 2, ..., in the frame of
// the positions the group was found from; the coordinates must be closed
// under the group up to sign or, for linear-bend pairs, up to a rotation in
// the pair). `vibrations` is 3N-6 (3N-5 linear); U has exactly that many
// orthonormal rows. Blocks follow the table's order, a species without
// vibrations has none. Throws SymmetryError when B does not describe every
// vibration or the coordinates are not closed under the group.
SymmetryCoordinates symmetry_coordinates(const Matrix& b, const PointGroup& group, int vibrations);

// What the check finds in one block of a given U.
struct BlockFinding {
  std::string species;  // the block's label ("A1", "E(2)") or "mixed"
  int bad_row = -1;     // 0-based row of U that does not fit, -1 when none
  std::string fault;    // why, empty when none
};

// The species of each block of `u` (rows as the deck has them, each
// normalised); `boundaries` are the 0-based first rows of the blocks followed
// by the row count, as on the block card less one. A block is labelled when
// every row transforms as one species and, for a split degenerate species,
// its rows are partners, row by row, of the first block of that species.
// `tolerance` bounds the part of a row outside its species (listing B holds
// few digits).
std::vector<BlockFinding> block_species(const Matrix& u, const std::vector<int>& boundaries,
                                        const Matrix& b, const PointGroup& group, int vibrations,
                                        double tolerance = 1e-3);

}  // namespace korven::kit
