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
#include "kit/io/force_field_file.h"
#include "kit/io/hessian_input.h"
#include "kit/symmetry/mode_symmetry.h"
#include "kit/symmetry/point_group.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit {

struct HessianSource {
  std::string path;
  std::optional<HessianFormat> format;  // empty: from the extension
  HessianUnits units = HessianUnits::hartree_per_bohr2;  // plain text only
  std::string geometry;          // a geometry file giving a plain-text Hessian its frame
  double frame_tolerance = 0.001;  // Å: how far the file's geometry may lie from X after the best fit
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

// The deck's internal coordinates as a force-field file names them: one per
// row of B, with its short name and class.
std::vector<ForceFieldCoordinate> deck_coordinates(const ProblemView& v);

// The Cartesian Hessian (mdyn/Å) in the deck's frame from either source: a
// Hessian file (as hessian_in_deck_frame) or, when `force_field` is not
// empty, a force-field file's F′ as H = Bᵀ F′ B with the deck's B, after
// its coordinates are checked against the deck's (InputError naming the
// file and the first coordinate that differs).
HessianFile deck_hessian(const ProblemView& v, const HessianSource& hessian, const std::string& force_field,
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

// Refusals of results that would look right and are not: a Hessian at a
// stationary point of another orientation, and (for a plain-text file, whose
// units the user states) stretching force constants whose size is off by
// the ratio of the two units. InputError naming the Hessian's file.
void check_hessian_fits(const ProblemView& v, const MassSetAnalysis& a, const HessianSource& source);

}  // namespace korven::kit
