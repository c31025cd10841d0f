#include "kit/base/atomic_file.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "kit/base/kit_error.h"

namespace korven::kit {
namespace {

namespace fs = std::filesystem;

std::string errno_text(int e) { return std::strerror(e); }

fs::path folder_of(const fs::path& path) {
  const fs::path folder = path.parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

void refuse_existing(const fs::path& path, bool force) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(path, ec)) && !force)
    throw input_error(path.string(), "exists; use --force to replace it");
}

// A fresh folder beside `dir` (mode 0755), named after it.
fs::path fresh_folder_beside(const fs::path& dir, const std::string& tag) {
  std::string pattern = (folder_of(dir) / ("." + dir.filename().string() + tag + ".XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw input_error(dir.string(), "cannot write in its folder: " + errno_text(errno));
  ::chmod(pattern.c_str(), 0755);
  return pattern;
}

}  // namespace

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void write_file_atomically(const fs::path& path, std::string_view text, bool force) {
  const std::string name = path.string();
  refuse_existing(path, force);
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw input_error(name, "is a folder");
  std::string temp = (folder_of(path) / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw input_error(name, "cannot write in its folder: " + errno_text(errno));
  // mkstemp makes the file private; what the kit writes is an ordinary
  // readable file.
  bool written = ::fchmod(fd, 0644) == 0 && write_all(fd, text);
  const int saved = errno;
  if (::close(fd) != 0) written = false;
  if (!written) {
    ::unlink(temp.c_str());
    throw input_error(name, "cannot be written: " + errno_text(saved));
  }
  fs::rename(temp, path, ec);
  if (ec) {
    ::unlink(temp.c_str());
    throw input_error(name, "cannot be written: " + ec.message());
  }
}

void write_folder_atomically(const fs::path& dir, bool force, const std::function<void(const fs::path&)>& check_replaceable,
                             const std::function<void(const fs::path&)>& fill) {
  const std::string name = dir.string();
  std::error_code ec;
  const bool exists = fs::exists(fs::symlink_status(dir, ec));
  refuse_existing(dir, force);
  if (exists) check_replaceable(dir);

  const fs::path temp = fresh_folder_beside(dir, "");
  try {
    fill(temp);
  } catch (...) {
    fs::remove_all(temp, ec);
    throw;
  }
  // The earlier folder steps aside until the new one stands in its place.
  fs::path aside;
  if (exists) {
    aside = fresh_folder_beside(dir, ".old");
    fs::remove(aside, ec);
    fs::rename(dir, aside, ec);
    if (ec) {
      const std::string why = ec.message();
      fs::remove_all(temp, ec);
      throw input_error(name, "cannot be replaced: " + why);
    }
  }
  fs::rename(temp, dir, ec);
  if (ec) {
    const std::string why = ec.message();
    fs::remove_all(temp, ec);
    if (!aside.empty()) fs::rename(aside, dir, ec);
    throw input_error(name, "cannot be written: " + why);
  }
  if (!aside.empty()) fs::remove_all(aside, ec);
}

}  // namespace korven::kit
