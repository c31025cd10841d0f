// The normal modes of a mass set as the literature counts them: modes of
// one degenerate vibration joined into one line, each line's species in
// the mass set's own point group (Σ and Π for linear molecules), and the
// lines numbered ν1, ν2, … in Herzberg's order.
#pragma once

#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/symmetry/point_group.h"

namespace korven::kit {

// Modes closer than the larger of these (cm⁻¹, and a fraction of the
// wavenumber) are examined together: symmetry then says which of them are
// one degenerate vibration and which only lie close.
inline constexpr double kNearWavenumber = 0.5;
inline constexpr double kNearFraction = 1e-4;

struct VibrationLine {
  // The modes (indices into the analysis's ascending list) the line is made
  // from, and its partners as combinations of their vectors: column p of
  // `combination` gives partner p (|modes| × degeneracy). A line of
  // several modes that are not partners of one degenerate vibration never
  // occurs: such modes get a line each.
  std::vector<int> modes;
  Matrix combination;
  std::vector<double> eigenvalues;  // per partner, λ in mdyn/(Å·u)
  int degeneracy = 1;
  std::string species;    // ASCII: "A1", "E'", "Pi_u", "Sigma+"; empty when unknown
  int species_rank = -1;  // position in the group's Herzberg order, -1 when unknown
  bool ir_active = false, raman_active = false;
  int nu = 0;             // ν number, from 1
  double eigenvalue() const;  // the mean over the partners
};

// The lines of a mass set's modes. `eigenvalues` ascending, one per column
// of `cartesian_modes` (3N × n, mass-weighted, orthonormal: the analysis's
// own). Without a group every mode is a line of unknown species. `linear`
// gives the atoms along the axis for the ν2-bend rule of linear triatomic
// molecules (may be empty).
std::vector<VibrationLine> vibration_lines(const std::vector<double>& eigenvalues, const Matrix& cartesian_modes,
                                           const PointGroup* group, const std::vector<Vec3>& positions,
                                           const std::vector<double>& masses);

// The multiplicity of every species of `group`'s working table in the
// representation that the mass-weighted Cartesian vectors' span carries
// (3N × d, orthonormal columns spanning an invariant space); empty when the
// span is not invariant under the group within `tolerance`.
std::vector<int> species_content(const PointGroup& group, const Matrix& vectors, double tolerance = 0.1);

// The species of a linear molecule (ASCII: "Sigma_g+", "Pi_u", …) that a
// species of its working group C2v or D2h belongs to, with the partner
// number of a Π's component (1 for B1/B2g/B2u, 2 for B2/B3g/B3u; 0 for Σ).
struct LinearSpecies {
  std::string name;
  int partner = 0;
};
LinearSpecies linear_species(const PointGroup& group, const std::string& working_label);

// Herzberg's order of a linear molecule's species (C∞v: Sigma+, Sigma-, Pi,
// Delta; D∞h: Sigma_g+, Sigma_u+, Sigma_g-, Sigma_u-, Pi_g, Pi_u, Delta_g,
// Delta_u), and the selection rules of each.
struct LinearSpeciesRules {
  std::string name;
  bool ir_active, raman_active;
};
const std::vector<LinearSpeciesRules>& linear_species_order(const PointGroup& group);

}  // namespace korven::kit
