// `modes`: harmonic wavenumbers, potential-energy distributions and isotope
// shifts from a deck, its listing and a Cartesian Hessian. B and the masses
// come from the listing, U and the blocks from the deck; the Hessian is
// turned into the deck's frame first.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/model/deck.h"
#include "kit/io/hessian_input.h"
#include "kit/base/linalg.h"
#include "kit/model/listing.h"

namespace korven::kit {

struct ModesOptions {
  std::string hessian;                 // the file
  std::optional<HessianFormat> format;  // empty: from the extension
  HessianUnits units = HessianUnits::hartree_per_bohr2;  // plain text only
  std::optional<int> mass_set;         // from 1; empty: every mass set
  double scale = 1;
  double ped_threshold = 10;           // percent
  std::optional<int> problem;          // position in the deck, from 1
};

struct PedItem {
  int coordinate = 0;  // internal (or, with U, symmetry) coordinate, from 1
  std::string label;
  double percent = 0;
};

struct ModeRow {
  double wavenumber = 0;  // cm⁻¹, scaled; imaginary as negative
  std::optional<double> cartesian_wavenumber;
  bool imaginary = false;
  std::optional<std::string> species;
  std::vector<PedItem> ped;  // contributions at or above the threshold
};

struct MassSetModes {
  std::string title;
  std::optional<std::string> point_group;
  bool agree = true;
  std::string verdict;           // why the two routes disagree, in words
  std::vector<ModeRow> modes;    // ascending
  std::vector<double> cartesian_wavenumbers;
  Matrix f;                      // internal force constants
  std::optional<Matrix> f_symmetry;
  Matrix l;                      // the modes in internal coordinates, one column each
};

struct ProblemModes {
  int index = 0;
  int problem = 0;
  double scale = 1;
  std::vector<int> mass_set_numbers;  // which of the deck's mass sets, from 1
  std::vector<MassSetModes> mass_sets;
  std::vector<std::vector<int>> matches;  // per mode of the first set: its mode in every set, from 1 (0: none)
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
