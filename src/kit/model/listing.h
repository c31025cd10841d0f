// A listing as plain data: what the engine wrote for each problem, read back
// by the listing reader. Values are the printed ones.
#pragma once

#include <string>
#include <vector>

#include "kit/model/matrix_element.h"

namespace korven::kit {

struct ListedBlock {
  int number = 0;
  std::vector<MatrixElement> elements;  // numbered within the block, end entry left out
  std::vector<MatrixElement> factoring_reports;  // rows and columns numbered over the whole U
};

struct ListedMassSet {
  std::string title;           // 60 columns as listed, trailing blanks removed
  std::vector<double> masses;  // as listed (F12.6)
  std::vector<MatrixElement> g;  // upper triangle, end entry left out
  bool symmetrized = false;
  std::vector<ListedBlock> blocks;
};

struct ListedProblem {
  int number = 0;
  int atoms = 0;
  int nic = 0;
  std::string title1, title2;
  bool has_b = false;             // the B section was written
  std::vector<MatrixElement> b;   // end entry left out
  std::vector<ListedMassSet> mass_sets;
  std::vector<std::string> errors;  // every error report record (those that begin with 0), as listed
};

struct Listing {
  std::vector<ListedProblem> problems;
  // The listing stops inside a section of its last problem (a run that ended
  // with a run-time failure): what was listed up to there is kept.
  bool cut_short = false;
};

}  // namespace korven::kit
