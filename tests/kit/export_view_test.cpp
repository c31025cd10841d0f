// export and view as a user meets them: SciPy reads every exported file and
// finds the listing's own elements in it; every bundled example deck draws
// as an SVG that xmllint accepts and rsvg-convert renders.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <tuple>

#include "kit/io/listing_reader.h"
#include "kit_test_support.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;
using Entries = std::map<std::pair<int, int>, double>;

// SciPy's reading of one Matrix Market file: its shape and every non-zero of
// the full matrix (a symmetric file expanded), rows and columns from 1.
struct Read {
  int rows = 0, columns = 0;
  Entries entries;
};

std::map<std::string, Read> read_with_scipy(const fs::path& dir) {
  const fs::path script = dir / "read.py";
  testing::spill(script,
                 "import json, sys, scipy.io\n"
                 "d = sys.argv[1]\n"
                 "for f in json.load(open(d + '/index.json'))['files']:\n"
                 "    m = scipy.io.mmread(d + '/' + f['file']).tocoo()\n"
                 "    assert (f['rows'], f['columns']) == m.shape, f['file']\n"
                 "    print('file', f['file'], m.shape[0], m.shape[1])\n"
                 "    for i, j, v in zip(m.row, m.col, m.data):\n"
                 "        print(i + 1, j + 1, repr(float(v)))\n");
  // Debian's python3, the one with Debian's SciPy.
  const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + (dir / "OUT").string() + "' > '" +
                              (dir / "read.txt").string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  std::map<std::string, Read> files;
  std::istringstream in(testing::slurp(dir / "read.txt"));
  std::string word;
  Read* current = nullptr;
  while (in >> word) {
    if (word == "file") {
      std::string name;
      Read r;
      in >> name >> r.rows >> r.columns;
      current = &(files[name] = r);
    } else if (current) {
      int j = 0;
      double v = 0;
      in >> j >> v;
      current->entries[{std::stoi(word), j}] = v;
    }
  }
  return files;
}

Entries listed(const std::vector<MatrixElement>& list, bool symmetric, int offset = 0) {
  Entries e;
  for (const MatrixElement& x : list) {
    if (x.value == 0) continue;
    e[{x.row + offset, x.column + offset}] += x.value;
    if (symmetric && x.row != x.column) e[{x.column + offset, x.row + offset}] += x.value;
  }
  return e;
}

void expect_same(const Entries& exported, const Entries& expected, const std::string& file) {
  EXPECT_EQ(exported.size(), expected.size()) << file;
  for (const auto& [at, value] : expected) {
    const auto found = exported.find(at);
    ASSERT_NE(found, exported.end()) << file << " (" << at.first << ", " << at.second << ")";
    EXPECT_NEAR(found->second, value, 1e-12) << file;
  }
}

