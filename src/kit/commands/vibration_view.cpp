#include "kit/commands/vibration_view.h"

#include <algorithm>

#include "kit/base/elements.h"
#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/io/geometry_input.h"
#include "kit/vibrations/frame_fit.h"

namespace korven::kit {
namespace {

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

void check_atoms_of(const ProblemView& v, const HessianFile& h, const std::string& path) {
  if (!h.atomic_numbers || v.listed->mass_sets.empty()) return;
  std::vector<int> deck_z;
  for (double m : v.listed->mass_sets.front().masses) deck_z.push_back(element_of_mass(m));
  std::vector<int> file_z = *h.atomic_numbers;
  for (std::size_t a = 0; a < deck_z.size() && a < file_z.size(); ++a)
    if (deck_z[a] == 0) file_z[a] = 0;  // an atom the masses do not name is not compared
  check_same_atoms(path, file_z, deck_z, h.atom_lines);
}

// The positions of a geometry file's one molecule, which must have the
// deck's atoms in the deck's order.
std::vector<Vec3> geometry_of(const std::string& path, const ProblemView& v) {
  const std::vector<Molecule> molecules = read_geometry(path);
  if (molecules.size() != 1) throw input_error(path, "holds " + plural(static_cast<long long>(molecules.size()), "molecule") + "; the Hessian's geometry is one");
  const Molecule& m = molecules.front();
  if (static_cast<int>(m.atoms.size()) != v.atoms)
    throw input_error(path, "has " + plural(static_cast<long long>(m.atoms.size()), "atom") + ", the deck " +
                                std::to_string(v.atoms));
  std::vector<Vec3> x;
  for (const Atom& a : m.atoms) x.push_back(a.position);
  return x;
}

// Stretching force constants of chemical bonds lie between a few tenths
// and a few tens of mdyn/Å; the two units of a plain-text Hessian differ
// by a factor of 15.569.
constexpr double kSoftestStretch = 0.8, kStiffestStretch = 50;  // mdyn/Å, median over the stretches

void check_units(const ProblemView& v, const MassSetAnalysis& a, const HessianSource& source) {
  std::vector<double> k;
  for (Eigen::Index i = 0; i < a.analysis.f.rows() && static_cast<std::size_t>(i) < v.classes.size(); ++i)
    if (v.classes[static_cast<std::size_t>(i)].rfind("stretch", 0) == 0) k.push_back(a.analysis.f(i, i));
  if (k.empty()) return;
  std::nth_element(k.begin(), k.begin() + static_cast<std::ptrdiff_t>(k.size() / 2), k.end());
  const double median = k[k.size() / 2];
  const bool mdyn = source.units == HessianUnits::mdyn_per_angstrom;
  if (mdyn && median < kSoftestStretch)
    throw input_error(source.path, "read in mdyn/A, its stretching force constants are " + format("%.3f", median) +
                                       " mdyn/A (median), too soft for chemical bonds: is the file in hartree/bohr^2 "
                                       "(leave out --units mdyn/A)?");
  if (!mdyn && median > kStiffestStretch)
    throw input_error(source.path, "read in hartree/bohr^2, its stretching force constants are " +
                                       format("%.1f", median) +
                                       " mdyn/A (median), too stiff for chemical bonds: is the file in mdyn/A "
                                       "(--units mdyn/A)?");
}

}  // namespace

void check_hessian_fits(const ProblemView& v, const MassSetAnalysis& a, const HessianSource& source) {
  if (a.analysis.comparison.other_frame) throw input_error(source.path, a.analysis.comparison.verdict);
  if (format_of(source) == HessianFormat::text) check_units(v, a, source);
}

HessianFormat format_of(const HessianSource& source) {
  if (source.format) return *source.format;
  const auto f = hessian_format_from_extension(source.path);
  if (!f) throw input_error(source.path, "unknown Hessian format; name it with --hessian-format fchk|orca|text");
  return *f;
}

HessianFile hessian_in_deck_frame(const ProblemView& v, const HessianSource& source,
                                  std::vector<std::string>& warnings) {
  HessianFile h = read_hessian(source.path, format_of(source), source.units, v.atoms);
  check_atoms_of(v, h, source.path);
  if (!source.geometry.empty()) {
    if (h.positions)
      throw input_error(source.geometry, "--hessian-geometry is for a plain-text Hessian; " + source.path +
                                             " carries its own geometry");
    h.positions = geometry_of(source.geometry, v);
  }
  if (!h.positions) return h;
  const FrameFit fit = fit_frame(*h.positions, v.deck.x);
  const double allowed = source.frame_tolerance + v.symmetrization_shift();
  if (!(fit.rmsd <= allowed))
    throw input_error(source.path, "its geometry lies " + format("%.6f", fit.rmsd) +
                                       " A (RMSD after the best rotation and translation) from the deck's X; at most " +
                                       format("%.6f", allowed) + " A is accepted");
  if (fit.rmsd > 0.001)
    warnings.push_back("the Hessian's geometry lies " + format("%.6f", fit.rmsd) +
                       " A from the deck's X after the best fit (accepted: at most " + format("%.6f", allowed) +
                       " A, the frame tolerance and the symmetrization shift)");
  h.hessian = rotate_hessian(h.hessian, fit.rotation);
  // The derivatives of the dipole and the polarizability turn with it.
  if (h.dipole_derivatives) h.dipole_derivatives = rotate_dipole_derivatives(*h.dipole_derivatives, fit.rotation);
  if (h.polarizability_derivatives)
    h.polarizability_derivatives = rotate_polarizability_derivatives(*h.polarizability_derivatives, fit.rotation);
  return h;
}

std::vector<ForceFieldCoordinate> deck_coordinates(const ProblemView& v) {
  std::vector<ForceFieldCoordinate> out;
  for (int r = 0; r < v.b_rows; ++r) {
    const auto k = static_cast<std::size_t>(r);
    out.push_back({r + 1, k < v.short_names.size() ? v.short_names[k] : "q" + std::to_string(r + 1),
                   k < v.classes.size() ? v.classes[k] : "other"});
  }
  return out;
}

HessianFile deck_hessian(const ProblemView& v, const HessianSource& hessian, const std::string& force_field,
                         std::vector<std::string>& warnings) {
  if (force_field.empty()) return hessian_in_deck_frame(v, hessian, warnings);
  const ForceFieldFile file = read_force_field(force_field);
  const std::vector<ForceFieldCoordinate> mine = deck_coordinates(v);
  if (file.coordinates.size() != mine.size())
    throw input_error(force_field, format("holds %zu internal coordinates; %s has %zu", file.coordinates.size(),
                                          v.deck_name.c_str(), mine.size()));
  for (std::size_t i = 0; i < mine.size(); ++i) {
    const ForceFieldCoordinate& a = file.coordinates[i];
    const ForceFieldCoordinate& b = mine[i];
    if (a.row != b.row || a.name != b.name || a.coordinate_class != b.coordinate_class)
      throw input_error(force_field, format("coordinate %zu is %s (%s); in %s it is %s (%s)", i + 1, a.name.c_str(),
                                            a.coordinate_class.c_str(), v.deck_name.c_str(), b.name.c_str(),
                                            b.coordinate_class.c_str()));
  }
  const Matrix b = v.dense_b();
  HessianFile out;
  out.hessian = b.transpose() * file.f * b;
  return out;
}

std::vector<int> chosen_mass_sets(const ProblemView& v, std::optional<int> requested) {
  const std::size_t count = v.mass_sets.size();
  std::vector<int> chosen;
  if (requested) {
    if (*requested < 1 || static_cast<std::size_t>(*requested) > count)
      throw input_error(v.deck_name, "problem " + std::to_string(v.position) + " has " + std::to_string(count) +
                                         " mass sets; --mass-set " + std::to_string(*requested) +
                                         " names none of them");
    chosen.push_back(*requested);
  } else {
    for (std::size_t m = 0; m < count; ++m) chosen.push_back(static_cast<int>(m) + 1);
  }
  if (chosen.empty()) throw input_error(v.deck_name, "problem " + std::to_string(v.position) + " has no mass set");
  return chosen;
}

VibrationInput vibration_input(const ProblemView& v, const MassSetView& m, const Matrix& hessian, double scale,
                               std::vector<std::string>& labels) {
  VibrationInput in;
  in.b = v.dense_b();
  in.masses = m.listed->masses;
  in.positions = v.deck.x;
  in.hessian = hessian;
  in.scale = scale;
  in.source = v.deck_name;
  labels = v.labels;
  if (m.symmetrized && m.deck->symmetry_count > 0) {
    in.u = m.u;
    in.blocks = mode_blocks(v, m);
    labels = symmetry_labels(m.u, in.blocks, labels);
  }
  return in;
}

MassSetAnalysis analyze_mass_set(const ProblemView& v, const MassSetView& m, const VibrationInput& in) {
  MassSetAnalysis w;
  w.number = m.number;
  w.masses = in.masses;
  w.group = m.group ? &*m.group : nullptr;
  w.analysis = analyze_vibrations(in);
  std::vector<double> lambda;
  for (const Mode& mode : w.analysis.modes) lambda.push_back(mode.eigenvalue);
  w.lines = vibration_lines(lambda, w.analysis.cartesian_modes, w.group, v.deck.x, in.masses);
  std::stable_sort(w.lines.begin(), w.lines.end(), [](const VibrationLine& a, const VibrationLine& b) { return a.nu < b.nu; });
  for (const VibrationLine& line : w.lines) {
    Matrix e(w.analysis.cartesian_modes.rows(), static_cast<Eigen::Index>(line.modes.size()));
    Matrix l(w.analysis.l.rows(), static_cast<Eigen::Index>(line.modes.size()));
    for (std::size_t j = 0; j < line.modes.size(); ++j) {
      e.col(static_cast<Eigen::Index>(j)) = w.analysis.cartesian_modes.col(line.modes[j]);
      l.col(static_cast<Eigen::Index>(j)) = w.analysis.l.col(line.modes[j]);
    }
    w.cartesian.push_back(e * line.combination);
    w.internal.push_back(l * line.combination);
  }
  return w;
}

}  // namespace korven::kit
