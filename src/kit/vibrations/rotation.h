// The rigid rotor of one mass set: the principal-axis frame, the principal
// moments and rotational constants, the rotor type and Ray's asymmetry
// parameter; the normal modes carried into that frame, and the derivatives
// of the inertia tensor along each normal coordinate, which the Coriolis and
// centrifugal-distortion constants are built from.
//
// Units: positions Å, masses u, moments u Å², normal coordinates Q_k in
// u^½ Å (mass-weighted), inertia derivatives u^½ Å, eigenvalues λ_k in
// mdyn/(Å·u).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/linalg.h"

namespace korven::kit {

// Every judgement the molecular constants make, with its threshold.
struct ConstantsTolerances {
  // Two principal moments are equal (a symmetric or spherical top) when they
  // differ by at most this fraction of the largest; the molecule is linear
  // when its smallest moment is at most this fraction of the largest.
  double moment_relative = 1e-4;
  // Planar when the inertial defect |I_c − I_a − I_b| is at most this
  // fraction of I_c.
  double planar_relative = 1e-4;
  // A principal axis lies along a deck axis when 1 − |cos angle| ≤ this.
  double axis_alignment = 1e-6;
  // Two modes are degenerate when their eigenvalues differ by at most this
  // fraction of the larger.
  double eigenvalue_relative = 1e-4;
  // A rotation about the top's axis maps the molecule onto itself when every
  // atom lands within this distance (Å) of an atom of the same mass.
  double symmetry_position = 1e-3;
  // Modes below this wavenumber (cm⁻¹), and imaginary ones, are refused.
  double minimum_wavenumber = 1.0;
  // The modes' columns must be orthonormal, and orthogonal to the
  // translations and rotations, to within this.
  double orthonormal = 1e-6;
};

enum class RotorType { linear, spherical, prolate, oblate, asymmetric };
// "linear", "spherical", "prolate", "oblate", "asymmetric".
std::string_view rotor_type_name(RotorType type);

// The principal-axis frame. Axes are labelled a, b, c with I_a ≤ I_b ≤ I_c.
// Sense: a and b point towards the positive side of their largest deck
// component, and c = a × b, so the frame is right-handed. Within a set of
// equal moments the axes are not fixed by the inertia tensor, and the frame
// takes the deck's: a spherical top keeps the deck's x, y, z as a, b, c; a
// symmetric top keeps its unique axis (a prolate, c oblate; sense as above)
// and puts the first of the other two along the deck axis that lies closest
// to the degenerate plane (x before y before z on a tie), the second
// completing the right-handed frame. Equal moments are reported as their mean.
struct PrincipalFrame {
  Vec3 centre_of_mass = Vec3::Zero();  // Å, input frame
  Mat3 axes = Mat3::Identity();        // columns a, b, c: unit vectors in the input frame
  Vec3 moments = Vec3::Zero();         // I_a, I_b, I_c in u Å²; I_a = 0 for a linear molecule
  // For each of a, b, c the deck axis (0 x, 1 y, 2 z) it lies along, in
  // either sense, when it does.
  std::array<std::optional<int>, 3> along_deck_axis;
  RotorType type = RotorType::asymmetric;
  // The symmetry axis of a symmetric top or a linear molecule: 0 (a) for a
  // prolate top or a linear molecule, 2 (c) for an oblate top.
  std::optional<int> unique_axis;
};

// Throws InputError naming `source` for fewer than two atoms or atoms that
// all coincide.
PrincipalFrame principal_frame(const std::vector<Vec3>& positions, const std::vector<double>& masses,
                               const ConstantsTolerances& tolerances, const std::string& source);

// B = h / (8π² I): in MHz for I in u Å² (505379.0… / I), and in cm⁻¹.
double rotational_constant_mhz(double moment);
double rotational_constant_wavenumber(double moment);

struct RotationalConstants {
  PrincipalFrame frame;
  // A, B, C; A is null for a linear molecule (I_a = 0).
  std::array<std::optional<double>, 3> mhz, wavenumbers;
  // Ray's κ = (2B − A − C) / (A − C) (Ray, Z. Phys. 1932): −1 prolate, +1
  // oblate; null for linear molecules and spherical tops.
  std::optional<double> kappa;
  double inertial_defect = 0;  // I_c − I_a − I_b, u Å²; 0 for a planar molecule at equilibrium
  bool planar = false;         // nonlinear, with the defect within tolerance
};

RotationalConstants rotational_constants(const PrincipalFrame& frame, const ConstantsTolerances& tolerances);

// The modes and geometry of one mass set in its principal-axis frame.
struct PrincipalModes {
  std::vector<Vec3> positions;     // Å, from the centre of mass, components along a, b, c
  std::vector<double> masses;      // u
  Matrix modes;                    // 3N × n, mass-weighted, components along a, b, c
  std::vector<double> eigenvalues; // λ_k, mdyn/(Å·u)
};

// Positions and mass-weighted modes given in the input frame, carried into
// the principal frame: r′ = Rᵀ (r − centre), l′_i = Rᵀ l_i for each atom i,
// R the matrix of the axes.
PrincipalModes to_principal_frame(const PrincipalFrame& frame, const std::vector<Vec3>& positions,
                                  const std::vector<double>& masses, const Matrix& modes,
                                  const std::vector<double>& eigenvalues);

// a_k^{αβ} = ∂I_αβ/∂Q_k = Σ_i √m_i (2 (r_i · l_ik) δ_αβ − r_iα l_ikβ − l_ikα r_iβ),
// one 3 × 3 matrix per mode, in u^½ Å (the displacement of atom i along
// normal coordinate k is l_ik Q_k / √m_i). With the Eckart conditions this
// is the familiar 2 Σ_i √m_i ((r_i · l_ik) δ_αβ − r_iα l_ikβ) (Kivelson &
// Wilson, J. Chem. Phys. 1952; Gordy & Cook, Microwave Molecular Spectra,
// 3rd ed., 1984, ch. 8).
std::vector<Mat3> inertia_derivatives(const PrincipalModes& modes);

}  // namespace korven::kit
