// Output conversions: each turns one value and its edit into the characters
// of its field, right-justified (asterisks when the value does not fit).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korven {

// Appends the field to out.
void format_integer(std::string& out, std::int32_t value, int width);
void format_fixed(std::string& out, float value, int width, int decimals);
void format_exponent(std::string& out, float value, int width, int decimals, int scale);

}  // namespace korven
