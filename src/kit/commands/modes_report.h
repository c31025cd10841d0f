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
  std::string force_field;             // or a force-field file (fit --write-force-field) instead
  std::optional<HessianFormat> format;  // empty: from the extension
  HessianUnits units = HessianUnits::hartree_per_bohr2;  // plain text only
  std::optional<int> mass_set;         // from 1; empty: every mass set
  double scale = 1;
  double ped_threshold = 10;           // percent
  std::optional<int> problem;          // position in the deck, from 1
  MatchMethod match = MatchMethod::species;
  std::string hessian_geometry;   // gives a plain-text Hessian its frame
  double frame_tolerance = 0.001;  // Å
  bool allow_gradient = false;     // the GF route at a point that is not stationary, on purpose
  // A plain-text file of dipole derivatives (3N rows of 3, atomic units) in
  // place of the Hessian file's, in that file's frame: turned into the
  // deck's with the Hessian when the Hessian file gives its geometry.
  std::string dipole_derivatives;
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

// One mode of the analysis as a partner of its vibration. The shape and
// intensities follow Gaussian's conventions (vibrations/intensities.h).
struct ModePartner {
  double wavenumber = 0;  // cm⁻¹, scaled
  std::optional<double> cartesian_wavenumber;
  double reduced_mass = 0;    // u: 1 / |M^-½ e|²
  double force_constant = 0;  // mdyn/Å: λ μ, unscaled
  std::optional<double> ir_intensity;    // km/mol, with dipole derivatives
  std::optional<double> raman_activity;  // Å⁴/u, with polarizability derivatives
  Vector displacement;        // 3N, Cartesian, unit length, the deck's frame
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
  // Over the partners: reduced mass and force constant their mean, the
  // intensities their sum (the band's; each partner's alone depends on how
  // the degenerate modes were chosen).
  double reduced_mass = 0, force_constant = 0;
  std::optional<double> ir_intensity, raman_activity;
};

// The product rule of one species shared with the first mass set.
struct ProductRule {
  std::string species;
  double ratio = 0;     // Π ν′ / Π ν, this mass set over the first
  double expected = 0;  // from the masses and the moments of inertia
};

struct MassSetModes {
  std::string title;
  std::vector<int> atomic_numbers;  // from the masses; 0 for a mass that names no element
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
  std::vector<Vec3> positions;  // Å, the deck's X
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

// The Molden file of each mass set whose two routes agree (io/molden.h):
// every partner a mode, in ν order, [INT] when the IR intensities are known.
// With one such mass set the file is `file`; with more, each file's name is
// `file` with the mass set's title (its first word, characters other than
// letters, digits, '-' and '+' as '_') before the extension:
// water.molden → water.H2O.molden, water.D2O.molden. Existing files are
// replaced; each is written whole or not at all. Returns the files written.
std::vector<std::string> write_modes_molden(const ModesReport& report, const std::string& file);

}  // namespace korven::kit
