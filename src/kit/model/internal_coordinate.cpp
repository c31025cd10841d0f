#include "kit/model/internal_coordinate.h"

#include <initializer_list>

namespace korven::kit {
namespace {

constexpr CoordinateKindTraits kKinds[] = {
    {CoordinateKind::stretch, "STRETCH", 1, 0, 2},
    {CoordinateKind::bend, "BEND", 2, 1, 3},
    {CoordinateKind::linear_bend, "LINEAR BEND", 5, 2, 3},
    {CoordinateKind::out_of_plane, "OUT-OF-PLANE", 3, 3, 4},
    {CoordinateKind::torsion, "TORSION", 4, 4, 4},
};

// "H2-O1-H3" from 1-based atom numbers.
std::string chain(std::initializer_list<int> atoms, const std::vector<std::string>& symbols) {
  std::string s;
  for (const int a : atoms) {
    if (!s.empty()) s += '-';
    if (a >= 1 && static_cast<std::size_t>(a) <= symbols.size()) s += symbols[static_cast<std::size_t>(a - 1)];
    s += std::to_string(a);
  }
  return s;
}

std::string component_suffix(int component) { return component > 0 ? "(" + std::to_string(component) + ")" : ""; }

std::string entry_label(const CoordinateEntry& e, int component, const std::vector<std::string>& symbols) {
  const CoordinateKind kind = kind_of_code(e.code);
  std::string words(traits(kind).name);
  switch (kind) {
    case CoordinateKind::stretch: return words + " " + chain({e.i, e.j}, symbols);
    case CoordinateKind::bend: words += " " + chain({e.i, e.j, e.k}, symbols); break;
    case CoordinateKind::out_of_plane:
    case CoordinateKind::torsion: words += " " + chain({e.i, e.j, e.k, e.l}, symbols); break;
    case CoordinateKind::linear_bend:
      // A pair (CODE 5, or CODE 6 adding its second component) names J-K-L;
      // a lone component (CODE 6, L = 0) names I-J-K.
      words += e.l > 0 ? component_suffix(component) + " " + chain({e.j, e.k, e.l}, symbols)
                       : " " + chain({e.i, e.j, e.k}, symbols);
      break;
  }
  if (e.ix > 0) words += " TIMES R(" + chain({e.ix, e.jx}, symbols) + ")";
  return words;
}

}  // namespace

const CoordinateKindTraits& traits(CoordinateKind kind) { return kKinds[static_cast<int>(kind)]; }

CoordinateKind kind_of_code(int code) {
  switch (code) {
    case 2: return CoordinateKind::bend;
    case 3: return CoordinateKind::out_of_plane;
    case 4: return CoordinateKind::torsion;
    case 5:
    case 6: return CoordinateKind::linear_bend;
    default: return CoordinateKind::stretch;
  }
}

std::string coordinate_label(const InternalCoordinate& c, const std::vector<std::string>& symbols) {
  std::string label(traits(c.kind).name);
  if (c.kind == CoordinateKind::linear_bend) label += component_suffix(c.component == 2 ? 2 : 1);
  label += ' ';
  const auto& t = c.atoms;
  switch (traits(c.kind).atoms) {
    case 2: return label + chain({t[0] + 1, t[1] + 1}, symbols);
    case 3: return label + chain({t[0] + 1, t[1] + 1, t[2] + 1}, symbols);
    default: return label + chain({t[0] + 1, t[1] + 1, t[2] + 1, t[3] + 1}, symbols);
  }
}

std::string row_label(const DeckProblem& p, const DeckRow& row, const std::vector<std::string>& symbols) {
  if (row.entries.empty()) return "ROW " + std::to_string(row.row);
  if (row.entries.size() == 1) return entry_label(p.entries[static_cast<std::size_t>(row.entries.front())], row.component, symbols);
  std::string words = "MEAN OF";
  for (std::size_t k = 0; k < row.entries.size(); ++k)
    words += (k ? ", " : " ") + entry_label(p.entries[static_cast<std::size_t>(row.entries[k])], row.component, symbols);
  return words;
}

}  // namespace korven::kit
