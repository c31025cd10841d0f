#include "kit/commands/fit_report.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <sstream>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/commands/fit_parts.h"
#include "kit/symmetry/product_rule.h"
#include "kit/vibrations/force_field.h"

namespace korven::kit {
namespace {

// The modes of a line as the force-field model names them: (block, rank by
// descending wavenumber). The analysis lists its modes ascending, each with
// its block (-1 without U: the model's one block).
std::vector<ModeMember> members_of(const MassSetAnalysis& w, const VibrationLine& line, const std::vector<int>& sizes,
                                   const std::string& source) {
  std::vector<ModeMember> out;
  const auto block_of = [&](std::size_t i) { return std::max(0, w.analysis.modes[i].block); };
  for (int i : line.modes) {
    const int b = block_of(static_cast<std::size_t>(i));
    int rank = 0;
    for (std::size_t j = static_cast<std::size_t>(i) + 1; j < w.analysis.modes.size(); ++j) rank += block_of(j) == b;
    if (b >= static_cast<int>(sizes.size()) || rank >= sizes[static_cast<std::size_t>(b)])
      throw input_error(source, format("the analysis and the force-field model count the modes of block %d differently",
                                       b + 1));
    out.push_back({b, rank});
  }
  return out;
}

// "3,5" (internal coordinates) or "S3,S3" (symmetry coordinates of the
// first mass set with U), from 1.
RefinedElement refined_of(const std::string& text, int rows, int symmetric_set, int symmetry_rows) {
  const auto comma = text.find(',');
  const bool symmetry = !text.empty() && (text[0] == 'S' || text[0] == 's');
  RefinedElement e;
  try {
    if (comma == std::string::npos) throw std::invalid_argument("no comma");
    const std::string a = text.substr(0, comma), b = text.substr(comma + 1);
    const bool sb = !b.empty() && (b[0] == 'S' || b[0] == 's');
    if (sb != symmetry) throw std::invalid_argument("mixed");
    std::size_t ua = 0, ub = 0;
    e.row = std::stoi(a.substr(symmetry), &ua) - 1;
    e.column = std::stoi(b.substr(symmetry), &ub) - 1;
    if (ua + symmetry != a.size() || ub + symmetry != b.size()) throw std::invalid_argument("trailing");
  } catch (const std::exception&) {
    throw input_error("--refine " + text, "expected I,J (internal coordinates) or SI,SJ (symmetry coordinates)");
  }
  if (symmetry && symmetric_set < 0) throw input_error("--refine " + text, "no mass set of the deck has symmetry coordinates");
  const int limit = symmetry ? symmetry_rows : rows;
  if (e.row < 0 || e.column < 0 || e.row >= limit || e.column >= limit)
    throw input_error("--refine " + text, format("lies outside the %d %s coordinates", limit, symmetry ? "symmetry" : "internal"));
  e.basis = symmetry ? ElementBasis::symmetry : ElementBasis::internal;
  e.mass_set = symmetry ? symmetric_set : 0;
  return e;
}

// Everything the fit needs, made once from the deck, the Hessian and the
// observed file.
struct FitSetup {
  Matrix b, f;
  std::vector<MassSetAnalysis> work;
  std::vector<std::string> titles, group_names, refined_names;
  std::vector<int> groups;
  std::vector<ForceFieldMassSet> sets;
  std::vector<RefinedElement> refined;
  std::vector<ObservedEntry> entries;
  std::vector<PlacedBand> placed;
};

void analyse_start(const ProblemView& v, const Matrix& h0, FitSetup& s) {
  for (int k : chosen_mass_sets(v, std::nullopt)) {
    const MassSetView& m = v.mass_sets[static_cast<std::size_t>(k - 1)];
    if (!m.masses_usable) throw input_error(v.deck_name, format("mass set %d has no usable masses", k));
    std::vector<std::string> labels;
    const VibrationInput in = vibration_input(v, m, h0, 1.0, labels);
    s.work.push_back(analyze_mass_set(v, m, in));
    s.sets.push_back({in.masses, in.u, in.blocks, v.deck_name + ", mass set " + std::to_string(k)});
    s.titles.push_back(m.listed->title);
  }
}

void refine_setup(const FitOptions& o, FitSetup& s) {
  int symmetric = -1;
  for (std::size_t k = 0; k < s.sets.size() && symmetric < 0; ++k)
    if (s.sets[k].u) symmetric = static_cast<int>(k);
  const int symmetry_rows = symmetric < 0 ? 0 : static_cast<int>(s.sets[static_cast<std::size_t>(symmetric)].u->rows());
  for (const std::string& list : o.refine) {
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ';');) {
      if (item.empty()) continue;
      const RefinedElement e = refined_of(item, static_cast<int>(s.b.rows()), symmetric, symmetry_rows);
      const std::string p = e.basis == ElementBasis::symmetry ? "S" : "";
      s.refined_names.push_back("F(" + p + std::to_string(e.row + 1) + "," + p + std::to_string(e.column + 1) + ")");
      s.refined.push_back(e);
    }
  }
}

