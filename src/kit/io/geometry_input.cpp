#include "kit/io/geometry_input.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfenv>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <string_view>

// Open Babel's headers do not build clean under our warnings.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <openbabel/atom.h>
#include <openbabel/bond.h>
#include <openbabel/format.h>
#include <openbabel/mol.h>
#include <openbabel/obconversion.h>
#include <openbabel/oberror.h>
#include <openbabel/obiter.h>
#pragma GCC diagnostic pop

#include "kit/base/constants.h"
#include "kit/base/elements.h"
#include "kit/base/kit_error.h"
#include "kit/base/sandbox.h"
#include "kit/base/text.h"

namespace korven::kit {

namespace detail {
namespace {
ReaderFault g_fault = ReaderFault::none;
}  // namespace
void set_reader_fault_for_testing(ReaderFault fault) { g_fault = fault; }
}  // namespace detail

namespace {

// A reader that has not answered after this long is stopped.
constexpr int kReaderTimeoutSeconds = 120;

// Formats whose reader stops where a record stops, so that anything but
// blank space after the last molecule read is a record it could not read
// (an XYZ whose atom count exceeds its lines, a cut-off SDF entry). Other
// readers leave closing tags or END records behind.
const std::set<std::string, std::less<>> kWholeRecordFormats = {
    "xyz", "sdf", "sd", "mol", "mdl", "mol2", "ml2", "sy2"};

// Formats that end with a record Open Babel reads as one more, empty
// molecule (a PDB's END after its last ENDMDL).
const std::set<std::string, std::less<>> kTrailingEmptyFormats = {"pdb", "ent", "pqr"};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Several lines of a message as one, blank runs collapsed, cut to a length
// that fits an error line.
std::string one_line(std::string_view text, std::size_t limit = 160) {
  std::string out;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
    if (blank) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (out.size() > limit) out = out.substr(0, limit - 3) + "...";
  return out;
}

// ---------------------------------------------------------------- the parent

std::string read_bytes(const std::string& path, const std::string& name) {
  std::string bytes;
  if (path == "-") {
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (std::cin.bad()) throw input_error(name, "cannot be read");
    std::cin.clear();
    return bytes;
  }
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) throw input_error(name, "no such file");
  if (std::filesystem::is_directory(status)) throw input_error(name, "is a folder, not a geometry file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw input_error(name, std::string("cannot be opened (") + std::strerror(errno) + ")");
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) throw input_error(name, "cannot be read");
  return bytes;
}

// A geometry file is text: any NUL byte, or more than a few control
// characters other than white space, marks a binary file.
bool looks_binary(std::string_view bytes) {
  const std::size_t sample = std::min<std::size_t>(bytes.size(), 1 << 16);
  std::size_t control = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == 0) return true;
    if (i < sample && ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') ||
                       c == 0x7f)) {
      ++control;
    }
  }
  return control * 100 > sample;
}

// The format id for the file, checked against Open Babel's list.
std::string resolve_format(const std::string& path, const std::string& format,
                           const std::string& name) {
  std::string id = lower(format);
  if (id.empty()) {
    if (path == "-") throw input_error(name, "needs a format (--format FMT)");
    id = format_from_extension(path);
    if (id.empty()) throw input_error(name, "no extension to tell the format from (give --format FMT)");
  }
  OpenBabel::OBFormat* reader = OpenBabel::OBConversion::FindFormat(id);
  if (reader == nullptr) throw input_error(name, "unknown geometry format '" + id + "'");
  if (reader->Flags() & NOTREADABLE) {
    throw input_error(name, "Open Babel writes format '" + id + "' but cannot read it");
  }
  return id;
}

// ----------------------------------------------------------------- the child
//
// The reply down the pipe, all text:
//   OK <molecules>\n
//   per molecule: M <dimension> <atoms> <bonds> <title bytes>\n<title>\n
//                 per atom: <Z> <x> <y> <z>\n   (shortest round-trip form)
//                 per bond: <first> <second>\n  (Open Babel's 1-based indices)
//   END\n
// or
//   FAIL <message bytes>\n<message>\nEND\n

