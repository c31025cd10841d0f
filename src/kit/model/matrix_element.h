// One element of a sparse matrix as the deck and the listing hold them:
// (row, column, value), rows and columns counting from 1.
#pragma once

namespace korven::kit {

struct MatrixElement {
  int row = 0;
  int column = 0;
  double value = 0;
};

}  // namespace korven::kit
