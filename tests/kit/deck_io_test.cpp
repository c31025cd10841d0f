// Deck writing, deck replay, listing reading and the in-process run, checked
// against hand-typed cards, the engine's own listings and dense products.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cfenv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "kit/io/deck_replay.h"
#include "kit/io/deck_writer.h"
#include "kit/io/engine_run.h"
#include "kit/base/kit_error.h"
#include "kit/io/listing_reader.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;
const fs::path kSource = KORVEN_SOURCE_DIR;

std::string file_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A private folder for the files of one test.
struct TempDir {
  fs::path path;
  TempDir() {
    std::string t = (fs::temp_directory_path() / "deckio-test-XXXXXX").string();
    path = ::mkdtemp(t.data());
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path write(const std::string& name, const std::string& text) const {
    std::ofstream(path / name, std::ios::binary) << text;
    return path / name;
  }
};

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const InputError& e) {
    return e.what();
  }
  return "(no InputError)";
}

TEST(RealField, SixDecimalsFromTheDouble) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {15.994915, "   15.994915"},    {-0.5, "   -0.500000"},
      {0.75695, "    0.756950"},      {1e-7, "    0.000000"},
      {-1e-7, "    0.000000"},        {9999.999999, " 9999.999999"},
      {-9999.999999, "-9999.999999"}, {99999.999999, "99999.999999"},
      {0.0000005, "    0.000000"},  // the double lies just below the half
      {0.0000015, "    0.000002"},  // and this one just above
  };
  for (const auto& c : cases) EXPECT_EQ(real_field(c.value), c.text) << c.value;
  for (const double bad : {-99999.999999, 1e6, std::nan(""), HUGE_VAL})
    EXPECT_THROW(real_field(bad), std::logic_error) << bad;
  EXPECT_THROW(integer_field(1000, 3), std::logic_error);
  EXPECT_THROW(integer_field(-100, 3), std::logic_error);
}

// Water with one U matrix, kept (save 1) and used again by D2O.
DeckProblem water() {
  DeckProblem p;
  p.number = 1;
  p.nic = 3;
  p.save = 1;
  p.title1 = "WATER";
  p.title2 = "H2O";
  p.x = {Vec3(0, 0, 0), Vec3(0.75695, 0.585882, 0), Vec3(-0.75695, 0.585882, 0)};
  p.entries = {{1, 1, 1, 2, 0, 0, 0, 0, {}}, {2, 1, 1, 3, 0, 0, 0, 0, {}}, {3, 2, 2, 1, 3, 0, 0, 0, {}}};
  MassSet h2o{"H2O", {15.994915, 1.007825, 1.007825}, 1, 3, {}, {1, 3, 4}};
  h2o.u = {{1, 1, 1.0}, {1, 2, 1.0}, {2, 3, 1.0}, {3, 1, 1.0}, {3, 2, -1.0}};
  p.mass_sets = {h2o, MassSet{"D2O", {15.994915, 2.014102, 2.014102}, -1, 3, {}, {1, 3, 4}}};
  return p;
}

// Acetylene: a CODE 5 entry with its continuation and two CODE 6 entries,
// a mass set on the U stored by the problem before, and one without U.
DeckProblem acetylene() {
  DeckProblem p;
  p.number = 2;
  p.nic = 7;
  p.title1 = "ACETYLENE";
  p.title2 = "HCCH ALONG Z";
  p.x = {Vec3(0, 0, -1.6635), Vec3(0, 0, -0.6015), Vec3(0, 0, 0.6015), Vec3(0, 0, 1.6635)};
  p.entries = {{1, 1, 2, 1, 0, 0, 0, 0, {}},
               {2, 1, 3, 4, 0, 0, 0, 0, {}},
               {3, 1, 2, 3, 0, 0, 0, 0, {}},
               {4, 5, 1, 2, 3, 0, 0, 0, Vec3(1, 0, -0.6015)},
               {0, 6, 2, 3, 4, 0, 0, 0, Vec3(0, 1, 0.6015)},
               {6, 6, 1, 2, 3, 0, 0, 0, Vec3(0, 1, -0.6015)},
               {7, 6, 2, 3, 4, 0, 0, 0, Vec3(1, 0, 0.6015)}};
  p.mass_sets = {MassSet{"C2H2 ON THE STORED U", {1.007825, 12.0, 12.0, 1.007825}, -1, 3, {}, {1, 3, 4}},
                 MassSet{"C2D2", {2.014102, 12.0, 12.0, 2.014102}, 0, 0, {}, {}}};
  return p;
}

