// `check`: what a deck describes, from the engine's own listing and the
// deck's cards. Deck + listing → report; the command line prints it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/model/deck.h"
#include "kit/model/listing.h"

namespace korven::kit {

struct BlockReport {
  int first = 0;
  int size = 0;
  std::optional<int> rank;
  std::optional<std::string> species;  // the block's species, "mixed", or none without a point group
  std::vector<std::string> findings;   // rows of the wrong species, or not orthogonal to another
};

// One symmetry coordinate in words: its species and the internal
// coordinates it combines.
struct SymmetryCoordinateTerm {
  int coordinate = 0;  // the internal coordinate, from 1
  std::string label;   // "r(O1-H2)"
  double coefficient = 0;
};
struct SymmetryCoordinateWords {
  int index = 0;                       // the row of U, from 1
  std::optional<std::string> species;  // without a partner suffix
  std::optional<int> partner;          // 1 … d for a split degenerate species
  std::vector<SymmetryCoordinateTerm> terms;  // every nonzero coefficient, as U holds it
  std::string text;                    // "S3 B2 = 0.707 r(O1-H2) - 0.707 r(O1-H3)"
};

struct MassSetReport {
  std::string title;
  std::optional<std::string> point_group;
  std::optional<int> g_rank;
  bool symmetrized = false;
  std::optional<double> u_orthonormal_dev;
  int factoring_reports = 0;
  std::vector<BlockReport> blocks;
  std::vector<SymmetryCoordinateWords> symmetry_coordinates;
};

// Width of a symmetry coordinate written out in the report (and on the
// deck's comment cards): the terms beyond it are left to the JSON.
inline constexpr std::size_t kCombinationWidth = 100;

struct ProblemReport {
  int index = 0;    // position in the deck, from 1
  int problem = 0;  // the problem card's number
  int atoms = 0;
  bool linear = false;
  int vibrations = 0;
  int coordinates = 0;
  std::optional<int> rank;             // none when the listing has no B
  std::optional<std::vector<int>> redundant;
  std::optional<int> missing;
  std::vector<std::string> errors;
  std::vector<MassSetReport> mass_sets;
  std::string verdict;
};

struct CheckReport {
  std::vector<ProblemReport> problems;
  // 0 when every problem describes all its vibrations with no error or
  // factoring report, 1 otherwise.
  int exit_status() const;
};

// The report of every problem, or of the one at position `only` (from 1).
CheckReport check_deck(const Deck& deck, const Listing& listing, std::optional<int> only,
                       const std::string& deck_name);

std::string check_text(const CheckReport& report);

}  // namespace korven::kit
