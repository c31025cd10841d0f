#include "kit/commands/matrix_export.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <utility>

#include <Eigen/Sparse>
#include <unsupported/Eigen/SparseExtra>

#include "kit/commands/check_report.h"
#include "kit/model/deck_notes.h"
#include "kit/io/deck_replay.h"
#include "kit/base/kit_error.h"

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
  std::vector<ExportElement> elements() const {
    std::vector<ExportElement> out;
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

std::string errno_text() { return std::strerror(errno); }

// Writes one matrix with Eigen's writer and reads the file back far enough
// to know it is whole: the writer reports only a file it cannot open.
void save_matrix(const ExportedMatrix& m, const std::filesystem::path& folder) {
  std::vector<Eigen::Triplet<double>> triplets;
  for (const ExportElement& e : m.elements) triplets.emplace_back(e.row - 1, e.column - 1, e.value);
  Eigen::SparseMatrix<double> sparse(m.rows, m.columns);
  sparse.setFromTriplets(triplets.begin(), triplets.end());
  const std::filesystem::path file = folder / m.file;
  const bool opened = Eigen::saveMarket(sparse, file.string(), m.symmetric ? Eigen::Symmetric : 0);
  std::ifstream back(file);
  std::size_t lines = 0;
  for (std::string line; std::getline(back, line);) ++lines;
  if (!opened || lines != m.elements.size() + 2) throw input_error(m.file, "cannot be written in " + folder.string());
}

void write_text(const std::filesystem::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw input_error(file.filename().string(), "cannot be written in " + file.parent_path().string());
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

// A fresh name beside `dir` (a folder mkdtemp made, 0755).
std::filesystem::path fresh_folder_beside(const std::filesystem::path& dir, const std::string& tag) {
  std::filesystem::path parent = dir.parent_path();
  if (parent.empty()) parent = ".";
  std::string pattern = (parent / ("." + dir.filename().string() + tag + ".XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw input_error(dir.string(), "cannot write in its folder: " + errno_text());
  ::chmod(pattern.c_str(), 0755);
  return pattern;
}

}  // namespace

MatrixExport plan_export(const Deck& deck, const Listing& listing, std::optional<int> only,
                         const std::string& deck_name) {
  MatrixExport plan;
  plan.deck = deck_name;
  const CheckReport report = check_deck(deck, listing, only, deck_name);
  const DeckNotes notes = read_deck_notes(deck.comments);
  const std::size_t count = std::min(deck.problems.size(), listing.problems.size());
  for (std::size_t p = 0; p < count; ++p) {
    const int position = static_cast<int>(p) + 1;
    if (only && position != *only) continue;
    const DeckProblem& dp = deck.problems[p];
    const ListedProblem& lp = listing.problems[p];
    const ProblemReport* checked = nullptr;
    for (const ProblemReport& r : report.problems)
      if (r.index == position) checked = &r;

    ExportedMatrix base;
    base.position = position;
    base.problem = lp.number;
    base.title = lp.title1;
    int nrows = std::max(lp.nic, static_cast<int>(deck_rows(dp).size()));
    for (const ListedElement& e : lp.b) nrows = std::max(nrows, e.row);
    const int columns = 3 * lp.atoms;

    if (lp.has_b) {
      ExportedMatrix b = base;
      b.file = suffix("B", position);
      b.matrix = "B";
      b.rows = nrows;
      b.columns = columns;
      Accumulator sum(nrows, columns);
      for (const ListedElement& e : lp.b) sum.add(e.row, e.column, e.value);
      b.elements = sum.elements();
      plan.matrices.push_back(std::move(b));
    }

    for (std::size_t m = 0; m < lp.mass_sets.size(); ++m) {
      const ListedMassSet& lm = lp.mass_sets[m];
      const int set = static_cast<int>(m) + 1;
      ExportedMatrix g = base;
      g.mass_set = set;
      g.mass_set_title = lm.title;
      g.file = suffix("G", position, set);
      g.matrix = "G";
      g.symmetric = true;
      g.rows = g.columns = nrows;
      {
        Accumulator sum(nrows, nrows);
        for (const ListedElement& e : lm.g) sum.add(std::max(e.row, e.column), std::min(e.row, e.column), e.value);
        g.elements = sum.elements();
      }
      plan.matrices.push_back(g);
      if (!lm.symmetrized) continue;
      const MassSet* dm = m < dp.mass_sets.size() ? &dp.mass_sets[m] : nullptr;
      const MassSetReport* checked_set =
          checked && m < checked->mass_sets.size() ? &checked->mass_sets[m] : nullptr;

      if (dm) {
        ExportedMatrix u = g;
        u.file = suffix("U", position, set);
        u.matrix = "U";
        u.symmetric = false;
        u.rows = dm->symmetry_count;
        u.columns = nrows;
        Accumulator sum(u.rows, u.columns);
        for (const UElement& e : dm->u) sum.add(e.row, e.column, e.value);
        u.elements = sum.elements();
        plan.matrices.push_back(std::move(u));
      }

      for (std::size_t k = 0; k < lm.blocks.size(); ++k) {
        const ListedBlock& lb = lm.blocks[k];
        const int number = static_cast<int>(k) + 1;
        ExportedMatrix s = g;
        s.file = suffix("Gsym", position, set, number);
        s.matrix = "Gsym";
        s.block = number;
        int size = 0;
        if (dm && k + 1 < dm->boundaries.size()) {
          s.first_row = dm->boundaries[k];
          size = std::max(0, dm->boundaries[k + 1] - dm->boundaries[k]);
        }
        for (const ListedElement& e : lb.elements) size = std::max(size, e.row);
        s.rows = s.columns = size;
        Accumulator sum(size, size);
        for (const ListedElement& e : lb.elements)
          if (e.column <= size) sum.add(std::max(e.row, e.column), std::min(e.row, e.column), e.value);
        s.elements = sum.elements();
        s.factoring_reports = lb.factoring_reports;
        if (checked_set && k < checked_set->blocks.size() && checked_set->blocks[k].species)
          s.species = checked_set->blocks[k].species;
        else if (const auto it = notes.species.find({dp.number, set, number}); it != notes.species.end())
          s.species = it->second;
        plan.matrices.push_back(std::move(s));
      }
    }
  }
  return plan;
}

void write_export(const MatrixExport& plan, const std::string& index_json, const std::filesystem::path& dir,
                  bool force) {
  const std::string name = dir.string();
  std::error_code ec;
  const bool exists = std::filesystem::exists(std::filesystem::symlink_status(dir, ec));
  if (exists && !force) throw input_error(name, "exists; use --force to replace it");
  if (exists && !is_earlier_export(dir))
    throw input_error(name, "holds other files than an earlier export; not replaced, even with --force");

  const std::filesystem::path temp = fresh_folder_beside(dir, "");
  try {
    for (const ExportedMatrix& m : plan.matrices) save_matrix(m, temp);
    write_text(temp / "index.json", index_json);
  } catch (...) {
    std::filesystem::remove_all(temp, ec);
    throw;
  }

  // The earlier export steps aside until the new one stands in its place.
  std::filesystem::path aside;
  if (exists) {
    aside = fresh_folder_beside(dir, ".old");
    std::filesystem::remove(aside, ec);
    std::filesystem::rename(dir, aside, ec);
    if (ec) {
      const std::string why = ec.message();
      std::filesystem::remove_all(temp, ec);
      throw input_error(name, "cannot be replaced: " + why);
    }
  }
  std::filesystem::rename(temp, dir, ec);
  if (ec) {
    const std::string why = ec.message();
    std::filesystem::remove_all(temp, ec);
    if (!aside.empty()) std::filesystem::rename(aside, dir, ec);
    throw input_error(name, "cannot be written: " + why);
  }
  if (!aside.empty()) std::filesystem::remove_all(aside, ec);
}

}  // namespace korven::kit