FitSetup setup(const ProblemView& v, const FitOptions& o, std::vector<std::string>& warnings, std::vector<std::string>& notes) {
  FitSetup s;
  if (o.hessian.empty() == o.force_field.empty())
    throw input_error(v.deck_name, "give either --hessian or --force-field");
  const Matrix h = deck_hessian(v, {o.hessian, o.format, o.units, "", 0.001}, o.force_field, warnings).hessian;
  s.b = v.dense_b();
  s.f = internal_force_constants(s.b, h, o.hessian.empty() ? o.force_field : o.hessian);
  analyse_start(v, s.b.transpose() * s.f * s.b, s);
  s.entries = read_observed_bands(o.observed);
  s.placed = place_bands(s.entries, s.work, s.titles, o.observed, notes);
  s.groups = assign_groups(v, o, s.group_names);
  refine_setup(o, s);
  return s;
}

// The fit's settings: --fix holds a factor at its value; --regularize pulls
// the refined elements.
FitSettings settings_of(const FitOptions& o, const FitSetup& s, const ForceFieldModel& model) {
  FitSettings out;
  out.start = model.start();
  out.fixed.assign(static_cast<std::size_t>(model.parameters()), false);
  for (const std::string& fix : o.fixes) {
    const auto eq = fix.find('=');
    const std::string name = fix.substr(0, eq);
    const auto at = std::find(s.group_names.begin(), s.group_names.end(), name);
    if (eq == std::string::npos || at == s.group_names.end())
      throw input_error("--fix " + fix, "expected NAME=VALUE with NAME one of the groups: " + [&] {
        std::string all;
        for (const std::string& n : s.group_names) all += (all.empty() ? "" : ", ") + n;
        return all;
      }());
    double value = 0;
    try {
      value = std::stod(fix.substr(eq + 1));
    } catch (const std::exception&) {
      value = 0;
    }
    if (!(value > 0) || !std::isfinite(value)) throw input_error("--fix " + fix, "a factor must be a positive number");
    const auto g = at - s.group_names.begin();
    out.start(g) = value;
    out.fixed[static_cast<std::size_t>(g)] = true;
  }
  if (std::count(out.fixed.begin(), out.fixed.end(), false) == 0)
    throw input_error(o.observed, "the fit has no free parameter");
  out.regularize = o.regularize;
  out.options.max_iterations = o.max_iterations;
  return out;
}

std::string stop_words(const LeastSquaresResult& r) {
  switch (r.stop) {
    case StopReason::small_change: return "the relative change of the sum fell below 1e-12";
    case StopReason::no_decrease: return "no step lowers the sum further (a minimum to rounding)";
    case StopReason::no_free_parameters: return "no parameter is left to fit";
    case StopReason::iteration_limit: return format("stopped after %d iterations without converging", r.iterations);
  }
  return "";
}

std::vector<FitParameter> parameters_of(const FitSetup& s, const FitSettings& settings, const LeastSquaresResult& r) {
  std::vector<FitParameter> out;
  for (Eigen::Index p = 0; p < r.values.size(); ++p) {
    const auto k = static_cast<std::size_t>(p);
    FitParameter q;
    const bool scale = p < static_cast<Eigen::Index>(s.group_names.size());
    q.name = scale ? s.group_names[k] : s.refined_names[k - s.group_names.size()];
    q.kind = scale ? "scale" : "force_constant";
    q.value = r.values(p);
    q.sigma = r.errors[k];
    q.fixed = settings.fixed[k];
    q.determined = r.status[k] != ParameterStatus::undetermined;
    if (scale)
      for (std::size_t row = 0; row < s.groups.size(); ++row)
        if (s.groups[row] == static_cast<int>(p)) q.coordinates.push_back(static_cast<int>(row) + 1);
    out.push_back(q);
  }
  return out;
}

