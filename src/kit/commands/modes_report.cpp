#include "kit/commands/modes_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "kit/model/deck_notes.h"
#include "kit/io/deck_replay.h"
#include "kit/base/elements.h"
#include "kit/vibrations/frame_fit.h"
#include "kit/base/kit_error.h"
#include "kit/vibrations/mode_matching.h"
#include "kit/symmetry/point_group.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit {
namespace {

std::string row_label(const DeckProblem& p, const std::vector<DeckRow>& rows, const DeckNotes& notes, int row) {
  if (const auto it = notes.coordinates.find({p.number, row}); it != notes.coordinates.end()) return it->second;
  const auto found = std::find_if(rows.begin(), rows.end(), [&](const DeckRow& r) { return r.row == row; });
  if (found == rows.end() || found->entries.empty()) return "ROW " + std::to_string(row);
  if (found->entries.size() > 1) return "COMBINATION OF " + std::to_string(found->entries.size()) + " ENTRIES";
  const CoordinateEntry& e = p.entries[found->entries.front()];
  auto atoms = [](std::initializer_list<int> list) {
    std::string s;
    for (int a : list) s += (s.empty() ? "" : "-") + std::to_string(a);
    return s;
  };
  switch (e.code) {
    case 2: return "BEND " + atoms({e.i, e.j, e.k});
    case 3: return "OUT-OF-PLANE " + atoms({e.i, e.j, e.k, e.l});
    case 4: return "TORSION " + atoms({e.i, e.j, e.k, e.l});
    case 5: return "LINEAR BEND(" + std::to_string(std::max(1, found->component)) + ") " + atoms({e.j, e.k, e.l});
    case 6: return "LINEAR BEND " + (e.l > 0 ? atoms({e.j, e.k, e.l}) : atoms({e.i, e.j, e.k}));
    default: return "STRETCH " + atoms({e.i, e.j});
  }
}

std::string fmt(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
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
  int position = 1;
  if (o.problem) {
    if (*o.problem < 1 || static_cast<std::size_t>(*o.problem) > count)
      throw input_error(deck_name, "has " + std::to_string(count) + " problems; --problem " +
                                       std::to_string(*o.problem) + " names none of them");
    position = *o.problem;
  } else if (count > 1) {
    throw input_error(deck_name, "holds " + std::to_string(count) +
                                     " problems; a Hessian is for one molecule: choose one with --problem");
  } else if (count == 0) {
    throw input_error(deck_name, "holds no problem");
  }
  const DeckProblem& dp = deck.problems[position - 1];
  const ListedProblem& lp = listing.problems[position - 1];
  if (!lp.has_b) throw input_error(deck_name, "the listing holds no B matrix for problem " + std::to_string(position));
  const int n = lp.atoms;
  const DeckNotes notes = read_deck_notes(deck.comments);
  const std::vector<DeckRow> rows = deck_rows(dp);
  int nrows = static_cast<int>(rows.size());
  for (const ListedElement& e : lp.b) nrows = std::max(nrows, e.row);
  Matrix b = Matrix::Zero(nrows, 3 * n);
  for (const ListedElement& e : lp.b)
    if (e.row >= 1 && e.row <= nrows && e.column >= 1 && e.column <= 3 * n) b(e.row - 1, e.column - 1) += e.value;

  ProblemModes pm;
  pm.index = position;
  pm.problem = lp.number;
  pm.scale = o.scale;

  const HessianFormat format = o.format ? *o.format : [&] {
    const auto f = hessian_format_from_extension(o.hessian);
    if (!f) throw input_error(o.hessian, "unknown Hessian format; name it with --hessian-format fchk|orca|text");
    return *f;
  }();
  HessianFile h = read_hessian(o.hessian, format, o.units, n);
  if (h.atomic_numbers && !lp.mass_sets.empty()) {
    std::vector<int> deck_z;
    for (double m : lp.mass_sets.front().masses) deck_z.push_back(element_of_mass(m));
    std::vector<int> file_z = *h.atomic_numbers;
    for (std::size_t a = 0; a < deck_z.size() && a < file_z.size(); ++a)
      if (deck_z[a] == 0) file_z[a] = 0;  // an atom the masses do not name is not compared
    check_same_atoms(o.hessian, file_z, deck_z, h.atom_lines);
  }
  if (h.positions) {
    const FrameFit fit = fit_frame(*h.positions, dp.x);
    const auto shift = notes.shifts.find(dp.number);
    const double allowed = 0.001 + (shift != notes.shifts.end() ? shift->second : 0.0);
    if (!(fit.rmsd <= allowed))
      throw input_error(o.hessian, "its geometry lies " + fmt("%.6f", fit.rmsd) +
                                       " A (RMSD after the best rotation and translation) from the deck's X; at most " +
                                       fmt("%.6f", allowed) + " A is accepted");
    if (fit.rmsd > 0.001)
      pm.warnings.push_back("the Hessian's geometry lies " + fmt("%.6f", fit.rmsd) +
                            " A from the deck's X after the best fit (within the symmetrization shift)");
    h.hessian = rotate_hessian(h.hessian, fit.rotation);
  }

  std::vector<int> chosen;
  if (o.mass_set) {
    if (*o.mass_set < 1 || static_cast<std::size_t>(*o.mass_set) > lp.mass_sets.size())
      throw input_error(deck_name, "problem " + std::to_string(position) + " has " +
                                       std::to_string(lp.mass_sets.size()) + " mass sets; --mass-set " +
                                       std::to_string(*o.mass_set) + " names none of them");
    chosen.push_back(*o.mass_set);
  } else {
    for (std::size_t m = 0; m < lp.mass_sets.size(); ++m) chosen.push_back(static_cast<int>(m) + 1);
  }
  if (chosen.empty()) throw input_error(deck_name, "problem " + std::to_string(position) + " has no mass set");

  std::vector<ModeSet> sets;
  for (int k : chosen) {
    const ListedMassSet& lm = lp.mass_sets[k - 1];
    const MassSet* dm = static_cast<std::size_t>(k) <= dp.mass_sets.size() ? &dp.mass_sets[k - 1] : nullptr;
    VibrationInput in;
    in.b = b;
    in.masses = lm.masses;
    in.positions = dp.x;
    in.hessian = h.hessian;
    in.scale = o.scale;
    in.source = deck_name;
    std::vector<std::string> labels;
    for (int r = 1; r <= nrows; ++r) labels.push_back(row_label(dp, rows, notes, r));
    if (lm.symmetrized && dm && dm->symmetry_count > 0) {
      Matrix u = Matrix::Zero(dm->symmetry_count, nrows);
      for (const UElement& e : dm->u)
        if (e.row >= 1 && e.row <= dm->symmetry_count && e.column >= 1 && e.column <= nrows)
          u(e.row - 1, e.column - 1) += e.value;
      in.u = u;
      for (std::size_t j = 0; j + 1 < dm->boundaries.size(); ++j) {
        ModeBlock blk;
        blk.first = dm->boundaries[j] - 1;
        blk.size = dm->boundaries[j + 1] - dm->boundaries[j];
        const auto sp = notes.species.find({dp.number, k, static_cast<int>(j) + 1});
        if (sp != notes.species.end()) blk.species = sp->second;
        in.blocks.push_back(blk);
      }
      // A symmetry coordinate is named by its species and by the internal
      // coordinate that weighs most in it (the first of equals), so that a
      // row of the PED says what moves.
      std::vector<std::string> symmetry_labels;
      for (int s = 1; s <= dm->symmetry_count; ++s) {
        std::string label = "S" + std::to_string(s);
        for (const ModeBlock& blk : in.blocks)
          if (s - 1 >= blk.first && s - 1 < blk.first + blk.size && !blk.species.empty()) label += " " + blk.species;
        Eigen::Index main = 0;
        if (u.row(s - 1).cwiseAbs().maxCoeff(&main) > 0) label += ", mainly " + labels[static_cast<std::size_t>(main)];
        symmetry_labels.push_back(label);
      }
      labels = std::move(symmetry_labels);
    }
    const VibrationAnalysis va = analyze_vibrations(in);
    MassSetModes ms;
    ms.title = lm.title;
    try {
      ms.point_group = find_point_group(dp.x, lm.masses, std::vector<int>(static_cast<std::size_t>(n), 0)).name;
    } catch (const std::exception&) {
    }
    ms.agree = va.comparison.agree;
    ms.verdict = va.comparison.verdict;
    ms.f = va.f;
    ms.f_symmetry = va.f_symmetry;
    ms.l = va.l;
    ms.cartesian_wavenumbers = va.cartesian_wavenumbers;
    for (const Mode& mode : va.modes) {
      ModeRow row;
      row.wavenumber = mode.wavenumber;
      row.cartesian_wavenumber = mode.cartesian_wavenumber;
      row.imaginary = mode.imaginary;
      if (!mode.species.empty()) row.species = mode.species;
      std::vector<PedItem> items;
      for (std::size_t c = 0; c < mode.ped.size(); ++c)
        if (mode.ped[c] >= o.ped_threshold)
          items.push_back({static_cast<int>(c) + 1, c < labels.size() ? labels[c] : "", mode.ped[c]});
      std::stable_sort(items.begin(), items.end(), [](const PedItem& a, const PedItem& b) { return a.percent > b.percent; });
      row.ped = items;
      ms.modes.push_back(row);
    }
    ModeSet set;
    for (const Mode& mode : va.modes) set.wavenumbers.push_back(mode.wavenumber);
    set.vectors = va.l;
    sets.push_back(set);
    pm.mass_sets.push_back(std::move(ms));
    pm.mass_set_numbers.push_back(k);
  }
  if (sets.size() > 1) {
    const ModeMatching matching = match_modes(sets);
    for (std::size_t k = 0; k < matching.matches.size(); ++k) {
      std::vector<int> line;
      for (int j : matching.matches[k]) line.push_back(j + 1);
      pm.matches.push_back(line);
      pm.shifts.push_back(matching.shifts[k]);
    }
  }
  report.problems.push_back(std::move(pm));
  return report;
}

std::string modes_text(const ModesReport& report, double ped_threshold) {
  std::ostringstream out;
  for (const ProblemModes& p : report.problems) {
    out << "problem " << p.index << " (number " << p.problem << "), Hessian " << report.hessian << ", scale "
        << fmt("%g", p.scale) << "\n";
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
        for (double w : ms.cartesian_wavenumbers) out << " " << fmt("%.2f", w);
        out << "\n";
        continue;
      }
      out << "  mode  wavenumber   cartesian  species  potential-energy distribution (>= "
          << fmt("%g", ped_threshold) << " %)\n";
      for (std::size_t i = 0; i < ms.modes.size(); ++i) {
        const ModeRow& r = ms.modes[i];
        char line[96];
        std::snprintf(line, sizeof line, "  %4zu  %10.2f%s  %10s  %-7s", i + 1, r.wavenumber, r.imaginary ? "i" : " ",
                      r.cartesian_wavenumber ? fmt("%.2f", *r.cartesian_wavenumber).c_str() : "-",
                      r.species.value_or("-").c_str());
        out << line;
        for (const PedItem& item : r.ped) out << "  " << fmt("%.0f", item.percent) << "% " << item.label;
        out << "\n";
      }
    }
    if (!p.matches.empty()) {
      out << "isotope shifts (cm-1), from mass set " << p.mass_set_numbers.front() << "\n  mode";
      for (std::size_t m = 0; m < p.mass_sets.size(); ++m)
      {
        char head[32];
        std::snprintf(head, sizeof head, "  %10s", ("set " + std::to_string(p.mass_set_numbers[m])).c_str());
        out << head << (m ? "     shift" : "");
      }
      out << "\n";
      for (std::size_t k = 0; k < p.matches.size(); ++k) {
        out << "  " << fmt("%4.0f", static_cast<double>(k + 1));
        for (std::size_t m = 0; m < p.mass_sets.size(); ++m) {
          const int j = p.matches[k][m];
          const bool has = j >= 1 && static_cast<std::size_t>(j) <= p.mass_sets[m].modes.size();
          out << "  " << (has ? fmt("%10.2f", p.mass_sets[m].modes[j - 1].wavenumber) : std::string("         -"));
          if (m) out << (p.shifts[k][m] ? fmt("%10.2f", *p.shifts[k][m]) : std::string("         -"));
        }
        out << "\n";
      }
    }
  }
  return out.str();
}

}  // namespace korven::kit
