#include "kit/model/deck_notes.h"

#include <cstdio>
#include <regex>

namespace korven::kit {

std::string coordinate_note(int problem, int row, const std::string& name, const std::string& value) {
  char head[48];
  std::snprintf(head, sizeof head, "    P%d C%3d  ", problem, row);
  return head + name + "  " + value;
}

std::string group_note(int problem, int mass_set, const std::string& title, const std::string& group) {
  return "    P" + std::to_string(problem) + " M" + std::to_string(mass_set) + " " + title + "  POINT GROUP " + group;
}

std::string block_note(int problem, int mass_set, int block, const std::string& species, int first, int last) {
  char text[96];
  std::snprintf(text, sizeof text, "    P%d M%d BLOCK %2d  %s  ROWS %d-%d", problem, mass_set, block, species.c_str(),
                first, last);
  return text;
}

std::string symmetry_coordinate_note(int problem, int mass_set, int row, const std::string& words) {
  char head[48];
  std::snprintf(head, sizeof head, "    P%d M%d S%3d ", problem, mass_set, row);
  return head + words;
}

std::string shift_note(int problem, const std::string& group, double shift) {
  char text[96];
  std::snprintf(text, sizeof text, "    P%d SYMMETRIZED TO %s, LARGEST SHIFT %.6f A", problem, group.c_str(), shift);
  return text;
}

DeckNotes read_deck_notes(const std::vector<std::string>& comments) {
  static const std::regex coordinate(R"(^ {4}P(\d+) C *(\d+)  (.+?)  -?[0-9.]+ (DEG|A)\s*$)");
  static const std::regex group(R"(^ {4}P(\d+) M(\d+) .*  POINT GROUP (\S+)\s*$)");
  static const std::regex block(R"(^ {4}P(\d+) M(\d+) BLOCK +(\d+)  (\S+)  ROWS \d+-\d+\s*$)");
  static const std::regex shift(R"(^ {4}P(\d+) SYMMETRIZED TO \S+, LARGEST SHIFT ([0-9.]+) A\s*$)");
  DeckNotes notes;
  std::smatch m;
  for (const std::string& line : comments) {
    if (line.size() > 200) continue;
    try {
      if (std::regex_match(line, m, block)) {
        notes.species[{std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3])}] = m[4];
      } else if (std::regex_match(line, m, group)) {
        notes.groups[{std::stoi(m[1]), std::stoi(m[2])}] = m[3];
      } else if (std::regex_match(line, m, shift)) {
        notes.shifts[std::stoi(m[1])] = std::stod(m[2]);
      } else if (std::regex_match(line, m, coordinate)) {
        notes.coordinates[{std::stoi(m[1]), std::stoi(m[2])}] = m[3];
      }
    } catch (const std::exception&) {
      // numbers too large for an int: not one of ours
    }
  }
  return notes;
}

}  // namespace korven::kit
