// The kit's readers of files it did not write: listings, decks and Hessian
// files, each on arbitrary bytes. The first byte picks the reader. A clear
// InputError is the normal outcome of bad input; any other exception, a
// crash, a hang, a leak or a sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "kit/model/deck_notes.h"
#include "kit/io/deck_replay.h"
#include "kit/io/hessian_input.h"
#include "kit/base/kit_error.h"
#include "kit/io/listing_reader.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path dir = fs::temp_directory_path() / ("korvenkit_fuzz_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::current_path(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  {
    std::ofstream file("FUZZ.IN", std::ios::binary | std::ios::trunc);
    file << text;
  }
  using namespace korven::kit;
  try {
    switch (data[0] % 6) {
      case 0: read_listing(text, "FUZZ.OUT"); break;
      case 1: read_deck_notes(replay_deck("FUZZ.IN").comments); break;
      case 2: read_hessian("FUZZ.IN", HessianFormat::fchk, HessianUnits::hartree_per_bohr2, 0); break;
      case 3: read_hessian("FUZZ.IN", HessianFormat::orca, HessianUnits::hartree_per_bohr2, 0); break;
      case 4: read_hessian("FUZZ.IN", HessianFormat::text, HessianUnits::mdyn_per_angstrom, 0); break;
      default: read_hessian("FUZZ.IN", HessianFormat::text, HessianUnits::hartree_per_bohr2, 2); break;
    }
  } catch (const InputError&) {
  }
  return 0;
}
