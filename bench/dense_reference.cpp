// The products of the largest problem, timed twice: as korven forms them
// (sparse lists, one pass per row) and with plain dense loops over full
// matrices, G = B M^-1 B^T and G' = U G U^T. Reads the problem and its first
// two mass sets from a deck through korven's own phases.
//
// usage: dense_reference DECK.DAT
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bmatrix/b_matrix.h"
#include "deck/coordinates.h"
#include "deck/problem_input.h"
#include "gmatrix/g_matrix.h"
#include "gmatrix/symmetrized_g.h"
#include "records/fp_trap.h"
#include "records/record_io.h"

namespace {

using namespace korven;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

using Dense = std::vector<std::vector<double>>;

Dense dense_of(const ElementList& list, std::size_t rows, std::size_t cols) {
  Dense m(rows + 1, std::vector<double>(cols + 1, 0.0));
  for (const Element& e : list)
    if (e.row > 0 && static_cast<std::size_t>(e.row) <= rows && static_cast<std::size_t>(e.col) <= cols)
      m[static_cast<std::size_t>(e.row)][static_cast<std::size_t>(e.col)] += e.value;
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dense_reference DECK.DAT\n");
    return 2;
  }
  const std::filesystem::path deck_path = std::filesystem::absolute(argv[1]);
  const std::filesystem::path work = std::filesystem::temp_directory_path() / "korven_dense_reference";
  std::filesystem::create_directories(work);
  std::filesystem::current_path(work);

  std::istringstream in;
  std::ostringstream out, err;
  FpTrapScope traps;
  Units units({in, out, err, false});
  units.open_unit(kDeckUnit, deck_path.string(), "OLD");
  units.open_unit(kListingUnit, "DENSE.OUT", "UNKNOWN");
  Unit& deck = units.unit(kDeckUnit);
  Unit& listing = units.unit(kListingUnit);
  for (std::int32_t control = 0; control != -9;) {
    ReadStatement card(deck, "(I3)");
    card.read_integer(control);
  }
  Problem problem;
  Positions x;
  ElementList b;
  std::vector<std::int32_t> counts;
  std::int32_t pair_row = 0;
  read_problem_card(deck, problem);
  read_titles(deck, problem);
  if (!read_x_matrix(deck, listing, problem, x) ||
      !read_coordinates(deck, listing, problem, x, b, pair_row, counts)) {
    std::fprintf(stderr, "the deck's problem has an input error\n");
    return 1;
  }
  finish_b_list(b, counts);
  const auto nic = static_cast<std::size_t>(problem.coordinates);
  const std::size_t cols = 3 * static_cast<std::size_t>(problem.atoms);

  // Mass set 1: G only. Mass set 2: G and its U matrix.
  MassSetCard card;
  std::vector<float> masses;
  ElementList g, u;
  read_mass_set(deck, card);
  read_masses(deck, problem.atoms, masses);
  read_mass_set(deck, card);
  read_masses(deck, problem.atoms, masses);
  std::vector<std::int32_t> blocks;
  if (!read_u_matrix(deck, listing, problem.number, card.symmetry_count, problem.coordinates, u) ||
      !read_block_card(deck, listing, problem.number, card.boundary_count, card.symmetry_count, blocks)) {
    std::fprintf(stderr, "the deck's U matrix has an input error\n");
    return 1;
  }
  const auto count = static_cast<std::size_t>(card.symmetry_count);

  auto t = Clock::now();
  compute_unsymmetrized_g(b, masses, problem.coordinates, g);
  const double sparse_g = seconds_since(t);

  t = Clock::now();
  std::size_t listed_prime = 0;
  SymmetrizedRows rows(g, u, problem.coordinates, card.symmetry_count);
  for (std::size_t s = 1; s <= count; ++s) {
    rows.next_row();
    for (std::size_t k = s; k <= count; ++k)
      if (std::fabs(rows.value(static_cast<std::int32_t>(k))) > kSizeThreshold) ++listed_prime;
  }
  const double sparse_prime = seconds_since(t);

  // The same products with plain dense loops.
  const Dense bd = dense_of(b, nic, cols);
  t = Clock::now();
  Dense gd(nic + 1, std::vector<double>(nic + 1, 0.0));
  for (std::size_t i = 1; i <= nic; ++i)
    for (std::size_t j = i; j <= nic; ++j) {
      double sum = 0.0;
      for (std::size_t c = 1; c <= cols; ++c) sum += bd[i][c] * bd[j][c] / masses[(c - 1) / 3];
      gd[i][j] = gd[j][i] = sum;
    }
  const double dense_g = seconds_since(t);

  // U normalised as korven has it (the U list holds the normalised rows).
  const Dense ud = dense_of(u, count, nic);
  t = Clock::now();
  Dense ug(count + 1, std::vector<double>(nic + 1, 0.0));
  for (std::size_t s = 1; s <= count; ++s)
    for (std::size_t j = 1; j <= nic; ++j) {
      double sum = 0.0;
      for (std::size_t i = 1; i <= nic; ++i) sum += ud[s][i] * gd[i][j];
      ug[s][j] = sum;
    }
  std::size_t dense_listed = 0;
  for (std::size_t s = 1; s <= count; ++s)
    for (std::size_t k = s; k <= count; ++k) {
      double sum = 0.0;
      for (std::size_t j = 1; j <= nic; ++j) sum += ug[s][j] * ud[k][j];
      if (std::fabs(sum) > kSizeThreshold) ++dense_listed;
    }
  const double dense_prime = seconds_since(t);

  std::printf("problem: %d atoms, %zu coordinates, %zu B elements, %zu G elements, %zu symmetry coordinates\n",
              problem.atoms, nic, b.size() - 1, g.size() - 1, count);
  std::printf("G  = B M^-1 B^T   korven %8.4f s   dense %8.4f s\n", sparse_g, dense_g);
  std::printf("G' = U G U^T      korven %8.4f s   dense %8.4f s   (elements above 5E-5: %zu and %zu)\n",
              sparse_prime, dense_prime, listed_prime, dense_listed);
  units.terminate();
  std::filesystem::current_path(std::filesystem::temp_directory_path());
  std::filesystem::remove_all(work);
  return 0;
}
