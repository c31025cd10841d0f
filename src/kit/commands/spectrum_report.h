// `spectrum`: the infrared spectrum of every mass set of a problem as one
// SVG picture (io/spectrum_svg.h), a panel per isotopologue on a common
// wavenumber axis. The vibrations come from the deck, its listing and a
// Cartesian Hessian as in `modes` (commands/vibration_view.h); the band
// heights are the IR intensities (km/mol, a degenerate vibration's partners
// summed) when dipole derivatives are known, else every IR-active vibration
// gets a stick of the same height.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kit/io/hessian_input.h"
#include "kit/io/observed_bands.h"
#include "kit/io/spectrum_svg.h"
#include "kit/model/deck.h"
#include "kit/model/listing.h"

namespace korven::kit {

struct SpectrumOptions {
  std::string hessian;                  // the file
  std::optional<HessianFormat> format;  // empty: from the extension
  HessianUnits units = HessianUnits::hartree_per_bohr2;  // plain text only
  std::string dipole_derivatives;       // plain text in place of the Hessian file's (its frame); empty: none
  std::optional<int> problem;           // position in the deck, from 1
  std::string observed;                 // file of observed bands; empty: none
  double fwhm = 10;                     // cm⁻¹
  std::optional<std::pair<double, double>> range;  // cm⁻¹, low and high
};

// "LO:HI" in cm⁻¹, LO < HI, both finite and not negative; InputError naming
// --range otherwise.
std::pair<double, double> parse_spectrum_range(const std::string& text);

struct SpectrumPlan {
  SpectrumPicture picture;
  int problem = 0;  // position in the deck
  std::vector<std::string> warnings;
};

// The picture of the chosen problem's mass sets. Throws InputError for a
// Hessian that cannot be read or belongs to other atoms, an observed file
// that names a mass set the deck lacks, options that name no problem, or a
// problem whose every mass set's deck coordinates disagree with the Hessian.
SpectrumPlan plan_spectrum(const Deck& deck, const Listing& listing, const SpectrumOptions& options,
                           const std::string& deck_name);

}  // namespace korven::kit
