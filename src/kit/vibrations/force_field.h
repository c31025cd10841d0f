// A scaled quantum-mechanical force field and its fit to observed
// wavenumbers: internal force constants from a Cartesian Hessian, scale
// factors per group of coordinates (Pulay, Fogarasi, Pongor, Boggs &
// Vargha, J. Am. Chem. Soc. 105, 7037, 1983), individually refined
// elements, the GF wavenumbers of every mass set (isotopologue) and the
// analytic derivatives of every eigenvalue with respect to every parameter.
//
// Units as in vibrations.h: B Ångström-based, masses in u, H in mdyn/Å, F in
// the conventional units (mdyn/Å, mdyn·Å/rad², mdyn/rad), λ in mdyn/(Å·u),
// wavenumbers in cm⁻¹ (CODATA 2018, wavenumber_from_eigenvalue).
//
// The parameters p of a model, in this order:
//   p[g]              g = 0 … groups − 1: the scale factor c_g (> 0) of group g;
//   p[groups + e]     e = 0 … refined − 1: the additive change Δ_e of refined
//                     element e.
// The scaled force field is
//   F′ = S F S + Σ_e Δ_e E_e,   S = diag(√c_g(i)),
// so F′ᵢⱼ = √(c_g(i) c_g(j)) Fᵢⱼ before refinement. For an element (i, j) in
// internal coordinates E_e = eᵢeⱼᵀ + eⱼeᵢᵀ (i ≠ j) or eᵢeᵢᵀ (i = j): Δ_e
// adds to F′ᵢⱼ and F′ⱼᵢ. For an element (i, j) in the symmetry coordinates
// of mass set m, E_e = Uₘᵀ (eᵢeⱼᵀ + eⱼeᵢᵀ) Uₘ (or Uₘᵀ eᵢeᵢᵀ Uₘ): since
// Uₘ Uₘᵀ = 1, Δ_e adds exactly to (Uₘ F′ Uₘᵀ)ᵢⱼ and its mirror and to no
// other element of F′_S = Uₘ F′ Uₘᵀ; every other mass set sees the same
// change through its own U. The start is c = 1, Δ = 0: F′ = F.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/base/least_squares.h"
#include "kit/base/linalg.h"
#include "kit/vibrations/vibrations.h"

namespace korven::kit {

// B⁺ = Bᵀ (B Bᵀ)⁺ = (Bᵀ B)⁺ Bᵀ is formed from the smaller of the two Gram
// matrices; their eigenvalues below this fraction of the largest count as
// zero (the translations and rotations B does not see, and a redundant
// set's dependences). Eigenvalues are squared singular values: this cuts
// singular values below about 3e-5 of the largest.
inline constexpr double kForceConstantRankRelative = 1e-9;

// F = (B⁺)ᵀ H B⁺, B NIC × 3N, H 3N × 3N (mdyn/Å). It does not depend on the
// masses. Over a non-redundant set that describes every vibration, with H
// at a stationary point, it is the F of analyze_vibrations; over a redundant
// set it is the F within the range of B, and Bᵀ F B = H for such an H.
// Throws InputError naming `source` when the sizes do not fit together.
Matrix internal_force_constants(const Matrix& b, const Matrix& hessian, const std::string& source = "hessian");

// One isotopologue: its masses, and optionally its symmetry coordinates
// with their blocks (the same rules as VibrationInput's u and blocks).
struct ForceFieldMassSet {
  std::vector<double> masses;     // u, one per atom
  std::optional<Matrix> u;        // NSC × NIC, orthonormal rows
  std::vector<ModeBlock> blocks;  // with u: tiling its rows in order; empty: one block
  std::string source;             // named in error messages
};

enum class ElementBasis { internal, symmetry };

// One element of F′ refined on top of the scale factors (see above).
struct RefinedElement {
  ElementBasis basis = ElementBasis::internal;
  int row = 0, column = 0;  // 0-based: internal coordinates, or rows of mass set `mass_set`'s U
  int mass_set = 0;         // whose U (symmetry basis only)
};

// The modes of one block at one set of parameters, in descending order of
// wavenumber: rank r (0-based) is column r. A mode is named by (block,
// rank); without U a mass set has one block, 0.
struct BlockModes {
  std::string species;  // the block's, empty without one
  Vector lambda;        // mdyn/(Å·u), descending
  Vector wavenumbers;   // cm⁻¹, wavenumber_from_eigenvalue(λ): an imaginary mode negative
  // NIC × modes: L in internal coordinates, L Lᵀ = G on the block's part of
  // G's range (with U: Uᵦᵀ Gᵦ Uᵦ) and Lᵀ F′ L = Λ (Wilson, Decius & Cross,
  // Molecular Vibrations, 1955, ch. 4).
  Matrix l;
  Matrix l_symmetry;    // the block's rows of U × modes: Uᵦ L; empty without U
  Matrix dlambda;       // modes × parameters: ∂λ_k/∂p_j
};

struct ForceFieldModes {
  std::vector<BlockModes> blocks;
};

// One observed band's modes: a single (block, rank), or several for a
// degenerate mode (the partners of a split degenerate species, or the
// degenerate ranks of one block). Their λ, ν̃ and derivatives are those of
// the mean λ over the set: the derivative of Σλ is the trace of Lᵀ ∂F′/∂p L
// over the subspace, whatever basis the eigensolver chose in it.
struct ModeMember {
  int block = 0;
  int rank = 0;
};

struct ModeValue {
  double lambda = 0;      // mean over the members
  double wavenumber = 0;  // cm⁻¹ of that λ
  Vector dlambda;         // per parameter
  Vector dwavenumber;     // per parameter, cm⁻¹: dν̃ = dλ · k / (2 √|λ|), ν̃ = k √λ
};

class ForceFieldModel {
 public:
  // b: NIC × 3N; f: NIC × NIC (from internal_force_constants); groups: one
  // 0-based group per internal coordinate (there are max + 1 groups; a group
  // that holds no coordinate is allowed and leaves no trace in the
  // wavenumbers). G_k = B M_k⁻¹ Bᵀ, its range and the blocks' bases are
  // formed here, once per mass set. Throws InputError naming the mass set's
  // source (or "force field") for sizes that do not fit together, masses
  // that are not positive, a U that is not orthonormal, blocks that do not
  // tile it, or a refined element out of range or in the symmetry
  // coordinates of a mass set without U.
  ForceFieldModel(Matrix b, Matrix f, std::vector<int> groups, std::vector<ForceFieldMassSet> mass_sets,
                  std::vector<RefinedElement> refined = {});

