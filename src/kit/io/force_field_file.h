// The force-field file: F′ in a deck's internal coordinates as JSON, with
// each coordinate's definition, the groups and their factors, the refined
// elements and the Hessian it came from. `fit --write-force-field` writes
// it; `modes --force-field` and `fit --force-field` read it. The format is
// described in docs/deck-guide.md ("The force-field file").
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/base/linalg.h"

namespace korven::kit {

inline constexpr const char* kForceFieldFormat = "korvenkit force field 1";

// One internal coordinate as the deck defines it: its row of B (from 1),
// its short name ("r(O1-H2)") and its class ("stretch O-H"). Two decks have
// the same coordinates when every row agrees in all three.
struct ForceFieldCoordinate {
  int row = 0;
  std::string name;
  std::string coordinate_class;
};

// A fitted parameter: a group's scale factor, or a refined element's change.
struct ForceFieldParameter {
  std::string name;
  std::string kind;  // "scale" or "force_constant"
  double value = 0;
  std::optional<double> sigma;
  bool fixed = false;
  bool determined = true;
  std::vector<int> coordinates;  // a group's rows, from 1 (empty for a refined element)
};

struct ForceFieldFile {
  std::string source;  // the Hessian (or force field) the fit started from
  std::string deck;    // the deck it was fitted on
  std::vector<ForceFieldCoordinate> coordinates;
  std::vector<ForceFieldParameter> parameters;
  Matrix f;  // NIC × NIC: mdyn/Å, mdyn·Å/rad², mdyn/rad
};

std::string force_field_json(const ForceFieldFile& file);

// Throws InputError naming `path` for a file that cannot be read, is not
// JSON, is not of this format, or whose F is not square, symmetric and
// finite with one row per coordinate.
ForceFieldFile read_force_field(const std::string& path);

}  // namespace korven::kit
