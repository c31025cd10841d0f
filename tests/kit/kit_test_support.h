// Shared by the kit's tests: a temporary folder, runs of the real programs,
// and the table of test molecules.
#pragma once

#include <sys/wait.h>

#include <cctype>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace korven::kit::testing {

// Whether this build is one the time limits are stated for (optimised, with
// no sanitizer or Valgrind).
inline constexpr bool kTimedBuild = KORVEN_TIMED_TESTS != 0;

// Processor seconds used by this process so far. The time limits of work
// done in the test's own process are taken on it, so that they hold when
// ctest runs other tests on the same cores (wall time then grows with the
// load, processor time hardly).
inline double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Valgrind preloads its own library; timed tests skip themselves under it.
inline bool under_valgrind() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload && std::string(preload).find("vgpreload") != std::string::npos;
}

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void spill(const std::filesystem::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// A fresh folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvenkit_test_XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

// Runs `korvenkit ARGS` in `dir` through the shell, standard input from
// `input` when given.
inline ProgramRun run_korvenkit(const std::filesystem::path& dir, const std::string& args,
                                const std::string& input = "") {
  const std::filesystem::path in = dir / ".stdin", out = dir / ".stdout", err = dir / ".stderr";
  spill(in, input);
  const std::string command = "cd '" + dir.string() + "' && '" KORVENKIT_BINARY "' " + args + " < '" + in.string() +
                              "' > '" + out.string() + "' 2> '" + err.string() + "'";
  const int raw = std::system(command.c_str());
  ProgramRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = slurp(out);
  run.err = slurp(err);
  return run;
}

inline std::filesystem::path kit_data(const std::string& rel) {
  return std::filesystem::path(KORVEN_SOURCE_DIR) / "tests" / "kit" / "data" / rel;
}

struct IndexedMolecule {
  std::string name, file, formula;
  int atoms = 0;
  bool linear = false;
  std::string point_group, axes, kind;
};

// tests/kit/data/molecules/index.tsv, one molecule a line.
inline std::vector<IndexedMolecule> molecule_index() {
  std::ifstream in(kit_data("molecules/index.tsv"));
  std::vector<IndexedMolecule> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream s(line);
    std::string field;
    while (std::getline(s, field, '\t')) f.push_back(field);
    if (f.size() < 8) continue;
    out.push_back({f[0], f[1], f[2], std::stoi(f[3]), f[4] == "1", f[5], f[6], f[7]});
  }
  return out;
}

// A test case's name from a molecule's: letters, digits and underscores.
inline std::string case_name(const std::string& name) {
  std::string out;
  for (char c : name) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return out;
}

}  // namespace korven::kit::testing
