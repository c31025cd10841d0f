// The constants report as a spectroscopist prints it: per mass set the rotor,
// the quartic distortion constants of its reduction, the Coriolis constants
// and their sum rules, and the mean amplitudes of every atom pair.
#include <cmath>
#include <sstream>

#include "kit/base/text.h"
#include "kit/commands/constants_report.h"

namespace korven::kit {
namespace {

constexpr double kZetaShown = 1e-4;
const char* const kAxisNames[] = {"a", "b", "c"};
const char* const kDeckAxes[] = {"x", "y", "z"};

std::string optional_number(const std::optional<double>& v, const char* pattern) {
  return v ? format(pattern, *v) : std::string("-");
}

void rotor_text(std::ostringstream& out, const RotationalConstants& r) {
  const PrincipalFrame& f = r.frame;
  out << "  rotor: " << rotor_type_name(f.type) << (f.type == RotorType::linear ? "" : " top")
      << ", kappa " << optional_number(r.kappa, "%.6f");
  if (f.type != RotorType::linear) out << format(", inertial defect %.6f u A^2", r.inertial_defect);
  out << "\n  axis   I (u A^2)        B (MHz)            B (cm-1)       direction in the deck's frame\n";
  for (int a = 0; a < 3; ++a) {
    const auto s = static_cast<std::size_t>(a);
    const Vec3 v = f.axes.col(a);
    out << format("  %-4s %12.6f  %16s  %16s     (%8.5f %8.5f %8.5f)", kAxisNames[a], f.moments(a),
                  optional_number(r.mhz[s], "%.4f").c_str(), optional_number(r.wavenumbers[s], "%.6f").c_str(), v(0),
                  v(1), v(2));
    if (f.along_deck_axis[s]) out << " along " << kDeckAxes[*f.along_deck_axis[s]];
    out << "\n";
  }
}

// The 21 distinct τ: pairs (αβ) ≤ (γδ) of α ≤ β, γ ≤ δ.
void tau_text(std::ostringstream& out, const CentrifugalDistortion& c) {
  out << "  quartic centrifugal distortion, tau (MHz), principal axes:\n";
  const int pairs[6][2] = {{0, 0}, {1, 1}, {2, 2}, {0, 1}, {0, 2}, {1, 2}};
  int shown = 0;
  for (int p = 0; p < 6; ++p)
    for (int q = p; q < 6; ++q) {
      const auto t = c.tau(pairs[p][0], pairs[p][1], pairs[q][0], pairs[q][1]);
      if (!t || std::abs(*t) < 1e-12) continue;
      out << format("    tau_%s%s%s%s %16.8e", kAxisNames[pairs[p][0]], kAxisNames[pairs[p][1]],
                    kAxisNames[pairs[q][0]], kAxisNames[pairs[q][1]], *t)
          << (++shown % 3 == 0 ? "\n" : "");
    }
  if (shown % 3 != 0) out << "\n";
}

void reductions_text(std::ostringstream& out, const CentrifugalDistortion& c) {
  const std::string rep(representation_name(c.representation));
  if (c.a_reduction) {
    const WatsonA& a = *c.a_reduction;
    out << "  Watson's A reduction, " << rep << " representation (kHz):\n"
        << format("    DeltaJ %.6g  DeltaJK %.6g  DeltaK %.6g  deltaJ %.6g  deltaK %.6g\n", a.delta_j, a.delta_jk,
                  a.delta_k, a.small_delta_j, a.small_delta_k);
  }
  if (c.s_reduction) {
    const WatsonS& s = *c.s_reduction;
    out << "  Watson's S reduction, " << rep << " representation (kHz):\n"
        << format("    DJ %.6g  DJK %.6g  DK %.6g  d1 %.6g  d2 %.6g\n", s.d_j, s.d_jk, s.d_k, s.d1, s.d2);
  }
  if (c.symmetric_top)
    out << format("  symmetric top (kHz): DJ %.6g  DJK %.6g  DK %.6g\n", c.symmetric_top->d_j, c.symmetric_top->d_jk,
                  c.symmetric_top->d_k);
  if (c.linear_d) out << format("  linear molecule (kHz): D %.6g\n", *c.linear_d);
  if (c.spherical_top)
    out << format("  spherical top (kHz): DJ %.6g  DT %.6g (tensor term of Hecht's form)\n", c.spherical_top->d_j,
                  c.spherical_top->d_t);
  if (c.planarity)
    out << format("  planarity relations: largest relative residual %.2e\n", c.planarity->largest);
}

void coriolis_text(std::ostringstream& out, const MassSetConstants& m) {
  const CoriolisConstants& c = m.constants.coriolis;
  out << format("  Coriolis constants zeta^alpha_rs (|zeta| > %g), principal axes:\n", kZetaShown);
  int shown = 0;
  for (int a = 0; a < 3; ++a)
    for (Eigen::Index r = 0; r < c.zeta[static_cast<std::size_t>(a)].rows(); ++r)
      for (Eigen::Index s = r + 1; s < c.zeta[static_cast<std::size_t>(a)].cols(); ++s) {
        const double z = c.zeta[static_cast<std::size_t>(a)](r, s);
        if (std::abs(z) <= kZetaShown) continue;
        out << format("    %s  nu%-4s nu%-4s %10.6f\n", kAxisNames[a], m.modes[static_cast<std::size_t>(r)].label().c_str(),
                      m.modes[static_cast<std::size_t>(s)].label().c_str(), z);
        ++shown;
      }
  if (shown == 0) out << "    none\n";
  for (const DegenerateCoriolis& d : c.degenerate)
    out << format("  first-order zeta of nu%d: %.6f", m.modes[static_cast<std::size_t>(d.first)].nu, d.zeta)
        << (d.operation.empty() ? " (magnitude; no axis operation fixes its sign)" : " (sense from " + d.operation + ")")
        << "\n";
  for (const DegenerateSum& s : c.degenerate_sums)
    out << format("  sum of first-order zeta (turn %d): %.6f, closed value %.6f\n", s.turn, s.sum, s.expected);
  out << format("  sum rules: sum over s of (zeta^alpha_rs)^2 per mode and axis, and the totals %.6f %.6f %.6f "
                "(a, b, c), meet their closed values within %.1e\n",
                c.totals(0), c.totals(1), c.totals(2), c.largest_sum_deviation);
}

void amplitudes_text(std::ostringstream& out, const MassSetConstants& m) {
  const double t = m.constants.temperature;
  out << (t > 0 ? format("  mean amplitudes at %.2f K", t) : std::string("  mean amplitudes at 0 K (zero point)"))
      << ":\n    pair          r_e (A)      l (A)        K (A)\n";
  for (const PairAmplitude& p : m.constants.amplitudes)
    out << format("    %-6s %-6s %10.6f %10.6f %12.6f\n", m.atoms[static_cast<std::size_t>(p.first)].c_str(),
                  m.atoms[static_cast<std::size_t>(p.second)].c_str(), p.distance, p.amplitude,
                  p.perpendicular_correction);
}

}  // namespace

std::string constants_text(const ConstantsReport& report) {
  std::ostringstream out;
  for (const ProblemConstants& p : report.problems) {
    out << "problem " << p.index << " (number " << p.problem << "), Hessian " << report.hessian << "\n";
    for (const std::string& w : p.warnings) out << "warning: " << w << "\n";
    for (const MassSetConstants& m : p.mass_sets) {
      out << "\nmass set " << m.number << ": " << m.title;
      if (m.point_group) out << " (" << *m.point_group << ")";
      out << "\n";
      rotor_text(out, m.constants.rotation);
      tau_text(out, m.constants.centrifugal);
      reductions_text(out, m.constants.centrifugal);
      coriolis_text(out, m);
      amplitudes_text(out, m);
    }
  }
  return out.str();
}

}  // namespace korven::kit
