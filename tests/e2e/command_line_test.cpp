// End-to-end: the command line of the real korven binary. A deck named on
// the command line must give exactly what the same name typed at the first
// prompt gives (console bytes, exit status, files left), for every bundled
// example and for usable names the dialogue does not find; a refused command
// line, an unusable name among them, writes its one line on standard error
// and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <unistd.h>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;
using korven::e2e::slurp;
using korven::e2e::spill;

namespace {

const fs::path kSource = KORVEN_SOURCE_DIR;
const fs::path kWater = kSource / "examples/water/WATER.DAT";

struct Outcome {
  int status = -1;
  std::string out, err;
  std::map<std::string, std::string> files;  // every file the run leaves, with its bytes
  bool operator==(const Outcome&) const = default;
};

std::string quoted(const std::string& word) {
  std::string q = "'";
  for (const char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A folder of this test alone: the suites of several builds may run at once.
fs::path scratch(const std::string& tag) {
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  return fs::temp_directory_path() / ("korven_cli_" + test + "_" + tag + "_" + std::to_string(::getpid()));
}

// Runs korven in a fresh folder holding copies of the files; the console
// captures are kept beside the folder, not in it.
Outcome run(const std::string& tag, const std::vector<fs::path>& files, const std::vector<std::string>& arguments,
            const std::string& console_in) {
  const fs::path work = scratch(tag);
  const fs::path streams = work.string() + ".streams";
  fs::remove_all(work);
  fs::create_directories(work);
  fs::create_directories(streams);
  for (const fs::path& f : files) fs::copy(f, work / f.filename());
  spill(streams / "in", console_in);
  std::string command = "cd " + quoted(work.string()) + " && " + quoted(KORVEN_BINARY);
  for (const std::string& a : arguments) command += " " + quoted(a);
  const std::string s = quoted(streams.string());
  command += " < " + s + "/in > " + s + "/out 2> " + s + "/err; echo $? > " + s + "/status";
  EXPECT_EQ(std::system(command.c_str()), 0);
  Outcome o{std::stoi(slurp(streams / "status")), slurp(streams / "out"), slurp(streams / "err"), {}};
  for (const auto& e : fs::directory_iterator(work)) o.files[e.path().filename().string()] = slurp(e.path());
  fs::remove_all(work);
  fs::remove_all(streams);
  return o;
}

// The deck named on the command line, and typed at the first prompt, with
// the same rest of the console input.
void expect_same_as_typed(const std::vector<fs::path>& files, const std::vector<std::string>& arguments,
                          const std::string& deck, const std::string& rest) {
  EXPECT_EQ(run("given", files, arguments, rest), run("typed", files, {}, deck + "\n" + rest));
}

TEST(CommandLineDeck, EveryExampleGivesWhatTheDialogueGives) {
  int examples = 0;
  for (const auto& e : fs::directory_iterator(kSource / "examples")) {
    if (!fs::is_directory(e.path() / "expected")) continue;
    SCOPED_TRACE(e.path().string());
    std::vector<fs::path> files;
    std::string deck;
    for (const auto& f : fs::directory_iterator(e.path())) {
      if (f.path().filename() == "expected") continue;
      files.push_back(f.path());
      if (f.path().extension() == ".DAT") deck = f.path().filename().string();
    }
    Outcome given = run("given", files, {deck}, "");
    EXPECT_EQ(given, run("typed", files, {}, deck + "\n"));
    // Not two equal failures: the run made the bundled listing.
    const std::string listing = deck.substr(0, deck.find('.')) + ".OUT";
    EXPECT_EQ(given.status, 0);
    EXPECT_EQ(given.files[listing], slurp(e.path() / "expected" / listing));
    ++examples;
  }
  EXPECT_GE(examples, 10);
}

// Names that the dialogue finds, retries or refuses; what follows each is
// the rest of the console input.
TEST(CommandLineDeck, NamesAreTakenAsTypedAtTheFirstPrompt) {
  const fs::path dash = scratch("dash") / "-W.DAT";
  fs::create_directories(dash.parent_path());
  fs::copy(kWater, dash, fs::copy_options::overwrite_existing);
  struct Case {
    std::vector<std::string> arguments;
    std::string rest;
  } cases[] = {
      {{"NOSUCH.DAT"}, "ALSO.DAT\nWATER.DAT\n"},           // found at the third prompt
      {{"NOSUCH.DAT"}, "B.DAT\nC.DAT\nD.DAT\nWATER.DAT\n"},  // four missing: F6416
      {{"NOSUCH.DAT"}, ""},                                 // input ends: F6416
      {{"--", "-W.DAT"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.back());
    expect_same_as_typed({kWater, dash}, c.arguments, c.arguments.back(), c.rest);
  }
  fs::remove_all(dash.parent_path());
}

// Refused: status 2, one line on standard error naming the fault, nothing
// on standard output, no file written and the console input left unread.
TEST(CommandLineRefused, WritesOneLineAndNothingElse) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "--bogus"},        {{"-W.DAT"}, "-W.DAT"},
      {{"-"}, "-"},                    {{"WATER.DAT", "WATER.DAT"}, "one deck"},
      {{"--", "A.DAT", "X.DAT"}, "X.DAT"}, {{"./WATER.DAT"}, "folder"},
      {{"sub/"}, "folder"},            {{"WATER.DAT\nX"}, "line end"},
      {{"WATER"}, "WATER: not a usable deck name"},  {{"WATER.DATXYZW"}, "13 characters"},
      {{"WATER.DAT\r"}, "$'WATER.DAT\\x0d'"},        {{""}, "'': not a usable deck name: it is empty"},
      {{"WATER.OUT"}, "would overwrite it"},         {{"--", "dseta.tmp"}, "scratch file"},
  };
  for (const auto& [arguments, names] : cases) {
    SCOPED_TRACE(arguments.back());
    const Outcome o = run("refused", {kWater}, arguments, "WATER.DAT\n");
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err.rfind("korven: ", 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_NE(o.err.find(names), std::string::npos) << o.err;
    EXPECT_EQ(o.files.size(), 1u) << "the run started";
  }
}

// A name korven cannot take as it stands ends the run before anything is
// read or written, with the whole reason on one line, whatever waits on the
// console input: here the terminal's part is played by a name that exists.
TEST(CommandLineRefused, UnusableNamesSayWhy) {
  const std::pair<std::string, std::string> cases[] = {
      {"WATER.DATXYZW",
       "korven: WATER.DATXYZW: not a usable deck name: it has 13 characters, and a deck's name has at most 12 "
       "(korven --help)\n"},
      {" WATER.DAT",
       "korven: ' WATER.DAT': not a usable deck name: it begins or ends with a blank, which the name of the file "
       "opened would lose (korven --help)\n"},
      {"WATER",
       "korven: WATER: not a usable deck name: it has no period after its first character (the listing is named by "
       "the part before it) (korven --help)\n"},
      {"ABCDEFGHIJK.",
       "korven: ABCDEFGHIJK.: not a usable deck name: its listing, ABCDEFGHIJK., would overwrite it (korven --help)\n"},
  };
  for (const auto& [name, report] : cases) {
    SCOPED_TRACE(name);
    const Outcome o = run("unusable", {kWater}, {name}, "WATER.DAT\n");
    EXPECT_EQ(o, (Outcome{2, "", report, {{"WATER.DAT", slurp(kWater)}}}));
  }
}

// The refusal of a deck in another folder says how to run it there; doing
// what it says runs the deck and leaves the listing beside it.
TEST(CommandLineRefused, DeckInAnotherFolderNamesTheWayToRunIt) {
  const fs::path work = scratch("elsewhere");
  fs::remove_all(work);
  fs::create_directories(work / "my decks");
  fs::copy(kWater, work / "my decks" / "WATER.DAT");
  const Outcome o = run("elsewhere_start", {}, {(work / "my decks/WATER.DAT").string()}, "");
  ASSERT_EQ(o.status, 2);
  std::smatch advice;
  ASSERT_TRUE(std::regex_search(o.err, advice, std::regex("deck's folder.*: (cd .*) && korven (.*)\n$"))) << o.err;
  const std::string command = advice[1].str() + " && " + quoted(KORVEN_BINARY) + " " + advice[2].str() +
                              " </dev/null >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(slurp(work / "my decks" / "WATER.OUT"), slurp(kSource / "examples/water/expected/WATER.OUT"));
  fs::remove_all(work);
}

TEST(CommandLineInfo, VersionAndHelp) {
  // The version as the build states it, read from the project's own file.
  std::smatch m;
  const std::string cmake = slurp(kSource / "CMakeLists.txt");
  ASSERT_TRUE(std::regex_search(cmake, m, std::regex(R"(project\(\s*korven\s+VERSION\s+([0-9.]+))")));
  EXPECT_EQ(run("version", {}, {"--version"}, ""), (Outcome{0, "korven " + m[1].str() + "\n", "", {}}));

  // Help wins over a deck, and the deck is not run.
  const Outcome o = run("help", {kWater}, {"--help", "WATER.DAT"}, "WATER.DAT\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.files.size(), 1u) << "the run started";
  EXPECT_EQ(o.out.rfind("Usage: korven [DECK]\n", 0), 0u) << o.out;
  for (const char* needed : {".OUT", "dseta.tmp", "dsetb.tmp", "own", "man korven", "--version"})
    EXPECT_NE(o.out.find(needed), std::string::npos) << needed;
  for (std::size_t at = 0, end; (end = o.out.find('\n', at)) != std::string::npos; at = end + 1)
    EXPECT_LE(end - at, 79u) << o.out.substr(at, end - at);
}

}  // namespace
