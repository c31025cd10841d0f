#include "kit/io/listing_reader.h"

#include <charconv>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/model/deck.h"

namespace korven::kit {

namespace {

// The fixed texts of the listing, as the engine's layouts write them.
constexpr std::string_view kProgram = "     Program KORVEN";
constexpr std::string_view kEvaluation = "          G MATRIX EVALUATION.";
constexpr std::string_view kProblemNumber = "     PROBLEM NUMBER";
constexpr std::string_view kAtoms = " ATOMS";
constexpr std::string_view kCoordinates = " INTERNAL COORDINATES.";
constexpr std::string_view kXHeading = "   X MATRIX ELEMENTS";
constexpr std::string_view kCoordinateHeading = "   INTERNAL COORDINATE DEFINITIONS";
constexpr std::string_view kCoordinateLabels = "    NO   C    ODE  I    J    K    L    IX   JX";
constexpr std::string_view kBHeading = "          B MATRIX ELEMENTS.";
constexpr std::string_view kSectionNumber = " PROBLEM NUMBER";
constexpr std::string_view kNonZero = " NON-ZERO ELEMENTS.";
constexpr std::string_view kBReader = " This B matrix is in the format read by TALMIR";
constexpr std::string_view kGHeading = "           UNSYMMETRIZED G MATRIX ELEMENTS.";
constexpr std::string_view kMasses = "      USING THE MASSES,";
constexpr std::string_view kGReader = " This G matrix is in the format read by ROSK";
constexpr std::string_view kSymmetrizedHeading = "           SYMMETRIZED G MATRIX ELEMENTS.";
constexpr std::string_view kBlockHeading = " SYMMETRY BLOCK NUMBER";
constexpr std::string_view kBlockReader = " This SYMMETRIZED G matrix is in the format read by ROSK";
constexpr std::string_view kFactoring = " ERRORS UPON ERRORS, G NOT FACTORING.- ELEMENT IN ROW ";
constexpr std::string_view kFactoringColumn = ", COLUMN ";
constexpr std::string_view kFactoringValue = ", HAS VALUE ";
constexpr std::string_view kBlank = " ";  // a list-directed record without items

constexpr int kBEndRow = -5;
constexpr int kGEndRow = -1;
constexpr std::size_t kEntryColumns = 18;  // "2I3,F12.6"
constexpr std::size_t kEntriesPerRecord = 4;
constexpr std::size_t kTitleColumns = kMaxTitleColumns;
constexpr std::size_t kMassSetTitleColumns = kMaxMassSetTitleColumns;

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

class Reader {
 public:
  Reader(std::string_view text, const std::string& name) : name_(name) {
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t lf = text.find('\n', start);
      if (lf == std::string_view::npos) lf = text.size();
      std::string_view record = text.substr(start, lf - start);
      if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
      records_.push_back(record);
      start = lf + 1;
    }
  }

  Listing read();

 private:
  // Records ---------------------------------------------------------------
  bool at_end() const { return pos_ >= records_.size(); }
  std::string_view peek(std::size_t ahead = 0) const {
    return pos_ + ahead < records_.size() ? records_[pos_ + ahead] : std::string_view();
  }
  bool has(std::size_t ahead) const { return pos_ + ahead < records_.size(); }
  int number() const { return static_cast<int>(pos_) + 1; }  // of the next record

  [[noreturn]] void fail(int record, const std::string& what) const {
    throw input_error(name_, "record " + std::to_string(record) + ": " + what);
  }
  std::string_view take(const std::string& what) {
    if (at_end()) fail(number(), "the listing ends where " + what + " should be");
    return records_[pos_++];
  }
  void expect(std::string_view text, const std::string& what) {
    if (take(what) != text) fail(number() - 1, "expected " + what);
  }

