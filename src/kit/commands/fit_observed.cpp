#include <algorithm>
#include <cctype>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/commands/fit_parts.h"
#include "kit/vibrations/mode_matching.h"

namespace korven::kit {
namespace {

bool all_digits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string where_of(const std::string& path, int line) { return path + ": line " + std::to_string(line) + ": "; }

int mass_set_of(const ObservedEntry& e, const std::vector<std::string>& titles, const std::string& path) {
  if (all_digits(e.mass_set) && e.mass_set.size() < 9) {
    const int n = std::stoi(e.mass_set);
    if (n >= 1 && n <= static_cast<int>(titles.size())) return n - 1;
  }
  // A title, or its first word ("D2O" for "D2O C2v A1:1-2 B2:3").
  for (std::size_t k = 0; k < titles.size(); ++k)
    if (titles[k] == e.mass_set || titles[k].substr(0, titles[k].find(' ')) == e.mass_set) return static_cast<int>(k);
  throw InputError(where_of(path, e.line) + "mass set " + e.mass_set + " is not one of the deck's " +
                   std::to_string(titles.size()) + " (a number from 1 or a title)");
}

// The line a named mode is: ν number, or the K-th highest of a species.
int line_of(const ObservedEntry& e, const MassSetAnalysis& w, const std::string& path) {
  const std::string where = where_of(path, e.line);
  std::string nu = e.mode;
  if (nu.rfind("nu", 0) == 0) nu = nu.substr(2);
  if (all_digits(nu) && nu.size() < 9) {
    const int want = std::stoi(nu);
    for (std::size_t k = 0; k < w.lines.size(); ++k)
      if (w.lines[k].nu == want) return static_cast<int>(k);
    throw InputError(where + "mass set " + std::to_string(w.number) + " has no ν" + nu + " (ν1 … ν" +
                     std::to_string(w.lines.size()) + ")");
  }
  const auto colon = e.mode.rfind(':');
  if (colon == std::string::npos || !all_digits(e.mode.substr(colon + 1)) || e.mode.size() - colon > 9)
    throw InputError(where + "the mode " + e.mode + " is not a ν number, SPECIES:K or ?");
  const std::string species = e.mode.substr(0, colon);
  const int rank = std::stoi(e.mode.substr(colon + 1));
  std::vector<int> of;
  for (std::size_t k = 0; k < w.lines.size(); ++k)
    if (w.lines[k].species == species) of.push_back(static_cast<int>(k));
  std::stable_sort(of.begin(), of.end(), [&](int a, int b) {
    return w.lines[static_cast<std::size_t>(a)].eigenvalue() > w.lines[static_cast<std::size_t>(b)].eigenvalue();
  });
  if (rank < 1 || rank > static_cast<int>(of.size()))
    throw InputError(where + "mass set " + std::to_string(w.number) + " has " + plural(static_cast<long long>(of.size()), "mode") +
                     " of species " + species + "; " + e.mode + " names none of them");
  return of[static_cast<std::size_t>(rank - 1)];
}

// The "?" bands of one mass set on its free lines, by least |ν̃_obs − ν̃|.
void place_nearest(std::vector<PlacedBand>& bands, const std::vector<int>& open, std::vector<bool>& taken,
                   const MassSetAnalysis& w, std::vector<std::string>& notes) {
  std::vector<int> free_lines;
  for (std::size_t k = 0; k < taken.size(); ++k)
    if (!taken[k]) free_lines.push_back(static_cast<int>(k));
  Matrix cost(static_cast<Eigen::Index>(open.size()), static_cast<Eigen::Index>(free_lines.size()));
  for (std::size_t i = 0; i < open.size(); ++i)
    for (std::size_t j = 0; j < free_lines.size(); ++j)
      cost(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) =
          std::abs(bands[static_cast<std::size_t>(open[i])].entry->wavenumber -
                   wavenumber_from_eigenvalue(w.lines[static_cast<std::size_t>(free_lines[j])].eigenvalue()));
  const std::vector<int> to = least_cost_assignment(cost);
  for (std::size_t i = 0; i < open.size(); ++i) {
    PlacedBand& b = bands[static_cast<std::size_t>(open[i])];
    b.line = free_lines[static_cast<std::size_t>(to[i])];
    b.nearest = true;
    const VibrationLine& line = w.lines[static_cast<std::size_t>(b.line)];
    notes.push_back(format("line %d: %g cm-1 of mass set %d assigned to nu%d%s (%.1f cm-1 at the start)", b.entry->line,
                           b.entry->wavenumber, w.number, line.nu, line.species.empty() ? "" : (" " + line.species).c_str(),
                           wavenumber_from_eigenvalue(line.eigenvalue())));
  }
}

}  // namespace

std::vector<PlacedBand> place_bands(const std::vector<ObservedEntry>& entries, const std::vector<MassSetAnalysis>& work,
                                    const std::vector<std::string>& titles, const std::string& path,
                                    std::vector<std::string>& notes) {
  std::vector<PlacedBand> bands;
  std::vector<std::vector<bool>> taken(work.size());
  for (std::size_t k = 0; k < work.size(); ++k) taken[k].assign(work[k].lines.size(), false);
  for (const ObservedEntry& e : entries) {
    const int m = mass_set_of(e, titles, path);
    PlacedBand b{&e, m, -1, false};
    if (e.mode != "?") {
      b.line = line_of(e, work[static_cast<std::size_t>(m)], path);
      if (taken[static_cast<std::size_t>(m)][static_cast<std::size_t>(b.line)])
        throw InputError(where_of(path, e.line) + "nu" +
                         std::to_string(work[static_cast<std::size_t>(m)].lines[static_cast<std::size_t>(b.line)].nu) +
                         " of mass set " + std::to_string(m + 1) + " is given twice");
      taken[static_cast<std::size_t>(m)][static_cast<std::size_t>(b.line)] = true;
    }
    bands.push_back(b);
  }
  for (std::size_t m = 0; m < work.size(); ++m) {
    std::vector<int> open;
    int count = 0;
    for (std::size_t i = 0; i < bands.size(); ++i) {
      if (bands[i].mass_set != static_cast<int>(m)) continue;
      if (++count > static_cast<int>(work[m].lines.size()))
        throw InputError(where_of(path, bands[i].entry->line) + "more bands than mass set " + std::to_string(m + 1) +
                         " has modes (" + std::to_string(work[m].lines.size()) + ")");
      if (bands[i].line < 0) open.push_back(static_cast<int>(i));
    }
    if (!open.empty()) place_nearest(bands, open, taken[m], work[m], notes);
  }
  return bands;
}

}  // namespace korven::kit