Deck two_problems() {
  Deck d;
  d.comments = {"   water and acetylene", ""};
  d.problems = {water(), acetylene()};
  return d;
}

TEST(DeckWriter, CardsInTheReadersColumns) {
  Deck d;
  d.comments = {"   water"};
  d.problems = {water()};
  EXPECT_EQ(deck_text(d),
            "   water\n"
            " -9\n"
            "  0     1   3   3   1\n"
            "WATER\n"
            "H2O\n"
            "  1  1    0.000000  2  1    0.000000  3  1    0.000000  1  2    0.756950\n"
            "  2  2    0.585882  3  2    0.000000  1  3   -0.756950  2  3    0.585882\n"
            "  3  3    0.000000 -1  0    0.000000\n"
            "  1  1  1  2  0  0  0  0  2  1  1  3  0  0  0  0  3  2  2  1  3  0  0  0\n"
            " -1  0  0  0  0  0  0  0\n"
            " -6  1  3  3H2O\n"
            "   15.994915    1.007825    1.007825\n"
            "  1  1    1.000000  1  2    1.000000  2  3    1.000000  3  1    1.000000\n"
            "  3  2   -1.000000 -3  0    0.000000\n"
            "  1  3  4\n"
            " -6 -1  3  3D2O\n"
            "   15.994915    2.014102    2.014102\n"
            "  1  3  4\n"
            "999\n");
  const std::vector<std::function<void(Deck&)>> refused = {
      [](Deck& x) { x.comments = {"  1 not blank"}; },
      [](Deck& x) { x.problems[0].title1 = std::string(81, 'T'); },
      [](Deck& x) { x.problems[0].mass_sets[0].masses.pop_back(); },
      [](Deck& x) { x.problems[0].x[1][0] = 123456.0; },
      [](Deck& x) { x.problems[0].entries[0].code = 5; },  // no reference point
  };
  for (std::size_t n = 0; n < refused.size(); ++n) {
    Deck bad = d;
    refused[n](bad);
    EXPECT_THROW(deck_text(bad), std::logic_error) << "case " << n;
  }
}

TEST(DeckWriter, FileIsReplacedOnlyWithForce) {
  TempDir dir;
  const fs::path deck = dir.path / "WATER.DAT";
  const Deck d = two_problems();
  write_deck_file(deck, d, false);
  EXPECT_EQ(file_text(deck), deck_text(d));
  EXPECT_NE(error_of([&] { write_deck_file(deck, Deck{}, false); }).find("WATER.DAT: exists; use --force"),
            std::string::npos);
  write_deck_file(deck, Deck{}, true);
  EXPECT_EQ(file_text(deck), "999\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()),
            1);  // no temporary left
}

// The volatile keeps the rounding: g++ 12 at -O2 was seen to drop a
// double-float-double round trip on constant Vec3 components.
float as_single(double v) {
  volatile float f = static_cast<float>(v);
  return f;
}
Vec3 as_single(const Vec3& v) { return Vec3(as_single(v[0]), as_single(v[1]), as_single(v[2])); }

