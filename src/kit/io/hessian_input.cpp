#include "kit/io/hessian_input.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "kit/base/elements.h"
#include "kit/base/kit_error.h"

namespace korven::kit {
namespace {

// Three times the engine's atom limit: a bound that keeps a corrupt size
// field from allocating a dense matrix without limit (1000 atoms: 72 MB).
constexpr long long kMostAtoms = 1000;
// Largest |H_ij - H_ji| accepted, relative to the largest element.
constexpr double kSymmetryTolerance = 1e-6;

// The file as lines, with the file's name for the error messages. Lines
// count from 1 in messages; index i holds line i + 1.
struct Source {
  std::string name;
  std::vector<std::string> lines;

  [[noreturn]] void fail(std::size_t index, const std::string& fault) const {
    throw input_error(name, "line " + std::to_string(index + 1) + ": " + fault);
  }
  // The last line, for faults found at the end of the file.
  std::size_t last() const { return lines.empty() ? 0 : lines.size() - 1; }
};

// `what` names the kind of file a folder given in its place is not.
Source read_lines(const std::filesystem::path& file, const char* what = "a Hessian file") {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) throw input_error(file.string(), std::string("is a folder, not ") + what);
  std::ifstream in(file, std::ios::binary);
  if (!in) throw input_error(file.string(), "cannot be opened");
  Source s{file.string(), {}};
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    s.lines.push_back(std::move(line));
  }
  if (in.bad()) throw input_error(s.name, "cannot be read");
  if (s.lines.empty()) throw input_error(s.name, "is empty");
  return s;
}

std::vector<std::string_view> tokens(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::string_view trimmed(std::string_view s) {
  const auto t = tokens(s);
  if (t.empty()) return {};
  return std::string_view(t.front().data(), static_cast<std::size_t>(t.back().data() + t.back().size() - t.front().data()));
}

std::string quoted(std::string_view token) {
  std::string t(token.substr(0, 40));
  for (char& c : t)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
  return "\"" + t + "\"";
}

// A real in C or Fortran notation ("1.5E-01", "1.5D-01", "+2."); NaN and
// infinity are read so that they can be named as such.
std::optional<double> parse_real(std::string_view token) {
  std::string t(token);
  if (!t.empty() && t.front() == '+') t.erase(0, 1);
  std::replace(t.begin(), t.end(), 'D', 'E');
  std::replace(t.begin(), t.end(), 'd', 'e');
  double v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size() || t.empty()) return std::nullopt;
  return v;
}

std::optional<long long> parse_integer(std::string_view token) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  long long v = 0;
  const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), v);
  if (ec != std::errc() || end != token.data() + token.size() || token.empty()) return std::nullopt;
  return v;
}

double real_at(const Source& s, std::size_t line, std::string_view token) {
  const std::optional<double> v = parse_real(token);
  if (!v) s.fail(line, quoted(token) + " is not a number");
  if (!std::isfinite(*v)) s.fail(line, quoted(token) + " is not a finite number");
  return *v;
}

long long integer_at(const Source& s, std::size_t line, std::string_view token) {
  const std::optional<long long> v = parse_integer(token);
  if (!v) s.fail(line, quoted(token) + " is not an integer");
  return *v;
}

void check_atom_count(const Source& s, std::size_t line, long long atoms, int expected) {
  if (atoms < 1 || atoms > kMostAtoms) s.fail(line, "an atom count of " + std::to_string(atoms) + " is outside 1.." + std::to_string(kMostAtoms));
  if (expected > 0 && atoms != expected)
    s.fail(line, "the file holds " + std::to_string(atoms) + " atoms, the deck " + std::to_string(expected));
}

// Refuses an asymmetric matrix, naming the line of the later element of the
// worst pair, then averages the two triangles.
void check_symmetric(const Source& s, Matrix& h, const std::vector<std::size_t>& line_of) {
  const Eigen::Index n = h.rows();
  const double largest = h.cwiseAbs().maxCoeff();
  double worst = 0;
  Eigen::Index wi = 0, wj = 0;
  for (Eigen::Index i = 0; i < n; ++i)
    for (Eigen::Index j = 0; j < i; ++j)
      if (std::abs(h(i, j) - h(j, i)) > worst) worst = std::abs(h(i, j) - h(j, i)), wi = i, wj = j;
  if (worst > kSymmetryTolerance * largest) {
    const std::size_t a = line_of[static_cast<std::size_t>(wi * n + wj)];
    const std::size_t b = line_of[static_cast<std::size_t>(wj * n + wi)];
    std::ostringstream m;
    m.precision(8);
    m << "not symmetric: element (" << wi + 1 << ", " << wj + 1 << ") is " << h(wi, wj) << " but element ("
      << wj + 1 << ", " << wi + 1 << ") on line " << b + 1 << " is " << h(wj, wi)
      << " (differences up to 1e-6 of the largest element are accepted)";
    s.fail(a, m.str());
  }
  h = 0.5 * (h + h.transpose()).eval();
}

