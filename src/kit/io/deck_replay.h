// Replaying a deck: its cards read one by one with the engine's own read
// statements and in the engine's order, into a Deck.
#pragma once

#include <filesystem>

#include "kit/model/deck.h"

namespace korven::kit {

// Reads the deck as the engine does: the search for -9 and 999 skipping
// other cards (the cards ahead of the first -9 go verbatim to
// Deck::comments), the problem card, the titles, the X cards, the coordinate
// cards with their reference-point cards, the mass sets with their U and
// block cards. Values are converted as the engine converts them (single
// precision, implied decimals, blanks as zero) and widened to double.
//
// Each mass set's `u` is the U in force for it, each row normalised as the
// engine normalises it: its own cards for a positive U mode, the U the
// engine keeps for a negative one (empty when the engine finds no usable
// stored U).
//
// Where the engine writes an input error report the problem is marked
// abandoned, what was read up to there is kept, and the replay searches on
// as the engine does. Where the engine's run would end on a trapped
// operation (a U row without a non-zero value, a zero mass) the replay stops
// and says so in Deck::run_end.
//
// A deck that cannot be read (no such file, a field that does not convert,
// the end of the file inside a problem or before the 999 card): InputError
// naming the file and the card.
Deck replay_deck(const std::filesystem::path& path);

}  // namespace korven::kit