// What the replay must give back: values as the engine stores them (single
// precision), each U row normalised in single precision by hand.
Deck as_the_engine_reads_it(Deck d) {
  std::vector<MatrixElement> last_u;
  for (DeckProblem& p : d.problems) {
    for (Vec3& a : p.x) a = as_single(a);
    for (CoordinateEntry& e : p.entries)
      if (e.reference_point) e.reference_point = as_single(*e.reference_point);
    for (MassSet& m : p.mass_sets) {
      for (double& mass : m.masses) mass = as_single(mass);
      if (m.u_mode > 0) {
        std::map<int, float> squares;
        for (const MatrixElement& e : m.u)
          squares[e.row] = as_single(squares[e.row] + double(as_single(e.value)) * as_single(e.value));
        for (MatrixElement& e : m.u)
          e.value =
              as_single(double(as_single(1.0 / std::sqrt(double(squares[e.row])))) * as_single(e.value));
        last_u = m.u;
      } else if (m.u_mode < 0) {
        m.u = last_u;
      }
    }
  }
  return d;
}

void expect_same(const Deck& got, const Deck& want) {
  EXPECT_EQ(got.comments, want.comments);
  EXPECT_EQ(got.run_end, "");
  ASSERT_EQ(got.problems.size(), want.problems.size());
  for (std::size_t n = 0; n < want.problems.size(); ++n) {
    const DeckProblem& g = got.problems[n];
    const DeckProblem& w = want.problems[n];
    SCOPED_TRACE("problem " + std::to_string(n + 1));
    EXPECT_EQ(std::tie(g.number, g.nic, g.save, g.title1, g.title2, g.abandoned),
              std::tie(w.number, w.nic, w.save, w.title1, w.title2, w.abandoned));
    EXPECT_EQ(g.x, w.x);
    ASSERT_EQ(g.entries.size(), w.entries.size());
    for (std::size_t e = 0; e < w.entries.size(); ++e) {
      const CoordinateEntry &a = g.entries[e], &b = w.entries[e];
      EXPECT_EQ(std::tie(a.no, a.code, a.i, a.j, a.k, a.l, a.ix, a.jx),
                std::tie(b.no, b.code, b.i, b.j, b.k, b.l, b.ix, b.jx));
      EXPECT_EQ(a.reference_point, b.reference_point) << "entry " << e;
    }
    ASSERT_EQ(g.mass_sets.size(), w.mass_sets.size());
    for (std::size_t m = 0; m < w.mass_sets.size(); ++m) {
      const MassSet &a = g.mass_sets[m], &b = w.mass_sets[m];
      EXPECT_EQ(std::tie(a.title, a.masses, a.u_mode, a.symmetry_count, a.boundaries),
                std::tie(b.title, b.masses, b.u_mode, b.symmetry_count, b.boundaries));
      ASSERT_EQ(a.u.size(), b.u.size());
      for (std::size_t u = 0; u < b.u.size(); ++u)
        EXPECT_EQ(std::tie(a.u[u].row, a.u[u].column, a.u[u].value),
                  std::tie(b.u[u].row, b.u[u].column, b.u[u].value));
    }
  }
}

TEST(DeckReplay, WrittenDeckComesBack) {
  TempDir dir;
  const Deck d = two_problems();
  const fs::path deck = dir.path / "TWO.DAT";
  write_deck_file(deck, d, false);
  expect_same(replay_deck(deck), as_the_engine_reads_it(d));
}

