// The modes report as text: per mass set one line per vibration (ν,
// species, wavenumber, activity, the PED in words and over the deck's
// coordinates), then the isotopologues against the first mass set.
#include <sstream>

#include "kit/base/text.h"
#include "kit/commands/modes_report.h"

namespace korven::kit {
namespace {

std::string activity(const ModeRow& r) {
  if (!r.ir_active || !r.raman_active) return "-";
  if (*r.ir_active && *r.raman_active) return "IR, Raman";
  if (*r.ir_active) return "IR";
  return *r.raman_active ? "Raman" : "silent";
}

std::string classes_text(const ModeRow& r, double threshold) {
  std::string s;
  for (const PedClass& c : r.ped_classes)
    if (c.percent >= threshold) s += (s.empty() ? "" : ", ") + c.name + format(" %.0f%%", c.percent);
  return s;
}

void mode_table(std::ostringstream& out, const MassSetModes& ms, double threshold) {
  out << "    nu  species   d  wavenumber   cartesian  active     PED by class (>= " << format("%g", threshold)
      << " %); over the coordinates\n";
  for (const ModeRow& r : ms.modes) {
    out << format("  %4s  %-8s %2d  %10.2f%s  %10s  %-9s  ", ("nu" + std::to_string(r.nu)).c_str(),
                  r.species.value_or("-").c_str(), r.degeneracy, r.wavenumber, r.imaginary ? "i" : " ",
                  r.cartesian_wavenumber ? format("%.2f", *r.cartesian_wavenumber).c_str() : "-",
                  activity(r).c_str());
    out << classes_text(r, threshold) << ";";
    for (const PedItem& item : r.ped) out << "  " << format("%.0f", item.percent) << "% " << item.label;
    out << "\n";
  }
}

// A mass set's title as a column head: its first word, at most 10 columns.
std::string column_title(const std::string& title) {
  std::string word = title.substr(0, title.find(' '));
  if (word.size() > 10) word.resize(10);
  return word.empty() ? "-" : word;
}

void isotope_table(std::ostringstream& out, const ProblemModes& p) {
  const MassSetModes& first = p.mass_sets.front();
  out << "isotope shifts (cm-1) against mass set " << p.mass_set_numbers.front() << " \"" << first.title << "\", by "
      << (p.match == MatchMethod::species ? "species" : "eigenvector overlap") << "\n";
  out << "    nu  species   " << format("%10s", column_title(first.title).c_str());
  for (std::size_t m = 1; m < p.mass_sets.size(); ++m)
    out << format("  %6s %10s     shift", "nu", column_title(p.mass_sets[m].title).c_str());
  out << "\n";
  for (std::size_t k = 0; k < first.modes.size(); ++k) {
    const ModeRow& r = first.modes[k];
    std::size_t rows = 1;
    for (std::size_t m = 1; m < p.mass_sets.size(); ++m) rows = std::max(rows, p.mass_sets[m].matched_nu[k].size());
    for (std::size_t line = 0; line < rows; ++line) {
      if (line == 0)
        out << format("  %4s  %-8s  %10.2f", ("nu" + std::to_string(r.nu)).c_str(), r.species.value_or("-").c_str(),
                      r.wavenumber);
      else
        out << format("  %4s  %-8s  %10s", "", "", "");
      for (std::size_t m = 1; m < p.mass_sets.size(); ++m) {
        const MassSetModes& ms = p.mass_sets[m];
        if (line >= ms.matched_nu[k].size()) {
          out << format("  %6s %10s %9s ", "-", "-", "-");
          continue;
        }
        const ModeRow& o = ms.modes[static_cast<std::size_t>(ms.matched_nu[k][line] - 1)];
        const double shift = o.wavenumber - r.wavenumber;
        // A heavier isotopologue's mode cannot rise (Rayleigh): a mismatch.
        out << format("  %6s %10.2f %9.2f%s", ("nu" + std::to_string(o.nu)).c_str(), o.wavenumber, shift,
                      ms.heavier && shift > 1 ? "!" : " ");
      }
      out << "\n";
    }
  }
}

void product_rules(std::ostringstream& out, const ProblemModes& p) {
  for (std::size_t m = 1; m < p.mass_sets.size(); ++m) {
    const MassSetModes& ms = p.mass_sets[m];
    if (ms.product_rule.empty()) continue;
    out << "product rule (Teller-Redlich), \"" << column_title(ms.title) << "\" over \""
        << column_title(p.mass_sets.front().title) << "\":";
    for (const ProductRule& r : ms.product_rule)
      out << format("  %s %.6f (expected %.6f)", r.species.c_str(), r.ratio, r.expected);
    out << "\n";
  }
}

}  // namespace

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
      mode_table(out, ms, ped_threshold);
    }
    if (p.mass_sets.size() > 1 && p.mass_sets.front().agree) {
      isotope_table(out, p);
      product_rules(out, p);
    }
  }
  return out.str();
}

}  // namespace korven::kit
