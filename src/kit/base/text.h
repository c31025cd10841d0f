// Small text helpers every folder of the kit uses.
#pragma once

#include <string>
#include <string_view>
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

}  // namespace korven::kit
