#include "kit/commands/vibration_view.h"

#include <algorithm>

#include "kit/base/elements.h"
#include "kit/base/kit_error.h"
#include "kit/base/text.h"
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

}  // namespace

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
  if (!h.positions) return h;
  const FrameFit fit = fit_frame(*h.positions, v.deck.x);
  const double allowed = 0.001 + v.symmetrization_shift();
  if (!(fit.rmsd <= allowed))
    throw input_error(source.path, "its geometry lies " + format("%.6f", fit.rmsd) +
                                       " A (RMSD after the best rotation and translation) from the deck's X; at most " +
                                       format("%.6f", allowed) + " A is accepted");
  if (fit.rmsd > 0.001)
    warnings.push_back("the Hessian's geometry lies " + format("%.6f", fit.rmsd) +
                       " A from the deck's X after the best fit (within the symmetrization shift)");
  h.hessian = rotate_hessian(h.hessian, fit.rotation);
  return h;
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