  int coordinates() const { return static_cast<int>(f_.rows()); }
  int groups() const { return groups_; }
  int refined() const { return static_cast<int>(refined_.size()); }
  int parameters() const { return groups_ + refined(); }
  int mass_sets() const { return static_cast<int>(sets_.size()); }
  const Matrix& f() const { return f_; }
  // G_k = B M_k⁻¹ Bᵀ of mass set k.
  const Matrix& g(int mass_set) const;
  // The number of modes of each block of mass set k (the rank of its part
  // of G); the same at any parameters.
  std::vector<int> block_sizes(int mass_set) const;
  // c = 1, Δ = 0.
  Vector start() const;

  // F′ at p. Throws std::domain_error for a scale factor that is not
  // positive or a parameter vector of the wrong length.
  Matrix scaled_force_field(const Vector& p) const;
  // The modes of every mass set at p, with derivatives when asked. One
  // symmetric eigenproblem per block; the derivatives are contractions of
  // the eigenvectors (first-order perturbation theory: dλ_k = l_kᵀ
  // (∂F′/∂p) l_k for L Lᵀ = G, Lᵀ F′ L = Λ). Throws as scaled_force_field.
  std::vector<ForceFieldModes> evaluate(const Vector& p, bool derivatives = true) const;

 private:
  // One block of one mass set, formed once: K = V Λ^½ over the eigenvalues
  // of the block's G above the cut (kGRangeRelative of the whole G's
  // largest, so every block counts rank alike), Q = Uᵦᵀ K its range in
  // internal coordinates (Q Qᵀ = Uᵦᵀ Gᵦ Uᵦ), and for each refined element
  // e the two rows a_e, b_e (rows 2e, 2e + 1) with Qᵀ E_e Q = a bᵀ + b aᵀ
  // (a aᵀ on the diagonal): rows i, j of Q, or of Uₘ Q.
  struct Block {
    std::string species;
    Matrix q, k, refined_rows;
  };
  struct SetData {
    Matrix g;
    bool symmetry = false;
    std::vector<Block> blocks;
  };
  SetData prepare(const Matrix& b, const ForceFieldMassSet& set) const;
  void solve_block(const Block& block, const Vector& s, const Vector& p, bool derivatives, BlockModes& out) const;

  Matrix f_;
  std::vector<int> group_of_;
  int groups_ = 0;
  std::vector<RefinedElement> refined_;
  std::vector<ForceFieldMassSet> mass_sets_;
  std::vector<SetData> sets_;
  Matrix group_indicator_;  // groups × NIC: 1 where coordinate i is in group g
};

// λ, ν̃ and their derivatives of one band made of `members` of a mass set's
// modes. Throws std::out_of_range for a member that does not exist.
ModeValue mode_value(const ForceFieldModes& modes, const std::vector<ModeMember>& members);

// An observed band: its wavenumber, weight and the calculated modes it is.
struct ObservedBand {
  int mass_set = 0;
  std::vector<ModeMember> members;  // one, or a degenerate set
  double wavenumber = 0;            // cm⁻¹
  double weight = 1;                // > 0
};

struct FitSettings {
  Vector start;                // empty: the model's start (c = 1, Δ = 0)
  std::vector<bool> fixed;     // per parameter; empty: none fixed
  // When set, each refined element's Δ is pulled toward 0 (F′ toward its
  // scaled value) by the prior row weight · Δ² ((cm⁻¹)² per unit of F
  // squared).
  std::optional<double> regularize;
  LeastSquaresOptions options;
};

struct ForceFieldFit {
  LeastSquaresResult result;       // values, errors, status per parameter (order above)
  std::vector<double> calculated;  // cm⁻¹ per band at the result
  std::vector<ForceFieldModes> modes;  // at the result
};

// Minimises Σ w (ν̃_obs − ν̃_calc)² over the free parameters (residual
// ν̃_obs − ν̃_calc, Jacobian −∂ν̃_calc/∂p). Throws InputError for a band whose
// mass set or members do not exist, and std::invalid_argument as
// least_squares does.
ForceFieldFit fit_force_field(const ForceFieldModel& model, const std::vector<ObservedBand>& bands,
                              const FitSettings& settings = {});

}  // namespace korven::kit
