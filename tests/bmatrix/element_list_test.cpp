#include "bmatrix/element_list.h"

#include <gtest/gtest.h>

#include "records/record_io.h"
#include "run_files.h"

namespace korven {
namespace {

using namespace testing;

// The element records are written field for field; a write statement under
// their layout must give the same records for every count and value.
TEST(ElementRecords, SameAsTheWriteUnderTheirLayout) {
  const std::vector<float> values = awkward_reals(17, 2000);
  const std::int32_t indices[] = {0, 1, -1, 9, -9, 10, -99, 999, 1000, -100, 2147483647};
  std::vector<Element> entries;
  for (std::size_t n = 0; n < values.size(); ++n) {
    entries.push_back({indices[n % 11], indices[(n / 11 + 3 * n) % 11], values[n]});
  }
  for (std::size_t count : {0u, 1u, 3u, 4u, 5u, 8u, 9u, 2011u}) {
    SCOPED_TRACE(count);
    RunFiles direct(""), layout("");
    write_element_records(direct.listing_unit(), entries.data(), count);
    WriteStatement s(layout.listing_unit(), "(4(2I3,F12.6))");
    for (std::size_t n = 0; n < count; ++n) {
      s.write_integer(entries[n].row).write_integer(entries[n].col).write_real(entries[n].value);
    }
    s.end_write();
    EXPECT_EQ(direct.listing(), layout.listing());
  }
}

}  // namespace
}  // namespace korven
