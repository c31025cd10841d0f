// Runs the whole program in-process on an arbitrary deck: the dialogue is
// answered with the deck's name, the files live in a scratch directory.
// Every end of a run (the stop, a run-time failure, a floating-point trap)
// is a normal outcome; only a crash, a hang, a leak or a sanitizer report
// is a finding.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "driver/run.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path dir = fs::temp_directory_path() / ("korven_fuzz_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::current_path(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream deck("FUZZ.DAT", std::ios::binary | std::ios::trunc);
    deck.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::istringstream in("FUZZ.DAT\n");
  std::ostringstream out;
  std::ostringstream err;
  korven::run_korven({in, out, err, false});
  std::error_code ec;
  fs::remove("FUZZ.OUT", ec);
  fs::remove("dseta.tmp", ec);
  fs::remove("dsetb.tmp", ec);
  return 0;
}
