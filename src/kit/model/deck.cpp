#include "kit/model/deck.h"

#include <algorithm>

#include "kit/base/elements.h"

namespace korven::kit {

std::vector<DeckRow> deck_rows(const DeckProblem& problem) {
  std::vector<DeckRow> rows;
  const auto row_at = [&](int r) -> DeckRow& {
    while (static_cast<int>(rows.size()) < r) rows.push_back({static_cast<int>(rows.size()) + 1, {}, 0});
    return rows[static_cast<std::size_t>(r - 1)];
  };
  int current = 0;
  int pair = 0;
  for (std::size_t n = 0; n < problem.entries.size(); ++n) {
    const CoordinateEntry& e = problem.entries[n];
    const int index = static_cast<int>(n);
    if (e.no > 0) {
      ++current;
    } else if (e.no < 0 || e.code <= 0) {
      continue;  // blank entries add to nothing
    }
    if (current < 1) continue;  // a continuation ahead of every coordinate
    DeckRow& first = row_at(current);
    first.entries.push_back(index);
    if (e.code == 5) {
      pair = current + 1;
      DeckRow& second = row_at(pair);
      if (e.l > 0) {
        rows[static_cast<std::size_t>(current - 1)].component = 1;
        second.component = 2;
        second.entries.push_back(index);
      }
      current = pair;
    } else if (e.code == 6 && e.l > 0 && pair > 0) {
      DeckRow& second = row_at(pair);
      if (std::find(second.entries.begin(), second.entries.end(), index) == second.entries.end())
        second.entries.push_back(index);
    }
  }
  return rows;
}

std::vector<std::string> atom_symbols(const DeckProblem& problem) {
  const std::vector<double>* masses = problem.mass_sets.empty() ? nullptr : &problem.mass_sets.front().masses;
  std::vector<std::string> symbols;
  for (std::size_t a = 0; a < problem.x.size(); ++a) {
    const int z = masses && a < masses->size() ? element_of_mass((*masses)[a]) : 0;
    symbols.push_back(z > 0 ? element_symbol(z) : "?");
  }
  return symbols;
}

}  // namespace korven::kit