// ---- Gaussian formatted checkpoint --------------------------------------
// A section starts with a line holding its name from column 1, the type
// (I or R) and "N=  count"; the values follow, five reals or six integers
// to a line, each data line starting with a blank.

struct FchkSection {
  std::size_t header = 0;
  long long count = 0;
};

std::optional<FchkSection> find_fchk_section(const Source& s, std::string_view name, char type) {
  for (std::size_t i = 0; i < s.lines.size(); ++i) {
    const std::string& line = s.lines[i];
    if (line.compare(0, name.size(), name) != 0) continue;
    const std::vector<std::string_view> t = tokens(std::string_view(line).substr(name.size()));
    if (t.size() != 3 || t[0].size() != 1 || t[1] != "N=") s.fail(i, "\"" + std::string(name) + "\" is not followed by its type and N= count");
    if (t[0][0] != type)
      s.fail(i, "\"" + std::string(name) + "\" has type " + std::string(t[0]) + ", expected " + std::string(1, type));
    const long long n = integer_at(s, i, t[2]);
    if (n < 0) s.fail(i, "\"" + std::string(name) + "\" has a negative count");
    return FchkSection{i, n};
  }
  return std::nullopt;
}

FchkSection require_fchk_section(const Source& s, std::string_view name, char type) {
  const std::optional<FchkSection> sec = find_fchk_section(s, name, type);
  if (!sec) s.fail(s.last(), "the file has no \"" + std::string(name) + "\" section");
  return *sec;
}

// The section's values as text tokens with their line indices.
template <typename F>
void for_fchk_values(const Source& s, std::string_view name, const FchkSection& sec, F&& take) {
  long long got = 0;
  std::size_t i = sec.header + 1;
  for (; got < sec.count; ++i) {
    if (i >= s.lines.size() || (!s.lines[i].empty() && s.lines[i][0] != ' '))
      s.fail(std::min(i, s.last()), "\"" + std::string(name) + "\" ends after " + std::to_string(got) + " of " +
                                        std::to_string(sec.count) + " values");
    for (std::string_view t : tokens(s.lines[i])) {
      if (got == sec.count) s.fail(i, "\"" + std::string(name) + "\" has more than " + std::to_string(sec.count) + " values");
      take(i, t);
      ++got;
    }
  }
}

// An optional section of derivatives: per Cartesian displacement (atom 1
// x, y, z, atom 2 x, …) `components` values, so 3 · atoms · components in
// all. nullopt when the file has no such section.
std::optional<Matrix> read_fchk_derivatives(const Source& s, const std::string& name, Eigen::Index atoms,
                                            Eigen::Index components) {
  const std::optional<FchkSection> sec = find_fchk_section(s, name, 'R');
  if (!sec) return std::nullopt;
  const Eigen::Index rows = 3 * atoms;
  const long long need = static_cast<long long>(rows) * components;
  if (sec->count != need)
    s.fail(sec->header, "\"" + name + "\" has N=" + std::to_string(sec->count) + ", " + std::to_string(atoms) +
                            " atoms need " + std::to_string(need));
  Matrix d(rows, components);
  long long k = 0;
  for_fchk_values(s, name, *sec, [&](std::size_t line, std::string_view t) {
    d(static_cast<Eigen::Index>(k / components), static_cast<Eigen::Index>(k % components)) = real_at(s, line, t);
    ++k;
  });
  return d;
}