void append_number(std::string& out, double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void append_record(std::string& out, const std::string& tag, const std::string& text) {
  out += tag + " " + std::to_string(text.size()) + "\n" + text + "\n";
}

// Open Babel's warnings and errors of this read, as one line.
std::string reader_messages() {
  using OpenBabel::obErrorLog;
  std::string text;
  for (auto level : {OpenBabel::obError, OpenBabel::obWarning}) {
    for (const std::string& message : obErrorLog.GetMessagesOfLevel(level)) {
      std::istringstream lines(message);
      std::string line;
      while (std::getline(lines, line)) {
        if (line.starts_with("=") || line.starts_with("***")) continue;  // banner lines
        text += line + " ";
      }
      text = one_line(text, text.size() + 1);
      // The first two sentences say what is wrong; advice to Open Babel's
      // own users (where to report, how an XYZ line is laid out) is left out.
      std::string kept;
      std::size_t at = 0;
      for (int sentence = 0; sentence < 2 && at < text.size(); ++sentence) {
        std::size_t end = text.find(". ", at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string part = text.substr(at, end - at);
        if (part.find("report it") != std::string::npos || part.find("should contain exactly") != std::string::npos) break;
        kept += part;
        at = end;
      }
      while (!kept.empty() && kept.back() == ' ') kept.pop_back();
      if (!kept.empty()) return one_line(kept);
    }
  }
  return "";
}

std::size_t line_of(std::string_view bytes, std::size_t offset) {
  return static_cast<std::size_t>(std::count(bytes.begin(), bytes.begin() + static_cast<long>(offset), '\n')) + 1;
}

std::string read_in_child(const std::string& bytes, const std::string& format) {
  using namespace OpenBabel;
  static std::ostringstream discarded;
  obErrorLog.SetOutputStream(&discarded);
  obErrorLog.SetOutputLevel(obError);
  obErrorLog.ClearLog();

  OBConversion conversion;
  if (!conversion.SetInFormat(format.c_str())) {
    std::string reply;
    append_record(reply, "FAIL", "Open Babel has no reader for format '" + format + "'");
    return reply + "END\n";
  }
  std::istringstream in(bytes);
  conversion.SetInStream(&in, false);

  std::string body;
  std::size_t count = 0;
  std::size_t consumed = 0;  // bytes read up to the end of the last molecule
  OBMol mol;
  while (conversion.Read(&mol)) {
    const std::streamoff at = in.tellg();
    const std::size_t now = at < 0 ? bytes.size() : static_cast<std::size_t>(at);
    // Some readers (Gaussian output's) succeed again at the end of the input
    // without reading anything, forever: a molecule that moves the stream no
    // further is no molecule.
    if (count > 0 && now <= consumed) break;
    consumed = now;
    ++count;
    // A reader that gives no bond at all (a CML without its bond array, a
    // MOL block with none listed) leaves them to be perceived, as for XYZ.
    if (mol.NumBonds() == 0 && mol.NumAtoms() > 1) {
      mol.ConnectTheDots();
      mol.PerceiveBondOrders();
    }
    body += "M " + std::to_string(mol.GetDimension()) + " " + std::to_string(mol.NumAtoms()) + " " +
            std::to_string(mol.NumBonds()) + " ";
    const std::string title = mol.GetTitle();
    body += std::to_string(title.size()) + "\n" + title + "\n";
    FOR_ATOMS_OF_MOL(atom, mol) {
      body += std::to_string(atom->GetAtomicNum());
      for (double c : {atom->GetX(), atom->GetY(), atom->GetZ()}) {
        body += ' ';
        append_number(body, c);
      }
      body += '\n';
    }
    FOR_BONDS_OF_MOL(bond, mol) {
      body += std::to_string(bond->GetBeginAtomIdx()) + " " + std::to_string(bond->GetEndAtomIdx()) + "\n";
    }
    mol.Clear();
  }

  std::string reply;
  if (count == 0) {
    std::string fault = "Open Babel reads no molecule from it as format '" + format + "'";
    const std::string why = reader_messages();
    if (!why.empty()) fault += " (" + why + ")";
    append_record(reply, "FAIL", fault);
    return reply + "END\n";
  }
  if (kWholeRecordFormats.count(format)) {
    const std::size_t rest = bytes.find_first_not_of(" \t\r\n\f\v", consumed);
    if (rest != std::string::npos) {
      std::string fault = "Open Babel cannot read what follows molecule " + std::to_string(count) +
                          ", from line " + std::to_string(line_of(bytes, rest)) +
                          " (a truncated or malformed record)";
      const std::string why = reader_messages();
      if (!why.empty()) fault += ": " + why;
      append_record(reply, "FAIL", fault);
      return reply + "END\n";
    }
  }
  return "OK " + std::to_string(count) + "\n" + body + "END\n";
}

// What the child sends back: the reader's reply, or a FAIL record when it
// gave up; the test faults applied.
std::string child_reply(const std::string& bytes, const std::string& format) {
  std::string reply;
  try {
    reply = read_in_child(bytes, format);
  } catch (const std::exception& e) {
    reply.clear();
    append_record(reply, "FAIL", "the Open Babel reader for format '" + format + "' gave up (" + e.what() + ")");
    reply += "END\n";
  }
  switch (detail::g_fault) {
    case detail::ReaderFault::crash:
      raise(SIGSEGV);
      _exit(4);
    case detail::ReaderFault::exit_failure:
      _exit(3);
    case detail::ReaderFault::truncated_reply:
      reply.resize(reply.size() / 2);
      break;
    case detail::ReaderFault::none:
      break;
  }
  return reply;
}

// Runs the reader in a child and returns its whole reply.
std::string run_reader(const std::string& bytes, const std::string& format, const std::string& name) {
  const std::string reader = "the Open Babel reader for format '" + format + "'";
  const ChildOutcome out = run_in_child([&] { return child_reply(bytes, format); }, kReaderTimeoutSeconds);
  switch (out.kind) {
    case ChildOutcome::not_started:
      throw input_error(name, std::string("cannot start the reader (") + std::strerror(out.code) + ")");
    case ChildOutcome::timed_out:
      throw input_error(name, reader + " did not finish within " + std::to_string(kReaderTimeoutSeconds) + " s");
    case ChildOutcome::crashed:
      throw input_error(name, reader + " crashed (signal " + std::to_string(out.code) + ")");
    case ChildOutcome::failed:
      throw input_error(name, reader + " failed (exit status " + std::to_string(out.code) + ")");
    case ChildOutcome::finished:
      break;
  }
  return out.reply;
}

// ------------------------------------------------------- reading the reply

struct Malformed {};

// A strict cursor over the reply: every field must be where the layout
// puts it, every count must fit what is left.
class ReplyCursor {
 public:
  explicit ReplyCursor(std::string_view text) : text_(text) {}

  std::string_view token(char terminator) {
    const std::size_t end = text_.find(terminator, at_);
    if (end == std::string_view::npos) throw Malformed{};
    const std::string_view t = text_.substr(at_, end - at_);
    if (t.empty() || t.find_first_of(" \n") != std::string_view::npos) throw Malformed{};
    at_ = end + 1;
    return t;
  }
  void expect(std::string_view word, char terminator) {
    if (token(terminator) != word) throw Malformed{};
  }
  std::size_t count(char terminator) {
    const std::string_view t = token(terminator);
    std::size_t value = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), value);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) throw Malformed{};
    if (value > text_.size()) throw Malformed{};  // more than the reply could hold
    return value;
  }
  double real(char terminator) {
    const std::string_view t = token(terminator);
    double value = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), value);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) throw Malformed{};
    return value;
  }
  std::string bytes(std::size_t n) {
    if (n > text_.size() - at_ || at_ + n >= text_.size() || text_[at_ + n] != '\n') throw Malformed{};
    std::string out(text_.substr(at_, n));
    at_ += n + 1;
    return out;
  }
  bool done() const { return at_ == text_.size(); }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

