// Drives the field reader directly: the first byte picks the field kind and
// the implied decimals, the rest is the field's text; and the whole input is
// also read as a card under the program's input layouts.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "records/field_input.h"
#include "records/fp_trap.h"
#include "records/record_io.h"
#include "records/run_end.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  korven::FpTrapScope traps;
  if (data[0] & 1) {
    (void)korven::convert_integer_field(text);
  } else {
    (void)korven::convert_real_field(text, data[0] >> 1 & 15);
  }
  // The same bytes as console lines, read under every input layout of the
  // program until the input ends.
  static const char* const kLayouts[] = {"(I3)", "(I3,I6,5I4)", "(A)", "(4(2I3,F12.6))", "(24I3)", "(3F12.6)",
                                         "(4I3,A)", "(6F12.6)"};
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::ostringstream out;
  std::ostringstream err;
  korven::Units units({in, out, err, (data[0] & 2) != 0});
  for (int i = 0; i < 64 && (i == 0 || units.console_took_line()); ++i) {
    korven::ReadStatement read(units.console_in(), kLayouts[static_cast<unsigned>(i) % 8], true);
    std::int32_t n = 0;
    float r = 0;
    std::string t;
    try {
      // Items of the wrong kind for the layout end the statement with a
      // run-time failure; that is a normal outcome here.
      for (int item = 0; item < 30; ++item) {
        switch ((item + i) % 3) {
          case 0: read.read_integer(n); break;
          case 1: read.read_real(r); break;
          default: read.read_text(t, 60); break;
        }
      }
    } catch (const korven::RunFailure&) {
    }
    (void)read.end_read();
  }
  return 0;
}
