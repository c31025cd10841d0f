// Element lists: sparse matrices as (row, column, value) triples, closed by
// an end entry, listed four to a record for the companion programs and
// stored as one unformatted record in a scratch file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "records/units.h"

namespace korven {

// An element is kept only when the quantity tested is strictly above this in
// magnitude (the single nearest 5.0E-5, 4.99999987E-05).
inline constexpr float kSizeThreshold = 5.0E-5f;

struct Element {
  std::int32_t row;
  std::int32_t col;
  float value;
};

// Once closed, the last entry is the end entry; the element count excludes it.
using ElementList = std::vector<Element>;

inline std::int32_t element_count(const ElementList& list) {
  return list.empty() ? 0 : static_cast<std::int32_t>(list.size()) - 1;
}

// The element records: all entries, end entry included, as one write under
// "(4(2I3,F12.6))".
void write_element_records(Unit& listing, const Element* first, std::size_t count);
inline void write_element_records(Unit& listing, const ElementList& list) {
  write_element_records(listing, list.data(), list.size());
}

// Rewinds the scratch unit and writes the whole list (end entry included) as
// one unformatted record: row, column, value, 4 bytes each, entry by entry.
void store_element_list(Units& units, int unit_number, const ElementList& list);
// Rewinds the scratch unit and reads `entries` entries from its first record.
void reload_element_list(Units& units, int unit_number, ElementList& list, std::size_t entries);

}  // namespace korven
