// Character tables of the molecular point groups: every operation of a group
// in its standard frame, the class of each operation, and the real species
// (Mulliken labels) with their characters. The axis conventions and the
// generator of the axial families are written down in character_tables.cpp.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/linalg.h"

namespace korven::kit {

// The molecular point groups as a typed value: the family and, for the
// axial families, the order of the principal axis (for S2n the order of the
// S axis, 2n). Cinfv and Dinfh are the linear molecules' groups, which have
// no finite table: the kit works in C2v and D2h for them.
enum class GroupFamily { C1, Cs, Ci, Cn, Cnv, Cnh, Dn, Dnh, Dnd, S2n, T, Td, Th, O, Oh, I, Ih, Cinfv, Dinfh };

struct GroupType {
  GroupFamily family = GroupFamily::C1;
  int n = 1;

  // The ASCII Schoenflies name: "C1", "Cs", "C3v", "D6h", "S4", "Td", "Dinfh".
  std::string name() const;
  bool linear() const { return family == GroupFamily::Cinfv || family == GroupFamily::Dinfh; }
  bool operator==(const GroupType&) const = default;
};

// The group named in ASCII Schoenflies form (C1 Cs Ci Cn Cnv Cnh Dn Dnh Dnd
// S2n T Td Th O Oh I Ih Cinfv Dinfh); nullopt for any other text.
std::optional<GroupType> parse_group(std::string_view name);

// One real species. `separable` marks a pair of complex-conjugate
// irreducible representations kept together as one real species of twice
// their dimension (E in C3, E1 in C5h, Eg in Th, E in S4): its characters
// are the sums of the pair's, and its two real partners are not separated.
struct Species {
  std::string label;
  int dimension = 1;
  bool separable = false;
  std::vector<double> characters;  // one per class
  // Selection rules of a fundamental of this species, from the table's own
  // operations: infrared active when the species occurs in the
  // representation of a vector (x, y, z: the dipole), Raman active when it
  // occurs in that of a symmetric tensor (x², y², z², xy, xz, yz: the
  // polarizability).
  bool ir_active = false;
  bool raman_active = false;
};

struct CharacterTable {
  std::string group;                     // ASCII Schoenflies: "C2v", "D6h", "Ih"
  std::vector<Mat3> operations;          // the whole group in the standard frame
  std::vector<int> operation_class;      // class of each operation
  std::vector<std::string> class_names;  // "E", "C3", "sv", "S4", ...
  std::vector<int> class_sizes;
  std::vector<Species> species;          // in the table's standard order
  // The species in Herzberg's order (indices into `species`): the
  // nondegenerate ones first, then the degenerate ones; within each, by
  // primes (' before ''), letter (A, B, E, T, G, H), subscript number, and g
  // before u — so that g and u of a letter stand together (D2h: Ag, Au, B1g,
  // B1u, …; D3h: A1', A2', A1'', A2'', E', E'').
  std::vector<int> herzberg_order;

  int order() const { return static_cast<int>(operations.size()); }
  double character(int species_index, int operation) const {
    return species[species_index].characters[operation_class[operation]];
  }
  // The multiplicity of a species in the representation whose character on
  // operation k is chi[k] (a separable pair counted once).
  int multiplicity(int species_index, const std::vector<double>& chi) const;
  // The species of this label, or -1.
  int index_of(const std::string& label) const;
};

// The table of a finite group: C1 Cs Ci Cn Cnv Cnh Dn Dnh Dnd (2 <= n <= 60)
// S2n (4 <= 2n <= 120) T Td Th O Oh I Ih. Tables are built once and cached.
// Throws std::invalid_argument for a group outside those (a linear group,
// an axis of order above 60).
const CharacterTable& character_table(GroupType group);

}  // namespace korven::kit
