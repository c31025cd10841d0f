// The mass sets of a problem: per mass set the unsymmetrized G matrix and,
// when asked, the symmetrized G matrix by blocks with the factoring test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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


// The end entry of the G list and of the block lists.
inline constexpr Element kGEndEntry{-1, 0, 0.0f};

// Control value of a mass-set card that starts a mass set.
inline constexpr std::int32_t kMassSetControl = -6;

// Length of the mass-set title (columns 13-72 of the mass-set card).
inline constexpr int kMassSetTitleLength = 60;

// The fields of one mass-set card.
struct MassSetCard {
  std::int32_t control = 0;
  std::int32_t u_mode = 0;           // sign only: + U cards follow, - stored U list, 0 none
  std::int32_t boundary_count = 0;   // values on the block card
  std::int32_t symmetry_count = 0;   // symmetry coordinates, the rows of U
  std::string title;                 // kMassSetTitleLength characters
};

// Reads one mass-set card under "(4I3,A)".
void read_mass_set(Unit& deck, MassSetCard& card);

// Reads `atoms` masses under "(6F12.6)", six to a card.
void read_masses(Unit& deck, std::int32_t atoms, std::vector<float>& masses);

// The heading of the G section: problem number, mass-set title and masses.
void write_g_heading(Unit& listing, std::int32_t problem_number, const std::string& title,
                     const std::vector<float>& masses);

// Reads the B list back from the first scratch file: b.size() entries.
void reload_b_list(Units& units, ElementList& b);

// G = B M^-1 B^T over rows and columns 1 ... nic: the upper triangle's elements
// above the size threshold, row by row, closed by the end entry (-1, 0, 0).
// The masses are those of atoms 1 ... masses.size(). B entries count up to the
// first entry with a row below 1 (the end entry); entries of rows above nic take
// no part. Each row of B is taken whole, in list order, even when some of its
// entries stand behind entries of later rows. A zero mass traps (divide by zero).
void compute_unsymmetrized_g(const ElementList& b, const std::vector<float>& masses,
                             std::int32_t nic, ElementList& g);

// The element count, the reader line for ROSK and the G list's element records.
void write_g_list(Unit& listing, const ElementList& g);

}  // namespace korven
