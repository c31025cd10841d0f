// Small text helpers every folder of the kit uses.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korven::kit {

// printf into a std::string.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

// "1 vibration", "3 vibrations".
std::string plural(long long n, std::string_view word);

// The text without its trailing blanks.
std::string trimmed_right(std::string_view text);

// "1, 4, 7".
std::string join(const std::vector<int>& values, std::string_view separator = ", ");

// "0.707 r(O1-H2) - 0.707 r(O1-H3)": a combination written with three
// decimals, the largest terms first (the first of equals first), terms that
// round to zero left out, and " ..." where the rest would pass `width`
// (the whole never longer than `width`, but for a first term longer still).
std::string combination_text(const std::vector<std::pair<double, std::string>>& terms, std::size_t width);

}  // namespace korven::kit
