// The commands' reports as JSON. Only this file meets nlohmann-json.
#pragma once

#include <string>

#include "kit/commands/check_report.h"
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

}  // namespace korven::kit
