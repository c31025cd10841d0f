// End-to-end: runs the real korven binary on every case folder and compares
// the console bytes, the standard error bytes, the exit status and the files
// the run leaves behind.
//
// A case folder holds the deck(s) and other files the run starts with, an
// optional `stdin` (the console input; by default the name of the folder's
// one .DAT file and a line end) and a folder `expected/` with `status`,
// `stdout`, `stderr` and every file the run must leave with exactly those
// bytes. `expected/present` may list further files that must exist
// (contents not compared). Every other file left in the working directory
// is a failure. KORVEN_UPDATE_GOLDEN=1 rewrites the expected files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;
using korven::e2e::slurp;
using korven::e2e::spill;

namespace {

std::vector<fs::path> case_folders() {
  std::vector<fs::path> found;
  for (const char* root : {"tests/e2e/cases", "examples"}) {
    const fs::path dir = fs::path(KORVEN_SOURCE_DIR) / root;
    if (!fs::exists(dir)) continue;
    for (const auto& group : fs::recursive_directory_iterator(dir)) {
      if (group.is_directory() && fs::exists(group.path() / "expected" / "status")) found.push_back(group.path());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string case_name(const fs::path& p) {
  std::string s = fs::relative(p, KORVEN_SOURCE_DIR).string();
  for (char& c : s)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return s;
}

class RunCase : public ::testing::TestWithParam<fs::path> {};

TEST_P(RunCase, MatchesExpected) {
  const fs::path folder = GetParam();
  const fs::path work = fs::temp_directory_path() / ("korven_e2e_" + case_name(folder) + "_" +
                                                     std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(work);
  fs::create_directories(work);
  std::set<std::string> inputs;
  std::string console_in;
  bool have_stdin = false;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name == "expected" || name == "README" || name == "README.md") continue;
    if (name == "stdin") {
      console_in = slurp(e.path());
      have_stdin = true;
      continue;
    }
    fs::copy(e.path(), work / name, fs::copy_options::recursive);
    inputs.insert(name);
    if (!have_stdin && e.path().extension() == ".DAT") console_in = name + "\n";
  }
  spill(work / ".stdin", console_in);
  const std::string command = "cd '" + work.string() + "' && '" + KORVEN_BINARY +
                              "' < .stdin > .stdout 2> .stderr; echo $? > .status";
  ASSERT_EQ(std::system(command.c_str()), 0);

  const fs::path expected = folder / "expected";
  const bool update = std::getenv("KORVEN_UPDATE_GOLDEN") != nullptr;
  std::set<std::string> left;
  for (const auto& e : fs::directory_iterator(work)) left.insert(e.path().filename().string());
  for (const char* stream : {"status", "stdout", "stderr"}) {
    const std::string got = slurp(work / (std::string(".") + stream));
    left.erase(std::string(".") + stream);
    if (update) spill(expected / stream, got);
    EXPECT_EQ(got, slurp(expected / stream)) << stream << " of " << folder;
  }
  left.erase(".stdin");
  for (const auto& name : inputs) left.erase(name);
  std::set<std::string> present;
  if (fs::exists(expected / "present")) {
    std::istringstream list(slurp(expected / "present"));
    for (std::string n; list >> n;) present.insert(n);
  }
  for (const auto& e : fs::directory_iterator(expected)) {
    const std::string name = e.path().filename().string();
    if (name == "status" || name == "stdout" || name == "stderr" || name == "present" || name == "reports-errors")
      continue;
    EXPECT_TRUE(fs::exists(work / name)) << name << " was not left by " << folder;
    if (update && fs::exists(work / name)) spill(e.path(), slurp(work / name));
    EXPECT_EQ(slurp(work / name), slurp(e.path())) << name << " of " << folder;
    left.erase(name);
  }
  for (const auto& name : present) {
    EXPECT_TRUE(left.count(name) == 1) << name << " should be left by " << folder;
    left.erase(name);
  }
  if (update) {
    for (const auto& name : left) spill(expected / name, slurp(work / name));
  } else {
    for (const auto& name : left) ADD_FAILURE() << "unexpected file " << name << " left by " << folder;
  }
  if (!HasFailure()) fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(Decks, RunCase, ::testing::ValuesIn(case_folders()),
                         [](const ::testing::TestParamInfo<fs::path>& info) { return case_name(info.param); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RunCase);

}  // namespace
