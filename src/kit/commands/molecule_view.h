// `view`: a picture of a problem's molecule as the deck has it, so that atom
// numbers in the listing can be read against it: X seen from a chosen
// direction, each atom labelled with its element and deck number, a bond for
// each of the deck's stretches, and beside it the internal coordinates in
// words. Only molecule_view.cpp meets Open Babel's depiction.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/commands/problem_view.h"

namespace korven::kit {

// The screen of a view: `toward` points from the molecule to the eye,
// `right` and `up` span the picture (right × up = toward). A view puts the
// centroid at the origin.
struct ViewFrame {
  Vec3 toward = Vec3::UnitZ(), right = Vec3::UnitX(), up = Vec3::UnitY();
  double closest = 0;  // Å: the smallest distance of two atoms on the screen
};

// The direction the molecule is seen from, the same for the same X: of the
// principal axes of the atoms' spread (least spread first, so that a planar
// or linear molecule is seen face on) and a fixed set of directions over the
// sphere, the first whose closest pair of atoms on the screen lies at least
// 0.9 times as far apart as in the best of them. `right` follows the
// picture's widest spread, its sign the side with the farther atoms.
ViewFrame choose_view(const std::vector<Vec3>& x);

struct MoleculePicture {
  std::string heading;                  // "WATER.DAT, problem 1 (number 1)"
  std::vector<std::string> titles;      // the two title cards
  std::vector<std::string> notes;       // why the engine rejects the problem, and the like
  std::vector<std::string> symbols;     // one per atom: "O", "H", "?" where the masses do not tell
  std::vector<Vec3> x;                  // Å, as the deck has it
  std::vector<std::pair<int, int>> bonds;  // atoms from 1, one per distinct stretch
  std::vector<std::string> coordinates;    // "1  STRETCH O1-H2", one per row
};

// What the picture of the problem shows. The view's listed problem, when the
// engine ran, gives its error reports as notes; `run_note` says why the run
// ended early, if it did.
MoleculePicture picture_of(const ProblemView& view, const std::string& run_note);

// The SVG document: Open Babel's depiction of the molecule on the left, the
// headings, notes and coordinates on the right.
std::string molecule_svg(const MoleculePicture& picture);

}  // namespace korven::kit
