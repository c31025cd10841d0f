// Writing a deck: the cards of a Deck in the fixed columns the engine's deck
// reader expects, and the file written whole or not at all.
#pragma once

#include <filesystem>
#include <string>

#include "kit/model/deck.h"

namespace korven::kit {

// The deck as text: 80-column cards at most, each ended by "\n". The same
// Deck always gives the same bytes. A value that does not fit its field, a
// comment whose columns 1-3 are not blank, a text longer than its field or
// holding a control character, a CODE 5 or 6 entry without its reference
// point, or masses that do not match the atoms: std::logic_error (callers
// validate first).
std::string deck_text(const Deck& deck);

// Writes deck_text to a temporary file beside `path` and renames it onto
// `path`, so that no half deck is ever left. An existing file is replaced
// only with `force`; otherwise, and when the folder cannot be written,
// InputError naming the path.
void write_deck_file(const std::filesystem::path& path, const Deck& deck, bool force);

// One real field F12.6 from the double value: exactly six decimals, a
// leading zero below 1 in magnitude, no sign on a value that rounds to zero.
// Throws std::logic_error for a value that is not finite or needs more than
// 12 columns.
std::string real_field(double value);

// One integer field of `width` columns, right-justified. Throws
// std::logic_error when the value needs more columns.
std::string integer_field(long long value, int width);

}  // namespace korven::kit
