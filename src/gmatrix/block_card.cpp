// The block card: its boundaries read and held to the rule
// 1 = b1 < b2 < ... < bn = symmetry count + 1.
#include "gmatrix/block_card.h"

#include "records/listing_layouts.h"
#include "records/record_io.h"

namespace korven {

namespace {

std::size_t index_of(std::int32_t i) { return static_cast<std::size_t>(i); }

}  // namespace

std::optional<BlockCardFault> check_block_card(const std::vector<std::int32_t>& blocks,
                                               std::int32_t symmetry_count) {
  const std::size_t n = blocks.size();
  if (n < 2) return BlockCardFault{0, static_cast<std::int32_t>(n)};
  const std::int64_t past_last = static_cast<std::int64_t>(symmetry_count) + 1;
  for (std::size_t i = 0; i < n; ++i) {
    const std::int32_t value = blocks[i];
    bool fits;
    if (i == 0) {
      fits = value == 1;
    } else if (i + 1 < n) {
      fits = value > blocks[i - 1] && value < past_last;
    } else {
      fits = value > blocks[i - 1] && value == past_last;
    }
    if (!fits) return BlockCardFault{static_cast<std::int32_t>(i + 1), value};
  }
  return std::nullopt;
}

bool read_block_card(Unit& deck, Unit& listing, std::int32_t problem_number,
                     std::int32_t boundary_count, std::int32_t symmetry_count,
                     std::vector<std::int32_t>& blocks) {
  blocks.clear();
  std::optional<BlockCardFault> fault;
  if (boundary_count < 2) {
    fault = BlockCardFault{0, boundary_count};
  } else {
    blocks.assign(index_of(boundary_count), 0);
    ReadStatement rd(deck, "(24I3)");
    for (std::int32_t& value : blocks) rd.read_integer(value);
    rd.end_read();
    fault = check_block_card(blocks, symmetry_count);
  }
  if (!fault) return true;
  write_record(listing, "");
  write_record(listing, layouts::kBlockCardError, problem_number, fault->field, fault->value);
  return false;
}

}  // namespace korven
