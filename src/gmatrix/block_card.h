// The block card: the boundaries of the symmetry blocks of G', read and
// checked.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "records/units.h"

namespace korven {

// The first value of a block card that breaks the rule
// 1 = b1 < b2 < ... < bn = symmetry_count + 1: its position and value.
struct BlockCardFault {
  std::int32_t field;
  std::int32_t value;
};
std::optional<BlockCardFault> check_block_card(const std::vector<std::int32_t>& blocks,
                                               std::int32_t symmetry_count);

// Reads the block card under "(24I3)" (boundary_count values, continuing on
// further cards) and checks it. A boundary count below 2 reads no card. On a
// fault writes the block card error report and returns false.
bool read_block_card(Unit& deck, Unit& listing, std::int32_t problem_number,
                     std::int32_t boundary_count, std::int32_t symmetry_count,
                     std::vector<std::int32_t>& blocks);

}  // namespace korven
