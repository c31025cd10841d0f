#include "records/units.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "records/run_end.h"

namespace korven {
namespace {

constexpr std::size_t kWriteOutSize = 1 << 16;  // formatted output held before it is written out
constexpr std::size_t kReadAhead = 1 << 16;
constexpr std::size_t kConsoleLine = 132;        // the console's line buffer, line end included
constexpr char kCtrlZ = 0x1a;

std::string_view trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool keyword_is(std::string_view given, std::string_view keyword) {
  given = trim(given);
  if (given.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < given.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(given[i])) != keyword[i]) return false;
  return true;
}

int write_failure_number() { return errno == ENOSPC ? kDiskFull : kWriteRefused; }

int open_failure_number() {
  return errno == EMFILE || errno == ENFILE ? kTooManyOpenFiles : kOpenRefused;
}

}  // namespace

// ---------------------------------------------------------------- Unit

Unit::~Unit() {
  if (file_ != nullptr) std::fclose(file_);
}

void Unit::fail(int number, UnitOperation operation) const {
  throw_failure(number, operation, name_);
}

void Unit::put_record(std::string_view record, bool suppress_line_end) {
  if (kind_ == Kind::console_out) {
    Units& u = *owner_;
    if (u.line_end_suppressed_) {
      // The previous record left its line open: this one continues it,
      // its first character included.
      u.write_console(record);
    } else {
      const char control = record.empty() ? ' ' : record.front();
      if (control == '0') {
        u.write_console(u.line_open_ ? "\r\n\r\n" : "\r\n");
      } else if (control == '1') {
        u.write_console("\r\n\f\r \r");
      } else if (control == '+') {
        u.write_console("\r");
      } else if (u.line_open_) {
        u.write_console("\r\n");
      }
      if (!record.empty()) u.write_console(record.substr(1));
    }
    u.line_open_ = true;
    u.line_end_suppressed_ = suppress_line_end;
    return;
  }
  buffer_.append(record);
  if (!suppress_line_end) buffer_.append("\r\n");
  if (buffer_.size() >= kWriteOutSize) write_out();
}

void Unit::truncate_here() {
  // Every write after an open or rewind starts at the start of the file:
  // the first one replaces the file's old contents. A file still empty (a
  // scratch file just made) has none and is only positioned: truncating it
  // all the same would have the file system (ext4's replace-by-truncate
  // rule) flush it to disk when it is closed, and its deletion wait for that.
  if (std::fseek(file_, 0, SEEK_END) == 0 && std::ftell(file_) == 0) {
    written_since_position_ = true;
    return;
  }
  // Any other file is cut to its first byte, which the write that follows
  // (never empty) replaces at once. Cut to nothing, ext4 would flush the
  // whole new file to disk when it is closed, and the next run's cut would
  // wait for that I/O: 3 ms of a 13 ms run that rewrites a 6.8 MB listing.
  // A file that cannot be both read and written, or cut, is made anew as
  // before (or fails to open, its contents kept).
  std::fclose(file_);
  file_ = std::fopen(name_.c_str(), "r+b");
  std::error_code cut;
  if (file_ != nullptr) std::filesystem::resize_file(name_, 1, cut);
  if (file_ != nullptr && cut) {
    std::fclose(file_);
    file_ = nullptr;
  }
  first_byte_stale_ = file_ != nullptr;
  if (file_ == nullptr) file_ = std::fopen(name_.c_str(), "w+b");
  if (file_ == nullptr) fail(write_failure_number(), UnitOperation::write);
  written_since_position_ = true;
}

void Unit::written(bool ok) {
  // A write that failed before its first byte landed leaves the file empty,
  // not holding the old contents' first byte.
  if (!ok && first_byte_stale_) {
    std::error_code ec;
    if (std::filesystem::file_size(name_, ec) == 1) std::filesystem::resize_file(name_, 0, ec);
  }
  first_byte_stale_ = false;
  if (!ok) fail(write_failure_number(), UnitOperation::write);
}

void Unit::write_out() {
  if (buffer_.empty() || file_ == nullptr) return;
  if (!written_since_position_) truncate_here();
  const std::size_t n = std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
  const bool ok = n == buffer_.size() && std::fflush(file_) == 0;
  buffer_.clear();
  written(ok);
}

TakeStatus Unit::take_record(std::string& record) {
  record.clear();
  if (kind_ == Kind::console_in) {
    Units& u = *owner_;
    if (u.line_end_suppressed_) {
      u.line_end_suppressed_ = false;  // the answer is typed on the prompt's line
    } else if (u.line_open_) {
      u.write_console("\r\n");
      u.line_open_ = false;
    }
    u.console_.out.flush();
    std::istream& in = u.console_.in;
    std::string line;
    bool any = false;
    bool ended = false;
    char c;
    while (in.get(c)) {
      any = true;
      if (c == '\n') {
        ended = true;
        break;
      }
      line.push_back(c);
    }
    u.console_took_line_ = any;
    if (!any) return TakeStatus::end_of_file;
    u.line_open_ = false;
    if (u.console_.interactive && line.size() + (ended ? 1 : 0) > kConsoleLine) return TakeStatus::too_long;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.back() == kCtrlZ) return TakeStatus::end_of_file;
    const std::size_t cr = line.find('\r');
    record.assign(line, 0, cr == std::string::npos ? line.size() : cr);
    return TakeStatus::ok;
  }
  if (file_ == nullptr) return TakeStatus::end_of_file;
  // A record is the bytes up to the next LF; a CR ends its data.
  bool any = false;
  bool data_ended = false;
  for (;;) {
    if (in_pos_ >= in_buffer_.size()) {
      if (in_eof_) break;
      in_buffer_.resize(kReadAhead);
      const std::size_t n = std::fread(in_buffer_.data(), 1, kReadAhead, file_);
      in_buffer_.resize(n);
      in_pos_ = 0;
      if (n < kReadAhead) in_eof_ = true;
      if (n == 0) break;
    }
    const char* start = in_buffer_.data() + in_pos_;
    const std::size_t avail = in_buffer_.size() - in_pos_;
    const void* lf = std::memchr(start, '\n', avail);
    const std::size_t len = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) : avail;
    any = true;
    if (!data_ended) {
      const void* cr = std::memchr(start, '\r', len);
      if (cr != nullptr) {
        record.append(start, static_cast<std::size_t>(static_cast<const char*>(cr) - start));
        data_ended = true;
      } else {
        record.append(start, len);
      }
    }
    in_pos_ += len;
    if (lf != nullptr) {
      ++in_pos_;
      return TakeStatus::ok;
    }
  }
  return any ? TakeStatus::ok : TakeStatus::end_of_file;
}

