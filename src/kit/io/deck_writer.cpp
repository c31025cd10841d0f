#include "kit/io/deck_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "kit/base/kit_error.h"

namespace korven::kit {

namespace {

constexpr std::size_t kCardColumns = kMaxTitleColumns;
constexpr std::size_t kMassSetTitleColumns = kMaxMassSetTitleColumns;  // columns 13-72 of the mass-set card
constexpr int kTriplesPerCard = 4;                // "(4(2I3,F12.6))"
constexpr int kEntriesPerCard = 3;                // "(24I3)", eight fields an entry
constexpr int kMassesPerCard = 6;                 // "(6F12.6)"
constexpr int kBoundariesPerCard = 24;            // "(24I3)"

// Text that goes on a card as it is: no control character but the tab (a
// CR, LF or Ctrl-Z would end the card or the deck for the reader), at most
// `columns`.
void check_text(std::string_view text, std::size_t columns, const char* what) {
  if (text.size() > columns)
    throw std::logic_error(std::string(what) + " longer than " + std::to_string(columns) + " columns");
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7f)
      throw std::logic_error(std::string(what) + " holds a control character");
  }
}

std::string_view without_trailing_blanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Cards are gathered into one text; each card is built in `card` and ended
// by end_card.
class CardWriter {
 public:
  void integer(long long value, int width) { card_ += integer_field(value, width); }
  void real(double value) { card_ += real_field(value); }
  void text(std::string_view text) { card_ += text; }
  void end_card() {
    if (card_.size() > kCardColumns) throw std::logic_error("card longer than 80 columns");
    out_ += card_;
    out_ += '\n';
    card_.clear();
  }
  std::string take() { return std::move(out_); }

 private:
  std::string card_;
  std::string out_;
};

// Triples (row, column, value) under "(4(2I3,F12.6))", four to a card, the
// end triple (end_row, 0, 0) after the last one, on the same card when it has
// room.
void write_triples(CardWriter& w, const std::vector<MatrixElement>& triples, int end_row) {
  int on_card = 0;
  const auto put = [&](const MatrixElement& t) {
    w.integer(t.row, 3);
    w.integer(t.column, 3);
    w.real(t.value);
    if (++on_card == kTriplesPerCard) {
      w.end_card();
      on_card = 0;
    }
  };
  for (const MatrixElement& t : triples) put(t);
  put({end_row, 0, 0.0});
  if (on_card != 0) w.end_card();
}

// Integers `per_card` to a card of I3 fields; at least one card, since the
// reader takes a card even for no value.
void write_integer_cards(CardWriter& w, const std::vector<int>& values, int per_card) {
  int on_card = 0;
  for (const int v : values) {
    w.integer(v, 3);
    if (++on_card == per_card) {
      w.end_card();
      on_card = 0;
    }
  }
  if (on_card != 0 || values.empty()) w.end_card();
}

void write_coordinates(CardWriter& w, const std::vector<CoordinateEntry>& entries) {
  std::vector<const CoordinateEntry*> card;
  const auto end_card = [&] {
    w.end_card();
    // A linear bend reads its reference-point card when the walk reaches it,
    // so the points follow their coordinate card in entry order.
    for (const CoordinateEntry* e : card) {
      if (e->code != 5 && e->code != 6) continue;
      if (!e->reference_point) throw std::logic_error("CODE 5 or 6 entry without its reference point");
      for (int k = 0; k < 3; ++k) w.real((*e->reference_point)[k]);
      w.end_card();
    }
    card.clear();
  };
  const auto put = [&](const CoordinateEntry& e) {
    for (const int f : {e.no, e.code, e.i, e.j, e.k, e.l, e.ix, e.jx}) w.integer(f, 3);
    card.push_back(&e);
    if (static_cast<int>(card.size()) == kEntriesPerCard) end_card();
  };
  for (const CoordinateEntry& e : entries) {
    if (e.no < 0) throw std::logic_error("coordinate entry with a negative NO would end the list");
    put(e);
  }
  const CoordinateEntry end{-1, 0, 0, 0, 0, 0, 0, 0, std::nullopt};
  put(end);
  if (!card.empty()) end_card();
}

