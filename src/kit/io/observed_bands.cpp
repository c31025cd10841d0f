#include "kit/io/observed_bands.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"

namespace korven::kit {
namespace {

double positive_number(const std::string& word, const std::string& what, const std::string& where) {
  std::size_t used = 0;
  double x = 0;
  try {
    x = std::stod(word, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != word.size() || !std::isfinite(x) || !(x > 0))
    throw InputError(where + format("the %s %s is not a positive finite number", what.c_str(), word.c_str()));
  return x;
}

}  // namespace

std::vector<ObservedEntry> parse_observed(const std::string& text, const std::string& path) {
  std::vector<ObservedEntry> out;
  std::istringstream in(text);
  std::string raw;
  for (int number = 1; std::getline(in, raw); ++number) {
    const std::string line = raw.substr(0, raw.find('#'));
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.empty()) continue;
    const std::string where = path + ": line " + std::to_string(number) + ": ";
    if (w.size() < 3 || w.size() > 4)
      throw InputError(where + "expected MASS-SET MODE WAVENUMBER [WEIGHT], found " + plural(static_cast<long long>(w.size()), "word"));
    ObservedEntry e{number, w[0], w[1], positive_number(w[2], "wavenumber", where), 1.0};
    if (w.size() == 4) e.weight = positive_number(w[3], "weight", where);
    out.push_back(e);
  }
  if (out.empty()) throw input_error(path, "holds no observed band");
  return out;
}

std::vector<ObservedEntry> read_observed_bands(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw input_error(path, "is a folder, not a file of observed bands");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw input_error(path, "cannot be read");
  std::stringstream s;
  s << in.rdbuf();
  return parse_observed(s.str(), path);
}

}  // namespace korven::kit
