// Helpers shared by the B matrix tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "bmatrix/element_list.h"
#include "deck/problem.h"

namespace korven::testing {

inline Positions positions(std::initializer_list<std::array<float, 3>> atoms) {
  return Positions(atoms);
}

// The list must hold exactly the expected entries, in order; values agree to
// single-precision accuracy.
inline void expect_elements(const ElementList& actual, const std::vector<Element>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t n = 0; n < expected.size(); ++n) {
    SCOPED_TRACE(::testing::Message() << "entry " << n + 1);
    EXPECT_EQ(actual[n].row, expected[n].row);
    EXPECT_EQ(actual[n].col, expected[n].col);
    EXPECT_NEAR(actual[n].value, expected[n].value, 2e-6 * (1.0 + std::fabs(expected[n].value)));
  }
}

// The same list with every value multiplied by s.
inline std::vector<Element> scaled(std::vector<Element> list, double s) {
  for (Element& e : list) e.value = static_cast<float>(e.value * s);
  return list;
}

}  // namespace korven::testing