// G' = U G U^T by a dense product from the listed G and the replayed U: the
// listed blocks must hold it, so the replay's U is the engine's.
TEST(EngineRun, WrittenDeckRunsAndItsListingReadsBack) {
  TempDir dir;
  const fs::path deck = dir.write("TWO.DAT", deck_text(two_problems()));
  const fs::path before = fs::current_path();
  const EngineRun run = run_engine(deck);
  EXPECT_EQ(fegetexcept(), 0) << "a trap left enabled";
  EXPECT_EQ(fs::current_path(), before);
  ASSERT_EQ(run.status, 0) << run.console_err;
  const Listing listing = read_listing(run.listing, "TWO.OUT");
  const Deck replayed = replay_deck(deck);
  ASSERT_EQ(listing.problems.size(), 2u);
  EXPECT_FALSE(listing.cut_short);
  for (std::size_t n = 0; n < 2; ++n) {
    const ListedProblem& lp = listing.problems[n];
    const DeckProblem& dp = replayed.problems[n];
    EXPECT_EQ(std::tie(lp.number, lp.nic, lp.title1, lp.title2),
              std::tie(dp.number, dp.nic, dp.title1, dp.title2));
    EXPECT_EQ(lp.atoms, static_cast<int>(dp.x.size()));
    EXPECT_TRUE(lp.has_b);
    EXPECT_TRUE(lp.errors.empty());
    ASSERT_EQ(lp.mass_sets.size(), dp.mass_sets.size());
    for (std::size_t m = 0; m < dp.mass_sets.size(); ++m) {
      const ListedMassSet& lm = lp.mass_sets[m];
      const MassSet& dm = dp.mass_sets[m];
      EXPECT_EQ(lm.title, dm.title);
      EXPECT_EQ(lm.symmetrized, dm.u_mode != 0);
      if (!lm.symmetrized) continue;
      ASSERT_EQ(lm.blocks.size(), dm.boundaries.size() - 1);
      Matrix g = Matrix::Zero(dp.nic, dp.nic);
      for (const MatrixElement& e : lm.g) g(e.row - 1, e.column - 1) = g(e.column - 1, e.row - 1) = e.value;
      Matrix u = Matrix::Zero(dm.symmetry_count, dp.nic);
      for (const MatrixElement& e : dm.u) u(e.row - 1, e.column - 1) = e.value;
      const Matrix gs = u * g * u.transpose();
      int listed = 0;
      for (std::size_t b = 0; b < lm.blocks.size(); ++b) {
        const int lo = dm.boundaries[b];
        for (const MatrixElement& e : lm.blocks[b].elements) {
          EXPECT_NEAR(e.value, gs(lo + e.row - 2, lo + e.column - 2), 3e-6);
          ++listed;
        }
      }
      EXPECT_GT(listed, 0);
    }
  }
}

// Numbers beyond the heading's four columns come from the B heading or
// from the error report; the replay abandons the problem the engine abandons.
TEST(EngineRun, ProblemNumbersBeyondTheHeadingsField) {
  TempDir dir;
  const fs::path deck =
      dir.write("BIG.DAT",
                " -9\n  0 12345   2   1   0\nFIRST\nX ERROR\n -2  1    1.000000\n"
                " -9\n  0 23456   2   1   0\nSECOND\nONE STRETCH\n  1  2    1.000000 -1  0\n"
                "  1  1  1  2  0  0  0  0 -1\n999\n");
  const EngineRun run = run_engine(deck);
  ASSERT_EQ(run.status, 0) << run.console_err;
  const Listing l = read_listing(run.listing, "BIG.OUT");
  const Deck d = replay_deck(deck);
  ASSERT_EQ(l.problems.size(), 2u);
  ASSERT_EQ(d.problems.size(), 2u);
  const struct {
    int number;
    std::size_t errors;
    bool has_b;
  } want[] = {{12345, 1, false}, {23456, 0, true}};
  for (std::size_t n = 0; n < 2; ++n) {
    EXPECT_EQ(l.problems[n].number, want[n].number);
    EXPECT_EQ(l.problems[n].errors.size(), want[n].errors);
    EXPECT_EQ(l.problems[n].has_b, want[n].has_b);
    EXPECT_EQ(d.problems[n].number, want[n].number);
    EXPECT_EQ(d.problems[n].abandoned, want[n].errors > 0);
  }
  ASSERT_EQ(l.problems[1].b.size(), 2u);
  EXPECT_EQ(l.problems[1].b[1].value, 1.0);  // d r / d x2 of a stretch along x
}

