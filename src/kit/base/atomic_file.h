// Files written whole or not at all: the text goes to a fresh file beside
// the target, which is renamed onto it only when every byte is written, so
// that a failure (a full disk, a folder that cannot be written, a signal)
// never leaves a half-written file or loses the one it was to replace.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace korven::kit {

// Writes `text` to `path` (mode 0644). An existing file is replaced only
// with `force`; a folder never. Every failure is an InputError naming the path.
void write_file_atomically(const std::filesystem::path& path, std::string_view text, bool force);

// Writes all of `data` to the descriptor, going on after interrupted writes;
// false when the descriptor takes no more.
bool write_all(int fd, std::string_view data);

// A folder written whole: `fill` writes the files into a fresh folder beside
// `dir`, which then takes the place of `dir`. An existing `dir` is replaced
// only with `force`, and only when `check_replaceable(dir)` does not throw
// (it refuses a folder that holds something of the user's); the old folder
// stands until the new one is in place.
void write_folder_atomically(const std::filesystem::path& dir, bool force,
                             const std::function<void(const std::filesystem::path&)>& check_replaceable,
                             const std::function<void(const std::filesystem::path&)>& fill);

}  // namespace korven::kit
