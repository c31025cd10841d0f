// The Molden files of the modes command: one per mass set, its modes in ν
// order with a degenerate vibration's partners each a mode of their own.
#include <cctype>
#include <filesystem>

#include "kit/base/kit_error.h"
#include "kit/commands/modes_report.h"
#include "kit/io/molden.h"

namespace korven::kit {
namespace {

// The first word of a mass set's title, safe in a file name.
std::string title_word(const std::string& title, int number) {
  std::string word = title.substr(0, title.find(' '));
  for (char& c : word)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '+') c = '_';
  return word.empty() ? "set" + std::to_string(number) : word;
}

MoldenModes molden_modes(const MassSetModes& ms, const std::vector<Vec3>& positions) {
  MoldenModes m;
  m.atomic_numbers = ms.atomic_numbers;
  m.positions = positions;
  std::vector<const ModePartner*> partners;
  for (const ModeRow& r : ms.modes)
    for (const ModePartner& p : r.partners) partners.push_back(&p);
  m.displacements = Matrix(static_cast<Eigen::Index>(3 * positions.size()), static_cast<Eigen::Index>(partners.size()));
  bool intensities = !partners.empty();
  for (std::size_t k = 0; k < partners.size(); ++k) {
    m.wavenumbers.push_back(partners[k]->wavenumber);
    m.displacements.col(static_cast<Eigen::Index>(k)) = partners[k]->displacement;
    intensities = intensities && partners[k]->ir_intensity.has_value();
  }
  if (intensities) {
    m.intensities.emplace();
    for (const ModePartner* p : partners) m.intensities->push_back(*p->ir_intensity);
  }
  return m;
}

}  // namespace

std::vector<std::string> write_modes_molden(const ModesReport& report, const std::string& file) {
  std::vector<std::string> written;
  for (const ProblemModes& p : report.problems) {
    std::vector<std::size_t> sets;
    for (std::size_t m = 0; m < p.mass_sets.size(); ++m)
      if (p.mass_sets[m].agree) sets.push_back(m);
    for (std::size_t m : sets) {
      const MassSetModes& ms = p.mass_sets[m];
      std::filesystem::path path(file);
      if (sets.size() > 1)
        path.replace_filename(path.stem().string() + "." + title_word(ms.title, p.mass_set_numbers[m]) +
                              path.extension().string());
      for (std::size_t a = 0; a < ms.atomic_numbers.size(); ++a)
        if (ms.atomic_numbers[a] == 0)
          throw input_error(path.string(), "atom " + std::to_string(a + 1) + " of mass set \"" + ms.title +
                                               "\" has a mass that names no element");
      write_molden(path, molden_modes(ms, p.positions), true);
      written.push_back(path.string());
    }
  }
  return written;
}

}  // namespace korven::kit
