// `fit`: a scaled force field fitted to the observed bands of every mass
// set of a deck. F = (B⁺)ᵀ H B⁺ from the Hessian (or a force-field file's
// F′), one scale factor per group of coordinates (F′ᵢⱼ = √(c_g(i) c_g(j))
// Fᵢⱼ; Pulay et al., J. Am. Chem. Soc. 105, 7037, 1983), optionally single
// elements of F′ refined on top, by weighted least squares on the
// wavenumbers (vibrations/force_field.h, base/least_squares.h). The bands
// name the modes by the ν numbering of `modes` (vibration_view.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/io/force_field_file.h"
#include "kit/io/hessian_input.h"
#include "kit/io/observed_bands.h"
#include "kit/model/deck.h"
#include "kit/model/listing.h"

namespace korven::kit {

struct FitOptions {
  std::string hessian;                  // one of hessian and force_field
  std::optional<HessianFormat> format;  // empty: from the extension
  HessianUnits units = HessianUnits::hartree_per_bohr2;
  std::string force_field;
  std::string observed;                 // the observed-band file
  std::optional<int> problem;           // position in the deck, from 1
  bool groups_by_class = false;         // --groups class
  std::vector<std::string> groups;      // NAME=LIST (rows of the deck, from 1: "1-3,7")
  std::vector<std::string> fixes;       // NAME=VALUE
  std::vector<std::string> refine;      // "S3,S3" (symmetry) or "3,5" (internal); several with ';'
  std::optional<double> regularize;     // prior weight, (cm⁻¹)² per (unit of F)²
  double ped_threshold = 10;            // percent
  int max_iterations = 100;
};

// The default group of a coordinate class ("stretch O-H" → "stretch X-H").
std::string default_group(const std::string& coordinate_class);

struct FitParameter {
  std::string name;
  std::string kind;  // "scale" or "force_constant"
  double value = 0;
  std::optional<double> sigma;
  bool fixed = false;
  bool determined = true;
  std::vector<int> coordinates;  // a group's rows, from 1
};

struct FitBand {
  int nu = 0;
  std::string species;  // empty when unknown
  double observed = 0, calculated = 0, weight = 1;
  bool nearest = false;  // given as "?" and assigned to the nearest mode
  std::string ped;       // the calculated mode's PED in words
};

struct FitProductRule {
  std::string species;
  double observed_ratio = 0;  // Π ν′ / Π ν over the observed bands, this mass set over the first
  double expected = 0;        // from the masses and moments of inertia
};

struct FitMassSet {
  int number = 0;
  std::string title;
  std::vector<FitBand> bands;  // in ν order
  std::vector<FitProductRule> product_rule;
};

struct FitProblem {
  int index = 0, problem = 0;
  std::vector<FitParameter> parameters;
  Matrix correlation;  // over every parameter; zero rows for fixed and undetermined ones
  double rms = 0;
  int bands = 0, iterations = 0;
  bool converged = false;
  std::string stop;  // in words
  std::vector<FitMassSet> mass_sets;
  std::vector<std::string> notes;     // the "?" assignments
  std::vector<std::string> warnings;
  ForceFieldFile force_field;         // F′ at the fitted values
};

struct FitReport {
  std::string source;  // the Hessian or force-field file
  std::vector<FitProblem> problems;
  int exit_status() const;  // 1 when the fit did not converge or left a parameter undetermined
};

// Throws InputError for every fault of the input (the observed file's
// naming its line), and for a fit with no free parameter.
FitReport fit_deck(const Deck& deck, const Listing& listing, const FitOptions& options, const std::string& deck_name);

std::string fit_text(const FitReport& report);

}  // namespace korven::kit