// ---------------------------------------------------------------- Units

Units::Units(ConsoleStreams console) : console_(console) {
  console_in_.owner_ = this;
  console_out_.owner_ = this;
}

Units::~Units() = default;

void Units::write_console(std::string_view bytes) { console_.out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())); }

Unit* Units::find(int number) {
  for (auto& u : units_)
    if (u->number() == number) return u.get();
  return nullptr;
}

Unit& Units::unit(int number) {
  if (Unit* u = find(number)) return *u;
  if (number == 5) return console_in_;
  if (number == 6) return console_out_;
  throw_failure(kOpenRefused, UnitOperation::write);
}

bool Units::file_exists(std::string_view name) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(std::string(trim(name))), ec);
}

void Units::open_unit(int number, std::string_view name, std::string_view status, std::string_view form) {
  const std::string file(trim(name));
  if (find(number) != nullptr) close_unit(number);
  // Unit 5 leaves the console as soon as it is opened on a file, whether or
  // not the file then opens: from here on the console line no longer counts
  // as open, so a failed open of the deck ends the run without a line end.
  if (number == 5) line_open_ = false;
  const bool exists = file_exists(file);
  if (keyword_is(status, "old") && !exists) throw_failure(kFileNotFound, UnitOperation::open, file);
  std::FILE* f = nullptr;
  if (exists) {
    f = std::fopen(file.c_str(), "r+b");
    if (f == nullptr) f = std::fopen(file.c_str(), "rb");
    if (f == nullptr) f = std::fopen(file.c_str(), "ab");
  } else {
    f = std::fopen(file.c_str(), "w+b");
  }
  if (f == nullptr) throw_failure(open_failure_number(), UnitOperation::open, file);
  auto unit = std::make_unique<Unit>(number, keyword_is(form, "unformatted") ? Unit::Kind::unformatted
                                                                              : Unit::Kind::formatted);
  unit->name_ = file;
  unit->file_ = f;
  unit->owner_ = this;
  units_.push_back(std::move(unit));
  if (number == 6 && line_open_) {
    write_console("\r\n");
    line_open_ = false;
  }
}

void Units::close_unit(int number, std::string_view status) {
  Unit* u = find(number);
  if (u == nullptr) return;
  u->write_out();
  std::string name = u->name_;
  for (auto it = units_.begin(); it != units_.end(); ++it) {
    if (it->get() == u) {
      units_.erase(it);
      break;
    }
  }
  if (keyword_is(status, "delete")) {
    std::error_code ec;
    std::filesystem::remove(name, ec);
  }
}

void Units::rewind_unit(int number) {
  Unit& u = unit(number);
  if (u.file_ == nullptr) return;
  u.write_out();
  std::rewind(u.file_);
  u.in_buffer_.clear();
  u.in_pos_ = 0;
  u.in_eof_ = false;
  u.written_since_position_ = false;
}

void Units::write_record_unformatted(int number, std::span<const std::byte> bytes) {
  Unit& u = unit(number);
  if (u.file_ == nullptr) return;
  if (!u.written_since_position_) u.truncate_here();
  // A record is framed by its length before and after it.
  const std::uint32_t length = static_cast<std::uint32_t>(bytes.size());
  bool ok = std::fwrite(&length, sizeof length, 1, u.file_) == 1;
  ok = ok && (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), u.file_) == bytes.size());
  ok = ok && std::fwrite(&length, sizeof length, 1, u.file_) == 1;
  ok = ok && std::fflush(u.file_) == 0;
  u.written(ok);
}

void Units::read_record_unformatted(int number, std::span<std::byte> destination) {
  Unit& u = unit(number);
  const auto read_fail = [&u](int n) { u.fail(n, UnitOperation::read); };
  std::uint32_t length = 0;
  if (u.file_ == nullptr || std::fread(&length, sizeof length, 1, u.file_) != 1) read_fail(kEndOfFile);
  if (destination.size() > length) read_fail(kRecordTooShort);
  if (!destination.empty() && std::fread(destination.data(), 1, destination.size(), u.file_) != destination.size())
    read_fail(kEndOfFile);
  // The rest of the record and its closing length are passed over.
  if (std::fseek(u.file_, static_cast<long>(length - destination.size() + sizeof length), SEEK_CUR) != 0)
    read_fail(kEndOfFile);
}

void Units::write_out_quietly() {
  for (auto& u : units_) {
    try {
      u->write_out();
    } catch (const RunFailure&) {
      u->buffer_.clear();
    }
  }
  console_.out.flush();
}

void Units::terminate() {
  write_out_quietly();
  units_.clear();
  if (line_open_) write_console("\r\n");
  console_.out.flush();
}

}  // namespace korven
