// The element and isotope table against the atomic mass evaluation
// (AME2016, as tabulated by IUPAC), and Hill formulas written out by hand.
// Open Babel's isotope table predates AME2016 by a few revisions: it agrees
// to 1.4e-6 u (18O), hence the tolerance.
#include <gtest/gtest.h>

#include "kit/base/elements.h"

namespace korven::kit {
namespace {

TEST(Elements, MostAbundantIsotopeMassesAreTheTextbookOnes) {
  struct Case {
    const char* symbol;
    int z;
    double mass;  // u, the most abundant isotope
  };
  const std::vector<Case> cases = {
      {"H", 1, 1.00782503}, {"C", 6, 12.0},         {"N", 7, 14.00307401},  {"O", 8, 15.99491462},
      {"F", 9, 18.99840316}, {"S", 16, 31.97207117}, {"Cl", 17, 34.96885268}, {"Br", 35, 78.9183376},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.symbol);
    EXPECT_EQ(element_number(c.symbol), c.z);
    EXPECT_EQ(element_symbol(c.z), c.symbol);
    EXPECT_NEAR(most_abundant_mass(c.z), c.mass, 2e-6);
  }
  for (const char* bad : {"CL", "cl", "D", "X", "Xx", ""}) EXPECT_EQ(element_number(bad), 0) << bad;
  EXPECT_EQ(element_symbol(0), "");
  EXPECT_EQ(element_symbol(kLastElement + 1), "");
}

TEST(Elements, IsotopesParseOrAreRefused) {
  struct Case {
    const char* text;
    int z;            // 0: refused
    int mass_number;
    double mass;
  };
  const std::vector<Case> cases = {
      {"2H", 1, 2, 2.01410178},    {"D", 1, 2, 2.01410178},     {"T", 1, 3, 3.01604928},
      {"13C", 6, 13, 13.00335484}, {"12C", 6, 12, 12.0},        {"15N", 7, 15, 15.00010890},
      {"18O", 8, 18, 17.99915961}, {"37Cl", 17, 37, 36.96590260},
      {"99C", 0, 0, 0}, {"1C", 0, 0, 0},  {"0C", 0, 0, 0},   {"013C", 0, 0, 0}, {"13", 0, 0, 0},
      {"C", 0, 0, 0},   {"2h", 0, 0, 0},  {"37CL", 0, 0, 0}, {"13CC", 0, 0, 0}, {"2 H", 0, 0, 0},
      {"", 0, 0, 0},    {"1000H", 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<Isotope> iso = parse_isotope(c.text);
    if (c.z == 0) {
      EXPECT_FALSE(iso.has_value());
      continue;
    }
    ASSERT_TRUE(iso.has_value());
    EXPECT_EQ(iso->z, c.z);
    EXPECT_EQ(iso->mass_number, c.mass_number);
    EXPECT_NEAR(iso->mass, c.mass, 2e-6);
  }
}

TEST(Elements, HillFormulas) {
  struct Case {
    std::vector<int> elements;
    const char* formula;
  };
  const std::vector<Case> cases = {
      {{8, 1, 1}, "H2O"},
      {{1, 6, 1, 1, 1}, "CH4"},
      {{6, 6, 6, 6, 6, 6, 1, 1, 1, 1, 1, 1}, "C6H6"},
      {{16, 9, 9, 9, 9, 9, 9}, "F6S"},
      {{1, 17}, "ClH"},
      {{6, 1, 9, 17, 35}, "CHBrClF"},
      {{7, 1, 1, 1, 5, 1, 1, 1}, "BH6N"},
      {{8, 6, 8}, "CO2"},
      {{7, 7}, "N2"},
  };
  for (const Case& c : cases) EXPECT_EQ(hill_formula(c.elements), c.formula);
  EXPECT_THROW(hill_formula({1, 0}), std::invalid_argument);
}

TEST(Elements, TheElementADecksMassStandsFor) {
  const std::vector<std::pair<double, int>> cases = {
      {1.007825, 1},   {2.014102, 1},  {15.994915, 8}, {12.0, 6},  // exact isotope masses
      {31.972071, 16},                                      // 32S, with 32P 0.0018 u away
      {1.008, 1},      {35.45, 17},    {32.06, 16},         // average atomic weights
      {0.3, 0},                                             // nothing near
  };
  for (const auto& [mass, z] : cases) EXPECT_EQ(element_of_mass(mass), z) << mass;
}

}  // namespace
}  // namespace korven::kit
