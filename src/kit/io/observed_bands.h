// The file of observed bands that `fit` fits to and `spectrum` marks on its
// picture: per line MASS-SET MODE WAVENUMBER [WEIGHT], '#' starting a
// comment, blank lines skipped.
#pragma once

#include <string>
#include <vector>

namespace korven::kit {

// One band of the observed file, as read (before it meets the deck).
struct ObservedEntry {
  int line = 0;          // in the file, from 1
  std::string mass_set;  // a number or a title
  std::string mode;      // "3", "nu3", "A1:2" or "?"
  double wavenumber = 0;
  double weight = 1;
};

// The bands of `text`, read from `path`. InputError "PATH: line N: ..." for
// a line that is not of that form or a value that is not a positive finite
// number; "PATH: holds no observed band" for a file without one.
std::vector<ObservedEntry> parse_observed(const std::string& text, const std::string& path);

// The file at `path` read and parsed; InputError for a folder or a file that
// cannot be read.
std::vector<ObservedEntry> read_observed_bands(const std::string& path);

}  // namespace korven::kit