// The molecules of the reply, and the dimension Open Babel gives each (3
// for coordinates in space, 2 for a drawing, 0 for none).
std::vector<Molecule> parse_reply(const std::string& reply, const std::string& format,
                                  const std::string& name, std::vector<int>& dimensions) {
  try {
    ReplyCursor cursor(reply);
    const std::string_view head = cursor.token(' ');
    if (head == "FAIL") {
      const std::string fault = cursor.bytes(cursor.count('\n'));
      cursor.expect("END", '\n');
      if (!cursor.done() || fault.empty()) throw Malformed{};
      throw input_error(name, one_line(fault, 400));
    }
    if (head != "OK") throw Malformed{};
    const std::size_t count = cursor.count('\n');
    std::vector<Molecule> molecules;
    for (std::size_t m = 0; m < count; ++m) {
      cursor.expect("M", ' ');
      dimensions.push_back(static_cast<int>(cursor.count(' ')));
      const std::size_t atoms = cursor.count(' ');
      const std::size_t bonds = cursor.count(' ');
      Molecule mol;
      mol.title = cursor.bytes(cursor.count('\n'));
      for (std::size_t a = 0; a < atoms; ++a) {
        Atom atom;
        atom.element = static_cast<int>(cursor.count(' '));
        atom.position.x() = cursor.real(' ');
        atom.position.y() = cursor.real(' ');
        atom.position.z() = cursor.real('\n');
        mol.atoms.push_back(atom);
      }
      for (std::size_t b = 0; b < bonds; ++b) {
        const std::size_t i = cursor.count(' ');
        const std::size_t j = cursor.count('\n');
        if (i < 1 || j < 1 || i > atoms || j > atoms || i == j) throw Malformed{};
        mol.bonds.emplace_back(static_cast<int>(std::min(i, j) - 1), static_cast<int>(std::max(i, j) - 1));
      }
      std::sort(mol.bonds.begin(), mol.bonds.end());
      mol.bonds.erase(std::unique(mol.bonds.begin(), mol.bonds.end()), mol.bonds.end());
      molecules.push_back(std::move(mol));
    }
    cursor.expect("END", '\n');
    if (!cursor.done()) throw Malformed{};
    return molecules;
  } catch (const Malformed&) {
    throw input_error(name, "the Open Babel reader for format '" + format + "' sent a malformed reply");
  }
}

