// The engine's folders build on one another in one direction only: records,
// then deck, bmatrix, gmatrix and driver, each including its own headers and
// those of the folders before it, never those after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kFolders = {"records", "deck", "bmatrix", "gmatrix", "driver"};

int rank_of(const std::string& folder) {
  const auto at = std::find(kFolders.begin(), kFolders.end(), folder);
  return at == kFolders.end() ? -1 : static_cast<int>(at - kFolders.begin());
}

TEST(EngineLayering, EveryFolderIncludesOnlyItselfAndTheFoldersBeforeIt) {
  const std::regex include(R"(^\s*#\s*include\s*"([a-z]+)/[^"]+")");
  int includes = 0;
  for (const std::string& folder : kFolders) {
    for (const auto& file : fs::directory_iterator(fs::path(KORVEN_SOURCE_DIR) / "src" / folder)) {
      std::ifstream in(file.path());
      std::string line;
      while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_search(line, m, include)) continue;
        ++includes;
        const int rank = rank_of(m[1].str());
        EXPECT_TRUE(rank >= 0 && rank <= rank_of(folder))
            << file.path().filename().string() << " in " << folder << " includes " << m[1].str();
      }
    }
  }
  EXPECT_GT(includes, 50);  // the includes were found at all
}

}  // namespace