HessianFile read_fchk(const Source& s, int expected_atoms) {
  const FchkSection numbers = require_fchk_section(s, "Atomic numbers", 'I');
  check_atom_count(s, numbers.header, numbers.count, expected_atoms);
  const auto n_atoms = static_cast<Eigen::Index>(numbers.count);
  const Eigen::Index n = 3 * n_atoms;

  std::vector<int> z, z_lines;
  for_fchk_values(s, "Atomic numbers", numbers, [&](std::size_t line, std::string_view t) {
    const long long v = integer_at(s, line, t);
    if (v < 1 || v > kLastElement) s.fail(line, "atomic number " + std::to_string(v) + " is not an element");
    z.push_back(static_cast<int>(v));
    z_lines.push_back(static_cast<int>(line + 1));
  });

  const FchkSection coords = require_fchk_section(s, "Current cartesian coordinates", 'R');
  if (coords.count != n)
    s.fail(coords.header, "\"Current cartesian coordinates\" has N=" + std::to_string(coords.count) + ", " +
                              std::to_string(n_atoms) + " atoms need " + std::to_string(n));
  std::vector<Vec3> x(static_cast<std::size_t>(n_atoms), Vec3::Zero());
  long long k = 0;
  for_fchk_values(s, "Current cartesian coordinates", coords, [&](std::size_t line, std::string_view t) {
    x[static_cast<std::size_t>(k / 3)](k % 3) = real_at(s, line, t) * kBohrInAngstrom;
    ++k;
  });

  const FchkSection fc = require_fchk_section(s, "Cartesian Force Constants", 'R');
  const long long triangle = static_cast<long long>(n) * (n + 1) / 2;
  if (fc.count != triangle)
    s.fail(fc.header, "\"Cartesian Force Constants\" has N=" + std::to_string(fc.count) + ", " +
                          std::to_string(n_atoms) + " atoms need " + std::to_string(triangle));
  Matrix h(n, n);
  Eigen::Index row = 0, col = 0;  // lower triangle, row by row
  for_fchk_values(s, "Cartesian Force Constants", fc, [&](std::size_t line, std::string_view t) {
    const double v = real_at(s, line, t) * kHartreePerBohr2InMdynPerAngstrom;
    h(row, col) = v;
    h(col, row) = v;
    if (++col > row) ++row, col = 0;
  });
  HessianFile out;
  out.hessian = std::move(h);
  out.atomic_numbers = std::move(z);
  out.positions = std::move(x);
  out.atom_lines = std::move(z_lines);
  out.dipole_derivatives = read_fchk_derivatives(s, "Dipole Derivatives", n_atoms, 3);
  out.polarizability_derivatives = read_fchk_derivatives(s, "Polarizability Derivatives", n_atoms, 6);
  return out;
}

// ---- ORCA .hess ----------------------------------------------------------
// "$hessian", the dimension, then blocks of columns: a line of column
// indices from 0, then one line per row, "row v v v". "$atoms", the count,
// then "symbol mass x y z" in bohr.

std::optional<std::size_t> find_orca_block(const Source& s, std::string_view name) {
  for (std::size_t i = 0; i < s.lines.size(); ++i)
    if (trimmed(s.lines[i]) == name) return i;
  return std::nullopt;
}

// The next line after `i` that is not blank; fails at the end of the file or
// at the start of the next block.
std::size_t next_orca_line(const Source& s, std::size_t i, const std::string& what) {
  for (++i; i < s.lines.size(); ++i) {
    const std::string_view t = trimmed(s.lines[i]);
    if (t.empty()) continue;
    if (t.front() == '$') s.fail(i, "the block ends before " + what);
    return i;
  }
  s.fail(s.last(), "the file ends before " + what);
}

// "$dipole_derivatives", the row count 3N, then 3N rows of three numbers
// (∂μx, ∂μy, ∂μz per Cartesian displacement, atom 1 x, y, z, atom 2 x, …),
// in atomic units: ORCA writes e·bohr/bohr. nullopt without the block.
std::optional<Matrix> read_orca_dipole_derivatives(const Source& s, Eigen::Index atoms) {
  const std::optional<std::size_t> start = find_orca_block(s, "$dipole_derivatives");
  if (!start) return std::nullopt;
  std::size_t i = next_orca_line(s, *start, "the row count of $dipole_derivatives");
  const std::vector<std::string_view> c = tokens(s.lines[i]);
  if (c.size() != 1) s.fail(i, "expected the row count of $dipole_derivatives alone on the line");
  const long long rows = integer_at(s, i, c[0]);
  if (rows != 3 * atoms)
    s.fail(i, "$dipole_derivatives has " + std::to_string(rows) + " rows, " + std::to_string(atoms) + " atoms need " +
                  std::to_string(3 * atoms));
  Matrix d(3 * atoms, 3);
  for (Eigen::Index r = 0; r < d.rows(); ++r) {
    i = next_orca_line(s, i, "row " + std::to_string(r + 1) + " of " + std::to_string(rows) + " of $dipole_derivatives");
    const std::vector<std::string_view> f = tokens(s.lines[i]);
    if (f.size() != 3)
      s.fail(i, "row " + std::to_string(r + 1) + " of $dipole_derivatives has " + std::to_string(f.size()) +
                    " numbers, expected 3");
    for (Eigen::Index k = 0; k < 3; ++k) d(r, k) = real_at(s, i, f[static_cast<std::size_t>(k)]);
  }
  return d;
}

