// `constants`: rotational constants, Coriolis coupling constants, quartic
// centrifugal distortion constants and mean amplitudes of vibration of each
// mass set, from the deck's X, the mass set's masses and the normal modes
// that `modes` finds for it (commands/vibration_view). The science, with its
// formulas and their sources, is in vibrations/molecular_constants.h and the
// headers it includes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/io/hessian_input.h"
#include "kit/model/deck.h"
#include "kit/model/listing.h"
#include "kit/vibrations/molecular_constants.h"

namespace korven::kit {

struct ConstantsCommandOptions {
  std::string hessian;                  // the file
  std::string force_field;              // or a force-field file (fit --write-force-field)
  std::optional<HessianFormat> format;  // empty: from the extension
  HessianUnits units = HessianUnits::hartree_per_bohr2;  // plain text only
  std::optional<int> mass_set;          // from 1; empty: every mass set
  std::optional<int> problem;           // position in the deck, from 1
  double temperature = 298.15;          // K; 0: zero-point amplitudes
  Representation representation = Representation::Ir;
};

// A normal coordinate named as the literature names it: the vibration's ν
// number, with a partner letter for a degenerate one ("3", "3a", "3b").
struct ModeName {
  int nu = 0;
  int partner = 0;  // from 0; meaningful when degeneracy > 1
  int degeneracy = 1;
  std::string species;  // ASCII ("A1", "E'"), empty when unknown
  double wavenumber = 0;  // cm⁻¹, unscaled
  std::string label() const;  // "3", "3a"
};

struct MassSetConstants {
  int number = 0;  // from 1
  std::string title;
  std::optional<std::string> point_group;
  std::vector<std::string> atoms;  // "O1", "H2", …
  std::vector<ModeName> modes;     // in the order of the constants' modes (ν order, partners together)
  MolecularConstants constants;
};

struct ProblemConstants {
  int index = 0;    // position in the deck, from 1
  int problem = 0;  // the problem card's number
  std::vector<MassSetConstants> mass_sets;
  std::vector<std::string> warnings;
};

struct ConstantsReport {
  std::string hessian;
  double temperature = 298.15;
  Representation representation = Representation::Ir;
  std::vector<ProblemConstants> problems;
  // 1 when a Coriolis sum rule misses its closed value by more than 1e-6
  // (modes that are not the force field's), else 0.
  int exit_status() const;
};

// Throws InputError for a Hessian that cannot be read or belongs to other
// atoms, options that name no problem or mass set, a mass set with an atom
// of zero mass, and a Hessian whose geometry is no minimum (an imaginary or
// zero wavenumber).
ConstantsReport analyze_constants(const Deck& deck, const Listing& listing, const ConstantsCommandOptions& options,
                                  const std::string& deck_name);

std::string constants_text(const ConstantsReport& report);

}  // namespace korven::kit
