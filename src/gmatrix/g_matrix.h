// The mass sets of a problem: per mass set the unsymmetrized G matrix and,
// when asked, the symmetrized G matrix by blocks with the factoring test.
#pragma once

#include <cstdint>

#include "bmatrix/element_list.h"
#include "deck/problem.h"
#include "records/units.h"

namespace korven {

// The U list that lives from one mass set and one problem to the next.
struct StoredU {
  ElementList list;     // the U list last built, end entry (-3, 0, 0) included
  bool usable = false;  // the second scratch file holds exactly this list
};

// How the mass sets of a problem ended.
struct MassSetsEnd {
  bool search;            // an error report was written: search for -9 or 999
  std::int32_t control;   // otherwise: the control value for the card dispatch
};

// Reads mass-set cards and carries out each mass set until a card whose
// control field is not -6. b is the closed B list of the problem.
MassSetsEnd run_mass_sets(Units& units, const Problem& problem, ElementList& b, StoredU& stored_u);

}  // namespace korven
