// Cartesian Hessians from quantum-chemistry files: a Gaussian formatted
// checkpoint, an ORCA .hess file, or plain text. Each format has its own small
// reader; all give the Hessian in mdyn/Å and, when the file carries them, the
// atomic numbers and the positions in Ångström.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "kit/base/constants.h"
#include "kit/base/linalg.h"

namespace korven::kit {

enum class HessianFormat { fchk, orca, text };
enum class HessianUnits { hartree_per_bohr2, mdyn_per_angstrom };

// .fchk, .fch, .fck: fchk; .hess: orca; .txt: text; nullopt for any other.
std::optional<HessianFormat> hessian_format_from_extension(const std::filesystem::path& file);

struct HessianFile {
  Matrix hessian;                                  // 3N × 3N, mdyn/Å, exactly symmetric
  std::optional<std::vector<int>> atomic_numbers;  // fchk, orca
  std::optional<std::vector<Vec3>> positions;      // fchk, orca; Ångström
  std::vector<int> atom_lines;  // with atomic_numbers: the line (from 1) that gives each atom's element
};

// Reads FILE in FORMAT. fchk and orca files are in hartree/bohr² and bohr;
// a text file is in units_for_text and carries no geometry. expected_atoms
// > 0 is the deck's atom count, which the file must match; 0 takes the
// count from the file (for text: from the length of the first row).
// Anything that cannot be read (a missing section, a wrong size, a matrix
// that is not symmetric within 1e-6 of its largest element, NaN or infinite
// values, a truncated block, a token that is not a number) throws InputError
// as "FILE: line L: fault".
HessianFile read_hessian(const std::filesystem::path& file, HessianFormat format,
                         HessianUnits units_for_text, int expected_atoms);

}  // namespace korven::kit
