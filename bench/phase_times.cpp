// Where a run of one deck spends its time: the whole run in-process, then
// its phases apart, each the best of several repetitions: G = B M^-1 B^T per
// mass set, G' = U G U^T per mass set with a U (rows formed, nothing
// written), and the listing's G sections written from the lists (the rows of
// G' formed beforehand). With an export folder it also writes the B list, the
// masses and the U list there for the dense baseline (bench/dense_numpy.py).
//
// usage: korven_phases DECK.DAT [EXPORT_DIR]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bmatrix/b_matrix.h"
#include "bmatrix/coordinate_walk.h"
#include "deck/problem_input.h"
#include "driver/run.h"
#include "gmatrix/g_matrix.h"
#include "gmatrix/symmetrized_g.h"
#include "records/fp_trap.h"
#include "records/record_io.h"

namespace {

using namespace korven;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRepetitions = 7;

// The best time of kRepetitions calls of f, in seconds.
template <class F>
double best_of(F&& f) {
  double best = std::numeric_limits<double>::infinity();
  for (int k = 0; k < kRepetitions; ++k) {
    const Clock::time_point start = Clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

void export_list(const fs::path& path, const ElementList& list) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(list.data()),
            static_cast<std::streamsize>(list.size() * sizeof(Element)));
}

void export_reals(const fs::path& path, const std::vector<float>& values) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(values.data()),
            static_cast<std::streamsize>(values.size() * sizeof(float)));
}

struct MassSet {
  std::vector<float> masses;
  ElementList g;
  bool symmetrized = false;
  ElementList u;  // normalised, as the run holds it
  std::vector<std::int32_t> blocks;
  std::int32_t count = 0;
  std::string title;
};

}  // namespace

