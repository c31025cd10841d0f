// Geometry files read with Open Babel: every molecule of the file, in file
// order, with elements, most-abundant-isotope masses, positions in Ångström
// and the bonds Open Babel gives or perceives.
#pragma once

#include <string>
#include <vector>

#include "kit/model/molecule.h"

namespace korven::kit {

// Reads every molecule of the geometry file at path ("-": standard input).
// format is an Open Babel input format id ("xyz", "sdf", "pdb", "cml",
// "mol2", "g09", "orca", "fchk", ...); empty: the file's extension, where
// .log and .out go to Open Babel's output-file format, which recognises the
// program that wrote the file. Standard input needs a format.
//
// Bonds: the file's own when the format carries them, otherwise Open Babel's
// perception from the distances (as obabel does), also for a molecule of
// several atoms whose file lists no bond at all. 0-based pairs, first <
// second, sorted. Isotope labels in the file are ignored: every atom gets its
// element's most abundant isotope.
//
// The file is parsed in a child process, so that a crash of Open Babel's
// reader becomes an error rather than the end of the program. Throws
// InputError ("FILE: fault", one line) for a file that is missing,
// unreadable, empty, binary, truncated or of an unknown format, one Open
// Babel reads no molecule from, a molecule with no atoms, an unknown element
// or a coordinate that is not finite, 2D (drawing) or no coordinates, and a
// reader that crashes or hangs.
std::vector<Molecule> read_geometry(const std::string& path, const std::string& format = "");

// The format id read_geometry takes for path when none is given: its
// extension in lower case ("" when the file name has none).
std::string format_from_extension(const std::string& path);

namespace detail {

// Makes the reading child misbehave, to test the parent's handling of a
// reader that crashes (SIGSEGV), exits with a failure status, or sends a
// reply that breaks off in the middle.
enum class ReaderFault { none, crash, exit_failure, truncated_reply };
void set_reader_fault_for_testing(ReaderFault fault);

}  // namespace detail

}  // namespace korven::kit