// What the reader gave, checked atom by atom; the masses filled in.
void check_molecules(std::vector<Molecule>& molecules, const std::vector<int>& dimensions,
                     const std::string& format, const std::string& name) {
  if (molecules.size() > 1 && molecules.back().atoms.empty() && kTrailingEmptyFormats.count(format)) {
    molecules.pop_back();
  }
  for (std::size_t m = 0; m < molecules.size(); ++m) {
    const std::string where = molecules.size() > 1 ? "molecule " + std::to_string(m + 1) + ", " : "";
    const std::string molecule = molecules.size() > 1 ? "molecule " + std::to_string(m + 1) : "the molecule";
    Molecule& mol = molecules[m];
    if (mol.atoms.empty()) throw input_error(name, molecule + " has no atoms");
    // A drawing's or a line notation's positions are no geometry.
    if (dimensions[m] == 2) {
      throw input_error(name, molecule + " has 2D coordinates only (a drawing, not a geometry)");
    }
    if (dimensions[m] == 0) throw input_error(name, molecule + " has no coordinates");
    for (std::size_t a = 0; a < mol.atoms.size(); ++a) {
      Atom& atom = mol.atoms[a];
      const std::string which = where + "atom " + std::to_string(a + 1);
      if (atom.element < 1 || atom.element > kLastElement) {
        throw input_error(name, which + " has no known element (atomic number " +
                                    std::to_string(atom.element) + ", a dummy atom?)");
      }
      // std::isfinite, not an arithmetic test: inf - inf would trap when the
      // engine's floating-point traps are on.
      const Vec3& r = atom.position;
      if (!std::isfinite(r.x()) || !std::isfinite(r.y()) || !std::isfinite(r.z())) {
        throw input_error(name, which + " (" + element_symbol(atom.element) +
                                    ") has a coordinate that is not a finite number");
      }
      atom.mass = most_abundant_mass(atom.element);
    }
  }
}

// ------------------------------------------------------- Gaussian input
//
// Open Babel writes Gaussian input but does not read it; its Cartesian
// atom lines are read here and handed on as XYZ text. Link 0
// lines (%), the route (# … up to a blank line), the title (up to a blank
// line), the charge and multiplicity, then one atom a line: an element
// symbol or atomic number (a label such as C1 or C-Bq is cut to its
// element), an optional freeze code, and x y z in Ångström (bohr with
// Units=AU or Units=Bohr in the route). A Z-matrix is refused.
bool is_gaussian_input(const std::string& id) { return id == "gjf" || id == "com" || id == "gau" || id == "gjc"; }

