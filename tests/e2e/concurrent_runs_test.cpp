// End-to-end: two real korven processes started at once in one folder, many
// times over, on large decks. The scratch files have fixed names, so the two
// must never both run: every run either writes the listing a run alone
// writes, with exit status 0, or is refused at once with the report below
// and exit status 1, its listing untouched. And a run that finds the
// scratch file locked by someone else changes no file at all.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;
using korven::e2e::slurp;
using korven::e2e::spill;

namespace {

const fs::path kSource = KORVEN_SOURCE_DIR;
const std::string kRefused =
    "\r\nrun-time error F6418: OPEN(dseta.tmp)\r\n"
    "- scratch files in use by another korven run in this folder; give each run its own folder\r\n";
const std::string kEarlierListing = "an earlier listing\r\n";

#ifdef KORVEN_UNDER_VALGRIND
constexpr int kPairs = 3;  // each run takes seconds under Valgrind
#else
constexpr int kPairs = 20;
#endif
constexpr int kSeeds = 6;

// A folder of this test alone: the suites of several builds may run at once.
fs::path scratch(const std::string& tag) {
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  return fs::temp_directory_path() / ("korven_concurrent_" + test + "_" + tag + "_" + std::to_string(::getpid()));
}

// A korven process on `deck` in `folder`, standard input empty, its
// standard output and error in files beside the folder.
struct Child {
  pid_t pid = -1;
  fs::path out, err;
};

Child start(const fs::path& folder, const std::string& deck, const std::string& tag) {
  Child c;
  c.out = folder.string() + "." + tag + ".out";
  c.err = folder.string() + "." + tag + ".err";
  const std::string dir = folder.string(), out = c.out.string(), err = c.err.string();
  c.pid = ::fork();
  if (c.pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0 || ::chdir(dir.c_str()) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::execl(KORVEN_BINARY, "korven", deck.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return c;
}

int finish(const Child& c) {
  int status = 0;
  if (c.pid < 0 || ::waitpid(c.pid, &status, 0) != c.pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The largest deck the fields allow (tools/make_largest_deck.py) for a seed.
std::string large_deck(const fs::path& folder, int seed) {
  const fs::path deck = folder / ("SEED" + std::to_string(seed) + ".DAT");
  const std::string command = "/usr/bin/python3 '" + (kSource / "tools/make_largest_deck.py").string() + "' '" +
                              deck.string() + "' " + std::to_string(seed);
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return slurp(deck);
}

struct Reference {
  std::string deck, listing;
};

// Every seed's deck and the listing a run alone writes for it.
std::vector<Reference> references(const fs::path& folder) {
  std::vector<Reference> refs;
  for (int seed = 0; seed < kSeeds; ++seed) {
    Reference r{large_deck(folder, seed), {}};
    spill(folder / "ALONE.DAT", r.deck);
    EXPECT_EQ(finish(start(folder, "ALONE.DAT", "alone")), 0) << "seed " << seed;
    r.listing = slurp(folder / "ALONE.OUT");
    EXPECT_GT(r.listing.size(), 1000000u);
    refs.push_back(r);
  }
  return refs;
}

void expect_ran_or_refused(int status, const fs::path& err) {
  EXPECT_TRUE(status == 0 || status == 1) << "exit status " << status;
  EXPECT_EQ(slurp(err), status == 1 ? kRefused : "");
}

// Even pairs run one deck twice (one listing for both), odd pairs two decks
// (a listing each): a refused run must leave its own listing as it was.
TEST(ConcurrentRuns, EveryRunWritesItsListingAloneOrIsRefused) {
  const fs::path ref_folder = scratch("references");
  const fs::path work = scratch("pairs");
  for (const fs::path& f : {ref_folder, work}) {
    fs::remove_all(f);
    fs::create_directories(f);
  }
  const std::vector<Reference> refs = references(ref_folder);
  ASSERT_EQ(refs.size(), static_cast<std::size_t>(kSeeds));
  int refused = 0;
  for (int pair = 0; pair < kPairs; ++pair) {
    SCOPED_TRACE("pair " + std::to_string(pair));
    const bool one_deck = pair % 2 == 0;
    const Reference& a = refs[static_cast<std::size_t>(pair % kSeeds)];
    const Reference& b = one_deck ? a : refs[static_cast<std::size_t>((pair + 3) % kSeeds)];
    const std::string b_name = one_deck ? "A.DAT" : "B.DAT";
    spill(work / "A.DAT", a.deck);
    spill(work / "B.DAT", b.deck);
    spill(work / "A.OUT", kEarlierListing);
    spill(work / "B.OUT", kEarlierListing);
    const Child first = start(work, "A.DAT", "first");
    const Child second = start(work, b_name, "second");
    const int first_status = finish(first);
    const int second_status = finish(second);
    expect_ran_or_refused(first_status, first.err);
    expect_ran_or_refused(second_status, second.err);
    refused += (first_status == 1) + (second_status == 1);
    if (one_deck) {
      EXPECT_FALSE(first_status == 1 && second_status == 1) << "neither ran";
      EXPECT_TRUE(slurp(work / "A.OUT") == a.listing) << "a wrong listing";
    } else {
      EXPECT_TRUE(slurp(work / "A.OUT") == (first_status == 0 ? a.listing : kEarlierListing)) << "a wrong A.OUT";
      EXPECT_TRUE(slurp(work / "B.OUT") == (second_status == 0 ? b.listing : kEarlierListing)) << "a wrong B.OUT";
    }
    EXPECT_FALSE(fs::exists(work / "dseta.tmp") || fs::exists(work / "dsetb.tmp")) << "scratch files left";
  }
  std::cout << "[          ] " << refused << " of " << 2 * kPairs << " runs refused\n";
  fs::remove_all(ref_folder);
  fs::remove_all(work);
  for (const char* tag : {"alone", "first", "second"}) {
    for (const char* stream : {".out", ".err"}) {
      fs::remove(ref_folder.string() + "." + tag + stream);
      fs::remove(work.string() + "." + tag + stream);
    }
  }
}

// The lock held by another process (here the test itself): korven is
// refused with the report and status 1, and the folder keeps every byte;
// once the lock is let go, the same command runs the deck.
TEST(ConcurrentRuns, ALockHeldElsewhereRefusesTheRunAndTouchesNothing) {
  const fs::path work = scratch("held");
  fs::remove_all(work);
  fs::create_directories(work);
  fs::copy(kSource / "examples/water/WATER.DAT", work / "WATER.DAT");
  spill(work / "WATER.OUT", kEarlierListing);
  spill(work / "dseta.tmp", "another run's B list");
  spill(work / "dsetb.tmp", "another run's U list");
  std::vector<std::pair<fs::path, std::string>> before;
  for (const auto& e : fs::directory_iterator(work)) before.emplace_back(e.path(), slurp(e.path()));

  const int held = ::open((work / "dseta.tmp").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  const Child refused = start(work, "WATER.DAT", "refused");
  EXPECT_EQ(finish(refused), 1);
  EXPECT_EQ(slurp(refused.err), kRefused);
  // The console as in any run that fails after the file line.
  EXPECT_EQ(slurp(refused.out),
            "Program KORVEN\r\nEnter name of the input file, with extension input file is WATER.DAT   , "
            "output file is WATER.OUT   \r\n\r\n");
  std::size_t files = 0;
  for (const auto& e : fs::directory_iterator(work)) {
    ++files;
    bool same = false;
    for (const auto& [path, bytes] : before) same = same || (path == e.path() && bytes == slurp(e.path()));
    EXPECT_TRUE(same) << e.path() << " is new or changed";
  }
  EXPECT_EQ(files, before.size());
  ::close(held);

  const Child ran = start(work, "WATER.DAT", "ran");
  EXPECT_EQ(finish(ran), 0);
  EXPECT_EQ(slurp(ran.err), "");
  EXPECT_EQ(slurp(work / "WATER.OUT"), slurp(kSource / "examples/water/expected/WATER.OUT"));
  EXPECT_FALSE(fs::exists(work / "dseta.tmp") || fs::exists(work / "dsetb.tmp"));
  fs::remove_all(work);
  for (const char* name : {".refused.out", ".refused.err", ".ran.out", ".ran.err"}) fs::remove(work.string() + name);
}

}  // namespace
