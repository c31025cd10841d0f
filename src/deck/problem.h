// A problem as its cards give it: the problem card, the two titles and the
// atoms' Cartesian coordinates (the X matrix).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korven {

// Largest atom and internal coordinate numbers a listing field can show.
inline constexpr std::int32_t kMaxAtoms = 333;
inline constexpr std::int32_t kMaxCoordinates = 999;

struct Problem {
  std::int32_t control = 0;  // read from the problem card and never looked at
  std::int32_t number = 0;
  std::int32_t atoms = 0;        // N
  std::int32_t coordinates = 0;  // NIC
  std::int32_t save = 0;         // positive: B and U lists go to the scratch files
  std::string title1;            // 80 characters each
  std::string title2;
};

// Atom positions: positions[a - 1][k - 1] is component k (x, y, z) of atom a.
using Positions = std::vector<std::array<float, 3>>;

}  // namespace korven
