#include "kit/base/text.h"

#include <algorithm>
#include <cmath>
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

std::string combination_text(const std::vector<std::pair<double, std::string>>& terms, std::size_t width) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < terms.size(); ++i)
    if (std::abs(terms[i].first) >= 0.0005) order.push_back(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return std::abs(terms[a].first) > std::abs(terms[b].first); });
  const std::string more = " ...";
  std::string out;
  for (std::size_t n = 0; n < order.size(); ++n) {
    const double c = terms[order[n]].first;
    const std::string term = (out.empty() ? (c < 0 ? "-" : "") : (c < 0 ? " - " : " + ")) +
                             format("%.3f ", std::abs(c)) + terms[order[n]].second;
    // The last term may use the room the ellipsis would take.
    const std::size_t room = n + 1 == order.size() ? width : width - std::min(width, more.size());
    if (out.size() + term.size() > room) return out + more;
    out += term;
  }
  return out;
}

}  // namespace korven::kit
