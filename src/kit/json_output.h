// The commands' reports as JSON. Only this file meets nlohmann-json.
#pragma once

#include <string>

#include "kit/check_report.h"
#include "kit/modes_report.h"

namespace korven::kit {

// One object: {"problems": [...]}, every key present, null where a value
// does not apply.
std::string check_json(const CheckReport& report);
std::string modes_json(const ModesReport& report);

}  // namespace korven::kit