  // Fields ----------------------------------------------------------------
  // The characters of columns [first, first + width), blanks beyond the
  // record's end, trimmed.
  std::string_view field(std::string_view record, std::size_t first, std::size_t width) const {
    std::string_view f = first < record.size() ? record.substr(first, width) : std::string_view();
    while (!f.empty() && f.front() == ' ') f.remove_prefix(1);
    while (!f.empty() && f.back() == ' ') f.remove_suffix(1);
    return f;
  }
  static bool overflowed(std::string_view f) {
    return !f.empty() && f.find_first_not_of('*') == std::string_view::npos;
  }
  std::string columns(std::size_t first, std::size_t width) const {
    return "columns " + std::to_string(first + 1) + "-" + std::to_string(first + width);
  }
  // An integer field; nullopt when the engine wrote asterisks.
  std::optional<int> maybe_integer(std::string_view record, int at, std::size_t first, std::size_t width,
                                   const char* what) const {
    const std::string_view f = field(record, first, width);
    if (overflowed(f)) return std::nullopt;
    int value = 0;
    const auto [end, ec] = std::from_chars(f.data(), f.data() + f.size(), value);
    if (f.empty() || ec != std::errc() || end != f.data() + f.size())
      fail(at, std::string("expected ") + what + " as an integer in " + columns(first, width));
    return value;
  }
  int integer(std::string_view record, int at, std::size_t first, std::size_t width, const char* what) const {
    const std::optional<int> v = maybe_integer(record, at, first, width, what);
    if (!v)
      fail(at, std::string(what) + " in " + columns(first, width) + " overflowed its field (asterisks)");
    return *v;
  }
  double real(std::string_view record, int at, std::size_t first, std::size_t width, const char* what) const {
    const std::string_view f = field(record, first, width);
    if (overflowed(f))
      fail(at, std::string(what) + " in " + columns(first, width) + " overflowed its field (asterisks)");
    double value = 0;
    const auto [end, ec] = std::from_chars(f.data(), f.data() + f.size(), value);
    if (f.empty() || ec != std::errc() || end != f.data() + f.size())
      fail(at, std::string("expected ") + what + " as a real in " + columns(first, width));
    return value;
  }

  // Sections --------------------------------------------------------------
  // Returns false when the listing stops inside the problem.
  bool problem(ListedProblem& p);
  void error_report(ListedProblem& p);
  bool mass_set(ListedProblem& p);
  bool symmetrized(ListedMassSet& m);
  void section_number(ListedProblem& p, const char* what);
  // Element records up to the end entry; factoring reports between them
  // when `block` is given.
  std::vector<MatrixElement> elements(int end_row, const std::string& what, ListedBlock* block);
  // Count record, reader line (and for G the blank record), element records.
  std::vector<MatrixElement> counted_list(std::string_view reader, bool blank_after_reader, int end_row,
                                          const std::string& what);
  MatrixElement factoring_report(std::string_view record, int at) const;

  // The next problem starts here, or the listing ends.
  bool problem_ends() const { return at_end() || peek() == kProgram; }
  bool blank_then(std::string_view prefix) const {
    return peek() == kBlank && has(1) && starts_with(peek(1), prefix);
  }

