// Random decks through the whole engine (run_korven, in-process, in a
// temporary folder) and through the same phases with the plain G and G'
// loops of reference_g: listing, error report and exit status must agree
// byte for byte. A few hundred decks by default; KORVEN_LONG_TESTS=1 runs
// 2400.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bmatrix/b_matrix.h"
#include "bmatrix/coordinate_walk.h"
#include "deck/problem_input.h"
#include "driver/run.h"
#include "gmatrix/symmetrized_g.h"
#include "gmatrix/reference_g.h"
#include "records/fp_trap.h"
#include "records/record_io.h"
#include "records/run_end.h"

namespace korven {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Random decks

class DeckMaker {
 public:
  explicit DeckMaker(std::uint64_t seed) : rng_(seed) {}

  std::string deck() {
    text_ = "    a random deck for the G differential test\n -9\n";
    const int problems = pick(1, 3);
    for (int p = 1; p <= problems; ++p) {
      problem(p);
      text_ += p < problems ? " -9\n" : "999\n";
    }
    return text_;
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  double real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
  bool chance(double p) { return real(0.0, 1.0) < p; }

  static std::string i3(std::initializer_list<int> values) {
    std::string s;
    char f[16];
    for (int v : values) {
      std::snprintf(f, sizeof f, "%3d", v);
      s += f;
    }
    return s;
  }
  // A 12-column real: fixed six decimals when that keeps five digits, else
  // an exponent form the field input reads as well.
  static std::string f12(double v) {
    char f[32];
    const double a = std::fabs(v);
    if (a == 0.0 || (a >= 0.1 && a < 99999.0)) {
      std::snprintf(f, sizeof f, "%12.6f", v);
    } else {
      std::snprintf(f, sizeof f, "%12.5E", v);
    }
    return f;
  }
  void triples(const std::vector<Element>& t) {
    for (std::size_t n = 0; n < t.size(); ++n) {
      text_ += i3({t[n].row, t[n].col}) + f12(t[n].value);
      if (n % 4 == 3 || n + 1 == t.size()) text_ += "\n";
    }
  }

  struct Entry {
    int no, code, i, j, k, l, ix, jx;
    bool reference_point;
  };

  void problem(int number) {
    // A star: bonds from atom 1 only, whose mass later brings G' to the
    // largest single (G'(s, s) sums G(i, j) = mu(1) cos(i, j) over U row s).
    star_ = chance(0.08);
    if (star_) return star(number);
    const bool dense = chance(0.25);          // atoms in a ball, coordinates of any atoms
    const bool linear = chance(0.35);         // three collinear atoms at the end
    const int atoms = pick(3, chance(0.15) ? 60 : 18);
    // The overall length scale; small scales give large B rows.
    const double scale = chance(0.06) ? std::pow(10.0, real(-19.0, -16.0))
                                      : std::pow(10.0, real(-2.0, 2.0));
    std::vector<std::array<double, 3>> x(static_cast<std::size_t>(atoms) + 1);
    for (int a = 1; a <= atoms; ++a) {
      for (int c = 0; c < 3; ++c) {
        x[a][c] = dense ? real(-2.0, 2.0) : (a > 1 ? x[a - 1][c] : 0.0) + real(-1.0, 1.0);
      }
    }
    const int free_atoms = linear && atoms >= 6 ? atoms - 3 : atoms;
    if (free_atoms < atoms) {
      const int b = atoms - 1;
      x[b] = {x[free_atoms][0] + 1.0, x[free_atoms][1], x[free_atoms][2]};
      x[b - 1] = {x[b][0] - real(0.8, 1.5), x[b][1], x[b][2]};
      x[b + 1] = {x[b][0] + real(0.8, 1.5), x[b][1], x[b][2]};
    }

    // Coordinates over atoms near each other (or any, when dense).
    std::vector<Entry> entries;
    int rows = 0;
    auto near = [&](int count, std::vector<int>& out) {
      out.clear();
      const int span = dense ? free_atoms : std::min(free_atoms, count + 2);
      const int start = pick(1, free_atoms - span + 1);
      while (static_cast<int>(out.size()) < count) {
        const int a = start + pick(0, span - 1);
        if (std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
      }
    };
    std::vector<int> at;
    const int wanted = pick(1, std::min(3 * atoms, 120));
    while (rows < wanted) {
      const int kind = pick(1, free_atoms >= 4 ? 4 : 2);
      near(kind == 1 ? 2 : kind == 2 ? 3 : 4, at);
      int ix = 0, jx = 0;
      if (kind > 1 && chance(0.3)) {
        ix = pick(1, atoms);
        jx = pick(1, atoms);
      }
      const bool continuation = rows > 0 && chance(0.12);
      Entry e{continuation ? 0 : 1, kind, at[0], at[1], 0, 0, ix, jx, false};
      if (kind >= 2) e.k = at[2];
      if (kind >= 3) e.l = at[3];
      if (kind == 1) e.ix = e.jx = 0;
      entries.push_back(e);
      if (!continuation) ++rows;
      if (free_atoms < atoms && chance(0.08)) {
        const int b = atoms - 1;
        if (chance(0.5)) {
          entries.push_back({1, 5, 0, b - 1, b, b + 1, 0, 0, true});  // two rows
          rows += 2;
          pair_row_seen_ = true;
        } else if (pair_row_seen_ && chance(0.5)) {
          entries.push_back({1, 6, 0, b - 1, b, b + 1, 0, 0, true});  // adds to the pair row
          ++rows;
        } else {
          entries.push_back({1, 5, b - 1, b, b + 1, 0, 0, 0, true});
          ++rows;
        }
      }
    }
    int nic = rows;
    if (chance(0.15)) nic = std::max(1, rows + pick(-2, 3));
    const int save = chance(0.8) ? 1 : 0;

    char card[96];
    std::snprintf(card, sizeof card, "%3d%6d%4d%4d%4d\n", 0, number, atoms, nic, save);
    text_ += card;
    text_ += "PROBLEM " + std::to_string(number) + (dense ? " DENSE" : " CHAIN") + "\n";
    text_ += "SECOND TITLE\n";
    std::vector<Element> xt;
    for (int a = 1; a <= atoms; ++a)
      for (int c = 0; c < 3; ++c) xt.push_back({c + 1, a, static_cast<float>(x[a][c] * scale)});
    xt.push_back({-1, 0, 0.0f});
    triples(xt);

    const std::array<double, 3> p_point =
        free_atoms < atoms ? std::array<double, 3>{x[atoms - 1][0], x[atoms - 1][1] + 1.0, x[atoms - 1][2]}
                           : std::array<double, 3>{0.0, 0.0, 0.0};
    for (std::size_t n = 0; n < entries.size(); n += 3) {
      std::string line;
      int points = 0;
      for (std::size_t m = n; m < std::min(n + 3, entries.size()); ++m) {
        const Entry& e = entries[m];
        line += i3({e.no, e.code, e.i, e.j, e.k, e.l, e.ix, e.jx});
        points += e.reference_point;
      }
      if (n + 3 > entries.size()) line += i3({-1, 0, 0, 0, 0, 0, 0, 0});
      text_ += line + "\n";
      for (int k = 0; k < points; ++k)
        text_ += f12(p_point[0] * scale) + f12(p_point[1] * scale) + f12(p_point[2] * scale) + "\n";
    }
    if (entries.size() % 3 == 0) text_ += i3({-1}) + "\n";

    const int mass_sets = pick(1, 4);
    for (int m = 0; m < mass_sets; ++m) mass_set(m, atoms, nic);
  }

  void star(int number) {
    const int atoms = pick(3, 7);
    char card[96];
    std::snprintf(card, sizeof card, "%3d%6d%4d%4d%4d\n", 0, number, atoms, atoms - 1, 1);
    text_ += std::string(card) + "STAR\nSECOND TITLE\n";
    std::vector<Element> xt;
    for (int a = 2; a <= atoms; ++a)
      for (int c = 1; c <= 3; ++c) xt.push_back({c, a, static_cast<float>(real(-1.0, 1.0))});
    xt.push_back({-1, 0, 0.0f});
    triples(xt);
    for (int a = 2; a <= atoms; a += 3) {
      std::string line;
      for (int k = a; k < std::min(a + 3, atoms + 1); ++k) line += i3({1, 1, 1, k, 0, 0, 0, 0});
      text_ += line + (a + 3 > atoms ? i3({-1}) : "") + "\n";
    }
    if ((atoms - 1) % 3 == 0) text_ += i3({-1}) + "\n";
    const int mass_sets = pick(1, 3);
    for (int m = 0; m < mass_sets; ++m) mass_set(m, atoms, atoms - 1);
  }

  void mass_set(int m, int atoms, int nic) {
    int mode = pick(0, 2) - 1;
    if (mode < 0 && stored_count_ == 0 && chance(0.8)) mode = 1;
    int count = mode > 0 ? pick(1, nic) : stored_count_;
    if (mode < 0 && count > 0 && chance(0.2)) count = std::max(1, count + pick(-3, 3));
    if (count == 0) count = pick(1, nic);
    std::vector<int> blocks{1};
    const int inner = pick(0, std::min(count - 1, 6));
    std::vector<int> cuts;
    for (int b = 2; b <= count; ++b) cuts.push_back(b);
    std::shuffle(cuts.begin(), cuts.end(), rng_);
    cuts.resize(static_cast<std::size_t>(inner));
    std::sort(cuts.begin(), cuts.end());
    blocks.insert(blocks.end(), cuts.begin(), cuts.end());
    blocks.push_back(count + 1);

    char card[96];
    std::snprintf(card, sizeof card, "%3d%3d%3d%3d", -6, mode, static_cast<int>(blocks.size()), count);
    text_ += std::string(card) + "MASS SET " + std::to_string(m + 1) + "\n";

    // Masses, now and then one near the traps: small enough for G or G' to
    // come near or past the largest single, or a zero or subnormal one.
    const double odd = real(0.0, 1.0);
    const double odd_exponent = odd < 0.02   ? -real(37.8, 38.55)
                                : odd < 0.04 ? -real(38.35, 38.52)  // 1/m from 2.2E38 to 3.3E38
                                : odd < 0.08 ? -real(30.0, 37.8)
                                : odd < 0.09 ? -real(39.0, 44.0)
                                             : 0.0;
    const int odd_atom = star_ ? 1 : odd < 0.1 ? pick(1, atoms) : 0;
    std::string line;
    for (int a = 1; a <= atoms; ++a) {
      double mass = real(1.0, 200.0);
      if (a == odd_atom) mass = odd < 0.09 ? std::pow(10.0, odd_exponent) : 0.0;
      if (star_ && a == 1) mass = std::pow(10.0, -real(37.9, 38.52));
      line += f12(mass);
      if (a % 6 == 0 || a == atoms) {
        text_ += line + "\n";
        line.clear();
      }
    }
    if (mode > 0) {
      std::vector<Element> u;
      const int width = chance(0.3) ? nic : pick(1, 4);
      for (int s = 1; s <= count; ++s) {
        const int centre = 1 + (s - 1) * nic / count;
        std::vector<int> cols;
        const int n = pick(1, std::min(nic, 1 + width));
        while (static_cast<int>(cols.size()) < n) {
          const int c = std::clamp(centre + pick(-width, width), 1, nic);
          if (std::find(cols.begin(), cols.end(), c) == cols.end()) cols.push_back(c);
        }
        if (chance(0.5)) std::sort(cols.begin(), cols.end());
        const bool zero_row = chance(0.002);
        for (int c : cols) {
          if (chance(0.05)) u.push_back({0, 0, 0.0f});  // an empty triple
          u.push_back({s, c, zero_row ? 0.0f : static_cast<float>(real(-1.0, 1.0))});
        }
      }
      u.push_back({-3, 0, 0.0f});
      triples(u);
      stored_count_ = count;
    }
    if (mode != 0) {
      std::string b;
      for (std::size_t n = 0; n < blocks.size(); ++n) {
        b += i3({blocks[n]});
        if (n % 24 == 23 || n + 1 == blocks.size()) b += "\n";
      }
      text_ += b;
    }
  }

  std::mt19937_64 rng_;
  std::string text_;
  int stored_count_ = 0;
  bool star_ = false;
  bool pair_row_seen_ = false;
};

// ---------------------------------------------------------------------------
// The two runs

struct Outcome {
  std::string listing;
  std::string report;  // standard error
  int status = -1;
};

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The engine, as a user runs it: the deck's name on the console.
Outcome engine_run(const fs::path& dir) {
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  std::istringstream in("D.DAT\n");
  std::ostringstream out, err;
  Outcome o;
  o.status = run_korven(ConsoleStreams{in, out, err, false});
  fs::current_path(before);
  o.listing = slurp(dir / "D.OUT");
  o.report = err.str();
  return o;
}

// The same phases in the same order as the engine's run, with the mass sets
// of reference_g.
class ReferenceRun {
 public:
  explicit ReferenceRun(const fs::path& dir) : dir_(dir) {}

  Outcome execute() {
    Outcome o;
    const fs::path before = fs::current_path();
    fs::current_path(dir_);  // the run's files by the names the engine gives them
    FpTrapScope traps;
    try {
      const int trap = call_trapping([](void* self) { static_cast<ReferenceRun*>(self)->drive(); }, this);
      if (trap != 0) throw FloatingPointTrap{trap};
      o.status = 0;
    } catch (const RunFailure& failure) {
      units_.write_out_quietly();
      err_ << failure_report(failure);
      o.status = 1;
    } catch (const FloatingPointTrap& trap) {
      units_.write_out_quietly();
      err_ << trap_report(trap.number);
      o.status = 1;
    }
    units_.terminate();
    fs::current_path(before);
    o.listing = slurp(dir_ / "D.OUT");
    o.report = err_.str();
    return o;
  }

 private:
  Unit& deck() { return units_.unit(kDeckUnit); }
  Unit& listing() { return units_.unit(kListingUnit); }

  void drive() {
    units_.open_unit(kDeckUnit, "D.DAT", "OLD");
    units_.open_unit(kListingUnit, "D.OUT", "UNKNOWN");
    units_.open_unit(kBScratchUnit, "dseta.tmp", "UNKNOWN", "unformatted");
    units_.open_unit(kUScratchUnit, "dsetb.tmp", "UNKNOWN", "unformatted");
    std::int32_t control = search();
    while (control != 999) control = control == -9 ? problem() : search();
    units_.close_unit(kDeckUnit);
    units_.close_unit(kListingUnit);
    units_.close_unit(kBScratchUnit, "delete");
    units_.close_unit(kUScratchUnit, "delete");
  }

  std::int32_t search() {
    for (;;) {
      std::int32_t control = 0;
      ReadStatement card(deck(), "(I3)");
      card.read_integer(control);
      card.end_read();
      if (control == 999 || control == -9) return control;
    }
  }

  std::int32_t problem() {
    read_problem_card(deck(), problem_);
    read_titles(deck(), problem_);
    write_problem_heading(listing(), problem_);
    if (!check_problem_size(listing(), problem_)) return search();
    if (!read_x_matrix(deck(), listing(), problem_, x_)) return search();
    if (!read_coordinates(deck(), listing(), problem_, x_, b_, pair_row_, row_counts_)) return search();
    finish_b_list(b_, row_counts_);
    write_b_listing(listing(), problem_, b_);
    if (problem_.save > 0) store_b_list(units_, b_);
    const MassSetsEnd end = reference::run_mass_sets(units_, problem_, b_, stored_u_);
    return end.search ? search() : end.control;
  }

  fs::path dir_;
  std::istringstream in_;
  std::ostringstream out_, err_;
  Units units_{ConsoleStreams{in_, out_, err_, false}};
  Problem problem_;
  Positions x_;
  ElementList b_;
  std::vector<std::int32_t> row_counts_;
  std::int32_t pair_row_ = 0;
  StoredU stored_u_;
};

// The heading of a symmetrized section (not of an unsymmetrized one).
const std::string kSymmetrized = "  SYMMETRIZED G MATRIX ELEMENTS.";

struct Tally {
  int decks = 0, symmetrized = 0, factoring = 0, reused = 0, traps = 0;
};

int occurrences(const std::string& text, const std::string& word) {
  int n = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

// Runs decks first ... first + count - 1 both ways and compares them.
Tally compare_decks(int first, int count) {
  Tally tally;
  const fs::path root = fs::temp_directory_path() /
                        ("korven_gdiff_" + std::to_string(::getpid()) + "_" + std::to_string(first));
  for (int d = first; d < first + count; ++d) {
    const std::string text = DeckMaker(0x6b6f7276656eULL + static_cast<std::uint64_t>(d)).deck();
    fs::remove_all(root);
    fs::create_directories(root / "engine");
    fs::create_directories(root / "reference");
    for (const char* side : {"engine", "reference"}) std::ofstream(root / side / "D.DAT") << text;
    const Outcome engine = engine_run(root / "engine");
    const Outcome reference = ReferenceRun(root / "reference").execute();
    ++tally.decks;
    const bool same = engine.listing == reference.listing && engine.report == reference.report &&
                      engine.status == reference.status;
    if (!same) {
      const fs::path kept = fs::temp_directory_path() / ("korven_gdiff_deck_" + std::to_string(d) + ".DAT");
      std::ofstream(kept) << text;
      ADD_FAILURE() << "deck " << d << " (kept as " << kept << "): listings "
                    << (engine.listing == reference.listing ? "agree" : "differ") << ", reports '"
                    << engine.report << "' and '" << reference.report << "', status " << engine.status
                    << " and " << reference.status;
      continue;
    }
    tally.symmetrized += engine.listing.find(kSymmetrized) != std::string::npos;
    tally.factoring += engine.listing.find("G NOT FACTORING") != std::string::npos;
    // More symmetrized sections than U matrices read: a stored U was used.
    tally.reused += occurrences(engine.listing, kSymmetrized) >
                    occurrences(text, "\n -6  1");
    tally.traps += engine.report.find("floating-point error") != std::string::npos;
  }
  fs::remove_all(root);
  return tally;
}

bool long_mode() {
  const char* v = std::getenv("KORVEN_LONG_TESTS");
  return v != nullptr && std::string(v) == "1";
}

// Shards of the series, so that ctest can run them side by side.
class GDifferential : public ::testing::TestWithParam<int> {};

TEST_P(GDifferential, RandomDecksListTheSameAsThePlainLoops) {
  const int per_shard = long_mode() ? 600 : 75;
  const Tally t = compare_decks(GetParam() * per_shard, per_shard);
  std::printf("%d decks: %d with symmetrized G, %d with factoring reports, %d reusing a stored U, "
              "%d ending in a floating-point trap\n",
              t.decks, t.symmetrized, t.factoring, t.reused, t.traps);
  // The decks must reach what the test is about, not stop at input errors.
  EXPECT_GT(t.symmetrized, t.decks / 2);
  EXPECT_GT(t.factoring, t.decks / 4);
  EXPECT_GT(t.reused, 0);
}

INSTANTIATE_TEST_SUITE_P(Shards, GDifferential, ::testing::Range(0, 4));

// ---------------------------------------------------------------------------
// The two loops bit for bit, on lists the deck cannot give as freely: rows
// whose entries stand behind later rows, repeated columns, tiny and huge
// values. Every listed G element must have the same bits; every G'(s, k)
// the same bits or be a zero in both.

std::uint32_t bits(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

template <class F>
int trap_of(F&& f) {
  try {
    f();
  } catch (const FloatingPointTrap& trap) {
    return trap.number;
  }
  return 0;
}

TEST(GKernels, BitsAgreeWithThePlainLoops) {
  std::mt19937_64 rng(1913);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto real = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  FpTrapScope traps;
  const int cases = long_mode() ? 10000 : 1000;
  int g_traps = 0, prime_traps = 0;
  for (int c = 0; c < cases; ++c) {
    SCOPED_TRACE(c);
    const int atoms = pick(1, 25), nic = pick(1, 60);
    // Hot cases bring G and G' near the largest single (3.4E38).
    const bool hot = pick(0, 5) == 0;
    const double size = std::pow(10.0, hot ? real(17.6, 18.8) : real(-3.0, 2.0));
    ElementList b;
    for (int r = 1; r <= nic; ++r) {
      if (pick(0, 9) == 0) continue;  // a row without entries
      const int first_atom = pick(1, atoms);
      for (int n = pick(1, 12); n > 0; --n) {
        const int atom = std::min(atoms, first_atom + pick(0, 3));
        // Hot rows all of one sign, so that sums of large terms grow.
        const float v = static_cast<float>(real(hot ? 0.3 : -1.0, 1.0) * (pick(0, 19) == 0 ? 1e-30 : size));
        b.push_back({r, 3 * (atom - 1) + pick(1, 3), pick(0, 29) == 0 ? -0.0f : v});
      }
    }
    // Now and then an entry moved behind later rows.
    for (int n = pick(0, 3); n > 0 && b.size() > 2; --n) {
      const auto at = b.begin() + pick(0, static_cast<int>(b.size()) - 2);
      const Element e = *at;
      b.erase(at);
      b.push_back(e);
    }
    b.push_back({0, 0, 0.0f});
    std::vector<float> masses(static_cast<std::size_t>(atoms));
    for (float& m : masses) m = static_cast<float>(hot ? real(0.5, 2.0) : real(0.5, 100.0));
    ElementList g, g_ref;
    const int trap = trap_of([&] { compute_unsymmetrized_g(b, masses, nic, g); });
    ASSERT_EQ(trap, trap_of([&] { reference::unsymmetrized_g(b, masses, nic, g_ref); }));
    if (trap != 0) {
      ++g_traps;
      continue;
    }
    ASSERT_EQ(g.size(), g_ref.size());
    for (std::size_t n = 0; n < g.size(); ++n) {
      ASSERT_EQ(g[n].row, g_ref[n].row);
      ASSERT_EQ(g[n].col, g_ref[n].col);
      ASSERT_EQ(bits(g[n].value), bits(g_ref[n].value)) << g[n].row << "," << g[n].col;
    }

    const int count = pick(1, nic);
    ElementList u;
    UMatrixBuilder builder(count, nic, u);
    const int width = pick(0, 3) == 0 ? nic : pick(1, 5);
    bool tiny_row = false;  // a row of tiny values can square to nothing: its factor traps
    for (int s = 1; s <= count && !tiny_row; ++s) {
      std::vector<int> cols;
      const int centre = 1 + (s - 1) * nic / count;
      for (int n = pick(1, std::min(nic, width + 1)); static_cast<int>(cols.size()) < n;) {
        const int col = std::clamp(centre + pick(-width, width), 1, nic);
        if (std::find(cols.begin(), cols.end(), col) == cols.end()) cols.push_back(col);
      }
      for (int col : cols) {
        const float v = static_cast<float>(real(hot ? 0.3 : -1.0, 1.0) * (pick(0, 19) == 0 ? 1e-20 : 1.0));
        if (trap_of([&] { builder.take(s, col, v); }) != 0) tiny_row = true;
      }
    }
    UTripleOutcome end = UTripleOutcome::error;
    if (tiny_row || trap_of([&] { end = builder.take(kUEndRow, 0, 0.0f); }) != 0) continue;
    ASSERT_EQ(end, UTripleOutcome::complete);
    // Now and then G's elements out of the order the run lists them in.
    if (pick(0, 4) == 0 && g.size() > 2) std::shuffle(g.begin(), g.end() - 1, rng);
    // A stored U may meet a card with fewer or more symmetry coordinates.
    const int rows = std::max(1, count + (pick(0, 3) == 0 ? pick(-3, 3) : 0));
    SymmetrizedRows fast(g, u, nic, rows);
    reference::SymmetrizedRows plain(g, u, nic, rows);
    // A third passes over some rows, as a row formed on the other thread is
    // passed over: the rows it forms must come out the same all the same.
    SymmetrizedRows skipping(g, u, nic, rows);
    for (int s = 1; s <= rows; ++s) {
      const int t = trap_of([&] { fast.next_row(); });
      ASSERT_EQ(t, trap_of([&] { plain.next_row(); })) << s;
      const bool skip = pick(0, 2) == 0;
      if (skip) {
        skipping.skip_row();
      } else {
        ASSERT_EQ(t, trap_of([&] { skipping.next_row(); })) << s;
      }
      if (t != 0) {
        ++prime_traps;
        break;
      }
      if (!skip) {
        ASSERT_EQ(skipping.columns(), fast.columns()) << s;
        for (const int k : fast.columns()) ASSERT_EQ(bits(skipping.value(k)), bits(fast.value(k))) << s << "," << k;
      }
      for (int k = s; k <= rows; ++k) {
        const float x = fast.value(k), y = plain.value(k);
        ASSERT_TRUE(bits(x) == bits(y) || (x == 0.0f && y == 0.0f)) << s << "," << k << ": " << x << " " << y;
        const auto& met = fast.columns();
        ASSERT_TRUE(x == 0.0f || std::binary_search(met.begin(), met.end(), k)) << s << "," << k;
      }
    }
  }
  std::printf("%d cases: %d traps in G, %d in G'\n", cases, g_traps, prime_traps);
  EXPECT_GT(g_traps, 0);
  EXPECT_GT(prime_traps, 0);
}

}  // namespace
}  // namespace korven
