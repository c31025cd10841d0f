#include "kit/base/text.h"

#include <cstdarg>
#include <cstdio>

namespace korven::kit {

std::string format(const char* pattern, ...) {
  std::va_list args;
  va_start(args, pattern);
  std::va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, pattern, args);
  va_end(args);
  std::string out(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0) std::vsnprintf(out.data(), out.size() + 1, pattern, again);
  va_end(again);
  return out;
}

std::string plural(long long n, std::string_view word) {
  return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

std::string trimmed_right(std::string_view text) {
  const std::size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

std::string join(const std::vector<int>& values, std::string_view separator) {
  std::string s;
  for (std::size_t i = 0; i < values.size(); ++i) s += (i ? std::string(separator) : "") + std::to_string(values[i]);
  return s;
}

}  // namespace korven::kit
