#include "kit/commands/matrix_export.h"

#include <algorithm>
#include <map>
#include <utility>

#include "kit/base/atomic_file.h"
#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/commands/problem_view.h"
#include "kit/io/matrix_market.h"

namespace korven::kit {
namespace {

// Adds up the elements at each position and keeps those inside the shape,
// ordered by column and then row (the order the writer stores them in).
class Accumulator {
 public:
  Accumulator(int rows, int columns) : rows_(rows), columns_(columns) {}
  void add(int row, int column, double value) {
    if (row >= 1 && row <= rows_ && column >= 1 && column <= columns_) sums_[{column, row}] += value;
  }
  std::vector<MatrixElement> elements() const {
    std::vector<MatrixElement> out;
    for (const auto& [at, value] : sums_) out.push_back({at.second, at.first, value});
    return out;
  }

 private:
  int rows_, columns_;
  std::map<std::pair<int, int>, double> sums_;
};

std::string suffix(const std::string& name, int position, std::optional<int> mass_set = std::nullopt,
                   std::optional<int> block = std::nullopt) {
  std::string s = name + ".p" + std::to_string(position);
  if (mass_set) s += ".m" + std::to_string(*mass_set);
  if (block) s += ".b" + std::to_string(*block);
  return s + ".mtx";
}

// Whether the folder holds nothing but what an export writes.
bool is_earlier_export(const std::filesystem::path& dir) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec) || !std::filesystem::exists(dir / "index.json", ec)) return false;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file(ec) || (name != "index.json" && entry.path().extension() != ".mtx")) return false;
  }
  return !ec;
}

ExportedMatrix base_of(const ProblemView& v) {
  ExportedMatrix base;
  base.position = v.position;
  base.problem = v.listed->number;
  base.title = v.listed->title1;
  return base;
}

ExportedMatrix b_matrix(const ProblemView& v) {
  ExportedMatrix b = base_of(v);
  b.file = suffix("B", v.position);
  b.matrix = "B";
  b.rows = v.b_rows;
  b.columns = 3 * v.listed->atoms;
  Accumulator sum(b.rows, b.columns);
  for (const MatrixElement& e : v.listed->b) sum.add(e.row, e.column, e.value);
  b.elements = sum.elements();
  return b;
}

ExportedMatrix g_matrix(const ProblemView& v, const MassSetView& m) {
  ExportedMatrix g = base_of(v);
  g.mass_set = m.number;
  g.mass_set_title = m.listed->title;
  g.file = suffix("G", v.position, m.number);
  g.matrix = "G";
  g.symmetric = true;
  g.rows = g.columns = v.b_rows;
  Accumulator sum(g.rows, g.rows);
  for (const MatrixElement& e : m.listed->g) sum.add(std::max(e.row, e.column), std::min(e.row, e.column), e.value);
  g.elements = sum.elements();
  return g;
}

// U as the deck holds it, its rows as the engine normalises them.
ExportedMatrix u_matrix(const ProblemView& v, const MassSetView& m) {
  ExportedMatrix u = g_matrix(v, m);
  u.file = suffix("U", v.position, m.number);
  u.matrix = "U";
  u.symmetric = false;
  u.rows = m.deck->symmetry_count;
  u.columns = v.b_rows;
  Accumulator sum(u.rows, u.columns);
  for (const MatrixElement& e : m.deck->u) sum.add(e.row, e.column, e.value);
  u.elements = sum.elements();
  return u;
}

// One G' block per listed block, of the block card's size; the elements
// beyond it (the couplings its factoring reports name) are left out.
std::vector<ExportedMatrix> gsym_blocks(const ProblemView& v, const MassSetView& m) {
  std::string fault;
  const std::vector<BlockFinding> found = v.block_species_found(m, fault);
  std::vector<ExportedMatrix> out;
  for (std::size_t k = 0; k < m.listed->blocks.size(); ++k) {
    const ListedBlock& lb = m.listed->blocks[k];
    const int number = static_cast<int>(k) + 1;
    ExportedMatrix s = g_matrix(v, m);
    s.file = suffix("Gsym", v.position, m.number, number);
    s.matrix = "Gsym";
    s.block = number;
    int size = 0;
    if (m.deck && k + 1 < m.deck->boundaries.size()) {
      s.first_row = m.deck->boundaries[k];
      size = std::max(0, m.deck->boundaries[k + 1] - m.deck->boundaries[k]);
    }
    for (const MatrixElement& e : lb.elements) size = std::max(size, e.row);
    s.rows = s.columns = size;
    Accumulator sum(size, size);
    for (const MatrixElement& e : lb.elements)
      if (e.column <= size) sum.add(std::max(e.row, e.column), std::min(e.row, e.column), e.value);
    s.elements = sum.elements();
    s.factoring_reports = lb.factoring_reports;
    s.species = k < found.size() ? std::optional<std::string>(found[k].species) : v.noted_species(m, static_cast<int>(k));
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace

MatrixExport plan_export(const Deck& deck, const Listing& listing, std::optional<int> only,
                         const std::string& deck_name) {
  MatrixExport plan;
  plan.deck = deck_name;
  const std::size_t count = std::min(deck.problems.size(), listing.problems.size());
  for (std::size_t p = 0; p < count; ++p) {
    const int position = static_cast<int>(p) + 1;
    if (only && position != *only) continue;
    const ProblemView v(deck, &listing, position, deck_name);
    if (!v.listed->has_b)
      plan.refused.push_back("problem " + std::to_string(position) + ": the engine listed no B" +
                             (v.listed->errors.empty() ? std::string() : " (" + trimmed_right(v.listed->errors.front()) + ")"));
    if (v.listed->has_b) plan.matrices.push_back(b_matrix(v));
    for (const MassSetView& m : v.mass_sets) {
      plan.matrices.push_back(g_matrix(v, m));
      if (!m.listed->symmetrized) continue;
      if (m.deck) plan.matrices.push_back(u_matrix(v, m));
      for (ExportedMatrix& s : gsym_blocks(v, m)) plan.matrices.push_back(std::move(s));
    }
  }
  if (plan.matrices.empty() && !plan.refused.empty())
    throw input_error(deck_name, "nothing to export: " + plan.refused.front());
  return plan;
}

void write_export(const MatrixExport& plan, const std::string& index_json, const std::filesystem::path& dir,
                  bool force) {
  const auto check_replaceable = [](const std::filesystem::path& d) {
    if (!is_earlier_export(d))
      throw input_error(d.string(), "holds other files than an earlier export; not replaced, even with --force");
  };
  write_folder_atomically(dir, force, check_replaceable, [&](const std::filesystem::path& temp) {
    for (const ExportedMatrix& m : plan.matrices)
      write_sparse_matrix_market(temp / m.file, m.rows, m.columns, m.elements, m.symmetric);
    write_file_atomically(temp / "index.json", index_json, false);
  });
}

}  // namespace korven::kit
