#include "kit/io/molden.h"

#include <stdexcept>

#include "kit/base/atomic_file.h"
#include "kit/base/constants.h"
#include "kit/base/elements.h"
#include "kit/base/text.h"

namespace korven::kit {
namespace {

void check_sizes(const MoldenModes& m) {
  const std::size_t atoms = m.atomic_numbers.size();
  const auto modes = static_cast<Eigen::Index>(m.wavenumbers.size());
  if (atoms == 0 || m.positions.size() != atoms)
    throw std::invalid_argument("molden_text: " + std::to_string(atoms) + " atomic numbers and " +
                                std::to_string(m.positions.size()) + " positions");
  if (m.displacements.rows() != static_cast<Eigen::Index>(3 * atoms) || m.displacements.cols() != modes)
    throw std::invalid_argument("molden_text: displacements of " + std::to_string(m.displacements.rows()) + " × " +
                                std::to_string(m.displacements.cols()) + " for " + std::to_string(atoms) + " atoms and " +
                                std::to_string(modes) + " modes");
  if (m.intensities && static_cast<Eigen::Index>(m.intensities->size()) != modes)
    throw std::invalid_argument("molden_text: " + std::to_string(m.intensities->size()) + " intensities for " +
                                std::to_string(modes) + " modes");
}

std::vector<std::string> symbols(const std::vector<int>& z) {
  std::vector<std::string> out;
  for (int number : z) {
    out.push_back(element_symbol(number));
    if (out.back().empty()) throw std::invalid_argument("molden_text: atomic number " + std::to_string(number));
  }
  return out;
}

}  // namespace

std::string molden_text(const MoldenModes& m) {
  check_sizes(m);
  const std::vector<std::string> symbol = symbols(m.atomic_numbers);
  std::string s = "[Molden Format]\n[Atoms] Angs\n";
  for (std::size_t a = 0; a < symbol.size(); ++a) {
    const Vec3& x = m.positions[a];
    s += format("%-3s %5zu %4d %16.10f %16.10f %16.10f\n", symbol[a].c_str(), a + 1, m.atomic_numbers[a], x.x(), x.y(),
                x.z());
  }
  s += "[FREQ]\n";
  for (double v : m.wavenumbers) s += format("%14.4f\n", v);
  if (m.intensities) {
    s += "[INT]\n";
    for (double v : *m.intensities) s += format("%16.6f\n", v);
  }
  s += "[FR-COORD]\n";
  for (std::size_t a = 0; a < symbol.size(); ++a) {
    const Vec3 x = m.positions[a] / kBohrInAngstrom;
    s += format("%-3s %16.10f %16.10f %16.10f\n", symbol[a].c_str(), x.x(), x.y(), x.z());
  }
  s += "[FR-NORM-COORD]\n";
  for (Eigen::Index k = 0; k < m.displacements.cols(); ++k) {
    s += format("vibration %ld\n", static_cast<long>(k + 1));
    for (Eigen::Index i = 0; i < m.displacements.rows(); i += 3)
      s += format("%14.8f %14.8f %14.8f\n", m.displacements(i, k), m.displacements(i + 1, k), m.displacements(i + 2, k));
  }
  return s;
}

void write_molden(const std::filesystem::path& file, const MoldenModes& modes, bool force) {
  write_file_atomically(file, molden_text(modes), force);
}

}  // namespace korven::kit
