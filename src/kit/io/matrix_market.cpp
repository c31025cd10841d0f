#include "kit/io/matrix_market.h"

#include <fstream>
#include <sstream>

#include <Eigen/Sparse>
#include <unsupported/Eigen/SparseExtra>

#include "kit/base/atomic_file.h"
#include "kit/base/kit_error.h"
#include "kit/base/text.h"

namespace korven::kit {

void write_matrix_market(const std::filesystem::path& file, const Matrix& m, const std::string& comment) {
  std::string text = "%%MatrixMarket matrix array real general\n";
  if (!comment.empty()) text += "% " + comment + "\n";
  text += std::to_string(m.rows()) + " " + std::to_string(m.cols()) + "\n";
  for (Eigen::Index j = 0; j < m.cols(); ++j)
    for (Eigen::Index i = 0; i < m.rows(); ++i) text += format("%.17g\n", m(i, j));
  write_file_atomically(file, text, true);
}

void write_sparse_matrix_market(const std::filesystem::path& file, int rows, int columns,
                                const std::vector<MatrixElement>& elements, bool symmetric) {
  std::vector<Eigen::Triplet<double>> triplets;
  for (const MatrixElement& e : elements) triplets.emplace_back(e.row - 1, e.column - 1, e.value);
  Eigen::SparseMatrix<double> sparse(rows, columns);
  sparse.setFromTriplets(triplets.begin(), triplets.end());
  const bool opened = Eigen::saveMarket(sparse, file.string(), symmetric ? Eigen::Symmetric : 0);
  std::ifstream back(file);
  std::size_t lines = 0;
  for (std::string line; std::getline(back, line);) ++lines;
  if (!opened || lines != elements.size() + 2)
    throw input_error(file.filename().string(), "cannot be written in " + file.parent_path().string());
}

}  // namespace korven::kit
