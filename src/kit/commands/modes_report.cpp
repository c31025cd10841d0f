#include "kit/commands/modes_report.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "kit/base/elements.h"
#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/commands/problem_view.h"
#include "kit/vibrations/frame_fit.h"
#include "kit/vibrations/mode_matching.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit {
namespace {

HessianFormat format_of(const ModesOptions& o) {
  if (o.format) return *o.format;
  const auto f = hessian_format_from_extension(o.hessian);
  if (!f) throw input_error(o.hessian, "unknown Hessian format; name it with --hessian-format fchk|orca|text");
  return *f;
}

// The Hessian of the file, its atoms checked against the deck's (as the
// first mass set's masses name them) and, when the file gives its geometry,
// turned into the deck's frame by the best fit of that geometry onto X.
Matrix hessian_in_deck_frame(const ProblemView& v, const ModesOptions& o, std::vector<std::string>& warnings) {
  HessianFile h = read_hessian(o.hessian, format_of(o), o.units, v.atoms);
  if (h.atomic_numbers && !v.listed->mass_sets.empty()) {
    std::vector<int> deck_z;
    for (double m : v.listed->mass_sets.front().masses) deck_z.push_back(element_of_mass(m));
    std::vector<int> file_z = *h.atomic_numbers;
    for (std::size_t a = 0; a < deck_z.size() && a < file_z.size(); ++a)
      if (deck_z[a] == 0) file_z[a] = 0;  // an atom the masses do not name is not compared
    check_same_atoms(o.hessian, file_z, deck_z, h.atom_lines);
  }
  if (!h.positions) return h.hessian;
  const FrameFit fit = fit_frame(*h.positions, v.deck.x);
  const double allowed = 0.001 + v.symmetrization_shift();
  if (!(fit.rmsd <= allowed))
    throw input_error(o.hessian, "its geometry lies " + format("%.6f", fit.rmsd) +
                                     " A (RMSD after the best rotation and translation) from the deck's X; at most " +
                                     format("%.6f", allowed) + " A is accepted");
  if (fit.rmsd > 0.001)
    warnings.push_back("the Hessian's geometry lies " + format("%.6f", fit.rmsd) +
                       " A from the deck's X after the best fit (within the symmetrization shift)");
  return rotate_hessian(h.hessian, fit.rotation);
}

std::vector<int> chosen_mass_sets(const ProblemView& v, const ModesOptions& o) {
  const std::size_t count = v.mass_sets.size();
  std::vector<int> chosen;
  if (o.mass_set) {
    if (*o.mass_set < 1 || static_cast<std::size_t>(*o.mass_set) > count)
      throw input_error(v.deck_name, "problem " + std::to_string(v.position) + " has " + std::to_string(count) +
                                         " mass sets; --mass-set " + std::to_string(*o.mass_set) +
                                         " names none of them");
    chosen.push_back(*o.mass_set);
  } else {
    for (std::size_t m = 0; m < count; ++m) chosen.push_back(static_cast<int>(m) + 1);
  }
  if (chosen.empty()) throw input_error(v.deck_name, "problem " + std::to_string(v.position) + " has no mass set");
  return chosen;
}

// The deck's blocks of a symmetrized mass set, with the species its comment
// cards give.
std::vector<ModeBlock> mode_blocks(const ProblemView& v, const MassSetView& m) {
  std::vector<ModeBlock> blocks;
  for (std::size_t j = 0; j + 1 < m.deck->boundaries.size(); ++j)
    blocks.push_back({m.deck->boundaries[j] - 1, m.deck->boundaries[j + 1] - m.deck->boundaries[j],
                      v.noted_species(m, static_cast<int>(j)).value_or("")});
  return blocks;
}

// A symmetry coordinate is named by its species and by the internal
// coordinate that weighs most in it (the first of equals), so that a row of
// the PED says what moves.
std::vector<std::string> symmetry_labels(const Matrix& u, const std::vector<ModeBlock>& blocks,
                                         const std::vector<std::string>& labels) {
  std::vector<std::string> out;
  for (int s = 1; s <= u.rows(); ++s) {
    std::string label = "S" + std::to_string(s);
    for (const ModeBlock& blk : blocks)
      if (s - 1 >= blk.first && s - 1 < blk.first + blk.size && !blk.species.empty()) label += " " + blk.species;
    Eigen::Index main = 0;
    if (u.row(s - 1).cwiseAbs().maxCoeff(&main) > 0) label += ", mainly " + labels[static_cast<std::size_t>(main)];
    out.push_back(label);
  }
  return out;
}

// The input of the analysis of one mass set, and the names of the
// coordinates its PED runs over (the symmetry coordinates when U is used).
VibrationInput vibration_input(const ProblemView& v, const MassSetView& m, const Matrix& hessian,
                               const ModesOptions& o, std::vector<std::string>& labels) {
  VibrationInput in;
  in.b = v.dense_b();
  in.masses = m.listed->masses;
  in.positions = v.deck.x;
  in.hessian = hessian;
  in.scale = o.scale;
  in.source = v.deck_name;
  labels = v.labels;
  if (m.symmetrized && m.deck->symmetry_count > 0) {
    in.u = m.u;
    in.blocks = mode_blocks(v, m);
    labels = symmetry_labels(m.u, in.blocks, labels);
  }
  return in;
}

std::vector<ModeRow> mode_rows(const VibrationAnalysis& va, double threshold, const std::vector<std::string>& labels) {
  std::vector<ModeRow> rows;
  for (const Mode& mode : va.modes) {
    ModeRow row;
    row.wavenumber = mode.wavenumber;
    row.cartesian_wavenumber = mode.cartesian_wavenumber;
    row.imaginary = mode.imaginary;
    if (!mode.species.empty()) row.species = mode.species;
    for (std::size_t c = 0; c < mode.ped.size(); ++c)
      if (mode.ped[c] >= threshold)
        row.ped.push_back({static_cast<int>(c) + 1, c < labels.size() ? labels[c] : "", mode.ped[c]});
    std::stable_sort(row.ped.begin(), row.ped.end(),
                     [](const PedItem& a, const PedItem& b) { return a.percent > b.percent; });
    rows.push_back(std::move(row));
  }
  return rows;
}

MassSetModes mass_set_modes(const VibrationAnalysis& va, const MassSetView& m, const std::vector<std::string>& labels,
                            double threshold) {
  MassSetModes ms;
  ms.title = m.listed->title;
  if (m.group) ms.point_group = m.group->name();
  ms.agree = va.comparison.agree;
  ms.verdict = va.comparison.verdict;
  ms.f = va.f;
  ms.f_symmetry = va.f_symmetry;
  ms.l = va.l;
  ms.cartesian_wavenumbers = va.cartesian_wavenumbers;
  ms.modes = mode_rows(va, threshold, labels);
  return ms;
}

// Each mass set's modes matched to the first set's.
void match_isotopologues(const std::vector<ModeSet>& sets, ProblemModes& pm) {
  if (sets.size() < 2) return;
  const ModeMatching matching = match_modes(sets);
  for (std::size_t k = 0; k < matching.matches.size(); ++k) {
    std::vector<int> line;
    for (int j : matching.matches[k]) line.push_back(j + 1);
    pm.matches.push_back(line);
    pm.shifts.push_back(matching.shifts[k]);
  }
}

}  // namespace

