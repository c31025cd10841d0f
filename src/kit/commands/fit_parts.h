// What the files of the fit command share among themselves.
#pragma once

#include <string>
#include <vector>

#include "kit/commands/fit_report.h"
#include "kit/commands/problem_view.h"
#include "kit/commands/vibration_view.h"

namespace korven::kit {

// An observed band placed on a line (vibration) of a mass set's analysis.
struct PlacedBand {
  const ObservedEntry* entry = nullptr;
  int mass_set = 0;  // index into the analysed mass sets, from 0
  int line = 0;      // index into that analysis's lines (ν order), from 0
  bool nearest = false;
};

// The bands of `entries` on the lines of `work` (one analysis per mass set,
// `titles` theirs). InputError "PATH: line N: ..." for an unknown mass set,
// a ν number or species the mass set does not have, a mode given twice or
// more bands than modes. A "?" goes to the nearest free line of its mass
// set by the least-cost assignment over all of them; `notes` says where.
std::vector<PlacedBand> place_bands(const std::vector<ObservedEntry>& entries, const std::vector<MassSetAnalysis>& work,
                                    const std::vector<std::string>& titles, const std::string& path,
                                    std::vector<std::string>& notes);

// The group of every row of B (from 0) and the groups' names, in the order
// of their first row: the default groups, or one per class, then the
// --group definitions on top; groups left empty are dropped.
std::vector<int> assign_groups(const ProblemView& v, const FitOptions& o, std::vector<std::string>& names);

}  // namespace korven::kit
