#include "driver/dialogue.h"

#include "records/record_io.h"

namespace korven {

void FINDDELIM(std::string_view text, int& position, int& found) {
  found = 1;
  const std::size_t last = text.size() < 100 ? text.size() : 100;
  for (std::size_t k = 2; k <= last; ++k) {
    if (text[k - 1] == text[0]) {
      position = static_cast<int>(k) - 1;
      return;
    }
  }
  found = -1;
}

void PUTMSG(Units& units, std::string_view text) {
  int p = 0;
  int found = 0;
  FINDDELIM(text, p, found);
  write_record(units.console_out(), "(1X,A)", p >= 2 ? text.substr(1, static_cast<std::size_t>(p - 1)) : "");
}

void FINDPERIOD(std::string_view name, int& position, int& found) {
  found = 1;
  for (std::size_t k = 2; k <= kNameLength && k <= name.size(); ++k) {
    if (name[k - 1] == '.') {
      position = static_cast<int>(k) - 1;
      return;
    }
  }
  found = -1;
}

void GETNAME(Units& units, std::string_view prompt, std::string& name) {
  int tries = 1;
  int p = 0;
  int found = 0;
  FINDDELIM(prompt, p, found);
  name.assign(kNameLength, ' ');
  for (;;) {
    write_record(units.console_out(), "(2(A)\\)", p >= 1 ? prompt.substr(0, static_cast<std::size_t>(p)) : "",
                 " ");
    std::string typed;
    ReadStatement answer(units.console_in(), "(A)", /*error_return=*/true);
    answer.read_text(typed, static_cast<int>(kNameLength));
    if (answer.end_read() != 0) {
      PUTMSG(units, "\\AN ERROR WAS ENCOUNTERED READING\\");
      PUTMSG(units, "\\THAT NAME,  PLEASE RE-ENTER OR\\");
      PUTMSG(units, "\\CHOOSE ANOTHER NAME\\");
      // The end of the console input can never give another line: it uses
      // up a try, so that the dialogue ends.
      if (!units.console_took_line() && ++tries >= 5) return;
      continue;
    }
    name = typed;
    if (Units::file_exists(name)) return;
    write_record(units.console_out(), "", " GETNAME: FILE NOT FOUND - RETYPE.");
    if (++tries >= 5) return;
  }
}

std::string listing_name_for(std::string_view name, int stem_length) {
  std::string listing(name.substr(0, static_cast<std::size_t>(stem_length)));
  listing += ".OUT";
  listing.resize(kNameLength, ' ');
  return listing;
}

}  // namespace korven
