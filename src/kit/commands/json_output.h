// The commands' reports as JSON. nlohmann-json is met only here and in
// io/force_field_file (the force-field file's reader and writer).
#pragma once

#include <string>

#include "kit/commands/check_report.h"
#include "kit/commands/constants_report.h"
#include "kit/commands/fit_report.h"
#include "kit/commands/matrix_export.h"
#include "kit/commands/modes_report.h"

namespace korven::kit {

// One object: {"problems": [...]}, every key present, null where a value
// does not apply.
std::string check_json(const CheckReport& report);
std::string modes_json(const ModesReport& report);
// {"problems": [{"index", "problem", "parameters": [{"name", "kind",
// "value", "sigma", "fixed", "determined"}], "correlation", "rms", "bands",
// "iterations", "converged", "stop", "mass_sets": [{"title", "bands":
// [{"nu", "species", "observed", "calculated", "weight"}], "product_rule":
// [{"species", "observed_ratio", "expected"}]}]}]}
std::string fit_json(const FitReport& report);

// export's index.json: {"deck", "files": [{"file", "matrix", "position",
// "problem", "title", "mass_set", "mass_set_title", "block", "first_row",
// "species", "rows", "columns", "symmetry", "nonzeros",
// "factoring_reports": [{"row", "column", "value"}]}]}, null where a key does
// not apply (factoring_reports is null except for a block).
std::string export_index_json(const MatrixExport& plan);

// constants: {"problems": [{"index", "problem", "mass_sets": [{"title",
// "rotor", "axes": {"a": {"vector", "along"}, "b", "c"}, "moments",
// "rotational_constants_mhz", "rotational_constants_cm", "kappa",
// "coriolis": [{"axis", "r", "s", "zeta"}] (|ζ| > 1e-4, r and s as ν labels
// "3", "3a"), "tau_mhz": {"aaaa", … the 21 distinct}, "reduction": [{"name",
// "representation", "constants_khz"}] (A and S for an asymmetric top, one
// entry otherwise), "temperature", "mean_amplitudes": [{"i", "j", "r", "l",
// "K"}] (atoms from 1)}]}]}; null where a constant does not apply.
std::string constants_json(const ConstantsReport& report);

}  // namespace korven::kit