// The expected listings of the examples and end-to-end cases: each reads,
// with as many problems as "Program KORVEN" headings and as many error
// reports as records beginning with 0.
TEST(ListingReader, EveryExpectedListingReads) {
  std::vector<fs::path> listings;
  for (const fs::path& root : {kSource / "examples", kSource / "tests/e2e/cases"})
    for (const auto& f : fs::recursive_directory_iterator(root))
      if (f.path().extension() == ".OUT" && f.path().parent_path().filename() == "expected")
        listings.push_back(f.path());
  ASSERT_GT(listings.size(), 30u);
  for (const fs::path& p : listings) {
    SCOPED_TRACE(p.string());
    const std::string text = file_text(p);
    Listing l;
    ASSERT_NO_THROW(l = read_listing(text, p.string()));
    std::size_t headings = 0, reports = 0, errors = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      headings += line.rfind("     Program KORVEN", 0) == 0;
      reports += line.rfind('0', 0) == 0;
    }
    for (const ListedProblem& q : l.problems) errors += q.errors.size();
    EXPECT_EQ(l.problems.size(), headings);
    EXPECT_EQ(errors, reports);
    if (l.cut_short) {
      EXPECT_EQ(file_text(p.parent_path() / "status").substr(0, 1), "1");
    }
  }
}

TEST(ListingReader, WaterValuesAsListed) {
  const Listing l = read_listing_file(kSource / "examples/water/expected/WATER.OUT");
  ASSERT_EQ(l.problems.size(), 1u);
  const ListedProblem& p = l.problems[0];
  EXPECT_EQ(std::tie(p.number, p.atoms, p.nic), std::make_tuple(1, 3, 3));
  ASSERT_EQ(p.b.size(), 13u);
  ASSERT_EQ(p.mass_sets.size(), 3u);
  const ListedMassSet& hdo = p.mass_sets[2];
  ASSERT_EQ(hdo.blocks.size(), 2u);
  const struct {
    const std::vector<MatrixElement>* list;
    std::size_t at;
    int row, column;
    double value;
  } cases[] = {
      {&p.b, 0, 1, 1, -0.790796},
      {&p.b, 12, 3, 2, 1.652313},
      {&p.mass_sets[0].g, 1, 1, 2, -0.015675},
      {&p.mass_sets[1].g, 5, 3, 3, 1.254474},
      {&p.mass_sets[0].blocks[0].elements, 1, 1, 2, -0.089420},
      {&p.mass_sets[0].blocks[1].elements, 0, 1, 1, 1.070430},
      {&hdo.blocks[0].elements, 2, 1, 3, 0.247868},
  };
  for (const auto& c : cases) {
    ASSERT_LT(c.at, c.list->size());
    const MatrixElement& e = (*c.list)[c.at];
    EXPECT_EQ(std::tie(e.row, e.column, e.value), std::tie(c.row, c.column, c.value)) << c.at;
  }
  EXPECT_EQ(hdo.title, "HDO");
  EXPECT_EQ(hdo.masses, (std::vector<double>{15.99492, 1.007825, 2.014102}));
  ASSERT_EQ(hdo.blocks[0].factoring_reports.size(), 1u);
  const MatrixElement& f = hdo.blocks[0].factoring_reports[0];
  EXPECT_EQ(std::tie(f.row, f.column, f.value), std::make_tuple(1, 3, 0.247868));
  EXPECT_TRUE(p.mass_sets[0].blocks[0].factoring_reports.empty());
}