void write_mass_set(CardWriter& w, const MassSet& m, std::size_t atoms) {
  const std::string_view title = without_trailing_blanks(m.title);
  check_text(title, kMassSetTitleColumns, "mass-set title");
  if (m.masses.size() != atoms) throw std::logic_error("mass set does not give one mass per atom");
  w.integer(kMassSetFollows, 3);
  w.integer(m.u_mode, 3);
  w.integer(static_cast<long long>(m.boundaries.size()), 3);
  w.integer(m.symmetry_count, 3);
  w.text(title);
  w.end_card();

  int on_card = 0;
  for (const double mass : m.masses) {
    w.real(mass);
    if (++on_card == kMassesPerCard) {
      w.end_card();
      on_card = 0;
    }
  }
  if (on_card != 0 || m.masses.empty()) w.end_card();

  if (m.u_mode > 0) {
    write_triples(w, m.u, -3);
  }
  // The engine reads no block card for a boundary count below 2.
  if (m.u_mode != 0 && m.boundaries.size() >= 2) write_integer_cards(w, m.boundaries, kBoundariesPerCard);
}

void write_problem(CardWriter& w, const DeckProblem& p) {
  w.integer(kProblemFollows, 3);
  w.end_card();
  // "(I3,I6,5I4)": control, number, N, NIC, save.
  w.integer(0, 3);
  w.integer(p.number, 6);
  w.integer(static_cast<long long>(p.x.size()), 4);
  w.integer(p.nic, 4);
  w.integer(p.save, 4);
  w.end_card();
  for (const std::string* title : {&p.title1, &p.title2}) {
    const std::string_view t = without_trailing_blanks(*title);
    check_text(t, kCardColumns, "title");
    w.text(t);
    w.end_card();
  }

  // Every component of every atom, zeros included: the cards then say all
  // of X without relying on the reader's starting zeros.
  std::vector<MatrixElement> x;
  x.reserve(3 * p.x.size());
  for (std::size_t a = 0; a < p.x.size(); ++a)
    for (int k = 0; k < 3; ++k) x.push_back({k + 1, static_cast<int>(a + 1), p.x[a][k]});
  write_triples(w, x, -1);

  write_coordinates(w, p.entries);
  for (const MassSet& m : p.mass_sets) write_mass_set(w, m, p.x.size());
}

}  // namespace

std::string integer_field(long long value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) > width)
    throw std::logic_error("integer " + digits + " does not fit I" + std::to_string(width));
  return std::string(static_cast<std::size_t>(width) - digits.size(), ' ') + digits;
}

std::string real_field(double value) {
  if (!std::isfinite(value)) throw std::logic_error("real field is not finite");
  char buffer[64];
  // printf rounds the binary value correctly to six decimals.
  std::snprintf(buffer, sizeof buffer, "%.6f", value);
  std::string text = buffer;
  if (text == "-0.000000") text = "0.000000";
  if (text.size() > 12) throw std::logic_error("real " + text + " does not fit F12.6");
  return std::string(12 - text.size(), ' ') + text;
}

std::string deck_text(const Deck& deck) {
  CardWriter w;
  for (const std::string& comment : deck.comments) {
    check_text(comment, kCardColumns, "comment card");
    // Columns 1-3 blank: the driver's search reads them as 0 and skips the card.
    if (comment.find_first_not_of(' ') < 3) throw std::logic_error("comment card without blank columns 1-3");
    w.text(comment);
    w.end_card();
  }
  for (const DeckProblem& p : deck.problems) write_problem(w, p);
  w.integer(kEndOfDeck, 3);
  w.end_card();
  return w.take();
}

void write_deck_file(const std::filesystem::path& path, const Deck& deck, bool force) {
  const std::string name = path.string();
  const std::string text = deck_text(deck);
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !force)
    throw input_error(name, "exists; use --force to replace it");
  if (std::filesystem::is_directory(path, ec)) throw input_error(name, "is a folder");

  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw input_error(name, std::string("cannot write in its folder: ") + std::strerror(errno));

  // mkstemp makes the file private; a deck is an ordinary readable file.
  bool written = ::fchmod(fd, 0644) == 0;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      written = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  const int saved_errno = errno;
  if (::close(fd) != 0) written = false;
  if (!written) {
    ::unlink(temp.c_str());
    throw input_error(name, std::string("cannot be written: ") + std::strerror(saved_errno));
  }
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    ::unlink(temp.c_str());
    throw input_error(name, "cannot be written: " + ec.message());
  }
}

}  // namespace korven::kit
