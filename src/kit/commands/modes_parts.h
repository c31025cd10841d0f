// What the files of the modes command share among themselves: one mass
// set's analysis with its vibrations, as the report and the matching of
// isotopologues both need it.
#pragma once

#include <optional>
#include <vector>

#include "kit/commands/modes_report.h"
#include "kit/commands/vibration_view.h"
#include "kit/symmetry/mode_symmetry.h"
#include "kit/symmetry/point_group.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit {

// The isotopologues matched to the first mass set and the product rule,
// written into the report's mass sets and problem (matches, shifts).
void match_isotopologues(const std::vector<MassSetAnalysis>& work, const std::vector<Vec3>& x, MatchMethod method,
                         ProblemModes& pm);

}  // namespace korven::kit
