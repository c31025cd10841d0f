// Normal modes as a Molden file, the format Molden, Jmol, Avogadro and Open
// Babel read to animate vibrations (G. Schaftenaar, J. H. Noordik, J.
// Comput.-Aided Mol. Design 14, 123, 2000).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/linalg.h"

namespace korven::kit {

// One mass set's modes, in the order they are to be written (ν order).
struct MoldenModes {
  std::vector<int> atomic_numbers;  // one per atom
  std::vector<Vec3> positions;      // Å, the geometry the modes belong to
  std::vector<double> wavenumbers;  // cm⁻¹, one per mode; an imaginary mode as a negative number
  // 3N × n: column k is mode k's Cartesian displacement, dx, dy, dz of atom
  // 1, atom 2, … (ModeShape::displacement: unit length over all 3N).
  Matrix displacements;
  std::optional<std::vector<double>> intensities;  // km/mol, one per mode
};

// The file's text:
//
//   [Molden Format]
//   [Atoms] Angs           symbol, number from 1, atomic number, x y z (Å)
//   [FREQ]                 one wavenumber a line (cm⁻¹)
//   [INT]                  one intensity a line (km/mol), when known
//   [FR-COORD]             symbol, x y z (bohr)
//   [FR-NORM-COORD]        per mode "vibration k", then per atom dx dy dz
//
// [INT] stands before [FR-COORD]: Open Babel's reader (moldenformat.cpp,
// 3.1) looks for the names of the later sections in a fixed order on the
// line that ended the section before, so a section named after
// [FR-NORM-COORD] would not be seen; in this order every one is. Open
// Babel leaves out the modes below 10 cm⁻¹ (it takes them for translations
// and rotations); the file holds them all. Throws std::invalid_argument
// when the sizes do not fit or an atomic number is not an element.
std::string molden_text(const MoldenModes& modes);

// molden_text written whole or not at all (base/atomic_file.h); an existing
// file is replaced only with `force`. Failures throw InputError naming FILE.
void write_molden(const std::filesystem::path& file, const MoldenModes& modes, bool force);

}  // namespace korven::kit