// P_i = F′_ii Σ_p L_ip² / Σ_j F′_jj Σ_p L_jp² over the internal coordinates
// (Morino & Kuchitsu, J. Chem. Phys. 20, 1809, 1952), the shares at or
// above the threshold in words.
std::string ped_words(const Matrix& f, const Matrix& l, const std::vector<std::string>& names, double threshold) {
  std::vector<std::pair<double, std::size_t>> p;
  double sum = 0;
  for (Eigen::Index i = 0; i < l.rows(); ++i) {
    p.push_back({f(i, i) * l.row(i).squaredNorm(), static_cast<std::size_t>(i)});
    sum += p.back().first;
  }
  if (!(sum > 0)) return "";
  std::stable_sort(p.begin(), p.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::string out;
  for (const auto& [e, i] : p)
    if (100 * e / sum >= threshold)
      out += (out.empty() ? "" : ", ") + (i < names.size() ? names[i] : "q" + std::to_string(i + 1)) +
             format(" %.0f%%", 100 * e / sum);
  return out;
}

}  // namespace

namespace {

// The product rule on the observed bands: for each species whose every
// vibration is observed in both the first mass set and this one, when both
// have the same point group (not a linear one).
std::vector<FitProductRule> observed_product_rule(const ProblemView& v, const FitSetup& s, std::size_t m) {
  std::vector<FitProductRule> out;
  const MassSetAnalysis &a = s.work.front(), &b = s.work[m];
  if (!a.group || !b.group || a.group->linear() || a.group->name() != b.group->name() || !is_subgroup(*b.group, *a.group))
    return out;
  const CharacterTable& table = a.group->table();
  for (int sp = 0; sp < static_cast<int>(table.species.size()); ++sp) {
    const std::string& label = table.species[static_cast<std::size_t>(sp)].label;
    double product[2] = {1, 1};
    int lines[2] = {0, 0}, seen[2] = {0, 0};
    for (int side = 0; side < 2; ++side) {
      const std::size_t set = side == 0 ? 0 : m;
      for (std::size_t k = 0; k < s.work[set].lines.size(); ++k) {
        if (s.work[set].lines[k].species != label) continue;
        ++lines[side];
        for (const PlacedBand& p : s.placed)
          if (p.mass_set == static_cast<int>(set) && p.line == static_cast<int>(k)) product[side] *= p.entry->wavenumber, ++seen[side];
      }
    }
    if (lines[0] == 0 || lines[0] != seen[0] || lines[1] != seen[1] || lines[0] != lines[1]) continue;
    out.push_back({label, product[1] / product[0], product_rule_ratio(*a.group, sp, v.deck.x, a.masses, b.masses)});
  }
  return out;
}

// The bands of mass set m at the fitted F′, with the PED of each band's
// calculated mode (from the analysis at F′, the line made of the same modes).
FitMassSet mass_set_result(const ProblemView& v, const FitSetup& s, std::size_t m, const ForceFieldModel& model,
                           const Matrix& f_fit, const ForceFieldFit& fit, const std::vector<std::vector<ModeMember>>& band_members,
                           double threshold) {
  FitMassSet out;
  out.number = s.work[m].number;
  out.title = s.titles[m];
  const MassSetView& view = v.mass_sets[static_cast<std::size_t>(out.number - 1)];
  std::vector<std::string> labels;
  const MassSetAnalysis after =
      analyze_mass_set(v, view, vibration_input(v, view, s.b.transpose() * f_fit * s.b, 1.0, labels));
  const std::vector<int> sizes = model.block_sizes(static_cast<int>(m));
  for (std::size_t i = 0; i < s.placed.size(); ++i) {
    const PlacedBand& p = s.placed[i];
    if (p.mass_set != static_cast<int>(m)) continue;
    const VibrationLine& line = s.work[m].lines[static_cast<std::size_t>(p.line)];
    FitBand band{line.nu, line.species, p.entry->wavenumber, fit.calculated[i], p.entry->weight, p.nearest, ""};
    std::vector<ModeMember> want = band_members[i];
    const auto key = [](const ModeMember& a, const ModeMember& b) { return std::tie(a.block, a.rank) < std::tie(b.block, b.rank); };
    std::sort(want.begin(), want.end(), key);
    for (std::size_t k = 0; k < after.lines.size(); ++k) {
      std::vector<ModeMember> have = members_of(after, after.lines[k], sizes, v.deck_name);
      std::sort(have.begin(), have.end(), key);
      const bool same = have.size() == want.size() && std::equal(have.begin(), have.end(), want.begin(), [](const auto& a, const auto& b) {
                          return a.block == b.block && a.rank == b.rank;
                        });
      if (same) band.ped = ped_words(f_fit, after.internal[k], v.short_names, threshold);
    }
    out.bands.push_back(band);
  }
  std::stable_sort(out.bands.begin(), out.bands.end(), [](const FitBand& a, const FitBand& b) { return a.nu < b.nu; });
  if (m > 0) out.product_rule = observed_product_rule(v, s, m);
  return out;
}

ForceFieldFile field_file(const ProblemView& v, const FitOptions& o, const FitProblem& p, const Matrix& f_fit) {
  ForceFieldFile file;
  file.source = o.hessian.empty() ? o.force_field : o.hessian;
  file.deck = v.deck_name;
  file.coordinates = deck_coordinates(v);
  for (const FitParameter& q : p.parameters)
    file.parameters.push_back({q.name, q.kind, q.value, q.sigma, q.fixed, q.determined, q.coordinates});
  file.f = f_fit;
  return file;
}

}  // namespace

