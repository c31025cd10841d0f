// File helpers of the end-to-end tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace korven::e2e {

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void spill(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary);
  out << bytes;
}

}  // namespace korven::e2e
