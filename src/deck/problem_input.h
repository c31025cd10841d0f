// The front of a problem: problem card, titles, heading and X matrix.
#pragma once

#include <cstdint>

#include "deck/problem.h"
#include "records/units.h"

namespace korven {

void read_problem_card(Unit& deck, Problem& problem);
void read_titles(Unit& deck, Problem& problem);
void write_problem_heading(Unit& listing, const Problem& problem);

// Refuses a problem whose atom or coordinate count the listing cannot show;
// returns false after writing the report.
bool check_problem_size(Unit& listing, const Problem& problem);

// Clears X for the problem's atoms, then reads, echoes and stores the X-matrix
// cards up to the -1 triple. Returns false after an X-matrix error report.
bool read_x_matrix(Unit& deck, Unit& listing, const Problem& problem, Positions& x);

}  // namespace korven
