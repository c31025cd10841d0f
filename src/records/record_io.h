// Read and write statements: one record layout walked against the items of
// one statement. These are the only way the program reads or writes a line.
#pragma once

#include <cstdint>
#include <type_traits>
#include <string>
#include <string_view>

#include "records/layout.h"
#include "records/units.h"

namespace korven {

// One write statement. An empty layout means list-directed output.
class WriteStatement final : private LayoutSink {
 public:
  WriteStatement(Unit& unit, std::string_view layout);
  WriteStatement(const WriteStatement&) = delete;
  WriteStatement& operator=(const WriteStatement&) = delete;

  WriteStatement& write_integer(std::int32_t value);
  WriteStatement& write_real(float value);
  WriteStatement& write_text(std::string_view text);
  void end_write();

 private:
  void on_literal(std::string_view text) override;
  void on_skip(int columns) override;
  void on_record_end() override;
  void on_scale(int factor) override;
  void on_backslash() override;
  void place(std::string_view chars);
  // A field goes at open_field, which has room for `room` characters after
  // the blanks pending; close_field takes the end of what was written.
  char* open_field(std::size_t room) {
    if (pending_blanks_ == 0 && length_ + room <= storage_.size()) return storage_.data() + length_;
    return make_room(room);
  }
  char* make_room(std::size_t room);  // places the blanks pending, grows the storage
  void close_field(const char* end) { length_ = static_cast<std::size_t>(end - storage_.data()); }
  void finish_record(bool suppress_line_end);

  Unit& unit_;
  bool list_directed_;
  LayoutWalker walker_;
  std::string storage_;  // lent by the unit until end_write: the record is its first length_ characters
  std::size_t length_ = 0;
  int pending_blanks_ = 0;
  int scale_ = 0;
  bool suppress_ = false;
};

// One read statement. With error_return a failure only sets the status that
// end_read returns (the rest of the record is discarded); without it a
// failure ends the run.
class ReadStatement final : private LayoutSink {
 public:
  ReadStatement(Unit& unit, std::string_view layout, bool error_return = false);
  ReadStatement(const ReadStatement&) = delete;
  ReadStatement& operator=(const ReadStatement&) = delete;

  ReadStatement& read_integer(std::int32_t& value);
  ReadStatement& read_real(float& value);
  ReadStatement& read_text(std::string& text, int length);  // text gets exactly length chars
  int end_read();  // 0, or the failure number under error_return

 private:
  void on_literal(std::string_view text) override;
  void on_skip(int columns) override;
  void on_record_end() override;
  void on_scale(int) override {}
  void on_backslash() override {}
  bool next_record();
  // Gathers a numeric field of the given width; false after a failure.
  bool gather(int width, std::string& field);
  void failed(int number);

  Unit& unit_;
  bool error_return_;
  LayoutWalker walker_;
  std::string record_;
  std::size_t column_ = 0;
  int status_ = 0;
};

// Shorthands for the common case of one statement with a few items.
inline void write_items(WriteStatement&) {}
template <class T, class... Rest>
void write_items(WriteStatement& s, const T& first, const Rest&... rest) {
  if constexpr (std::is_same_v<T, float>) {
    s.write_real(first);
  } else if constexpr (std::is_integral_v<T>) {
    s.write_integer(static_cast<std::int32_t>(first));
  } else {
    s.write_text(std::string_view(first));
  }
  write_items(s, rest...);
}

// write_record(unit, "(1X,I5,' NON-ZERO ELEMENTS.')", n): one whole statement.
template <class... Items>
void write_record(Unit& unit, std::string_view layout, const Items&... items) {
  WriteStatement s(unit, layout);
  write_items(s, items...);
  s.end_write();
}

}  // namespace korven
