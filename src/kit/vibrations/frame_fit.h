// Bringing a Hessian file's frame onto the deck's: the same atoms in the same
// order, the best rotation and translation of the file's geometry onto the
// deck's X, and the Hessian turned by that rotation.
#pragma once

#include <string>
#include <vector>

#include "kit/base/linalg.h"

namespace korven::kit {

// deck ≈ rotation · file + translation, atom by atom.
struct FrameFit {
  Mat3 rotation = Mat3::Identity();  // proper: det = +1
  Vec3 translation = Vec3::Zero();   // Å
  double rmsd = 0;                   // Å, over the atoms after the fit
  double largest_deviation = 0;      // Å, the atom farthest from its deck position after the fit
};

// The least-squares fit (best_rigid_motion: Kabsch's, never a reflection).
// Unweighted: every atom counts the same, because the fit
// compares two geometries, one per file, while the deck's masses change from
// mass set to mass set; the RMSD is then the plain geometric distance the
// acceptance limit is stated in. The two lists must have the same length.
FrameFit fit_frame(const std::vector<Vec3>& file_positions, const std::vector<Vec3>& deck_positions);

// R H Rᵀ applied to every 3 × 3 atom block: the Hessian in the rotated frame.
Matrix rotate_hessian(const Matrix& hessian, const Mat3& rotation);

// Dipole derivatives (3N × 3, rows the Cartesian displacements, columns the
// dipole components; HessianFile::dipole_derivatives) in the rotated frame.
// Both indices turn: D' = K D Rᵀ with K the block diagonal of R, one block
// per atom, i.e. R D_a Rᵀ for each atom's 3 × 3 block D_a (its atomic polar
// tensor, transposed).
Matrix rotate_dipole_derivatives(const Matrix& dipole_derivatives, const Mat3& rotation);

// Polarizability derivatives (3N × 6, components xx, xy, yy, xz, yz, zz;
// HessianFile::polarizability_derivatives) in the rotated frame: the
// displacement index turns as above (K), and each row's tensor as R α Rᵀ.
Matrix rotate_polarizability_derivatives(const Matrix& polarizability_derivatives, const Mat3& rotation);

// Throws InputError "FILE: line L: ..." unless the file's atoms are the
// deck's, in order and element (atomic numbers); `lines` gives the line of
// each atom's element in the file (HessianFile::atom_lines), may be empty.
void check_same_atoms(const std::string& file, const std::vector<int>& file_numbers,
                      const std::vector<int>& deck_numbers, const std::vector<int>& lines = {});

}  // namespace korven::kit
