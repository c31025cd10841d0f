// The deck names korven takes as given (usable_deck_name), case by case and
// against the dialogue itself: every usable name, typed at the prompt in a
// folder holding a file of exactly that name, runs that file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "driver/deck_name.h"
#include "driver/run.h"

namespace korven {
namespace {

namespace fs = std::filesystem;

struct NameCase {
  std::string name;
  bool usable;
  std::string why;       // a part of the reason given, for a name refused
  bool dialogue_takes;   // typed at the prompt, the dialogue runs the file of exactly this name
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.name); }

const NameCase kNames[] = {
    {"WATER.DAT", true, "", true},
    {"A.B.C", true, "", true},                 // the first period counts: listing A.OUT
    {"ABCDEFGHI.DA", true, "", true},          // 12 characters, listing ABCDEFGHI.OU
    {"ABCDEFGHIJ.D", true, "", true},          // listing ABCDEFGHIJ.O
    {"-W.DAT", true, "", true},
    {"MY DECK.DAT", true, "", true},           // a blank inside is part of the name
    {"A.", true, "", true},
    {"", false, "empty", false},
    {"WATER.DATXYZW", false, "13 characters", false},  // the dialogue would look for WATER.DATXYZ
    {"WATER", false, "no period", false},
    {".DAT", false, "no period", false},       // a period in position 1 does not count
    {"ABCDEFGHIJKL", false, "no period", false},
    {" WATER.DAT", false, "blank", false},     // the file opened would be WATER.DAT
    {"WATER.DAT ", false, "blank", false},
    {"WATER.DAT\r", false, "code 13", false},  // a CR ends the typed name
    {"WATER.DAT\x1a", false, "code 26", false},  // a Ctrl-Z ends the console input
    {"W\tX.DAT", false, "code 9", true},       // taken by the dialogue, refused all the same
    {"WATER.OUT", false, "its listing, WATER.OUT,", false},
    {"ABCDEFGHIJK.", false, "its listing, ABCDEFGHIJK.,", false},
    {"dseta.tmp", false, "scratch file", false},
    {"dsetb.tmp", false, "scratch file", false},
    {"sub/W.DAT", false, "folder part", false},
};

class DeckName : public ::testing::TestWithParam<NameCase> {};

TEST_P(DeckName, FollowsTheRule) {
  const NameCase& c = GetParam();
  std::string why = "left as it was";
  EXPECT_EQ(usable_deck_name(c.name, &why), c.usable);
  if (c.usable) {
    EXPECT_EQ(why, "left as it was");
  } else {
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    EXPECT_EQ(why.find('\n'), std::string::npos) << why;
  }
  EXPECT_EQ(usable_deck_name(c.name, nullptr), c.usable);
  // A name korven takes is one the dialogue takes as it stands.
  if (c.usable) {
    EXPECT_TRUE(c.dialogue_takes);
  }
}

// The name typed at the first prompt of a real run (in-process), in a folder
// holding a one-card deck under exactly that name and nothing else.
TEST_P(DeckName, TheDialogueTakesWhatTheRuleSays) {
  const NameCase& c = GetParam();
  if (c.name.find('/') != std::string::npos || c.name.empty()) GTEST_SKIP() << "no file can have this name";
  std::string pattern = (fs::temp_directory_path() / "korven_name_XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  std::ofstream(dir / c.name, std::ios::binary) << "999\n";
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  std::istringstream in(c.name + "\n");
  std::ostringstream out, err;
  const int status = run_korven({in, out, err, false});
  fs::current_path(before);
  fs::remove_all(dir);
  std::string padded = c.name;
  padded.resize(12, ' ');
  const bool ran_it = status == 0 && out.str().find("input file is " + padded + ", output") != std::string::npos &&
                      out.str().find("NOT FOUND") == std::string::npos;
  EXPECT_EQ(ran_it, c.dialogue_takes) << out.str() << err.str();
}

INSTANTIATE_TEST_SUITE_P(Names, DeckName, ::testing::ValuesIn(kNames));

}  // namespace
}  // namespace korven
