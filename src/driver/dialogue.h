// The console dialogue that asks for the input deck's name.
#pragma once

#include <string>
#include <string_view>

#include "records/units.h"

namespace korven {

inline constexpr std::size_t kNameLength = 12;
inline constexpr std::size_t kPromptLength = 72;

// The closing delimiter of a delimited message: position is the message's
// length up to it (opening delimiter counted); found is 1 or -1.
void FINDDELIM(std::string_view text, int& position, int& found);
// Writes the text of a delimited message as one console line.
void PUTMSG(Units& units, std::string_view text);
// The first period in positions 2 ... 12 of the name: position is the stem
// length; found is 1 or -1.
void FINDPERIOD(std::string_view name, int& position, int& found);
// Asks for the input deck's name until a file of that name exists, or after
// the fourth try that does not find one. name is 12 characters.
void GETNAME(Units& units, std::string_view prompt, std::string& name);

// The listing name for a stem: the stem and ".OUT", cut or padded to 12.
std::string listing_name_for(std::string_view name, int stem_length);

}  // namespace korven
