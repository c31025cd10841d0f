// Matching normal modes one to one across mass sets (isotopologues): the
// assignment with the largest total overlap of the modes' internal-coordinate
// eigenvectors, degenerate modes taken together as a subspace.
#pragma once

#include <optional>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit {

// Modes whose wavenumbers differ by at most this (cm⁻¹) form one degenerate
// group; groups chain through neighbours in wavenumber order.
inline constexpr double kDegenerateTolerance = 0.5;

// The modes of one mass set: wavenumbers and one eigenvector column each (in
// internal coordinates, the same coordinates in every set).
struct ModeSet {
  std::vector<double> wavenumbers;
  Matrix vectors;  // NIC × modes
};

// One mass set's analysis as matching takes it: its wavenumbers and L in
// internal coordinates.
ModeSet mode_set(const VibrationAnalysis& analysis);

struct ModeMatching {
  // matches[k][s]: the mode of set s matched to mode k of the first set
  // (matches[k][0] == k); -1 when set s has fewer modes and k is left over.
  std::vector<std::vector<int>> matches;
  // shifts[k][s]: wavenumber of the match in set s minus that of mode k in
  // the first set; nullopt where there is no match.
  std::vector<std::vector<std::optional<double>>> shifts;
  // overlaps[k][s] in [0, 1]: the overlap the assignment used for the pair.
  std::vector<std::vector<double>> overlaps;
};

// Mode k of the first set against mode j of set s: with P and Q orthonormal
// bases of their degenerate groups (normalised vectors, a single mode is its
// own group), the overlap is ‖Pᵀ Q‖_F² / min(dim P, dim Q): the squared
// cosine for two single modes, 1 when one group's space holds the other's.
// Each set is matched to the first by the assignment that maximises the sum
// of overlaps (Hungarian method).
ModeMatching match_modes(const std::vector<ModeSet>& sets, double degenerate_tolerance = kDegenerateTolerance);

// One copy of a species of the group two mass sets share, in one set's
// modes: a vibration of that species, or one of the species a vibration of
// a higher symmetry splits into.
struct SpeciesComponent {
  int species = 0;
  double wavenumber = 0;
  int line = 0;  // the vibration it belongs to
};

// Modes of another mass set matched to the first set's through their
// species in the shared group: within each species by order of wavenumber,
// the highest with the highest. For each component of `first`, the index
// of its match in `other`, or -1 when `other` has fewer of that species.
std::vector<int> match_by_species(const std::vector<SpeciesComponent>& first,
                                  const std::vector<SpeciesComponent>& other);

// The assignment of least total cost: for each row, its column (every row
// gets a distinct column when rows ≤ columns; with more rows than columns,
// the rows left over get -1). Kuhn 1955 and Munkres 1957, in the O(n² m)
// form with row and column potentials.
std::vector<int> least_cost_assignment(const Matrix& cost);

}  // namespace korven::kit
