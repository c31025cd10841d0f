// Matrix Market files, the format SciPy, Julia, MATLAB and Octave read
// directly: a dense matrix (force constants) and a sparse one (the listing's
// matrices). Only matrix_market.cpp meets Eigen's Matrix Market writer.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/model/matrix_element.h"

namespace korven::kit {

// "%%MatrixMarket matrix array real general": a comment line, "rows cols",
// then every element in column-major order with 17 significant digits. The
// dense general form suits a force-constant matrix, which is full. Written
// whole or not at all (an existing file is replaced); a failure throws
// InputError naming FILE.
void write_matrix_market(const std::filesystem::path& file, const Matrix& m, const std::string& comment);

// "%%MatrixMarket matrix coordinate real general" (or "symmetric", when
// only the lower triangle is given) through Eigen's writer, into `file`; the
// file is read back far enough to know it is whole, since the writer
// reports only a file it cannot open. Elements count from 1.
void write_sparse_matrix_market(const std::filesystem::path& file, int rows, int columns,
                                const std::vector<MatrixElement>& elements, bool symmetric);

}  // namespace korven::kit
