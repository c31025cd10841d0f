// A deck as plain data: what `build` writes and what the deck replay reads
// back, card for card. Indices follow the deck: atoms, rows and columns count
// from 1.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/model/matrix_element.h"

namespace korven::kit {

// One entry of a coordinate card (NO, CODE, I, J, K, L, IX, JX) with, for
// CODE 5 and 6, the reference point its card carries.
struct CoordinateEntry {
  int no = 1, code = 1, i = 0, j = 0, k = 0, l = 0, ix = 0, jx = 0;
  std::optional<Vec3> reference_point;
};

struct MassSet {
  std::string title;           // up to 60 columns
  std::vector<double> masses;  // one per atom
  int u_mode = 0;              // > 0: U cards follow; < 0: the stored U; 0: no U
  int symmetry_count = 0;      // rows of U
  // Writing: the U cards (u_mode > 0). Replay: the U in force for this mass
  // set (its own cards or, for a negative mode, the last U the deck read),
  // each row normalised as the engine normalises it.
  // U's elements: symmetry coordinate `row`, internal coordinate `column`.
  std::vector<MatrixElement> u;
  std::vector<int> boundaries;  // the block card: first row of each block, then one past the last
};

struct DeckProblem {
  int number = 1;
  int nic = 0;
  int save = 0;
  std::string title1, title2;  // up to 80 columns each
  std::vector<Vec3> x;         // atom positions, atoms 1 … N
  std::vector<CoordinateEntry> entries;
  std::vector<MassSet> mass_sets;
  // Replay: the engine abandons this problem at an input error report (the
  // cards up to it are recorded; the writer ignores the flag).
  bool abandoned = false;
};

struct Deck {
  std::vector<std::string> comments;  // comment cards ahead of the first -9 card
  std::vector<DeckProblem> problems;
  // Replay: why the engine's run would end before the 999 card (a trapped
  // operation); empty when the deck is read to its end. The writer ignores it.
  std::string run_end;
};

// The deck's fixed values: the control fields of columns 1-3 and the limits
// of its fields.
inline constexpr int kEndOfDeck = 999;
inline constexpr int kProblemFollows = -9;
inline constexpr int kMassSetFollows = -6;
inline constexpr int kMaxDeckAtoms = 333;         // three columns of a Cartesian column 3a
inline constexpr int kMaxDeckCoordinates = 999;   // three columns
inline constexpr int kMaxTitleColumns = 80;
inline constexpr int kMaxMassSetTitleColumns = 60;

// One row of B as the coordinate walk numbers it.
struct DeckRow {
  int row = 0;
  std::vector<int> entries;  // indices into DeckProblem::entries that add to this row
  int component = 0;         // 0, or 1/2 for the two rows of a CODE 5 entry with L > 0
};

// The rows 1 ... last of a problem's walk: a positive NO opens a row, a
// CODE 5 entry takes two row numbers, a continuation entry (NO 0, CODE > 0)
// adds to the current row, a CODE 6 entry with L > 0 adds its second
// component to the pair row of the problem's last CODE 5 entry (to no row
// before the problem's first CODE 5 entry). Blank entries add to nothing.
std::vector<DeckRow> deck_rows(const DeckProblem& problem);

// The element symbol of every atom of the problem from its first mass set's
// masses ("?" where a mass names no element, or no mass set).
std::vector<std::string> atom_symbols(const DeckProblem& problem);

}  // namespace korven::kit
