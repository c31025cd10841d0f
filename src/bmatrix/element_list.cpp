// Element lists in the listing (four entries to a record) and in the scratch
// files (one unformatted record of 12 bytes per entry).
#include "bmatrix/element_list.h"

#include <cstring>
#include <span>
#include <vector>

#include "records/direct_record.h"

namespace korven {

namespace {

constexpr std::size_t kEntryBytes = 12;

}  // namespace

// The write under layouts::kElementRecords, "(4(2I3,F12.6))", field for
// field: four entries to a
// record, the last record holding the rest, one empty record for no entries.
void write_element_records(Unit& listing, const Element* first, std::size_t count) {
  DirectRecord record;
  for (std::size_t n = 0; n < count; ++n) {
    if (n > 0 && n % 4 == 0) record.put(listing);
    record.integer(first[n].row, 3).integer(first[n].col, 3).fixed(first[n].value, 12, 6);
  }
  record.put(listing);
}

void store_element_list(Units& units, int unit_number, const ElementList& list) {
  std::vector<std::byte> bytes(list.size() * kEntryBytes);
  std::byte* out = bytes.data();
  for (const Element& e : list) {
    std::memcpy(out, &e.row, 4);
    std::memcpy(out + 4, &e.col, 4);
    std::memcpy(out + 8, &e.value, 4);
    out += kEntryBytes;
  }
  units.rewind_unit(unit_number);
  units.write_record_unformatted(unit_number, bytes);
}

void reload_element_list(Units& units, int unit_number, ElementList& list, std::size_t entries) {
  std::vector<std::byte> bytes(entries * kEntryBytes);
  units.rewind_unit(unit_number);
  units.read_record_unformatted(unit_number, bytes);
  list.resize(entries);
  const std::byte* in = bytes.data();
  for (Element& e : list) {
    std::memcpy(&e.row, in, 4);
    std::memcpy(&e.col, in + 4, 4);
    std::memcpy(&e.value, in + 8, 4);
    in += kEntryBytes;
  }
}

}  // namespace korven
