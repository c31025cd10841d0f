// The symmetrized G section of the listing: G' = U G U^T block by block, with
// the factoring test. This header also brings in the parts the section is
// made of (the U matrix, the block card, the row kernel and the second
// thread), so that one include serves a caller of the whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bmatrix/element_list.h"
#include "gmatrix/block_card.h"
#include "gmatrix/g_matrix.h"
#include "gmatrix/rows_formed_ahead.h"
#include "gmatrix/symmetrized_rows.h"
#include "gmatrix/u_matrix.h"
#include "records/units.h"

namespace korven {

// The factoring report of G'(row, column), an element beyond its block.
void write_factoring_report(Unit& listing, std::int32_t row, std::int32_t column, float value);

// The symmetrized G section: heading, then per block its heading, the
// factoring reports and the block list. blocks is a checked block card. The
// rows come from `ahead` when given (made for this symmetry_count, not yet
// started), else from a worker of its own.
void symmetrize_g(Unit& listing, std::int32_t problem_number, const std::string& title,
                  const std::vector<std::int32_t>& blocks, const ElementList& g,
                  const ElementList& u, std::int32_t nic, std::int32_t symmetry_count,
                  RowsFormedAhead* ahead = nullptr);

}  // namespace korven
