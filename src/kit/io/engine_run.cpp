#include "kit/io/engine_run.h"

#include <cfenv>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "driver/deck_name.h"
#include "driver/run.h"
#include "kit/base/kit_error.h"
#include "kit/io/listing_reader.h"

namespace korven::kit {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDeckName = "DECK.DAT";
constexpr const char* kListingName = "DECK.OUT";

// A fresh private folder, removed with everything in it at the end.
class RunFolder {
 public:
  explicit RunFolder(const std::string& deck_name) {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) throw input_error(deck_name, "no temporary folder to run it in: " + ec.message());
    std::string templ = (base / "korvenkit-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) throw input_error(deck_name, "cannot make a folder to run it in");
    path_ = templ;
  }
  ~RunFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The working directory for the run; the previous one comes back at the end.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const fs::path& to) : previous_(fs::current_path()) { fs::current_path(to); }
  ~WorkingDirectory() {
    std::error_code ec;
    fs::current_path(previous_, ec);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  fs::path previous_;
};

// The floating-point environment of the caller, put back after the run:
// the engine turns its traps on for the run and must leave none behind.
class FpEnvironment {
 public:
  FpEnvironment() { std::fegetenv(&saved_); }
  ~FpEnvironment() { std::fesetenv(&saved_); }
  FpEnvironment(const FpEnvironment&) = delete;
  FpEnvironment& operator=(const FpEnvironment&) = delete;

 private:
  std::fenv_t saved_;
};

}  // namespace

EngineRun run_engine(const fs::path& deck) {
  const std::string name = deck.string();
  std::error_code ec;
  if (!fs::is_regular_file(deck, ec)) throw input_error(name, "no such deck");
  RunFolder folder(name);
  if (!fs::copy_file(deck, folder.path() / kDeckName, ec) || ec)
    throw input_error(name, "cannot be copied to run it: " + ec.message());

  EngineRun run;
  std::istringstream in(std::string(kDeckName) + "\n");
  std::ostringstream out;
  std::ostringstream err;
  {
    const FpEnvironment fp;
    const WorkingDirectory here(folder.path());
    run.status = korven::run_korven(ConsoleStreams{in, out, err, false});
  }
  run.console_out = out.str();
  run.console_err = err.str();
  std::ifstream listing(folder.path() / kListingName, std::ios::binary);
  if (listing) {
    std::ostringstream text;
    text << listing.rdbuf();
    run.listing = text.str();
  }
  return run;
}

std::string engine_failure_line(const EngineRun& run) {
  std::string line;
  std::istringstream lines(run.console_err);
  std::string piece;
  while (std::getline(lines, piece)) {
    if (!piece.empty() && piece.back() == '\r') piece.pop_back();
    if (piece.empty()) continue;
    if (!line.empty()) line += "; ";
    line += piece;
  }
  return line.empty() ? "exit status " + std::to_string(run.status) : line;
}

Listing run_and_read(const fs::path& deck) {
  const EngineRun run = run_engine(deck);
  if (run.status != 0)
    throw input_error(deck.string(), "KORVEN ended with a run-time failure: " + engine_failure_line(run));
  return read_listing(run.listing, deck.string() + " (its listing)");
}

std::string deck_name_fault(const std::filesystem::path& deck) {
  std::string why;
  if (usable_deck_name(deck.filename().string(), &why)) return "";
  return why;
}

}  // namespace korven::kit