int ModesReport::exit_status() const {
  for (const ProblemModes& p : problems)
    for (const MassSetModes& m : p.mass_sets) {
      if (!m.agree) return kExitFinding;
      for (const ModeRow& r : m.modes)
        if (r.imaginary) return kExitFinding;
    }
  return kExitSuccess;
}

ModesReport analyze_modes(const Deck& deck, const Listing& listing, const ModesOptions& o,
                          const std::string& deck_name) {
  ModesReport report;
  report.hessian = o.hessian;
  const std::size_t count = std::min(deck.problems.size(), listing.problems.size());
  const int position = chosen_problems(deck_name, count, o.problem, true).front();
  const ProblemView v(deck, &listing, position, deck_name);
  if (!v.listed->has_b)
    throw input_error(deck_name, "the listing holds no B matrix for problem " + std::to_string(position));
  ProblemModes pm;
  pm.index = position;
  pm.problem = v.listed->number;
  pm.scale = o.scale;
  const Matrix hessian = hessian_in_deck_frame(v, o, pm.warnings);
  std::vector<ModeSet> sets;
  for (int k : chosen_mass_sets(v, o)) {
    const MassSetView& m = v.mass_sets[static_cast<std::size_t>(k - 1)];
    std::vector<std::string> labels;
    const VibrationAnalysis va = analyze_vibrations(vibration_input(v, m, hessian, o, labels));
    pm.mass_sets.push_back(mass_set_modes(va, m, labels, o.ped_threshold));
    pm.mass_set_numbers.push_back(k);
    sets.push_back(mode_set(va));
  }
  match_isotopologues(sets, pm);
  report.problems.push_back(std::move(pm));
  return report;
}

