// Units: the numbered files of a run and the console. A unit owns its file,
// its output buffer and its read position, and reports its own failures.
#pragma once

#include <cstddef>
#include <cstdio>
#include <istream>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/run_end.h"

namespace korven {

// The console streams of a run: main passes the process's, a test its own.
struct ConsoleStreams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool interactive;  // standard input is a terminal (132-byte line limit)
};

enum class TakeStatus { ok, end_of_file, too_long };

class Unit {
 public:
  enum class Kind { console_in, console_out, formatted, unformatted };

  Unit(int number, Kind kind) : number_(number), kind_(kind) {}
  ~Unit();
  Unit(const Unit&) = delete;
  Unit& operator=(const Unit&) = delete;

  int number() const { return number_; }
  Kind kind() const { return kind_; }
  const std::string& name() const { return name_; }

  // One finished output record; no line end when suppress_line_end.
  void put_record(std::string_view record, bool suppress_line_end);
  // The next input record, its data up to the first CR or LF.
  TakeStatus take_record(std::string& record);

  // The storage a write statement builds its records in, lent to one
  // statement at a time and taken back, with the room it grew to, when the
  // statement ends: records after the first cost no allocation.
  std::string lend_record_storage() { return std::move(record_storage_); }
  void take_back_record_storage(std::string storage) { record_storage_ = std::move(storage); }

 private:
  friend class Units;
  void write_out();       // writes the buffer out; failures are run-time errors
  void truncate_here();   // the first write after an open or rewind
  void written(bool ok);  // after each write out: reports a failed one
  [[noreturn]] void fail(int number, UnitOperation operation) const;

  int number_;
  Kind kind_;
  std::string name_;
  std::FILE* file_ = nullptr;
  std::string buffer_;            // formatted output not yet written out
  std::string record_storage_;    // see lend_record_storage
  bool written_since_position_ = false;
  bool first_byte_stale_ = false;  // cut to the old first byte, not yet written over
  std::vector<char> in_buffer_;   // formatted input read ahead
  std::size_t in_pos_ = 0;
  bool in_eof_ = false;
  class Units* owner_ = nullptr;
};

// The unit table of one run, with the console state.
class Units {
 public:
  explicit Units(ConsoleStreams console);
  ~Units();
  Units(const Units&) = delete;
  Units& operator=(const Units&) = delete;

  Unit& console_in() { return console_in_; }
  Unit& console_out() { return console_out_; }
  // A connected unit; units 5 and 6 are the console until opened on a file.
  Unit& unit(int number);

  void open_unit(int number, std::string_view name, std::string_view status,
                 std::string_view form = "formatted");
  void close_unit(int number, std::string_view status = "keep");
  void rewind_unit(int number);
  static bool file_exists(std::string_view name);

  void write_record_unformatted(int number, std::span<const std::byte> bytes);
  void read_record_unformatted(int number, std::span<std::byte> destination);

  // Writes out every buffer, ignoring failures (ahead of a failure report).
  void write_out_quietly();
  // Termination: closes every connected unit with keep, ignoring failures,
  // then ends an open console line.
  void terminate();

  ConsoleStreams& streams() { return console_; }
  // Whether the last console read took a line (false at the end of input).
  bool console_took_line() const { return console_took_line_; }
  // Console line state.
  bool line_open() const { return line_open_; }
  void set_line_open(bool open) { line_open_ = open; }
  bool line_end_suppressed() const { return line_end_suppressed_; }
  void set_line_end_suppressed(bool s) { line_end_suppressed_ = s; }

 private:
  friend class Unit;
  Unit* find(int number);
  void write_console(std::string_view bytes);

  ConsoleStreams console_;
  Unit console_in_{-1, Unit::Kind::console_in};
  Unit console_out_{-2, Unit::Kind::console_out};
  std::vector<std::unique_ptr<Unit>> units_;
  bool line_open_ = false;
  bool line_end_suppressed_ = false;
  bool console_took_line_ = false;
};

}  // namespace korven