HessianFile read_orca(const Source& s, int expected_atoms) {
  HessianFile out;
  if (const std::optional<std::size_t> atoms = find_orca_block(s, "$atoms")) {
    std::size_t i = next_orca_line(s, *atoms, "the atom count");
    const std::vector<std::string_view> t = tokens(s.lines[i]);
    if (t.size() != 1) s.fail(i, "expected the atom count alone on the line");
    const long long count = integer_at(s, i, t[0]);
    check_atom_count(s, i, count, expected_atoms);
    expected_atoms = static_cast<int>(count);
    std::vector<int> z;
    std::vector<Vec3> x;
    for (long long a = 0; a < count; ++a) {
      i = next_orca_line(s, i, "atom " + std::to_string(a + 1) + " of " + std::to_string(count));
      const std::vector<std::string_view> f = tokens(s.lines[i]);
      if (f.size() != 5) s.fail(i, "expected \"symbol mass x y z\"");
      const int number = element_number(f[0]);
      if (number == 0) s.fail(i, quoted(f[0]) + " is not an element symbol");
      real_at(s, i, f[1]);
      z.push_back(number);
      out.atom_lines.push_back(static_cast<int>(i + 1));
      x.emplace_back(real_at(s, i, f[2]) * kBohrInAngstrom, real_at(s, i, f[3]) * kBohrInAngstrom,
                     real_at(s, i, f[4]) * kBohrInAngstrom);
    }
    out.atomic_numbers = std::move(z);
    out.positions = std::move(x);
  }

  const std::optional<std::size_t> start = find_orca_block(s, "$hessian");
  if (!start) s.fail(s.last(), "the file has no $hessian block");
  std::size_t i = next_orca_line(s, *start, "the dimension");
  const std::vector<std::string_view> d = tokens(s.lines[i]);
  if (d.size() != 1) s.fail(i, "expected the dimension alone on the line");
  const long long dim = integer_at(s, i, d[0]);
  if (dim % 3 != 0) s.fail(i, "dimension " + std::to_string(dim) + " is not 3 times an atom count");
  check_atom_count(s, i, dim / 3, expected_atoms);
  const auto n = static_cast<Eigen::Index>(dim);

  Matrix h = Matrix::Zero(n, n);
  std::vector<std::size_t> line_of(static_cast<std::size_t>(n * n), 0);
  for (Eigen::Index col = 0; col < n;) {
    i = next_orca_line(s, i, "column " + std::to_string(col + 1) + " of " + std::to_string(n));
    const std::vector<std::string_view> head = tokens(s.lines[i]);
    for (std::size_t c = 0; c < head.size(); ++c)
      if (integer_at(s, i, head[c]) != col + static_cast<Eigen::Index>(c))
        s.fail(i, "expected column index " + std::to_string(col + static_cast<Eigen::Index>(c)) + ", found " + quoted(head[c]));
    const auto width = static_cast<Eigen::Index>(head.size());
    if (col + width > n) s.fail(i, "column index beyond dimension " + std::to_string(n));
    for (Eigen::Index row = 0; row < n; ++row) {
      i = next_orca_line(s, i, "row " + std::to_string(row) + " of columns " + std::to_string(col) + "-" +
                                   std::to_string(col + width - 1));
      const std::vector<std::string_view> f = tokens(s.lines[i]);
      if (integer_at(s, i, f[0]) != row) s.fail(i, "expected row index " + std::to_string(row) + ", found " + quoted(f[0]));
      if (static_cast<Eigen::Index>(f.size()) != width + 1)
        s.fail(i, "row " + std::to_string(row) + " has " + std::to_string(f.size() - 1) + " values, the column header " +
                      std::to_string(width));
      for (Eigen::Index c = 0; c < width; ++c) {
        h(row, col + c) = real_at(s, i, f[static_cast<std::size_t>(c) + 1]);
        line_of[static_cast<std::size_t>(row * n + col + c)] = i;
      }
    }
    col += width;
  }
  check_symmetric(s, h, line_of);  // in the file's units, so that the message quotes its numbers
  out.hessian = h * kHartreePerBohr2InMdynPerAngstrom;
  out.dipole_derivatives = read_orca_dipole_derivatives(s, n / 3);
  return out;
}

// ---- Plain text ------------------------------------------------------------
// 3N rows of 3N numbers; blank lines and lines starting with '#' are skipped.

