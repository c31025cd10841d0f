#include "kit/base/elements.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <stdexcept>

// Open Babel's headers do not build clean under our warnings.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <openbabel/elements.h>
#pragma GCC diagnostic pop

namespace korven::kit {

namespace {

bool known(int z) { return z >= 1 && z <= kLastElement; }

}  // namespace

std::string element_symbol(int z) {
  if (!known(z)) return "";
  return OpenBabel::OBElements::GetSymbol(static_cast<unsigned>(z));
}

int element_number(std::string_view symbol) {
  // Open Babel's own lookup is lenient about case and maps D and T to
  // hydrogen; compare against its symbols instead, exactly.
  if (symbol.empty() || symbol.size() > 3) return 0;
  for (int z = 1; z <= kLastElement; ++z) {
    if (symbol == OpenBabel::OBElements::GetSymbol(static_cast<unsigned>(z))) return z;
  }
  return 0;
}

double most_abundant_mass(int z) {
  if (!known(z)) throw std::out_of_range("no element with atomic number " + std::to_string(z));
  // Open Babel's isotope 0 is the most abundant isotope (its element table's
  // exact mass), not the average atomic weight that GetMass gives.
  return OpenBabel::OBElements::GetExactMass(static_cast<unsigned>(z), 0);
}

std::optional<Isotope> parse_isotope(std::string_view text) {
  Isotope iso;
  if (text == "D" || text == "T") {
    iso.z = 1;
    iso.mass_number = text == "D" ? 2 : 3;
  } else {
    // Mass number: 1 to 3 digits, no leading zero.
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0 || digits > 3 || text[0] == '0') return std::nullopt;
    std::from_chars(text.data(), text.data() + digits, iso.mass_number);
    iso.z = element_number(text.substr(digits));
    if (iso.z == 0) return std::nullopt;
  }
  // A mass number cannot be below the atomic number; Open Babel answers 0
  // for a mass number its isotope table does not hold.
  if (iso.mass_number < iso.z) return std::nullopt;
  iso.mass = OpenBabel::OBElements::GetExactMass(static_cast<unsigned>(iso.z),
                                                 static_cast<unsigned>(iso.mass_number));
  if (!(iso.mass > 0)) return std::nullopt;
  return iso;
}

int element_of_mass(double mass) {
  static const std::vector<std::pair<double, int>> isotopes = [] {
    std::vector<std::pair<double, int>> t;
    for (int z = 1; z <= kLastElement; ++z)
      for (int a = z; a <= 3 * z + 20; ++a)
        if (const auto iso = parse_isotope(std::to_string(a) + element_symbol(z))) t.emplace_back(iso->mass, z);
    return t;
  }();
  int nearest = 0;
  double reach = 0.002;
  for (const auto& [m, z] : isotopes)
    if (std::abs(m - mass) < reach) reach = std::abs(m - mass), nearest = z;
  if (nearest > 0) return nearest;
  double gap = 0.6;
  for (int z = 1; z <= kLastElement; ++z)
    if (std::abs(most_abundant_mass(z) - mass) < gap) gap = std::abs(most_abundant_mass(z) - mass), nearest = z;
  return nearest;
}

std::string hill_formula(const std::vector<int>& elements) {
  std::map<std::string, int> counts;  // ordered by symbol: alphabetical
  for (int z : elements) {
    if (!known(z)) throw std::invalid_argument("no element with atomic number " + std::to_string(z));
    ++counts[element_symbol(z)];
  }
  std::string formula;
  auto emit = [&formula](const std::string& symbol, int count) {
    formula += symbol;
    if (count > 1) formula += std::to_string(count);
  };
  if (counts.count("C")) {
    emit("C", counts["C"]);
    counts.erase("C");
    if (counts.count("H")) {
      emit("H", counts["H"]);
      counts.erase("H");
    }
  }
  for (const auto& [symbol, count] : counts) emit(symbol, count);
  return formula;
}

double covalent_radius(int z) {
  if (z < 1 || z > 118) return 0;
  return OpenBabel::OBElements::GetCovalentRad(static_cast<unsigned>(z));
}

}  // namespace korven::kit