std::string gaussian_atom(const std::string& line, std::size_t at, const std::string& name, double unit) {
  std::istringstream in(line);
  std::vector<std::string> t;
  for (std::string w; in >> w;) t.push_back(w);
  const auto fail = [&](const std::string& why) {
    throw input_error(name, "line " + std::to_string(at) + ": " + why);
  };
  if (t.size() != 4 && t.size() != 5)
    fail("not a Cartesian atom line (a Z-matrix is not read: write the molecule in Cartesian coordinates)");
  std::string element;
  if (std::isdigit(static_cast<unsigned char>(t[0][0]))) {
    element = element_symbol(std::atoi(t[0].c_str()));
  } else {
    for (char ch : t[0]) {
      if (!std::isalpha(static_cast<unsigned char>(ch)) || element.size() == 2) break;
      element += element.empty() ? static_cast<char>(std::toupper(ch)) : static_cast<char>(std::tolower(ch));
    }
    if (element.size() == 2 && element_number(element) == 0) element.pop_back();
  }
  if (element.empty() || element_number(element) == 0) fail("\"" + t[0] + "\" names no element");
  std::string out = element;
  for (std::size_t k = t.size() - 3; k < t.size(); ++k) {
    char* end = nullptr;
    const double v = std::strtod(t[k].c_str(), &end);
    if (end == t[k].c_str() || *end != '\0' || !std::isfinite(v))
      fail("\"" + t[k] + "\" is not a coordinate (a Z-matrix is not read: write the molecule in Cartesian coordinates)");
    append_number(out += ' ', v * unit);
  }
  return out + "\n";
}

std::string gaussian_input_as_xyz(const std::string& bytes, const std::string& name) {
  std::istringstream in(bytes);
  std::string line, route, title, atoms;
  std::size_t at = 0, count = 0;
  const auto blank = [](const std::string& l) { return l.find_first_not_of(" \t\r") == std::string::npos; };
  while (std::getline(in, line) && (++at, !line.empty() && line[0] == '%')) {}
  if (line.empty() || line[0] != '#') throw input_error(name, "line " + std::to_string(at) + ": expected the route (#)");
  do route += lower(line) + " ";
  while (std::getline(in, line) && (++at, !blank(line)));
  while (std::getline(in, line) && (++at, !blank(line))) title += (title.empty() ? "" : " ") + trimmed_right(line);
  if (!std::getline(in, line)) throw input_error(name, "ends before the charge and multiplicity");
  ++at;
  const bool bohr = route.find("units=au") != std::string::npos || route.find("units=bohr") != std::string::npos;
  while (std::getline(in, line) && (++at, !blank(line))) {
    atoms += gaussian_atom(line, at, name, bohr ? kBohrInAngstrom : 1.0);
    ++count;
  }
  if (count == 0) throw input_error(name, "holds no atoms after the charge and multiplicity");
  return std::to_string(count) + "\n" + title + "\n" + atoms;
}

}  // namespace

std::string format_from_extension(const std::string& path) {
  const std::string file = std::filesystem::path(path).filename().string();
  const std::size_t dot = file.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == file.size()) return "";
  return lower(file.substr(dot + 1));
}

std::vector<Molecule> read_geometry(const std::string& path, const std::string& format) {
  const std::string name = path == "-" ? "standard input" : path;
  // Standard input without a format is refused before anything is read.
  if (path == "-" && format.empty()) resolve_format(path, format, name);
  std::string bytes = read_bytes(path, name);
  const std::string given = lower(format.empty() && path != "-" ? format_from_extension(path) : format);
  if (is_gaussian_input(given) && bytes.find_first_not_of(" \t\r\n\f\v") != std::string::npos && !looks_binary(bytes))
    bytes = gaussian_input_as_xyz(bytes, name);
  const std::string id = is_gaussian_input(given) ? std::string("xyz") : resolve_format(path, format, name);
  if (bytes.find_first_not_of(" \t\r\n\f\v") == std::string::npos) throw input_error(name, "is empty");
  OpenBabel::OBFormat* reader = OpenBabel::OBConversion::FindFormat(id);
  if (!(reader->Flags() & READBINARY) && looks_binary(bytes)) {
    throw input_error(name, "is a binary file, not a geometry file");
  }
  std::vector<int> dimensions;
  std::vector<Molecule> molecules = parse_reply(run_reader(bytes, id, name), id, name, dimensions);
  check_molecules(molecules, dimensions, id, name);
  return molecules;
}

}  // namespace korven::kit
