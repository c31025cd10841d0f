// Helpers shared by the phase tests: a run's units on temporary files,
// deck cards, and the element records of a listing.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bmatrix/b_matrix.h"
#include "bmatrix/element_list.h"
#include "records/units.h"

namespace korven::testing {

// Units 5 (the given deck), 6 (listing), 1 and 2 (scratch) on files in a
// fresh temporary directory.
class RunFiles {
 public:
  explicit RunFiles(const std::string& deck) {
    std::string pattern = (std::filesystem::temp_directory_path() / "korven_g_XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    std::ofstream(dir_ / "deck.dat", std::ios::binary) << deck;
    units_.open_unit(kDeckUnit, (dir_ / "deck.dat").string(), "OLD");
    units_.open_unit(kListingUnit, (dir_ / "deck.OUT").string(), "UNKNOWN");
    units_.open_unit(kBScratchUnit, (dir_ / "dseta.tmp").string(), "UNKNOWN", "unformatted");
    units_.open_unit(kUScratchUnit, (dir_ / "dsetb.tmp").string(), "UNKNOWN", "unformatted");
  }
  ~RunFiles() {
    units_.terminate();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  RunFiles(const RunFiles&) = delete;
  RunFiles& operator=(const RunFiles&) = delete;

  Units& units() { return units_; }
  Unit& deck() { return units_.unit(kDeckUnit); }
  Unit& listing_unit() { return units_.unit(kListingUnit); }

  // The listing's records so far, without their CR LF.
  std::vector<std::string> listing() {
    units_.write_out_quietly();
    std::ifstream in(dir_ / "deck.OUT", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> records;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find("\r\n", at);
      records.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return records;
  }

 private:
  std::istringstream in_;
  std::ostringstream out_, err_;
  Units units_{ConsoleStreams{in_, out_, err_, false}};
  std::filesystem::path dir_;
};

// Cards: one line per card.
inline std::string ints_card(std::initializer_list<int> values, const std::string& tail = "") {
  std::string card;
  char field[16];
  for (int v : values) {
    std::snprintf(field, sizeof field, "%3d", v);
    card += field;
  }
  return card + tail + "\n";
}

inline std::string reals_cards(const std::vector<float>& values) {
  std::string cards;
  char field[32];
  for (std::size_t n = 0; n < values.size(); ++n) {
    std::snprintf(field, sizeof field, "%12.6f", static_cast<double>(values[n]));
    cards += field;
    if (n % 6 == 5 || n + 1 == values.size()) cards += "\n";
  }
  return cards;
}

inline std::string triples_cards(const std::vector<Element>& triples) {
  std::string cards;
  char field[40];
  for (std::size_t n = 0; n < triples.size(); ++n) {
    std::snprintf(field, sizeof field, "%3d%3d%12.6f", triples[n].row, triples[n].col,
                  static_cast<double>(triples[n].value));
    cards += field;
    if (n % 4 == 3 || n + 1 == triples.size()) cards += "\n";
  }
  return cards;
}

// Reals that exercise a listing's fields: zeros of both signs, the edges of
// F12.6 and of the size threshold, carries, the extremes of the single
// range, then `random` values of random bits (infinities and NaNs left out).
inline std::vector<float> awkward_reals(std::uint32_t seed, int random) {
  std::vector<float> values = {0.0f,       -0.0f,      5.0E-5f,     -5.0E-5f,   4.9999994E-7f,
                               5.0E-7f,    -5.5E-7f,   0.99999995f, 9.9999995f, 1234.5678f,
                               99999.99f,  -99999.99f, 100000.0f,   -10000.0f,  9.999996f,
                               3.4028235E38f, -1.0E-45f, 1.1754944E-38f, 0.077373f, -0.5f};
  std::mt19937 rng(seed);
  while (random-- > 0) {
    float v;
    do {
      const std::uint32_t bits = static_cast<std::uint32_t>(rng());
      std::memcpy(&v, &bits, sizeof v);
    } while (!std::isfinite(v));
    values.push_back(v);
  }
  return values;
}

// The entries of element records, 18 columns each.
inline std::vector<Element> parse_elements(const std::vector<std::string>& records) {
  std::vector<Element> entries;
  for (const std::string& record : records) {
    for (std::size_t at = 0; at + 18 <= record.size(); at += 18) {
      entries.push_back({std::stoi(record.substr(at, 3)), std::stoi(record.substr(at + 3, 3)),
                         std::stof(record.substr(at + 6, 12))});
    }
  }
  return entries;
}

}  // namespace korven::testing