int main(int argc, char** argv) {
  static_assert(sizeof(Element) == 12, "the export writes entries as they lie in memory");
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: korven_phases DECK.DAT [EXPORT_DIR]\n");
    return 2;
  }
  const fs::path deck_path = fs::absolute(argv[1]);
  const fs::path work = fs::temp_directory_path() / ("korven_phases_" + std::to_string(::getpid()));
  fs::create_directories(work);
  fs::copy_file(deck_path, work / "DECK.DAT", fs::copy_options::overwrite_existing);
  const fs::path before = fs::current_path();
  fs::current_path(work);

  // The whole run, in-process, as the console would start it.
  int status = 0;
  const double whole = best_of([&] {
    std::istringstream in("DECK.DAT\n");
    std::ostringstream out, err;
    status = run_korven(ConsoleStreams{in, out, err, false});
  });
  const auto listing_bytes = fs::file_size(work / "DECK.OUT");

  // The deck's problem and its mass sets, read through the run's own phases.
  std::istringstream in;
  std::ostringstream out, err;
  FpTrapScope traps;
  Units units({in, out, err, false});
  units.open_unit(kDeckUnit, "DECK.DAT", "OLD");
  units.open_unit(kListingUnit, "PHASES.OUT", "UNKNOWN");
  units.open_unit(kBScratchUnit, "dseta.tmp", "UNKNOWN", "unformatted");
  units.open_unit(kUScratchUnit, "dsetb.tmp", "UNKNOWN", "unformatted");
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
  const std::int32_t nic = problem.coordinates;

  std::vector<MassSet> sets;
  for (;;) {
    MassSetCard card;
    read_mass_set(deck, card);
    if (card.control != kMassSetControl) break;
    MassSet set;
    read_masses(deck, problem.atoms, set.masses);
    set.title = card.title;
    if (card.u_mode != 0) {
      if (card.u_mode > 0) {
        if (!read_u_matrix(deck, listing, problem.number, card.symmetry_count, nic, set.u)) return 1;
      } else {
        if (sets.empty() || sets.back().u.empty()) return 1;
        set.u = sets.back().u;
      }
      if (!read_block_card(deck, listing, problem.number, card.boundary_count,
                           card.symmetry_count, set.blocks)) {
        return 1;
      }
      set.symmetrized = true;
      set.count = card.symmetry_count;
    }
    sets.push_back(std::move(set));
  }

  double g_time = 0.0, prime_time = 0.0, write_time = 0.0;
  std::size_t g_elements = 0, prime_listed = 0;
  for (MassSet& set : sets) {
    g_time += best_of([&] { compute_unsymmetrized_g(b, set.masses, nic, set.g); });
    g_elements += set.g.size() - 1;
    if (!set.symmetrized) continue;
    prime_time += best_of([&] {
      SymmetrizedRows rows(set.g, set.u, nic, set.count);
      prime_listed = 0;
      for (std::int32_t s = 1; s <= set.count; ++s) {
        rows.next_row();
        for (const std::int32_t k : rows.columns())
          if (std::fabs(rows.value(k)) > kSizeThreshold) ++prime_listed;
      }
    });
  }
  // The listing's B and G sections, written as the run writes them, the rows
  // of G' all formed beforehand on the second thread, so that this is the
  // writing alone.
  std::vector<std::unique_ptr<RowsFormedAhead>> formed(sets.size());
  for (std::size_t k = 0; k < sets.size(); ++k) {
    if (!sets[k].symmetrized) continue;
    formed[k] = std::make_unique<RowsFormedAhead>(sets[k].count);
    formed[k]->start(sets[k].g, sets[k].u, nic);
    while (!formed[k]->stopped()) std::this_thread::yield();
  }
  write_time = best_of([&] {
    units.rewind_unit(kListingUnit);
    write_b_listing(listing, problem, b);
    for (std::size_t k = 0; k < sets.size(); ++k) {
      const MassSet& set = sets[k];
      write_g_heading(listing, problem.number, set.title, set.masses);
      write_g_list(listing, set.g);
      if (set.symmetrized)
        symmetrize_g(listing, problem.number, set.title, set.blocks, set.g, set.u, nic, set.count,
                     formed[k].get());
    }
    units.write_out_quietly();
  });

  if (argc == 3) {
    const fs::path dir = fs::absolute(fs::path(argv[2]).is_absolute() ? fs::path(argv[2]) : before / argv[2]);
    fs::create_directories(dir);
    export_list(dir / "b.bin", b);
    std::ofstream meta(dir / "problem.txt");
    meta << problem.atoms << ' ' << nic << ' ' << sets.size() << '\n';
    for (std::size_t k = 0; k < sets.size(); ++k) {
      export_reals(dir / ("masses" + std::to_string(k + 1) + ".bin"), sets[k].masses);
      if (sets[k].symmetrized) export_list(dir / ("u" + std::to_string(k + 1) + ".bin"), sets[k].u);
      meta << (sets[k].symmetrized ? sets[k].count : 0) << '\n';
    }
  }

  units.terminate();
  fs::current_path(before);
  fs::remove_all(work);

  std::printf("deck: %d atoms, %d coordinates, %zu B elements, %zu mass sets, %zu G elements, "
              "%zu G' elements listed in the last set; listing %ju bytes; exit status %d\n",
              problem.atoms, nic, b.size() - 1, sets.size(), g_elements, prime_listed,
              static_cast<std::uintmax_t>(listing_bytes), status);
  // G' is formed on the second thread while its sections are written, so
  // the run's time holds only the part of it that the writing did not hide.
  std::printf("phases (best of %d, ms): whole run in-process %.2f | G %.2f + G' %.2f = %.2f | "
              "writing the B and G sections %.2f | the rest (deck, B rows, files, and what of G' "
              "the writing did not hide) %.2f\n",
              kRepetitions, 1e3 * whole, 1e3 * g_time, 1e3 * prime_time, 1e3 * (g_time + prime_time),
              1e3 * write_time, 1e3 * (whole - g_time - write_time));
  return 0;
}
