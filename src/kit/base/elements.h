// The elements and their isotopes, from Open Babel's tables: symbols,
// atomic numbers, exact isotope masses, and molecular formulas in Hill order.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korven::kit {

// The largest atomic number the table knows (oganesson).
inline constexpr int kLastElement = 118;

// "Cl" for 17; "" for a number outside 1..kLastElement.
std::string element_symbol(int z);

// 17 for "Cl"; 0 for anything that is not an element symbol written in its
// usual case (first letter upper case, the rest lower case: "CL", "cl", "D"
// and "X" all give 0).
int element_number(std::string_view symbol);

// Exact mass (u) of the element's most abundant isotope: H 1.007825,
// C 12.000000, N 14.003074, O 15.994915. Throws std::out_of_range for a
// number outside 1..kLastElement.
double most_abundant_mass(int z);

struct Isotope {
  int z = 0;
  int mass_number = 0;
  double mass = 0;  // exact, u
};

// "2H", "13C", "18O", "37Cl" (mass number, then the symbol in its usual
// case); "D" and "T" stand for 2H and 3H. nullopt for text of any other form
// and for an isotope the table does not hold ("99C").
std::optional<Isotope> parse_isotope(std::string_view text);

// The element a deck's mass stands for: the closest isotope within 0.002 u
// (32S, not 32P 0.0018 u away), or else the element whose most abundant
// isotope is nearest within 0.6 u (a deck typed with average atomic
// weights); 0 when neither.
int element_of_mass(double mass);

// The element's covalent radius (Å) as Open Babel tabulates it (Cordero et
// al., Dalton Trans. 2008); 0 for an unknown atomic number.
double covalent_radius(int z);

// The formula in Hill order: carbon first, then hydrogen, then the other
// elements alphabetically; with no carbon, every element alphabetically
// (hydrogen included). Counts of 1 are left out: "CH4", "H2O", "F6S",
// "C6H6", "ClH". Throws std::invalid_argument for an unknown atomic number.
std::string hill_formula(const std::vector<int>& elements);

}  // namespace korven::kit
