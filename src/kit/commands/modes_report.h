// `modes`: harmonic wavenumbers, potential-energy distributions and isotope
// shifts from a deck, its listing and a Cartesian Hessian, in the language
// of the literature: one line per vibration (a degenerate one once),
// numbered ν1, ν2, … by species in Herzberg's order in each mass set's own
// point group, the PED over the deck's coordinates and summed by coordinate
// class, the isotopologues matched by species. B and the masses come from
// the listing, U and the blocks from the deck; the Hessian is turned into
// the deck's frame first.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/io/hessian_input.h"
#include "kit/model/deck.h"
#include "kit/model/listing.h"

namespace korven::kit {

enum class MatchMethod { species, overlap };

struct ModesOptions {
  std::string hessian;                 // the file
  std::optional<HessianFormat> format;  // empty: from the extension
  HessianUnits units = HessianUnits::hartree_per_bohr2;  // plain text only
  std::optional<int> mass_set;         // from 1; empty: every mass set
  double scale = 1;
  double ped_threshold = 10;           // percent
  std::optional<int> problem;          // position in the deck, from 1
  MatchMethod match = MatchMethod::species;
};

struct PedItem {
  int coordinate = 0;  // internal (or, with U, symmetry) coordinate, from 1
  std::string label;
  double percent = 0;
};

// The PED summed over the coordinates of one class ("stretch C-H").
struct PedClass {
  std::string name;
  double percent = 0;
};

// One mode of the analysis as a partner of its vibration.
struct ModePartner {
  double wavenumber = 0;  // cm⁻¹, scaled
  std::optional<double> cartesian_wavenumber;
};

// One vibration: a degenerate one once, its partners together.
struct ModeRow {
  int nu = 0;
  double wavenumber = 0;  // cm⁻¹, scaled, the mean over the partners; imaginary as negative
  std::optional<double> cartesian_wavenumber;
  bool imaginary = false;
  std::optional<std::string> species;  // ASCII, without a partner suffix ("E", "Pi_u")
  int degeneracy = 1;
  std::optional<bool> ir_active, raman_active;
  std::vector<PedItem> ped;            // of the partners together, contributions at or above the threshold
  std::vector<PedClass> ped_classes;   // every class, largest first
  std::vector<ModePartner> partners;
};

// The product rule of one species shared with the first mass set.
struct ProductRule {
  std::string species;
  double ratio = 0;     // Π ν′ / Π ν, this mass set over the first
  double expected = 0;  // from the masses and the moments of inertia
};

struct MassSetModes {
  std::string title;
  std::optional<std::string> point_group;
  std::vector<std::string> species_order;  // the group's species in Herzberg's order
  bool agree = true;
  std::string verdict;           // why the two routes disagree, in words
  std::vector<ModeRow> modes;    // in ν order
  std::vector<double> cartesian_wavenumbers;
  Matrix f;                      // internal force constants
  std::optional<Matrix> f_symmetry;
  Matrix l;                      // the modes in internal coordinates, one column each (ascending)
  // Against the first mass set: for each of its vibrations (by ν, from 0)
  // the ν of this set's matching vibrations (empty: none; two when a
  // degenerate vibration splits), and the product rule per shared species.
  std::vector<std::vector<int>> matched_nu;
  std::vector<ProductRule> product_rule;
  bool heavier = false;          // every mass at least the first set's, one heavier
};

struct ProblemModes {
  int index = 0;
  int problem = 0;
  double scale = 1;
  MatchMethod match = MatchMethod::species;
  std::vector<int> mass_set_numbers;  // which of the deck's mass sets, from 1
  std::vector<MassSetModes> mass_sets;
  // Per partner of the first set's vibrations (in ν order, partners
  // consecutive): its matching partner in every set, numbered as the JSON
  // lists them (from 1; 0: none), and the shift of its wavenumber.
  std::vector<std::vector<int>> matches;
  std::vector<std::vector<std::optional<double>>> shifts;
  std::vector<std::string> warnings;
};

struct ModesReport {
  std::string hessian;
  std::vector<ProblemModes> problems;
  int exit_status() const;  // 1 when the two routes disagree or a mode is imaginary
};

// Throws InputError for a Hessian that cannot be read or belongs to other
// atoms, and for options that name no problem or mass set.
ModesReport analyze_modes(const Deck& deck, const Listing& listing, const ModesOptions& options,
                          const std::string& deck_name);

std::string modes_text(const ModesReport& report, double ped_threshold);

}  // namespace korven::kit
