// One problem of a deck beside the engine's listing of it: what check,
// modes, export and view all start from, made in one place. B is the
// listing's, with as many rows as the engine's G has (the largest of NIC,
// the rows of the deck's walk and the highest listed row), so that B, G and
// U share one size; U and the blocks are the deck's; a mass set's point
// group comes from X and its masses.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/model/deck.h"
#include "kit/model/deck_notes.h"
#include "kit/model/listing.h"
#include "kit/symmetry/point_group.h"
#include "kit/symmetry/symmetry_coordinates.h"

namespace korven::kit {

// Singular values of B (and eigenvalues of G and of each block of G') count
// towards the rank when above this fraction of the largest. The listing
// gives B to six decimals, so a dependent row leaves about 1e-6.
inline constexpr double kRankFraction = 1e-4;

// The deck's listing: the one at `listing_path` when given, else the
// engine's run of the deck in a private folder (a run-time failure of the
// engine is an InputError naming the deck).
Listing listing_of(const std::string& deck_name, const std::string& listing_path);

// The positions (from 1) of the problems a command works on, of `count`:
// the one requested, or every one; with `need_one`, a deck of several
// problems needs the request. InputError naming the deck for a request that
// names none of them, or no problem at all.
std::vector<int> chosen_problems(const std::string& deck_name, std::size_t count, std::optional<int> requested,
                                 bool need_one);

// One mass set as the listing has it, with the deck's cards for it.
struct MassSetView {
  int number = 0;                     // from 1
  const ListedMassSet* listed = nullptr;
  const MassSet* deck = nullptr;      // nullptr when the deck has fewer mass sets than the listing
  bool masses_usable = false;         // one nonzero mass per atom
  Vector inverse_masses;              // 3N, each atom's three times (with usable masses)
  bool symmetrized = false;           // the listing's symmetrized section, with the deck's U
  Matrix u;                           // the deck's U: symmetry_count × the rows of B
  std::vector<SparseRow> u_rows;      // the same rows, sparse
  std::vector<int> boundaries;        // the block card less one: first rows from 0, then one past the last
  std::optional<PointGroup> group;    // from X and these masses (atoms of equal mass equivalent)
  std::string group_fault;            // why there is no group, when there is none
};

class ProblemView {
 public:
  // `listing` may be nullptr (a deck the engine did not run through);
  // without `find_groups` no mass set gets a point group.
  ProblemView(const Deck& deck, const Listing* listing, int position, const std::string& deck_name,
              bool find_groups = true);

  int position = 0;  // in the deck, from 1
  const DeckProblem& deck;
  const ListedProblem* listed = nullptr;
  std::string deck_name;
  int atoms = 0;          // N
  bool linear = false;
  int vibrations = 0;     // 3N − 6, 3N − 5 linear
  std::vector<DeckRow> rows;  // the deck's walk
  int b_rows = 0;             // rows of B, G and U's columns
  std::vector<SparseRow> b;   // the listing's B rows; empty without a B section
  std::vector<std::string> symbols;  // per atom, from the first mass set's masses
  std::vector<std::string> labels;   // per row of B: the deck's comment card, else row_label
  std::vector<std::string> classes;  // per row of B: row_class ("stretch O-H")
  std::vector<std::string> short_names;  // per row of B: row_symbol ("r(O1-H2)")
  DeckNotes notes;
  std::vector<MassSetView> mass_sets;  // one per listed mass set

  bool has_b() const { return listed && listed->has_b && atoms > 0; }
  Matrix dense_b() const { return dense(b, 3 * atoms); }
  // The shift symmetrizing moved X by, as the deck's comment records it (0 without).
  double symmetrization_shift() const;
  // The numeric rank of the listed B (computed once).
  int b_rank() const;
  // The preference rank of each row's kind (stretches first).
  std::vector<int> row_preferences() const;
  // The species of each block of a symmetrized mass set as the check finds
  // them from B, U and the group (empty without a group, when the blocks do
  // not tile U, or when B's rank falls short of the vibrations); a failure
  // becomes `fault`.
  std::vector<BlockFinding> block_species_found(const MassSetView& m, std::string& fault) const;
  // The species of block k (from 0) as the deck's comment cards give it.
  std::optional<std::string> noted_species(const MassSetView& m, int k) const;

 private:
  MassSetView mass_set_view(int k, bool find_group) const;
  mutable std::optional<int> b_rank_;
};

}  // namespace korven::kit