int FitReport::exit_status() const {
  for (const FitProblem& p : problems) {
    if (!p.converged) return kExitFinding;
    for (const FitParameter& q : p.parameters)
      if (!q.determined) return kExitFinding;
  }
  return kExitSuccess;
}

FitReport fit_deck(const Deck& deck, const Listing& listing, const FitOptions& o, const std::string& deck_name) {
  FitReport report;
  report.source = o.hessian.empty() ? o.force_field : o.hessian;
  const std::size_t count = std::min(deck.problems.size(), listing.problems.size());
  const int position = chosen_problems(deck_name, count, o.problem, true).front();
  const ProblemView v(deck, &listing, position, deck_name);
  if (!v.has_b()) throw input_error(deck_name, "the listing holds no B matrix for problem " + std::to_string(position));
  FitProblem p;
  p.index = position;
  p.problem = v.listed->number;
  const FitSetup s = setup(v, o, p.warnings, p.notes);
  const ForceFieldModel model(s.b, s.f, s.groups, s.sets, s.refined);
  std::vector<ObservedBand> bands;
  std::vector<std::vector<ModeMember>> members;
  for (const PlacedBand& b : s.placed) {
    const MassSetAnalysis& w = s.work[static_cast<std::size_t>(b.mass_set)];
    members.push_back(members_of(w, w.lines[static_cast<std::size_t>(b.line)], model.block_sizes(b.mass_set), deck_name));
    bands.push_back({b.mass_set, members.back(), b.entry->wavenumber, b.entry->weight});
  }
  const FitSettings settings = settings_of(o, s, model);
  const ForceFieldFit fit = fit_force_field(model, bands, settings);
  const LeastSquaresResult& r = fit.result;
  p.parameters = parameters_of(s, settings, r);
  p.correlation = r.correlation;
  p.rms = r.rms;
  p.bands = r.observations;
  p.iterations = r.iterations;
  p.converged = r.converged;
  p.stop = stop_words(r);
  const Matrix f_fit = model.scaled_force_field(r.values);
  for (std::size_t m = 0; m < s.work.size(); ++m)
    p.mass_sets.push_back(mass_set_result(v, s, m, model, f_fit, fit, members, o.ped_threshold));
  p.force_field = field_file(v, o, p, f_fit);
  report.problems.push_back(std::move(p));
  return report;
}

}  // namespace korven::kit
