// A molecule as the kit reads it from a geometry file: atoms in file order
// with their element, mass and position (Ångström), and the bonds the reader
// perceived.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kit/base/linalg.h"

namespace korven::kit {

struct Atom {
  int element = 0;   // atomic number
  double mass = 0;   // the most abundant isotope's exact mass, u
  Vec3 position = Vec3::Zero();
};

struct Molecule {
  std::string title;  // from the file; may be empty
  std::vector<Atom> atoms;
  std::vector<std::pair<int, int>> bonds;  // 0-based atom indices, first < second
};

// True when all atoms lie on one line (within 1e-4 Å); one or two atoms do.
bool is_linear_molecule(const std::vector<Vec3>& x);

}  // namespace korven::kit