HessianFile read_text(const Source& s, HessianUnits units, int expected_atoms) {
  const double factor = units == HessianUnits::hartree_per_bohr2 ? kHartreePerBohr2InMdynPerAngstrom : 1.0;
  Eigen::Index n = 3 * static_cast<Eigen::Index>(std::max(0, expected_atoms));
  Matrix h;
  std::vector<std::size_t> line_of;
  Eigen::Index row = 0;
  for (std::size_t i = 0; i < s.lines.size(); ++i) {
    const std::vector<std::string_view> f = tokens(s.lines[i]);
    if (f.empty() || f.front().front() == '#') continue;
    if (n == 0) {
      const auto width = static_cast<long long>(f.size());
      if (width % 3 != 0) s.fail(i, "the first row has " + std::to_string(width) + " numbers, not 3 per atom");
      check_atom_count(s, i, width / 3, 0);
      n = static_cast<Eigen::Index>(width);
    }
    if (h.size() == 0) h = Matrix::Zero(n, n), line_of.assign(static_cast<std::size_t>(n * n), 0);
    if (row == n) s.fail(i, "more than " + std::to_string(n) + " rows (" + std::to_string(n / 3) + " atoms)");
    if (static_cast<Eigen::Index>(f.size()) != n)
      s.fail(i, "row " + std::to_string(row + 1) + " has " + std::to_string(f.size()) + " numbers, expected " + std::to_string(n));
    for (Eigen::Index c = 0; c < n; ++c) {
      h(row, c) = real_at(s, i, f[static_cast<std::size_t>(c)]);
      line_of[static_cast<std::size_t>(row * n + c)] = i;
    }
    ++row;
  }
  if (row < n || n == 0)
    s.fail(s.last(), "the file ends after " + std::to_string(row) + " of " + std::to_string(n) + " rows");
  check_symmetric(s, h, line_of);
  HessianFile out;
  out.hessian = h * factor;
  return out;
}

// ---- Dipole derivatives as plain text ----------------------------------------
// 3N rows of 3 numbers; blank lines and lines starting with '#' are skipped.

Matrix read_dipole_text(const Source& s, int expected_atoms) {
  const long long wanted = 3LL * std::max(0, expected_atoms);  // 0: as many as the file holds
  std::vector<Vec3> rows;
  for (std::size_t i = 0; i < s.lines.size(); ++i) {
    const std::vector<std::string_view> f = tokens(s.lines[i]);
    if (f.empty() || f.front().front() == '#') continue;
    const auto row = static_cast<long long>(rows.size());
    if (wanted > 0 && row == wanted)
      s.fail(i, "more than " + std::to_string(wanted) + " rows (" + std::to_string(wanted / 3) + " atoms)");
    if (row == 3 * kMostAtoms) s.fail(i, "more than " + std::to_string(3 * kMostAtoms) + " rows");
    if (f.size() != 3) s.fail(i, "row " + std::to_string(row + 1) + " has " + std::to_string(f.size()) + " numbers, expected 3");
    rows.emplace_back(real_at(s, i, f[0]), real_at(s, i, f[1]), real_at(s, i, f[2]));
  }
  const auto count = static_cast<long long>(rows.size());
  if (wanted > 0 && count < wanted)
    s.fail(s.last(), "the file ends after " + std::to_string(count) + " of " + std::to_string(wanted) + " rows");
  if (count == 0) s.fail(s.last(), "the file holds no rows of numbers");
  if (count % 3 != 0) s.fail(s.last(), std::to_string(count) + " rows are not 3 per atom");
  Matrix d(count, 3);
  for (long long r = 0; r < count; ++r) d.row(static_cast<Eigen::Index>(r)) = rows[static_cast<std::size_t>(r)].transpose();
  return d;
}

}  // namespace

std::optional<HessianFormat> hessian_format_from_extension(const std::filesystem::path& file) {
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".fchk" || ext == ".fch" || ext == ".fck") return HessianFormat::fchk;
  if (ext == ".hess") return HessianFormat::orca;
  if (ext == ".txt") return HessianFormat::text;
  return std::nullopt;
}

HessianFile read_hessian(const std::filesystem::path& file, HessianFormat format, HessianUnits units_for_text,
                         int expected_atoms) {
  const Source s = read_lines(file);
  switch (format) {
    case HessianFormat::fchk: return read_fchk(s, expected_atoms);
    case HessianFormat::orca: return read_orca(s, expected_atoms);
    case HessianFormat::text: break;
  }
  return read_text(s, units_for_text, expected_atoms);
}

Matrix read_dipole_derivatives(const std::filesystem::path& file, int expected_atoms) {
  return read_dipole_text(read_lines(file, "a file of dipole derivatives"), expected_atoms);
}

}  // namespace korven::kit
