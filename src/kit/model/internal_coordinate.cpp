#include "kit/model/internal_coordinate.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

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

// The number of the deck's stretches that end at each atom (from 1).
std::vector<int> bond_counts(const DeckProblem& p) {
  std::vector<int> n(p.x.size() + 1, 0);
  for (const CoordinateEntry& e : p.entries)
    if (kind_of_code(e.code) == CoordinateKind::stretch && e.code >= 0)
      for (int a : {e.i, e.j})
        if (a >= 1 && static_cast<std::size_t>(a) < n.size()) ++n[static_cast<std::size_t>(a)];
  return n;
}

std::string symbol_of(int atom, const std::vector<std::string>& symbols) {
  return atom >= 1 && static_cast<std::size_t>(atom) <= symbols.size() ? symbols[static_cast<std::size_t>(atom - 1)]
                                                                        : "?";
}

// Whether atom a is written before atom b in a class name.
bool written_first(int a, int b, const std::vector<int>& bonds, const std::vector<std::string>& symbols) {
  const auto count = [&](int x) { return x >= 1 && static_cast<std::size_t>(x) < bonds.size() ? bonds[x] : 0; };
  if (count(a) != count(b)) return count(a) > count(b);
  const auto rank = [&](int x) {
    const std::string s = symbol_of(x, symbols);
    return std::make_pair(s == "C" ? 0 : s == "H" ? 2 : 1, s);
  };
  return rank(a) <= rank(b);
}

std::string class_of_entry(const CoordinateEntry& e, const std::vector<int>& bonds,
                           const std::vector<std::string>& symbols) {
  const auto pair = [&](int a, int b) {
    if (!written_first(a, b, bonds, symbols)) std::swap(a, b);
    return symbol_of(a, symbols) + "-" + symbol_of(b, symbols);
  };
  const auto bend = [&](int end1, int apex, int end2) {
    if (!written_first(end1, end2, bonds, symbols)) std::swap(end1, end2);
    return symbol_of(end1, symbols) + "-" + symbol_of(apex, symbols) + "-" + symbol_of(end2, symbols);
  };
  switch (kind_of_code(e.code)) {
    case CoordinateKind::stretch: return "stretch " + pair(e.i, e.j);
    case CoordinateKind::bend: return "bend " + bend(e.i, e.j, e.k);
    case CoordinateKind::linear_bend: return "linear bend " + (e.l > 0 ? bend(e.j, e.k, e.l) : bend(e.i, e.j, e.k));
    case CoordinateKind::out_of_plane: return "out-of-plane " + symbol_of(e.i, symbols) + "-" + symbol_of(e.j, symbols);
    case CoordinateKind::torsion: return "torsion " + pair(e.j, e.k);
  }
  return "other";
}

}  // namespace

std::string row_class(const DeckProblem& p, const DeckRow& row, const std::vector<std::string>& symbols) {
  if (row.entries.empty()) return "other";
  return class_of_entry(p.entries[static_cast<std::size_t>(row.entries.front())], bond_counts(p), symbols);
}

std::string row_symbol(const DeckProblem& p, const DeckRow& row, const std::vector<std::string>& symbols) {
  if (row.entries.size() != 1) return "q" + std::to_string(row.row);
  const CoordinateEntry& e = p.entries[static_cast<std::size_t>(row.entries.front())];
  if (e.ix > 0) return "q" + std::to_string(row.row);
  switch (kind_of_code(e.code)) {
    case CoordinateKind::stretch: return "r(" + chain({e.i, e.j}, symbols) + ")";
    case CoordinateKind::bend: return "a(" + chain({e.i, e.j, e.k}, symbols) + ")";
    case CoordinateKind::linear_bend:
      return e.l > 0 ? "b" + std::to_string(std::max(1, row.component)) + "(" + chain({e.j, e.k, e.l}, symbols) + ")"
                     : "b(" + chain({e.i, e.j, e.k}, symbols) + ")";
    case CoordinateKind::out_of_plane: return "w(" + chain({e.i, e.j, e.k, e.l}, symbols) + ")";
    case CoordinateKind::torsion: return "t(" + chain({e.i, e.j, e.k, e.l}, symbols) + ")";
  }
  return "q" + std::to_string(row.row);
}

std::string coordinate_symbol(const InternalCoordinate& c, const std::vector<std::string>& symbols) {
  const auto& t = c.atoms;
  switch (c.kind) {
    case CoordinateKind::stretch: return "r(" + chain({t[0] + 1, t[1] + 1}, symbols) + ")";
    case CoordinateKind::bend: return "a(" + chain({t[0] + 1, t[1] + 1, t[2] + 1}, symbols) + ")";
    case CoordinateKind::linear_bend:
      return "b" + std::to_string(c.component == 2 ? 2 : 1) + "(" + chain({t[0] + 1, t[1] + 1, t[2] + 1}, symbols) +
             ")";
    case CoordinateKind::out_of_plane: return "w(" + chain({t[0] + 1, t[1] + 1, t[2] + 1, t[3] + 1}, symbols) + ")";
    case CoordinateKind::torsion: return "t(" + chain({t[0] + 1, t[1] + 1, t[2] + 1, t[3] + 1}, symbols) + ")";
  }
  return "q";
}

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
