#include "deck/problem_input.h"

#include "records/listing_layouts.h"
#include "records/record_io.h"

namespace korven {

void read_problem_card(Unit& deck, Problem& problem) {
  ReadStatement card(deck, "(I3,I6,5I4)");
  card.read_integer(problem.control)
      .read_integer(problem.number)
      .read_integer(problem.atoms)
      .read_integer(problem.coordinates)
      .read_integer(problem.save);
  card.end_read();
}

void read_titles(Unit& deck, Problem& problem) {
  ReadStatement first(deck, "(A)");
  first.read_text(problem.title1, 80);
  first.end_read();
  ReadStatement second(deck, "(A)");
  second.read_text(problem.title2, 80);
  second.end_read();
}

void write_problem_heading(Unit& listing, const Problem& problem) {
  write_record(listing, "", layouts::kProgramLine);
  write_record(listing, layouts::kProblemHeading, problem.number, problem.atoms, problem.coordinates);
  write_record(listing, layouts::kTitle, problem.title1);
  write_record(listing, layouts::kTitle, problem.title2);
}

bool check_problem_size(Unit& listing, const Problem& problem) {
  if (problem.atoms >= 1 && problem.atoms <= kMaxAtoms && problem.coordinates >= 1 &&
      problem.coordinates <= kMaxCoordinates)
    return true;
  write_record(listing, "");
  write_record(listing, layouts::kProblemSizeError, problem.number, problem.atoms, problem.coordinates);
  return false;
}

bool read_x_matrix(Unit& deck, Unit& listing, const Problem& problem, Positions& x) {
  x.assign(static_cast<std::size_t>(problem.atoms), {0.0f, 0.0f, 0.0f});
  write_record(listing, layouts::kXMatrixHeading);
  for (;;) {
    std::int32_t row[4] = {};
    std::int32_t atom[4] = {};
    float value[4] = {};
    ReadStatement card(deck, "(4(2I3,F12.6))");
    for (int k = 0; k < 4; ++k) card.read_integer(row[k]).read_integer(atom[k]).read_real(value[k]);
    card.end_read();
    write_record(listing, layouts::kXMatrixEcho, row[0], atom[0], value[0], row[1], atom[1], value[1],
                 row[2], atom[2], value[2], row[3], atom[3], value[3]);
    for (int k = 0; k < 4; ++k) {
      if (row[k] == -1) return true;
      if (row[k] == 0) continue;
      // A row other than x, y, z or an atom outside the problem names no
      // coordinate: reported like a bad row, never stored.
      if (row[k] < 0 || row[k] > 3 || atom[k] < 1 || atom[k] > problem.atoms) {
        write_record(listing, "");
        write_record(listing, layouts::kXMatrixError, problem.number, k + 1, row[k], atom[k], value[k]);
        return false;
      }
      x[static_cast<std::size_t>(atom[k] - 1)][static_cast<std::size_t>(row[k] - 1)] = value[k];
    }
  }
}

}  // namespace korven
