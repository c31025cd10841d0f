// The rule for deck names given on the command line, built on the
// dialogue's own routines: its name length, its period search and its
// listing name.
#include "driver/deck_name.h"

#include <utility>

#include "driver/dialogue.h"
#include "driver/run.h"

namespace korven {
namespace {

bool refuse(std::string* why, std::string reason) {
  if (why != nullptr) *why = std::move(reason);
  return false;
}

bool is_control(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code < 32 || code == 127;
}

}  // namespace

bool usable_deck_name(std::string_view name, std::string* why) {
  if (name.empty()) return refuse(why, "it is empty");
  if (name.find('/') != std::string_view::npos)
    return refuse(why, "it has a folder part; korven runs on a deck in the working folder");
  if (name.size() > kNameLength)
    return refuse(why, "it has " + std::to_string(name.size()) + " characters, and a deck's name has at most " +
                           std::to_string(kNameLength));
  for (const char c : name) {
    if (is_control(c))
      return refuse(why, "it holds a control character (code " +
                             std::to_string(static_cast<unsigned char>(c)) + ")");
  }
  if (name.front() == ' ' || name.back() == ' ')
    return refuse(why, "it begins or ends with a blank, which the name of the file opened would lose");
  int stem = 0;
  int found = 0;
  FINDPERIOD(name, stem, found);
  if (found != 1)
    return refuse(why, "it has no period after its first character (the listing is named by the part before it)");
  std::string listing = listing_name_for(name, stem);
  while (!listing.empty() && listing.back() == ' ') listing.pop_back();
  if (listing == name) return refuse(why, "its listing, " + listing + ", would overwrite it");
  if (name == kBScratchName || name == kUScratchName)
    return refuse(why, "it is the name of a scratch file, which the run overwrites");
  return true;
}

}  // namespace korven
