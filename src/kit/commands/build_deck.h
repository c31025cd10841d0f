// `build`: a complete, runnable deck from the molecules of a geometry file.
// Molecule → coordinates → (symmetry) → deck; the command line only parses
// options and writes the file.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kit/model/deck.h"
#include "kit/symmetry/point_group.h"
#include "kit/model/molecule.h"

namespace korven::kit {

// Atoms closer than this are refused.
inline constexpr double kMinAtomDistance = 0.01;  // Å

// One --isotopologue option: LABEL=ATOM:ISOTOPE[,ATOM:ISOTOPE…].
struct Isotopologue {
  std::string label;
  std::vector<std::pair<int, std::string>> substitutions;  // atom number from 1, isotope text ("2H", "D", "13C")
};
// Parses the option's text; `what` names the option in errors.
Isotopologue parse_isotopologue(const std::string& text);

enum class CoordinateMode { redundant, independent };

struct BuildOptions {
  std::string source_name;  // the geometry file as the user named it
  CoordinateMode coordinates = CoordinateMode::redundant;
  std::string title;        // empty: the molecule's title, or its formula
  std::vector<Isotopologue> isotopologues;
  bool save = false;
  bool symmetry = false;
  double tolerance = 0.01;  // Å, for the point group
  AxesChoice axes = AxesChoice::standard;  // x and y of C2v, D2, D2h
};

struct BuiltDeck {
  Deck deck;
  std::vector<std::string> warnings;  // each a line for standard error
  std::vector<std::string> notes;     // what the user should know (point groups, shifts)
};

// Throws InputError naming options.source_name for a molecule the deck cannot hold.
BuiltDeck build_deck(const std::vector<Molecule>& molecules, const BuildOptions& options);

// The default deck name for a geometry file: its stem in upper case, cut to
// 8 characters from A–Z, 0–9 and _, plus ".DAT".
std::string default_deck_name(const std::string& geometry_path);

}  // namespace korven::kit