TEST(Export, ScipyReadsTheListingsMatricesFromEveryFile) {
  testing::TempDir dir;
  const fs::path example = fs::path(KORVEN_SOURCE_DIR) / "examples" / "water_psi4";
  fs::copy_file(example / "WATER.DAT", dir / "WATER.DAT");
  fs::copy_file(example / "expected" / "WATER.OUT", dir / "WATER.OUT");
  const auto run = testing::run_korvenkit(dir.path(), "export WATER.DAT --listing WATER.OUT -o OUT");
  ASSERT_EQ(run.status, 0) << run.err;
  const Listing listing = read_listing_file(dir / "WATER.OUT");
  const ListedProblem& p = listing.problems.at(0);
  const std::map<std::string, Read> files = read_with_scipy(dir.path());

  // Water with H2O, D2O and HDO: B, and per mass set G, U and a block each
  // for A1 and B2 (H2O, D2O) or one A' block (HDO).
  struct Expected {
    std::string file;
    int rows, columns;
    Entries entries;  // empty: not compared here (U comes from the deck)
  };
  std::vector<Expected> expected = {{"B.p1.mtx", 3, 9, listed(p.b, false)}};
  for (std::size_t m = 0; m < 3; ++m) {
    const ListedMassSet& ms = p.mass_sets.at(m);
    const std::string tag = ".p1.m" + std::to_string(m + 1);
    expected.push_back({"G" + tag + ".mtx", 3, 3, listed(ms.g, true)});
    expected.push_back({"U" + tag + ".mtx", 3, 3, {}});
    const std::vector<int> sizes = m < 2 ? std::vector<int>{2, 1} : std::vector<int>{3};
    ASSERT_EQ(ms.blocks.size(), sizes.size());
    for (std::size_t k = 0; k < sizes.size(); ++k)
      expected.push_back({"Gsym" + tag + ".b" + std::to_string(k + 1) + ".mtx", sizes[k], sizes[k],
                          listed(ms.blocks[k].elements, true)});
  }
  EXPECT_EQ(files.size(), expected.size());
  for (const Expected& e : expected) {
    const auto found = files.find(e.file);
    ASSERT_NE(found, files.end()) << e.file;
    EXPECT_EQ(found->second.rows, e.rows) << e.file;
    EXPECT_EQ(found->second.columns, e.columns) << e.file;
    if (!e.entries.empty()) expect_same(found->second.entries, e.entries, e.file);
  }
  // U's rows are the engine's normalised ones.
  for (const char* u : {"U.p1.m1.mtx", "U.p1.m3.mtx"}) {
    std::map<int, double> norm;
    for (const auto& [at, v] : files.at(u).entries) norm[at.first] += v * v;
    for (const auto& [row, n] : norm) EXPECT_NEAR(n, 1.0, 1e-6) << u << " row " << row;
  }
  const std::string index = testing::slurp(dir / "OUT" / "index.json");
  for (const char* text : {"\"species\": \"A1\"", "\"species\": \"B2\"", "\"species\": \"A'\"", "\"HDO"})
    EXPECT_NE(index.find(text), std::string::npos) << text;

  // A second export into the same folder needs --force; a failed one leaves
  // the first as it was.
  EXPECT_EQ(testing::run_korvenkit(dir.path(), "export WATER.DAT --listing WATER.OUT -o OUT").status, 2);
  EXPECT_EQ(testing::run_korvenkit(dir.path(), "export WATER.DAT --listing NONE.OUT -o OUT --force").status, 2);
  EXPECT_EQ(testing::slurp(dir / "OUT" / "index.json"), index);
  EXPECT_EQ(testing::run_korvenkit(dir.path(), "export WATER.DAT --listing WATER.OUT -o OUT --force").status, 0);
}

TEST(View, EveryExampleDeckDrawsAnSvgThatIsWellFormedAndRenders) {
  testing::TempDir dir;
  int decks = 0;
  for (const auto& folder : fs::directory_iterator(fs::path(KORVEN_SOURCE_DIR) / "examples")) {
    for (const auto& file : fs::directory_iterator(folder.path())) {
      if (file.path().extension() != ".DAT") continue;
      ++decks;
      const fs::path deck = dir / file.path().filename().string();
      fs::copy_file(file.path(), deck, fs::copy_options::overwrite_existing);
      const std::string name = file.path().filename().string();
      const auto run = testing::run_korvenkit(dir.path(), "view " + name + " -o view.svg --force");
      ASSERT_EQ(run.status, 0) << folder.path() << ": " << run.err;
      const std::string svg = testing::slurp(dir / "view.svg");
      EXPECT_NE(svg.find("<svg"), std::string::npos) << name;
      const std::string checks = "cd '" + dir.path().string() +
                                 "' && xmllint --noout view.svg && rsvg-convert -o view.png view.svg";
      EXPECT_EQ(std::system(checks.c_str()), 0) << folder.path();
      EXPECT_GT(fs::file_size(dir / "view.png"), 0u) << folder.path();
    }
  }
  EXPECT_GE(decks, 12);
  EXPECT_EQ(testing::run_korvenkit(dir.path(), "view WATER.DAT --problem 9 -o nine.svg").status, 2);
  EXPECT_FALSE(fs::exists(dir / "nine.svg"));
}

}  // namespace
}  // namespace korven::kit
