#include "kit/commands/constants_report.h"

#include <algorithm>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/commands/problem_view.h"
#include "kit/commands/vibration_view.h"

namespace korven::kit {
namespace {

// A sum rule missed by more than this means the modes are not those of one
// force field at these masses.
constexpr double kSumRuleFinding = 1e-6;

// The Cartesian Hessian in the deck's frame: the one place the constants'
// force field comes from.
Matrix constants_hessian(const ProblemView& v, const ConstantsCommandOptions& o, std::vector<std::string>& warnings) {
  if (o.hessian.empty() == o.force_field.empty())
    throw input_error(v.deck_name, "give either --hessian or --force-field");
  return deck_hessian(v, {o.hessian, o.format, o.units, "", 0.001}, o.force_field, warnings).hessian;
}

// The deck's masses and the listing's, each atom's positive.
void check_masses(const ProblemView& v, const MassSetView& m) {
  for (const std::vector<double>* masses : {&m.listed->masses, m.deck ? &m.deck->masses : nullptr}) {
    if (!masses) continue;
    for (std::size_t i = 0; i < masses->size(); ++i)
      if (!((*masses)[i] > 0))
        throw input_error(v.deck_name, format("mass set %d gives atom %zu the mass %g: the molecular constants "
                                              "need every atom's mass",
                                              m.number, i + 1, (*masses)[i]));
  }
}

// The modes in ν order, partners together, with their names.
NormalModes modes_in_nu_order(const ProblemView& v, const MassSetAnalysis& w, const std::string& source,
                              std::vector<ModeName>& names) {
  NormalModes nm;
  nm.positions = v.deck.x;
  nm.masses = w.masses;
  nm.source = source;
  Eigen::Index columns = 0;
  for (const Matrix& c : w.cartesian) columns += c.cols();
  nm.modes.resize(3 * static_cast<Eigen::Index>(v.deck.x.size()), columns);
  Eigen::Index k = 0;
  for (std::size_t l = 0; l < w.lines.size(); ++l) {
    const VibrationLine& line = w.lines[l];
    for (Eigen::Index p = 0; p < w.cartesian[l].cols(); ++p, ++k) {
      nm.modes.col(k) = w.cartesian[l].col(p);
      const double lambda = line.eigenvalues[static_cast<std::size_t>(p)];
      nm.eigenvalues.push_back(lambda);
      names.push_back({line.nu, static_cast<int>(p), line.degeneracy, line.species, wavenumber_from_eigenvalue(lambda)});
    }
  }
  return nm;
}

std::vector<std::string> atom_names(const ProblemView& v) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < v.symbols.size(); ++i) out.push_back(v.symbols[i] + std::to_string(i + 1));
  return out;
}

}  // namespace

std::string ModeName::label() const {
  std::string s = std::to_string(nu);
  if (degeneracy > 1) s += static_cast<char>('a' + partner);
  return s;
}

int ConstantsReport::exit_status() const {
  for (const ProblemConstants& p : problems)
    for (const MassSetConstants& m : p.mass_sets)
      if (!(m.constants.coriolis.largest_sum_deviation <= kSumRuleFinding)) return kExitFinding;
  return kExitSuccess;
}

ConstantsReport analyze_constants(const Deck& deck, const Listing& listing, const ConstantsCommandOptions& o,
                                  const std::string& deck_name) {
  ConstantsReport report;
  report.hessian = o.hessian;
  report.temperature = o.temperature;
  report.representation = o.representation;
  const std::size_t count = std::min(deck.problems.size(), listing.problems.size());
  const int position = chosen_problems(deck_name, count, o.problem, true).front();
  const ProblemView v(deck, &listing, position, deck_name);
  if (!v.listed->has_b)
    throw input_error(deck_name, "the listing holds no B matrix for problem " + std::to_string(position));
  const std::vector<int> chosen = chosen_mass_sets(v, o.mass_set);
  for (int k : chosen) check_masses(v, v.mass_sets[static_cast<std::size_t>(k - 1)]);
  ProblemConstants pc;
  pc.index = position;
  pc.problem = v.listed->number;
  const Matrix hessian = constants_hessian(v, o, pc.warnings);
  ConstantsOptions options;
  options.temperature = o.temperature;
  options.representation = o.representation;
  for (int k : chosen) {
    const MassSetView& m = v.mass_sets[static_cast<std::size_t>(k - 1)];
    std::vector<std::string> labels;
    const MassSetAnalysis w = analyze_mass_set(v, m, vibration_input(v, m, hessian, 1.0, labels));
    MassSetConstants mc;
    mc.number = k;
    mc.title = m.listed->title;
    if (w.group) mc.point_group = w.group->name();
    mc.atoms = atom_names(v);
    const NormalModes nm = modes_in_nu_order(v, w, o.hessian + " (mass set " + std::to_string(k) + ")", mc.modes);
    mc.constants = molecular_constants(nm, options);
    pc.mass_sets.push_back(std::move(mc));
  }
  report.problems.push_back(std::move(pc));
  return report;
}

}  // namespace korven::kit
