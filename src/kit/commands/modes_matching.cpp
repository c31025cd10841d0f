// The isotopologues of a problem against its first mass set: their modes
// matched through the point group the two share (the smaller of the two
// when it is part of the other) — each vibration's species in that group,
// then within a species by order of wavenumber — or, asked for or when the
// groups share nothing, by the overlap of the modes' eigenvectors; and the
// Teller–Redlich product rule per shared species.
#include <algorithm>
#include <cmath>
#include <set>

#include "kit/commands/modes_parts.h"
#include "kit/symmetry/product_rule.h"
#include "kit/vibrations/mode_matching.h"

namespace korven::kit {
namespace {

// The group both mass sets have: the smaller one, when it is part of the
// other.
const PointGroup* shared_group(const MassSetAnalysis& a, const MassSetAnalysis& b) {
  if (!a.group || !b.group) return nullptr;
  const PointGroup* small = a.group->operations.size() <= b.group->operations.size() ? a.group : b.group;
  const PointGroup* large = small == a.group ? b.group : a.group;
  return is_subgroup(*small, *large) ? small : nullptr;
}

// One component per copy of each species of `h` in each vibration.
std::vector<SpeciesComponent> components(const MassSetAnalysis& w, const PointGroup& h) {
  std::vector<SpeciesComponent> out;
  for (std::size_t k = 0; k < w.lines.size(); ++k) {
    const std::vector<int> n = species_content(h, w.cartesian[k]);
    const double wavenumber = wavenumber_from_eigenvalue(w.lines[k].eigenvalue());
    for (std::size_t s = 0; s < n.size(); ++s)
      for (int c = 0; c < n[s]; ++c) out.push_back({static_cast<int>(s), wavenumber, static_cast<int>(k)});
  }
  return out;
}

// The first set's vibrations (by index) matched to lines of the other.
std::vector<std::vector<int>> by_species(const MassSetAnalysis& first, const MassSetAnalysis& other, const PointGroup& h) {
  const std::vector<SpeciesComponent> a = components(first, h), b = components(other, h);
  const std::vector<int> match = match_by_species(a, b);
  std::vector<std::vector<int>> lines(first.lines.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (match[i] < 0) continue;
    std::vector<int>& to = lines[static_cast<std::size_t>(a[i].line)];
    const int line = b[static_cast<std::size_t>(match[i])].line;
    if (std::find(to.begin(), to.end(), line) == to.end()) to.push_back(line);
  }
  for (std::vector<int>& to : lines) std::sort(to.begin(), to.end());
  return lines;
}

// The same by the overlap of the partners' eigenvectors in internal
// coordinates (each partner one mode of the matching).
std::vector<std::vector<int>> by_overlap(const MassSetAnalysis& first, const MassSetAnalysis& other) {
  const auto set_of = [](const MassSetAnalysis& w, std::vector<int>& line_of) {
    ModeSet s{{}, Matrix(w.analysis.l.rows(), 0)};
    for (std::size_t k = 0; k < w.lines.size(); ++k)
      for (Eigen::Index p = 0; p < w.internal[k].cols(); ++p) {
        s.wavenumbers.push_back(wavenumber_from_eigenvalue(w.lines[k].eigenvalues[static_cast<std::size_t>(p)]));
        s.vectors.conservativeResize(Eigen::NoChange, s.vectors.cols() + 1);
        s.vectors.col(s.vectors.cols() - 1) = w.internal[k].col(p);
        line_of.push_back(static_cast<int>(k));
      }
    return s;
  };
  std::vector<int> first_line, other_line;
  const ModeMatching m = match_modes({set_of(first, first_line), set_of(other, other_line)});
  std::vector<std::vector<int>> lines(first.lines.size());
  for (std::size_t i = 0; i < m.matches.size(); ++i) {
    const int j = m.matches[i][1];
    if (j < 0) continue;
    std::vector<int>& to = lines[static_cast<std::size_t>(first_line[i])];
    if (std::find(to.begin(), to.end(), other_line[static_cast<std::size_t>(j)]) == to.end())
      to.push_back(other_line[static_cast<std::size_t>(j)]);
  }
  return lines;
}

// The product rule for each species of `h` that both sets have, with no
// imaginary vibration in it (a linear molecule's Π once, as its first
// component).
std::vector<ProductRule> product_rule(const MassSetAnalysis& first, const MassSetAnalysis& other, const PointGroup& h,
                                      const std::vector<Vec3>& x) {
  const std::vector<SpeciesComponent> a = components(first, h), b = components(other, h);
  std::vector<ProductRule> out;
  const CharacterTable& table = h.table();
  for (int s = 0; s < static_cast<int>(table.species.size()); ++s) {
    double pa = 1, pb = 1;
    int na = 0, nb = 0;
    bool real = true;
    for (const SpeciesComponent& c : a)
      if (c.species == s) pa *= c.wavenumber, ++na, real = real && c.wavenumber > 0;
    for (const SpeciesComponent& c : b)
      if (c.species == s) pb *= c.wavenumber, ++nb, real = real && c.wavenumber > 0;
    if (na == 0 || na != nb || !real) continue;
    const LinearSpecies ls = h.linear() ? linear_species(h, table.species[static_cast<std::size_t>(s)].label)
                                        : LinearSpecies{table.species[static_cast<std::size_t>(s)].label, 0};
    if (ls.partner == 2) continue;
    out.push_back({ls.name, pb / pa, product_rule_ratio(h, s, x, first.masses, other.masses)});
  }
  return out;
}

bool heavier(const std::vector<double>& first, const std::vector<double>& other) {
  bool more = false;
  for (std::size_t a = 0; a < first.size() && a < other.size(); ++a) {
    if (other[a] < first[a]) return false;
    more = more || other[a] > first[a];
  }
  return more;
}

// Partner by partner, in the order the JSON lists them: the first set's
// partners of a vibration take the matched vibrations' partners in turn.
void partner_matches(ProblemModes& pm) {
  const MassSetModes& first = pm.mass_sets.front();
  for (std::size_t k = 0; k < first.modes.size(); ++k)
    for (std::size_t p = 0; p < first.modes[k].partners.size(); ++p) {
      std::vector<int> line{static_cast<int>(pm.matches.size()) + 1};
      std::vector<std::optional<double>> shift{0.0};
      for (std::size_t s = 1; s < pm.mass_sets.size(); ++s) {
        const MassSetModes& ms = pm.mass_sets[s];
        std::vector<std::pair<int, const ModePartner*>> flat;  // (entry from 1, partner)
        for (int nu : ms.matched_nu[k]) {
          int entry = 1;
          for (int j = 0; j + 1 < nu; ++j) entry += static_cast<int>(ms.modes[static_cast<std::size_t>(j)].partners.size());
          for (const ModePartner& q : ms.modes[static_cast<std::size_t>(nu - 1)].partners) flat.push_back({entry++, &q});
        }
        if (p < flat.size()) {
          line.push_back(flat[p].first);
          shift.push_back(flat[p].second->wavenumber - first.modes[k].partners[p].wavenumber);
        } else {
          line.push_back(0);
          shift.push_back(std::nullopt);
        }
      }
      pm.matches.push_back(line);
      pm.shifts.push_back(shift);
    }
}

}  // namespace

void match_isotopologues(const std::vector<MassSetAnalysis>& work, const std::vector<Vec3>& x, MatchMethod method,
                         ProblemModes& pm) {
  if (work.size() < 2) return;
  const MassSetAnalysis& first = work.front();
  for (std::size_t s = 1; s < work.size(); ++s) {
    const PointGroup* h = method == MatchMethod::species ? shared_group(first, work[s]) : nullptr;
    if (method == MatchMethod::species && !h)
      pm.warnings.push_back("mass set " + std::to_string(work[s].number) +
                            ": no point group shared with the first; matched by the overlap of the eigenvectors");
    const std::vector<std::vector<int>> lines = h ? by_species(first, work[s], *h) : by_overlap(first, work[s]);
    MassSetModes& ms = pm.mass_sets[s];
    for (const std::vector<int>& to : lines) {
      std::vector<int> nu;
      for (int line : to) nu.push_back(work[s].lines[static_cast<std::size_t>(line)].nu);
      std::sort(nu.begin(), nu.end());
      ms.matched_nu.push_back(nu);
    }
    ms.heavier = heavier(first.masses, work[s].masses);
    if (h) ms.product_rule = product_rule(first, work[s], *h, x);
  }
  partner_matches(pm);
}

}  // namespace korven::kit
