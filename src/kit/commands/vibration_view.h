// The vibrational half of the problem view: a Hessian file turned into the
// deck's frame, the analysis input of a mass set, and one mass set's
// analysis with its vibrations joined and numbered. modes, spectrum, fit
// and constants all start here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/commands/problem_view.h"
#include "kit/io/hessian_input.h"
#include "kit/symmetry/mode_symmetry.h"
#include "kit/symmetry/point_group.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit {

struct HessianSource {
  std::string path;
  std::optional<HessianFormat> format;  // empty: from the extension
  HessianUnits units = HessianUnits::hartree_per_bohr2;  // plain text only
};

// The format the file is read in: the one named, else from the extension
// (InputError naming the file when neither says).
HessianFormat format_of(const HessianSource& source);

// The Hessian of the file (with the derivatives it holds), its atoms checked
// against the deck's (as the first mass set's masses name them) and, when
// the file gives its geometry, everything turned into the deck's frame by
// the best fit of that geometry onto X. `warnings` gains a line when the fit
// needed the symmetrization shift.
HessianFile hessian_in_deck_frame(const ProblemView& v, const HessianSource& source,
                                  std::vector<std::string>& warnings);

// The mass sets (from 1) a command works on: the one requested or every
// one; InputError naming the deck for a number that names none.
std::vector<int> chosen_mass_sets(const ProblemView& v, std::optional<int> requested);

// The input of the analysis of one mass set; `labels` becomes the names of
// the coordinates its PED runs over (the symmetry coordinates when U is used).
VibrationInput vibration_input(const ProblemView& v, const MassSetView& m, const Matrix& hessian, double scale,
                               std::vector<std::string>& labels);

// One mass set's analysis with its vibrations in ν order.
struct MassSetAnalysis {
  int number = 0;                   // from 1
  std::vector<double> masses;
  const PointGroup* group = nullptr;  // the mass set's own, when found (points into the view)
  VibrationAnalysis analysis;
  std::vector<VibrationLine> lines;   // in ν order
  // The partners of each line as mass-weighted Cartesian vectors (3N × d)
  // and in internal coordinates (NIC × d).
  std::vector<Matrix> cartesian;
  std::vector<Matrix> internal;
};

MassSetAnalysis analyze_mass_set(const ProblemView& v, const MassSetView& m, const VibrationInput& in);

}  // namespace korven::kit
