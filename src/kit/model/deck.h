// A deck as plain data: what `build` writes and what the deck replay reads
// back, card for card. Indices follow the deck: atoms, rows and columns count
// from 1.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/base/linalg.h"

namespace korven::kit {

// One entry of a coordinate card (NO, CODE, I, J, K, L, IX, JX) with, for
// CODE 5 and 6, the reference point its card carries.
struct CoordinateEntry {
  int no = 1, code = 1, i = 0, j = 0, k = 0, l = 0, ix = 0, jx = 0;
  std::optional<Vec3> reference_point;
};

// One element of U: symmetry coordinate `row`, internal coordinate `column`.
struct UElement {
  int row = 0;
  int column = 0;
  double value = 0;
};

struct MassSet {
  std::string title;           // up to 60 columns
  std::vector<double> masses;  // one per atom
  int u_mode = 0;              // > 0: U cards follow; < 0: the stored U; 0: no U
  int symmetry_count = 0;      // rows of U
  // Writing: the U cards (u_mode > 0). Replay: the U in force for this mass
  // set (its own cards or, for a negative mode, the last U the deck read),
  // each row normalised as the engine normalises it.
  std::vector<UElement> u;
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

}  // namespace korven::kit
