// A realistic deck cut off after every one of its cards: each cut must end
// with the end-of-file report on standard error, exit status 1, the scratch
// files left in place and a listing that holds exactly what the whole deck's
// run had written up to that point.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;
using korven::e2e::slurp;

namespace {

struct Outcome {
  int status;
  std::string listing, err;
  bool scratch_left;
};

Outcome run_deck(const fs::path& work, const std::string& deck) {
  fs::remove_all(work);
  fs::create_directories(work);
  std::ofstream(work / "CUT.DAT", std::ios::binary) << deck;
  const std::string command =
      "cd '" + work.string() + "' && echo CUT.DAT | '" + KORVEN_BINARY + "' > out.txt 2> err.txt; echo $? > status.txt";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return {std::stoi(slurp(work / "status.txt")), slurp(work / "CUT.OUT"), slurp(work / "err.txt"),
          fs::exists(work / "dseta.tmp") && fs::exists(work / "dsetb.tmp")};
}

TEST(TruncatedDeck, EveryCutEndsWithTheEndOfFileReport) {
  const std::string whole = slurp(fs::path(KORVEN_SOURCE_DIR) / "examples/water/WATER.DAT");
  std::vector<std::size_t> card_ends;
  for (std::size_t i = 0; i < whole.size(); ++i)
    if (whole[i] == '\n') card_ends.push_back(i + 1);
  ASSERT_GT(card_ends.size(), 10u);
  const fs::path work = fs::temp_directory_path() / "korven_truncated";
  const Outcome full = run_deck(work, whole);
  ASSERT_EQ(full.status, 0);
  std::size_t previous = 0;
  // Every cut but the last, which is the whole deck and ends with 999.
  for (std::size_t c = 0; c + 1 < card_ends.size(); ++c) {
    const std::size_t cut = c == 0 ? 0 : card_ends[c - 1];
    const Outcome o = run_deck(work, whole.substr(0, cut));
    SCOPED_TRACE("cut after " + std::to_string(c) + " cards");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "\r\nrun-time error F6501: READ(CUT.DAT)\r\n- end of file encountered\r\n");
    EXPECT_TRUE(o.scratch_left);
    EXPECT_EQ(full.listing.compare(0, o.listing.size(), o.listing), 0) << "the listing is not a prefix of the full one";
    EXPECT_GE(o.listing.size(), previous);
    previous = o.listing.size();
  }
  EXPECT_GT(previous, full.listing.size() / 2);
  fs::remove_all(work);
}

}  // namespace
