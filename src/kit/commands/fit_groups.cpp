#include <algorithm>
#include <sstream>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/commands/fit_parts.h"

namespace korven::kit {
namespace {

// The elements of a class's atoms: "stretch O-H" → {"O", "H"}.
std::vector<std::string> elements_of(const std::string& coordinate_class) {
  const auto space = coordinate_class.rfind(' ');
  std::vector<std::string> out;
  std::istringstream in(space == std::string::npos ? std::string() : coordinate_class.substr(space + 1));
  for (std::string e; std::getline(in, e, '-');) out.push_back(e);
  return out;
}

bool hydrogen(const std::string& symbol) { return symbol == "H" || symbol == "D" || symbol == "T"; }

// "1-3,7" → {0, 1, 2, 6}; InputError naming the option for anything else.
std::vector<int> rows_of(const std::string& list, int rows, const std::string& option) {
  std::vector<int> out;
  std::istringstream in(list);
  for (std::string item; std::getline(in, item, ',');) {
    const auto dash = item.find('-');
    int first = 0, last = 0;
    try {
      std::size_t used = 0;
      first = std::stoi(item.substr(0, dash), &used);
      last = dash == std::string::npos ? first : std::stoi(item.substr(dash + 1));
    } catch (const std::exception&) {
      throw input_error("--group " + option, "\"" + item + "\" is not a coordinate number or range");
    }
    if (first < 1 || last > rows || first > last)
      throw input_error("--group " + option, format("%d-%d lies outside the deck's coordinates 1-%d", first, last, rows));
    for (int r = first; r <= last; ++r) out.push_back(r - 1);
  }
  if (out.empty()) throw input_error("--group " + option, "names no coordinate");
  return out;
}

}  // namespace

std::string default_group(const std::string& coordinate_class) {
  const std::vector<std::string> e = elements_of(coordinate_class);
  const auto starts = [&](const char* word) { return coordinate_class.rfind(word, 0) == 0; };
  if (starts("stretch"))
    return e.size() == 2 && (hydrogen(e[0]) || hydrogen(e[1])) ? "stretch X-H" : "stretch X-Y";
  if (starts("linear bend")) return "bend X-Y-Z";
  if (starts("bend")) {
    const int h = e.size() == 3 ? static_cast<int>(hydrogen(e[0])) + static_cast<int>(hydrogen(e[2])) : 0;
    return h == 2 ? "bend H-X-H" : h == 1 ? "bend X-Y-H" : "bend X-Y-Z";
  }
  if (starts("out-of-plane")) return "out-of-plane";
  if (starts("torsion")) return "torsion";
  return "other";
}

std::vector<int> assign_groups(const ProblemView& v, const FitOptions& o, std::vector<std::string>& names) {
  std::vector<std::string> of_row(static_cast<std::size_t>(v.b_rows));
  for (int r = 0; r < v.b_rows; ++r) {
    const auto k = static_cast<std::size_t>(r);
    const std::string c = k < v.classes.size() ? v.classes[k] : "other";
    of_row[k] = o.groups_by_class ? c : default_group(c);
  }
  for (const std::string& def : o.groups) {
    const auto eq = def.find('=');
    if (eq == std::string::npos || eq == 0) throw input_error("--group " + def, "expected NAME=LIST");
    for (int r : rows_of(def.substr(eq + 1), v.b_rows, def)) of_row[static_cast<std::size_t>(r)] = def.substr(0, eq);
  }
  names.clear();
  std::vector<int> group(of_row.size());
  for (std::size_t r = 0; r < of_row.size(); ++r) {
    auto at = std::find(names.begin(), names.end(), of_row[r]);
    if (at == names.end()) at = names.insert(names.end(), of_row[r]);
    group[r] = static_cast<int>(at - names.begin());
  }
  return group;
}

}  // namespace korven::kit
