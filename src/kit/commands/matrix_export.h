// `export`: the matrices of a deck's listing as Matrix Market files, the
// format SciPy, Julia, MATLAB and Octave read directly, and index.json that
// says what each file holds. Only this file's .cpp meets Eigen's Matrix
// Market writer.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kit/model/deck.h"
#include "kit/model/listing.h"

namespace korven::kit {

struct ExportedMatrix {
  std::string file;    // "B.p1.mtx", "G.p1.m2.mtx", "U.p1.m1.mtx", "Gsym.p1.m1.b2.mtx"
  std::string matrix;  // "B", "G", "U" or "Gsym"
  int position = 0;    // the problem's position in the deck, from 1
  int problem = 0;     // the problem card's number
  std::string title;   // the problem's first title card
  std::optional<int> mass_set;             // from 1; none for B
  std::optional<std::string> mass_set_title;
  std::optional<int> block;                // from 1; Gsym only
  std::optional<int> first_row;            // Gsym: the block's first symmetry coordinate
  std::optional<std::string> species;      // Gsym, when known
  int rows = 0;
  int columns = 0;
  bool symmetric = false;  // G and Gsym: only the lower triangle is stored
  std::vector<MatrixElement> elements;     // as stored: for a symmetric matrix row >= column
  std::vector<MatrixElement> factoring_reports;  // Gsym: the block's reports, as listed
};

struct MatrixExport {
  std::string deck;
  std::vector<ExportedMatrix> matrices;
  // Problems the engine refused (no B listed), each as "problem N: its
  // first error report", so that nothing is left out without a word.
  std::vector<std::string> refused;
};

// For each problem (or only the one at position `only`): B when the listing
// has it, as many rows as the largest of NIC, the deck's rows and the highest
// listed row, by 3N columns; for each listed mass set G (symmetric, its
// listed upper triangle stored as the lower one), and for a symmetrized mass
// set U from the deck (its rows as the engine normalises them, as `check`
// reads it) and one G' block per listed block, of the block card's size.
// A block's elements that lie beyond its size (the couplings its factoring
// reports name) are left out of the block and named in its reports. The
// species are `check`'s, or the deck's comment cards' where `check` finds
// none. Values are the listing's; repeated positions are added up.
MatrixExport plan_export(const Deck& deck, const Listing& listing, std::optional<int> only,
                         const std::string& deck_name);

// Writes every matrix and index.json (the text given) into a fresh folder
// beside `dir`, then renames it to `dir`. An existing `dir` is an InputError
// unless `force`; with `force` it is replaced only when it holds nothing but
// an earlier export (index.json and .mtx files), so that a mistyped -o never
// removes a folder of the user's. Nothing is left behind on failure.
void write_export(const MatrixExport& plan, const std::string& index_json, const std::filesystem::path& dir,
                  bool force);

}  // namespace korven::kit