TEST(ListingReader, CorruptedListingsNameTheRecord) {
  const std::string water = file_text(kSource / "examples/water/expected/WATER.OUT");
  std::vector<std::string> records;
  for (std::size_t at = 0; at < water.size();) {
    const std::size_t end = water.find("\r\n", at);
    records.push_back(water.substr(at, end - at));
    at = end + 2;
  }
  const auto find = [&](const std::string& start) {
    for (std::size_t n = 0; n < records.size(); ++n)
      if (records[n].rfind(start, 0) == 0) return n;
    throw std::logic_error("no record " + start);
  };
  const std::size_t b_count = find("    13 NON-ZERO"), first_g = find("  1  1    1.054756");
  const struct {
    const char* what;
    std::size_t record;
    std::string replacement;
    bool cut;
  } cases[] = {
      {"wrong count", b_count, "    12 NON-ZERO ELEMENTS.", false},
      {"garbage record", first_g, "garbage", false},
      {"value in asterisks", first_g,
       "  1  1************  1  2    -.015675  1  3    -.063229  2  2    1.054756", false},
      {"missing reader line", b_count + 1, "", false},
      {"list without its end entry", b_count + 4, "", true},
  };
  for (const auto& c : cases) {
    std::string text;
    for (std::size_t n = 0; n < records.size(); ++n) {
      if (n == c.record && c.cut) break;
      if (n == c.record && c.replacement.empty()) continue;
      text += (n == c.record ? c.replacement : records[n]) + "\r\n";
    }
    const std::string message = error_of([&] { read_listing(text, "W.OUT"); });
    EXPECT_EQ(message.rfind("W.OUT: record " + std::to_string(c.record + 1) + ": ", 0), 0u)
        << c.what << ": " << message;
  }
}

// Every cut of a listing or a deck, at any byte, reads or is an InputError:
// never another exception, never a crash.
TEST(DeckIo, EveryCutIsReadOrRefused) {
  TempDir dir;
  const std::string listing = file_text(kSource / "examples/acetylene/expected/C2H2.OUT");
  const std::string deck = file_text(kSource / "examples/acetylene/C2H2.DAT");
  for (std::size_t n = 0; n < listing.size(); n += 7) {
    try {
      read_listing(std::string_view(listing).substr(0, n), "C2H2.OUT");
    } catch (const InputError&) {
    }
  }
  for (std::size_t n = 0; n < deck.size(); n += 5) {
    const fs::path cut = dir.write("CUT.DAT", deck.substr(0, n));
    try {
      replay_deck(cut);
    } catch (const InputError&) {
    }
  }
}

// The replay of every deck the engine runs to its end gives the listing's
// problems, with abandoned problems where the listing holds a report.
TEST(DeckReplay, AgreesWithTheEnginesListings) {
  int decks = 0;
  for (const fs::path& root : {kSource / "examples", kSource / "tests/e2e/cases/deck_errors",
                               kSource / "tests/e2e/cases/deck_forms"}) {
    for (const auto& dir : fs::directory_iterator(root)) {
      for (const auto& f : fs::directory_iterator(dir.path())) {
        if (f.path().extension() != ".DAT") continue;
        const fs::path out = dir.path() / "expected" / f.path().filename().replace_extension(".OUT");
        if (!fs::exists(out) || file_text(dir.path() / "expected/status").substr(0, 1) != "0") continue;
        SCOPED_TRACE(f.path().string());
        const Deck d = replay_deck(f.path());
        const Listing l = read_listing_file(out);
        ASSERT_EQ(d.problems.size(), l.problems.size());
        for (std::size_t n = 0; n < l.problems.size(); ++n) {
          const DeckProblem& p = d.problems[n];
          const ListedProblem& q = l.problems[n];
          EXPECT_EQ(p.abandoned, !q.errors.empty()) << "problem " << n + 1;
          EXPECT_EQ(p.number, q.number);
          ASSERT_EQ(p.mass_sets.size(), q.mass_sets.size()) << "problem " << n + 1;
          for (std::size_t m = 0; m < p.mass_sets.size(); ++m)
            for (std::size_t a = 0; a < p.mass_sets[m].masses.size(); ++a)
              EXPECT_NEAR(p.mass_sets[m].masses[a], q.mass_sets[m].masses[a],
                          1e-5 * std::fabs(q.mass_sets[m].masses[a]) + 1e-6);
        }
        ++decks;
      }
    }
  }
  EXPECT_GT(decks, 20);
}

