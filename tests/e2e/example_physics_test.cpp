// Every example deck's listing, read back as its companion programs would
// read it: each unsymmetrized G element list must equal B M^-1 B^T formed
// in double from the listing's own B element list and the masses it lists,
// within what six printed decimals allow, and an example without a
// `reports-errors` marker must hold no error report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Triple {
  int row, col;
  double value;
};

std::vector<std::string> listing_lines(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Element records from line i on, up to and including the end entry.
std::vector<Triple> read_elements(const std::vector<std::string>& lines, std::size_t& i, int end_row) {
  std::vector<Triple> out;
  for (; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    for (std::size_t at = 0; at + 18 <= l.size(); at += 18) {
      const Triple t{std::stoi(l.substr(at, 3)), std::stoi(l.substr(at + 3, 3)), std::stod(l.substr(at + 6, 12))};
      if (t.row == end_row) {
        ++i;
        return out;
      }
      out.push_back(t);
    }
  }
  ADD_FAILURE() << "element list without its end entry";
  return out;
}

std::vector<fs::path> example_listings() {
  std::vector<fs::path> found;
  const fs::path root = fs::path(KORVEN_SOURCE_DIR) / "examples";
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.path().extension() == ".OUT" && e.path().parent_path().filename() == "expected") found.push_back(e.path());
  std::sort(found.begin(), found.end());
  return found;
}

class ExampleListing : public ::testing::TestWithParam<fs::path> {};

TEST_P(ExampleListing, GIsBMinusOneBTransposed) {
  const fs::path listing = GetParam();
  const auto lines = listing_lines(listing);
  const bool errors_expected = fs::exists(listing.parent_path() / "reports-errors");
  std::vector<Triple> b;
  int g_sections = 0;
  for (std::size_t i = 0; i < lines.size();) {
    const std::string& l = lines[i];
    if (!errors_expected) {
      EXPECT_FALSE(!l.empty() && l[0] == '0') << "error report: " << l;
    }
    if (l == "          B MATRIX ELEMENTS.") {
      i += 6;  // problem number, two titles, count, reader line
      b = read_elements(lines, i, -5);
      continue;
    }
    if (l != "           UNSYMMETRIZED G MATRIX ELEMENTS.") {
      ++i;
      continue;
    }
    i += 3;  // problem number, title
    std::vector<double> masses;
    for (; lines[i].find("NON-ZERO ELEMENTS.") == std::string::npos; ++i) {
      const std::string& m = lines[i];
      const std::size_t from = m.rfind("USING THE MASSES,") == std::string::npos ? 1 : 24;
      for (std::size_t at = from; at + 12 <= m.size(); at += 12) masses.push_back(std::stod(m.substr(at, 12)));
    }
    i += 3;  // count, reader line, empty record
    const std::vector<Triple> g = read_elements(lines, i, -1);
    ++g_sections;
    // The dense product from the listing's own numbers.
    std::map<std::pair<int, int>, double> expected;
    for (const Triple& p : b) {
      for (const Triple& q : b) {
        if (p.col != q.col || p.row > q.row) continue;
        const double mu = 1.0 / masses.at(static_cast<std::size_t>((p.col - 1) / 3));
        expected[{p.row, q.row}] += p.value * q.value * mu;
      }
    }
    std::map<std::pair<int, int>, double> listed;
    for (const Triple& t : g) listed[{t.row, t.col}] = t.value;
    for (const auto& [rc, value] : expected) {
      const double tolerance = 2e-5 + 2e-5 * std::fabs(value);
      const auto it = listed.find(rc);
      const double got = it == listed.end() ? 0.0 : it->second;
      if (it == listed.end()) {
        EXPECT_LE(std::fabs(value), 5e-5 + tolerance) << "G(" << rc.first << "," << rc.second << ") missing";
      } else {
        EXPECT_NEAR(got, value, tolerance) << "G(" << rc.first << "," << rc.second << ")";
      }
    }
    for (const auto& [rc, value] : listed) EXPECT_TRUE(expected.count(rc) == 1 || std::fabs(value) < 1e-4);
  }
  EXPECT_GT(g_sections, 0) << "no G section in " << listing;
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleListing, ::testing::ValuesIn(example_listings()),
                         [](const ::testing::TestParamInfo<fs::path>& info) {
                           std::string s = info.param.parent_path().parent_path().filename().string();
                           for (char& c : s)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return s;
                         });

}  // namespace
