// The deck names that korven takes as they are given: the rule behind the
// refusal of an unusable DECK on korven's command line, for every program
// that names decks for korven.
#pragma once

#include <string>
#include <string_view>

namespace korven {

// True when korven, given the name as DECK, opens the file of exactly that
// name and writes its listing beside it without overwriting it:
//   - 1 to 12 characters (bytes; the dialogue keeps only the first 12 of a
//     line), without a folder part ('/': the listing and the scratch files
//     go to the working folder);
//   - no control character (codes 0-31 and 127: a CR ends the name in the
//     dialogue, a Ctrl-Z ends the input) and no blank at the start or the
//     end (the file opened would be named without them);
//   - a period in positions 2 to 12 (the listing is named by the part
//     before the first one; a period in position 1 does not count);
//   - neither a scratch file's name (dseta.tmp, dsetb.tmp) nor the listing
//     name it gives (the part before the first period and ".OUT", cut to
//     12 characters: WATER.OUT, ABCDEFGHIJK.).
// Whether the file exists is not part of the rule. Otherwise false, and
// *why (when why is not null) says which part of the rule the name breaks,
// in words that can follow "NAME: not a usable deck name: ".
bool usable_deck_name(std::string_view name, std::string* why);

}  // namespace korven