TEST(DeckReplay, UnreadableDecksNameTheCard) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {" -9\n  0     1   2   1   0\nT1\nT2\n",
       "card 5: the deck ends inside problem 1 where an X-matrix card should be"},
      {"   comment\n", "card 2: the deck ends before its 999 card"},
      {"\x01\x02\x03\x04\n999\n", "card 1: columns 1-3: invalid character in integer field"},
      {" -9\n  0     1   2   1   0\nT1\nT2\n -1\n  1  x\n",
       "card 6: a coordinate card: invalid character in integer field"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    const fs::path deck = dir.write("BAD.DAT", c.text);
    EXPECT_EQ(error_of([&] { replay_deck(deck); }), deck.string() + ": " + c.message);
  }
  EXPECT_EQ(error_of([&] { replay_deck(dir.path / "NONE.DAT"); }),
            (dir.path / "NONE.DAT").string() + ": no such file");
}

// The engine's own run-time failures: a trap (M) ends the replay with
// run_end said, a read failure (F) is an InputError. The replay sees a trap
// by the exception flags, which Valgrind does not keep.
TEST(DeckReplay, TrapsAndReadFailuresOfTheEngine) {
  std::feclearexcept(FE_ALL_EXCEPT);
  volatile double zero = 0.0;
  volatile double quotient = 1.0 / zero;
  (void)quotient;
  if (!std::fetestexcept(FE_DIVBYZERO)) GTEST_SKIP() << "no floating-point exception flags here";
  int traps = 0;
  for (const auto& c : fs::directory_iterator(kSource / "tests/e2e/cases/runtime_failures")) {
    const std::string name = c.path().filename().string();
    if (name.rfind("listing", 0) == 0) continue;  // good decks whose listing cannot be written
    SCOPED_TRACE(name);
    if (name.find("_m6") != std::string::npos) {
      EXPECT_NE(replay_deck(c.path() / "DECK.DAT").run_end, "");
      ++traps;
    } else {
      EXPECT_THROW(replay_deck(c.path() / "DECK.DAT"), InputError);
    }
  }
  EXPECT_EQ(traps, 4);
}

TEST(DeckRows, NumberedAsTheWalkNumbersThem) {
  const auto entry = [](int no, int code, int l = 0) {
    return CoordinateEntry{no, code, 1, 2, 3, l, 0, 0, {}};
  };
  using Rows = std::vector<std::tuple<int, std::vector<int>, int>>;
  const struct {
    const char* what;
    std::vector<CoordinateEntry> entries;
    Rows rows;
  } cases[] = {
      {"NO 7, 3, 12", {entry(7, 1), entry(3, 1), entry(12, 1)}, {{1, {0}, 0}, {2, {1}, 0}, {3, {2}, 0}}},
      {"CODE 5 with L > 0", {entry(1, 5, 4), entry(1, 1)}, {{1, {0}, 1}, {2, {0}, 2}, {3, {1}, 0}}},
      {"CODE 5, continuation CODE 6", {entry(1, 5), entry(0, 6)}, {{1, {0}, 0}, {2, {1}, 0}}},
      {"CODE 6 with L > 0 on the pair row",
       {entry(1, 5), entry(1, 6, 4)},
       {{1, {0}, 0}, {2, {1}, 0}, {3, {1}, 0}}},
      {"continuation and blank entries",
       {entry(1, 1), entry(0, 0), entry(1, 1), entry(0, 2)},
       {{1, {0}, 0}, {2, {2, 3}, 0}}},
  };
  for (const auto& c : cases) {
    DeckProblem p;
    p.entries = c.entries;
    Rows got;
    for (const DeckRow& r : deck_rows(p)) got.emplace_back(r.row, r.entries, r.component);
    EXPECT_EQ(got, c.rows) << c.what;
  }
}

}  // namespace
}  // namespace korven::kit
