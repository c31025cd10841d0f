#include "kit/commands/spectrum_report.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/commands/problem_view.h"
#include "kit/commands/vibration_view.h"
#include "kit/vibrations/frame_fit.h"
#include "kit/vibrations/intensities.h"

namespace korven::kit {
namespace {

// A whole token as a finite number, else nullopt.
std::optional<double> number_of(const std::string& token) {
  if (token.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(token.c_str(), &end);
  if (errno != 0 || end != token.c_str() + token.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

// Bands below this fraction of a panel's strongest are drawn but not labelled.
constexpr double kLabelledFraction = 0.02;

// The sticks of one mass set: one per vibration in ν order, its height the
// partners' summed intensity (km/mol) when the derivatives are known.
SpectrumPanel panel_of(const MassSetAnalysis& w, const std::string& title, const std::optional<Matrix>& dipoles,
                       std::vector<std::string>& warnings) {
  SpectrumPanel panel;
  panel.title = title;
  for (std::size_t k = 0; k < w.lines.size(); ++k) {
    const VibrationLine& line = w.lines[k];
    const std::string name = "\xce\xbd" + std::to_string(line.nu) + (line.species.empty() ? "" : " " + line.species);
    if (line.eigenvalue() < 0) {
      warnings.push_back("mass set \"" + title + "\": " + name + " is imaginary and not drawn");
      continue;
    }
    SpectrumStick s;
    s.wavenumber = wavenumber_from_eigenvalue(line.eigenvalue());
    s.label = name;
    s.ir_active = line.species.empty() || line.ir_active;
    if (dipoles) {
      const std::vector<double> partners = ir_intensities(w.cartesian[k], w.masses, *dipoles);
      for (double v : partners) s.height += v;
      s.ir_active = true;  // the intensity says how strong it is
    }
    panel.sticks.push_back(s);
  }
  double strongest = 0;
  for (const SpectrumStick& s : panel.sticks) strongest = std::max(strongest, s.height);
  for (SpectrumStick& s : panel.sticks) s.show_label = !dipoles ? s.ir_active : s.height >= kLabelledFraction * strongest;
  return panel;
}

// The panel an observed band's mass-set name belongs to: by number, by the
// whole title, or by the title's first word.
std::optional<std::size_t> panel_named(const std::string& name, const std::vector<int>& numbers,
                                       const std::vector<std::string>& titles) {
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (name == std::to_string(numbers[i]) || name == titles[i] || name == titles[i].substr(0, titles[i].find(' ')))
      return i;
  }
  return std::nullopt;
}

}  // namespace

std::pair<double, double> parse_spectrum_range(const std::string& text) {
  const auto colon = text.find(':');
  const std::optional<double> lo = colon == std::string::npos ? std::nullopt : number_of(text.substr(0, colon));
  const std::optional<double> hi = colon == std::string::npos ? std::nullopt : number_of(text.substr(colon + 1));
  if (!lo || !hi) throw input_error("--range", "\"" + text + "\" is not LO:HI in cm-1");
  if (*lo < 0 || !(*lo < *hi)) throw input_error("--range", "\"" + text + "\" needs 0 <= LO < HI");
  return {*lo, *hi};
}

SpectrumPlan plan_spectrum(const Deck& deck, const Listing& listing, const SpectrumOptions& o,
                           const std::string& deck_name) {
  SpectrumPlan plan;
  const std::vector<ObservedEntry> observed = o.observed.empty() ? std::vector<ObservedEntry>() : read_observed_bands(o.observed);
  const std::size_t count = std::min(deck.problems.size(), listing.problems.size());
  plan.problem = chosen_problems(deck_name, count, o.problem, true).front();
  const ProblemView v(deck, &listing, plan.problem, deck_name);
  if (!v.listed->has_b)
    throw input_error(deck_name, "the listing holds no B matrix for problem " + std::to_string(plan.problem));
  HessianFile h = hessian_in_deck_frame(v, {o.hessian, o.format, o.units, "", 0.001}, plan.warnings);
  if (!o.dipole_derivatives.empty()) {
    // In the Hessian file's frame: turned as the Hessian was.
    h.dipole_derivatives = read_dipole_derivatives(o.dipole_derivatives, v.atoms);
    if (h.positions)
      h.dipole_derivatives = rotate_dipole_derivatives(*h.dipole_derivatives, fit_frame(*h.positions, v.deck.x).rotation);
  }
  plan.picture.intensities = h.dipole_derivatives.has_value();
  plan.picture.fwhm = o.fwhm;
  if (o.range) plan.picture.low = o.range->first, plan.picture.high = o.range->second;
  std::vector<int> numbers;
  std::vector<std::string> titles;
  for (int k : chosen_mass_sets(v, std::nullopt)) {
    const MassSetView& m = v.mass_sets[static_cast<std::size_t>(k - 1)];
    std::vector<std::string> labels;
    const MassSetAnalysis w = analyze_mass_set(v, m, vibration_input(v, m, h.hessian, 1.0, labels));
    if (!w.analysis.comparison.agree) {
      plan.warnings.push_back("mass set " + std::to_string(k) + " \"" + m.listed->title +
                              "\" is not drawn: " + w.analysis.comparison.verdict);
      continue;
    }
    plan.picture.panels.push_back(panel_of(w, m.listed->title, h.dipole_derivatives, plan.warnings));
    numbers.push_back(k);
    titles.push_back(m.listed->title);
  }
  if (plan.picture.panels.empty())
    throw input_error(deck_name, "no mass set of problem " + std::to_string(plan.problem) + " can be drawn");
  for (const ObservedEntry& b : observed) {
    const std::optional<std::size_t> panel = panel_named(b.mass_set, numbers, titles);
    if (!panel)
      throw input_error(o.observed, "line " + std::to_string(b.line) + ": mass set \"" + b.mass_set +
                                        "\" is none of the drawn mass sets of problem " + std::to_string(plan.problem));
    plan.picture.panels[*panel].observed.push_back(b.wavenumber);
  }
  return plan;
}

}  // namespace korven::kit