std::string modes_text(const ModesReport& report, double ped_threshold) {
  std::ostringstream out;
  for (const ProblemModes& p : report.problems) {
    out << "problem " << p.index << " (number " << p.problem << "), Hessian " << report.hessian << ", scale "
        << format("%g", p.scale) << "\n";
    for (const std::string& w : p.warnings) out << "  warning: " << w << "\n";
    for (std::size_t m = 0; m < p.mass_sets.size(); ++m) {
      const MassSetModes& ms = p.mass_sets[m];
      out << "mass set " << p.mass_set_numbers[m] << " \"" << ms.title << "\""
          << (ms.point_group ? ", point group " + *ms.point_group : "") << "\n";
      if (!ms.agree) {
        // Numbers that look right but are not are worse than none: only the
        // Cartesian route's wavenumbers, and why the deck's differ.
        out << "  the deck's coordinates and the Cartesian Hessian disagree: " << ms.verdict << "\n";
        out << "  wavenumbers from the Cartesian Hessian alone (cm-1):";
        for (double w : ms.cartesian_wavenumbers) out << " " << format("%.2f", w);
        out << "\n";
        continue;
      }
      out << "  mode  wavenumber   cartesian  species  potential-energy distribution (>= "
          << format("%g", ped_threshold) << " %)\n";
      for (std::size_t i = 0; i < ms.modes.size(); ++i) {
        const ModeRow& r = ms.modes[i];
        out << format("  %4zu  %10.2f%s  %10s  %-7s", i + 1, r.wavenumber, r.imaginary ? "i" : " ",
                      r.cartesian_wavenumber ? format("%.2f", *r.cartesian_wavenumber).c_str() : "-",
                      r.species.value_or("-").c_str());
        for (const PedItem& item : r.ped) out << "  " << format("%.0f", item.percent) << "% " << item.label;
        out << "\n";
      }
    }
    if (!p.matches.empty()) {
      out << "isotope shifts (cm-1), from mass set " << p.mass_set_numbers.front() << "\n  mode";
      for (std::size_t m = 0; m < p.mass_sets.size(); ++m)
        out << format("  %10s", ("set " + std::to_string(p.mass_set_numbers[m])).c_str()) << (m ? "     shift" : "");
      out << "\n";
      for (std::size_t k = 0; k < p.matches.size(); ++k) {
        out << "  " << format("%4.0f", static_cast<double>(k + 1));
        for (std::size_t m = 0; m < p.mass_sets.size(); ++m) {
          const int j = p.matches[k][m];
          const bool has = j >= 1 && static_cast<std::size_t>(j) <= p.mass_sets[m].modes.size();
          out << "  " << (has ? format("%10.2f", p.mass_sets[m].modes[j - 1].wavenumber) : std::string("         -"));
          if (m) out << (p.shifts[k][m] ? format("%10.2f", *p.shifts[k][m]) : std::string("         -"));
        }
        out << "\n";
      }
    }
  }
  return out.str();
}

}  // namespace korven::kit