  std::string name_;
  std::vector<std::string_view> records_;
  std::size_t pos_ = 0;
  std::optional<int> atoms_;
  bool number_known_ = false;  // the problem's number was readable where listed so far
};

Listing Reader::read() {
  Listing listing;
  while (!at_end()) {
    listing.problems.emplace_back();
    if (!problem(listing.problems.back())) {
      listing.cut_short = true;
      break;
    }
    if (!problem_ends())
      fail(number(), "expected the next problem's heading (\"Program KORVEN\") or the end");
  }
  return listing;
}

void Reader::section_number(ListedProblem& p, const char* what) {
  const std::string_view r = take(std::string(what) + "'s problem number");
  const int at = number() - 1;
  if (!starts_with(r, kSectionNumber) || r.size() != kSectionNumber.size() + 6)
    fail(at, std::string("expected \"PROBLEM NUMBER\" and the number under the ") + what + " heading");
  const std::optional<int> n = maybe_integer(r, at, kSectionNumber.size(), 6, "the problem number");
  if (n && !number_known_) {
    p.number = *n;
    number_known_ = true;
  }
}

void Reader::error_report(ListedProblem& p) {
  expect(kBlank, "the blank record ahead of an error report");
  const std::string_view r = take("an error report");
  if (r.empty() || r.front() != '0')
    fail(number() - 1, "expected an error report (a record beginning with 0)");
  p.errors.emplace_back(r);
  // The reports that name the problem give it in seven columns after
  // "PROBLEM": the number when the heading's four could not hold it.
  constexpr std::string_view kProblem = "PROBLEM";
  const std::size_t named = r.rfind(kProblem);
  if (!number_known_ && named != std::string_view::npos && named > 0) {
    const std::string_view f = field(r, named + kProblem.size(), 7);
    int n = 0;
    const auto [end, ec] = std::from_chars(f.data(), f.data() + f.size(), n);
    if (!f.empty() && ec == std::errc() && end == f.data() + f.size()) {
      p.number = n;
      number_known_ = true;
    }
  }
}

bool Reader::problem(ListedProblem& p) {
  expect(kProgram, "the problem heading (\"Program KORVEN\")");
  expect(kEvaluation, "\"G MATRIX EVALUATION.\"");
  {
    const std::string_view r = take("the problem heading");
    const int at = number() - 1;
    const std::size_t atoms_at = kProblemNumber.size() + 4 + 5;
    const std::size_t nic_at = atoms_at + 3 + kAtoms.size() + 2;
    if (!starts_with(r, kProblemNumber) || r.size() != nic_at + 4 + kCoordinates.size() ||
        r.substr(atoms_at + 3, kAtoms.size()) != kAtoms || r.substr(nic_at + 4) != kCoordinates)
      fail(at, "expected the problem heading (PROBLEM NUMBER, ATOMS, INTERNAL COORDINATES.)");
    const std::optional<int> n = maybe_integer(r, at, kProblemNumber.size(), 4, "the problem number");
    p.number = n.value_or(0);
    number_known_ = n.has_value();
    atoms_ = maybe_integer(r, at, atoms_at, 3, "the atom count");
    p.atoms = atoms_.value_or(0);
    p.nic = maybe_integer(r, at, nic_at, 4, "the internal coordinate count").value_or(0);
  }
  for (std::string* title : {&p.title1, &p.title2}) {
    const std::string_view r = take("a title");
    if (r.size() != kTitleColumns) fail(number() - 1, "expected a title of 80 columns");
    *title = trimmed_right(r);
  }
  if (at_end()) return false;
  if (peek() == kBlank) {
    // Only a problem the engine refuses for its size stops here.
    error_report(p);
    return true;
  }

  expect(kXHeading, "the X-matrix heading");
  expect("", "the empty record under the X-matrix heading");
  while (!at_end() && peek() != kBlank) {
    if (take("an X-matrix echo").size() != 80)
      fail(number() - 1, "expected an X-matrix echo record of 80 columns");
  }
  if (at_end()) return false;
  if (blank_then("0")) {
    error_report(p);
    return true;
  }

  expect(kBlank, "the blank record ahead of the coordinate section");
  expect(kCoordinateHeading, "the internal coordinate heading");
  expect(kCoordinateLabels, "the internal coordinate column labels");
  while (!at_end() && peek() != kBlank) {
    // Entry echoes (42 columns) and a linear bend's point, unit vectors (36) and cosines (24).
    const std::size_t size = take("a coordinate echo").size();
    if (size != 42 && size != 36 && size != 24) fail(number() - 1, "expected a coordinate echo record");
  }
  if (at_end()) return false;
  if (blank_then("0")) {
    error_report(p);
    return true;
  }

  expect(kBlank, "the blank record ahead of the B section");
  expect(kBHeading, "the B heading");
  section_number(p, "B");
  take("the first title under the B heading");
  take("the second title under the B heading");
  p.b = counted_list(kBReader, false, kBEndRow, "the B list");
  p.has_b = true;

  while (!problem_ends()) {
    if (blank_then("0")) {
      error_report(p);
      return true;
    }
    if (!mass_set(p)) return false;
  }
  return true;
}

bool Reader::mass_set(ListedProblem& p) {
  expect(kBlank, "the blank record ahead of a G section");
  expect(kGHeading, "the unsymmetrized G heading");
  ListedMassSet& m = p.mass_sets.emplace_back();
  section_number(p, "G");
  {
    const std::string_view r = take("the mass-set title");
    if (r.size() != kMassSetTitleColumns) fail(number() - 1, "expected a mass-set title of 60 columns");
    m.title = trimmed_right(r);
  }
  // "(5X,' USING THE MASSES,',(1X,6F12.6))": the text and six masses, then
  // one blank and up to six masses a record.
  const int atoms = p.atoms;
  if (!atoms_) fail(number(), "the masses cannot be counted: the atom count overflowed its field");
  for (int read = 0; read < atoms;) {
    const std::string_view r = take("the masses");
    const int at = number() - 1;
    const std::size_t lead = read == 0 ? kMasses.size() + 1 : 1;
    if ((read == 0 && !starts_with(r, kMasses)) || (read > 0 && (r.empty() || r.front() != ' ')) ||
        (r.size() - lead) % 12 != 0 || r.size() == lead)
      fail(at, "expected a record of masses (F12.6)");
    const int on_record = static_cast<int>((r.size() - lead) / 12);
    if (on_record > 6 || read + on_record > atoms) fail(at, "more masses than atoms");
    for (int k = 0; k < on_record; ++k)
      m.masses.push_back(real(r, at, lead + 12 * static_cast<std::size_t>(k), 12, "a mass"));
    read += on_record;
    if (on_record < 6 && read < atoms) fail(at, "expected six masses on a record that is not the last");
  }
  if (at_end()) return false;
  m.g = counted_list(kGReader, true, kGEndRow, "the G list");

  if (blank_then(kSymmetrizedHeading)) return symmetrized(m);
  return true;
}

bool Reader::symmetrized(ListedMassSet& m) {
  expect(kBlank, "the blank record ahead of the symmetrized G section");
  expect(kSymmetrizedHeading, "the symmetrized G heading");
  m.symmetrized = true;
  {
    const std::string_view r = take("the symmetrized G section's problem number");
    if (!starts_with(r, kSectionNumber))
      fail(number() - 1, "expected \"PROBLEM NUMBER\" under the symmetrized G heading");
  }
  if (take("the mass-set title").size() != kMassSetTitleColumns)
    fail(number() - 1, "expected a mass-set title of 60 columns");
  if (at_end()) return false;
  // At least one block, each "SYMMETRY BLOCK NUMBER" with its reader line and list.
  do {
    const std::string_view r = take("a symmetry block heading");
    const int at = number() - 1;
    if (!starts_with(r, kBlockHeading) || r.size() != kBlockHeading.size() + 4 || r.back() != '.')
      fail(at, "expected \"SYMMETRY BLOCK NUMBER\" and the block's number");
    ListedBlock& block = m.blocks.emplace_back();
    block.number = integer(r, at, kBlockHeading.size(), 3, "the block number");
    expect(kBlockReader, "the reader line of a symmetrized G block");
    block.elements = elements(kGEndRow, "a symmetrized G block", &block);
  } while (!at_end() && starts_with(peek(), kBlockHeading));
  return true;
}

std::vector<MatrixElement> Reader::counted_list(std::string_view reader, bool blank_after_reader, int end_row,
                                                const std::string& what) {
  const std::string_view r = take("the element count of " + what);
  const int at = number() - 1;
  if (!starts_with(r, " ") || r.size() != 6 + kNonZero.size() || r.substr(6) != kNonZero)
    fail(at, "expected the element count of " + what + " (\"NON-ZERO ELEMENTS.\")");
  // A count that overflowed its field is not needed: the end entry closes the list.
  const std::optional<int> count = maybe_integer(r, at, 1, 5, "the element count");
  expect(reader, "the reader line of " + what);
  if (blank_after_reader) expect(kBlank, "the blank record ahead of the elements of " + what);
  std::vector<MatrixElement> list = elements(end_row, what, nullptr);
  if (count && *count != static_cast<int>(list.size()))
    fail(at, "the count " + std::to_string(*count) + " does not match the " + std::to_string(list.size()) +
                 " elements of " + what);
  return list;
}

MatrixElement Reader::factoring_report(std::string_view r, int at) const {
  const std::size_t row_at = kFactoring.size();
  const std::size_t column_at = row_at + 3 + kFactoringColumn.size();
  const std::size_t value_at = column_at + 3 + kFactoringValue.size();
  if (r.size() != value_at + 12 || r.substr(row_at + 3, kFactoringColumn.size()) != kFactoringColumn ||
      r.substr(column_at + 3, kFactoringValue.size()) != kFactoringValue)
    fail(at, "expected a factoring report (ROW, COLUMN, HAS VALUE)");
  MatrixElement f;
  f.row = integer(r, at, row_at, 3, "the factoring report's row");
  f.column = integer(r, at, column_at, 3, "the factoring report's column");
  f.value = real(r, at, value_at, 12, "the factoring report's value");
  return f;
}

std::vector<MatrixElement> Reader::elements(int end_row, const std::string& what, ListedBlock* block) {
  std::vector<MatrixElement> list;
  for (;;) {
    const std::string_view r = take("the elements of " + what + " (no end entry yet)");
    const int at = number() - 1;
    if (block != nullptr && starts_with(r, kFactoring)) {
      block->factoring_reports.push_back(factoring_report(r, at));
      continue;
    }
    const std::size_t size = r.find_last_not_of(' ') + 1;
    if (size == 0 || size % kEntryColumns != 0 || size > kEntriesPerRecord * kEntryColumns)
      fail(at, "expected an element record of " + what + " (4(2I3,F12.6))");
    const std::size_t entries = size / kEntryColumns;
    for (std::size_t k = 0; k < entries; ++k) {
      const std::size_t first = k * kEntryColumns;
      MatrixElement e;
      e.row = integer(r, at, first, 3, "an element's row");
      e.column = integer(r, at, first + 3, 3, "an element's column");
      e.value = real(r, at, first + 6, 12, "an element's value");
      if (e.row == end_row) {
        if (k + 1 != entries || e.column != 0 || e.value != 0.0)
          fail(at,
               "the end entry of " + what + " must be the record's last entry, with column 0 and value 0");
        return list;
      }
      if (e.row < 1 || e.column < 1) fail(at, "an element of " + what + " with a row or column below 1");
      list.push_back(e);
    }
    if (entries != kEntriesPerRecord) fail(at, "a short element record of " + what + " before its end entry");
  }
}

}  // namespace

Listing read_listing(std::string_view text, const std::string& name_for_errors) {
  return Reader(text, name_for_errors).read();
}

Listing read_listing_file(const std::filesystem::path& path) {
  const std::string name = path.string();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw input_error(name, "no such listing file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw input_error(name, "cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw input_error(name, "cannot be read");
  return read_listing(text.str(), name);
}

}  // namespace korven::kit
