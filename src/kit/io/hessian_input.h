// Cartesian Hessians from quantum-chemistry files: a Gaussian formatted
// checkpoint, an ORCA .hess file, or plain text. Each format has its own small
// reader; all give the Hessian in mdyn/Å and, when the file carries them, the
// atomic numbers, the positions in Ångström, and the derivatives of the dipole
// moment and of the polarizability along the Cartesian displacements (in
// atomic units, as the files hold them). A separate reader takes dipole
// derivatives from a plain-text file of their own.
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
  // 3N × 3: row 3a + k is the displacement of atom a along axis k (x, y, z),
  // column β the dipole component: ∂μ_β/∂x_{ak} in e·bohr/bohr = e (atomic
  // units, as read). The fchk's "Dipole Derivatives", ORCA's
  // $dipole_derivatives; in the file's frame (rotate_dipole_derivatives).
  std::optional<Matrix> dipole_derivatives;
  // 3N × 6: row as above, columns the polarizability components xx, xy, yy,
  // xz, yz, zz (the lower triangle row by row, Gaussian's order):
  // ∂α/∂x_{ak} in bohr³/bohr = bohr². The fchk's "Polarizability
  // Derivatives"; in the file's frame (rotate_polarizability_derivatives).
  std::optional<Matrix> polarizability_derivatives;
};

// Reads FILE in FORMAT. fchk and orca files are in hartree/bohr² and bohr;
// a text file is in units_for_text and carries no geometry. expected_atoms
// > 0 is the deck's atom count, which the file must match; 0 takes the
// count from the file (for text: from the length of the first row).
// Anything that cannot be read (a missing section, a wrong size, a matrix
// that is not symmetric within 1e-6 of its largest element, NaN or infinite
// values, a truncated block, a token that is not a number) throws InputError
// as "FILE: line L: fault". The derivative sections are optional; when
// present they must hold exactly 9N ("Dipole Derivatives", $dipole_derivatives)
// or 18N ("Polarizability Derivatives") finite numbers.
HessianFile read_hessian(const std::filesystem::path& file, HessianFormat format,
                         HessianUnits units_for_text, int expected_atoms);

// Dipole derivatives from a plain-text file (--dipole-derivatives FILE): 3N
// rows of 3 numbers, row 3a + k the displacement of atom a along axis k,
// column β = x, y, z the dipole component, in atomic units (e·bohr/bohr =
// e), the layout of HessianFile::dipole_derivatives. Blank lines and lines
// starting with '#' are skipped. expected_atoms > 0 is the deck's atom
// count, which the file must match; 0 takes the count from the rows. Faults
// (a row of another length, a token that is not a number, a non-finite
// value, too many or too few rows) throw InputError "FILE: line L: fault".
Matrix read_dipole_derivatives(const std::filesystem::path& file, int expected_atoms);

}  // namespace korven::kit
