// The comment cards the kit writes ahead of a deck's first -9 card, and
// their reading back: what each coordinate is, each mass set's point group,
// each block's species and how far symmetrizing moved the atoms. Problems,
// mass sets, coordinates and blocks are numbered from 1.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace korven::kit {

// "    P1 C  7  BEND H2-O1-H3  104.52 DEG"
std::string coordinate_note(int problem, int row, const std::string& name, const std::string& value);
// "    P1 M2 D2O  POINT GROUP C2v"
std::string group_note(int problem, int mass_set, const std::string& title, const std::string& group);
// "    P1 M2 BLOCK  1  A1  ROWS 1-2"
std::string block_note(int problem, int mass_set, int block, const std::string& species, int first, int last);
// "    P1 M1 S  3 B2 = 0.707 r(O1-H2) - 0.707 r(O1-H3)"
std::string symmetry_coordinate_note(int problem, int mass_set, int row, const std::string& words);
// "    P1 SYMMETRIZED TO C2v, LARGEST SHIFT 0.000012 A"
std::string shift_note(int problem, const std::string& group, double shift);

struct DeckNotes {
  std::map<std::pair<int, int>, std::string> coordinates;  // (problem, row) → "BEND H2-O1-H3"
  std::map<std::pair<int, int>, std::string> groups;       // (problem, mass set) → "C2v"
  std::map<std::tuple<int, int, int>, std::string> species;  // (problem, mass set, block) → "A1"
  std::map<int, double> shifts;                              // problem → Å
};

// What the kit's comment cards say; other comments are passed over.
DeckNotes read_deck_notes(const std::vector<std::string>& comments);

}  // namespace korven::kit
