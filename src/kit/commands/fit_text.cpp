#include <sstream>

#include "kit/base/text.h"
#include "kit/commands/fit_report.h"

namespace korven::kit {
namespace {

void parameters_text(std::ostringstream& out, const FitProblem& p) {
  out << "\n  parameter              kind            value        sigma\n";
  for (const FitParameter& q : p.parameters) {
    out << format("  %-22s %-14s", q.name.c_str(), q.kind.c_str());
    if (!q.determined) out << format(" %10.6f   undetermined: no observed band depends on it; held at its start value\n", q.value);
    else if (q.fixed) out << format(" %10.6f   fixed\n", q.value);
    else if (q.sigma) out << format(" %10.6f %12.6f\n", q.value, *q.sigma);
    else out << format(" %10.6f   (no error: as many bands as free parameters)\n", q.value);
  }
  std::vector<std::size_t> free;
  for (std::size_t k = 0; k < p.parameters.size(); ++k)
    if (!p.parameters[k].fixed && p.parameters[k].determined) free.push_back(k);
  if (free.size() < 2) return;
  out << "\n  correlation of the free parameters\n";
  for (std::size_t i : free) {
    out << format("  %-22s", p.parameters[i].name.c_str());
    for (std::size_t j : free)
      out << format(" %6.3f", p.correlation(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)));
    out << "\n";
  }
}

void mass_set_text(std::ostringstream& out, const FitMassSet& m) {
  out << "\nmass set " << m.number << ": " << m.title << "\n";
  out << "     nu  species   observed  calculated   obs-calc  weight  PED\n";
  for (const FitBand& b : m.bands)
    out << format("  %5d  %-7s %10.2f %11.2f %10.2f %7.3g  %s%s\n", b.nu, b.species.empty() ? "-" : b.species.c_str(),
                  b.observed, b.calculated, b.observed - b.calculated, b.weight, b.ped.c_str(),
                  b.nearest ? " (assigned to the nearest mode)" : "");
  if (m.product_rule.empty()) return;
  out << "  product rule on the observed bands, against mass set 1 (anharmonicity moves the observed ratio by a few %)\n";
  for (const FitProductRule& r : m.product_rule)
    out << format("    %-8s observed %.4f  expected %.4f\n", r.species.c_str(), r.observed_ratio, r.expected);
}

}  // namespace

std::string fit_text(const FitReport& report) {
  std::ostringstream out;
  for (const FitProblem& p : report.problems) {
    out << "problem " << p.index << " (" << p.problem << "): force field from " << report.source << " fitted to "
        << plural(p.bands, "band") << "\n";
    for (const std::string& w : p.warnings) out << "  warning: " << w << "\n";
    for (const std::string& n : p.notes) out << "  " << n << "\n";
    out << (p.converged ? format("  converged after %d iterations: ", p.iterations) : std::string("  not converged: "))
        << p.stop << "\n";
    out << format("  rms %.4f cm-1 over %s\n", p.rms, plural(p.bands, "band").c_str());
    parameters_text(out, p);
    for (const FitMassSet& m : p.mass_sets) mass_set_text(out, m);
  }
  return out.str();
}

}  // namespace korven::kit
