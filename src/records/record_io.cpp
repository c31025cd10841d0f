#include "records/record_io.h"

#include <algorithm>
#include <cstring>

#include "records/field_input.h"
#include "records/field_output.h"
#include "records/run_end.h"

namespace korven {
namespace {

constexpr std::size_t kListDirectedRecord = 80;  // the leading blank and 79 characters
constexpr char kCtrlZ = 0x1a;

const Layout& list_directed_layout() {
  static const Layout layout("()");
  return layout;
}

}  // namespace

// ---------------------------------------------------------------- writing

WriteStatement::WriteStatement(Unit& unit, std::string_view layout)
    : unit_(unit),
      list_directed_(layout.empty()),
      walker_(layout.empty() ? list_directed_layout() : layout_for(layout)),
      storage_(unit.lend_record_storage()) {
  if (list_directed_) place(" ");
}

char* WriteStatement::make_room(std::size_t room) {
  const std::size_t blanks = static_cast<std::size_t>(pending_blanks_);
  const std::size_t needed = length_ + blanks + room;
  if (needed > storage_.size()) storage_.resize(std::max({needed, 2 * storage_.size(), std::size_t{128}}));
  char* field = storage_.data() + length_;
  if (blanks > 0) {
    std::memset(field, ' ', blanks);
    field += blanks;
    length_ += blanks;
    pending_blanks_ = 0;
  }
  return field;
}

void WriteStatement::place(std::string_view chars) {
  if (chars.empty()) return;
  char* field = open_field(chars.size());
  std::memcpy(field, chars.data(), chars.size());
  close_field(field + chars.size());
}

void WriteStatement::finish_record(bool suppress_line_end) {
  unit_.put_record(std::string_view(storage_.data(), length_), suppress_line_end);
  length_ = 0;
  pending_blanks_ = 0;
}

void WriteStatement::on_literal(std::string_view text) { place(text); }
void WriteStatement::on_skip(int columns) { pending_blanks_ += columns; }
void WriteStatement::on_record_end() { finish_record(false); }
void WriteStatement::on_scale(int factor) { scale_ = factor; }
void WriteStatement::on_backslash() { suppress_ = true; }

WriteStatement& WriteStatement::write_integer(std::int32_t value) {
  if (list_directed_) throw_failure(kWrongItemKind);
  const DataEdit& edit = walker_.next_edit(*this);
  if (edit.kind != EditKind::integer) throw_failure(kWrongItemKind);
  close_field(format_integer(open_field(static_cast<std::size_t>(edit.width)), value, edit.width));
  return *this;
}

WriteStatement& WriteStatement::write_real(float value) {
  if (list_directed_) throw_failure(kWrongItemKind);
  const DataEdit& edit = walker_.next_edit(*this);
  if (edit.kind == EditKind::fixed) {
    close_field(format_fixed(open_field(static_cast<std::size_t>(edit.width)), value, edit.width, edit.decimals));
  } else if (edit.kind == EditKind::exponent) {
    const int room = exponent_field_room(edit.width, edit.decimals, scale_);
    close_field(format_exponent(open_field(static_cast<std::size_t>(room)), value, edit.width, edit.decimals, scale_));
  } else {
    throw_failure(kWrongItemKind);
  }
  return *this;
}

WriteStatement& WriteStatement::write_text(std::string_view text) {
  if (list_directed_) {
    // Consecutive text items follow one another; an item that reaches the
    // end of the record is cut and continues in a new one.
    for (;;) {
      const std::size_t room = kListDirectedRecord - length_;
      if (text.size() < room) break;
      place(text.substr(0, room));
      text.remove_prefix(room);
      finish_record(false);
      place(" ");
    }
    place(text);
    return *this;
  }
  const DataEdit& edit = walker_.next_edit(*this);
  if (edit.kind != EditKind::text) throw_failure(kWrongItemKind);
  if (edit.width > 0) {
    const std::size_t w = static_cast<std::size_t>(edit.width);
    if (text.size() < w) pending_blanks_ += static_cast<int>(w - text.size());
    text = text.substr(0, w);
  }
  place(text);
  return *this;
}

void WriteStatement::end_write() {
  if (!list_directed_) walker_.finish(*this);
  finish_record(suppress_);
  unit_.take_back_record_storage(std::move(storage_));
}

// ---------------------------------------------------------------- reading

ReadStatement::ReadStatement(Unit& unit, std::string_view layout, bool error_return)
    : unit_(unit), error_return_(error_return), walker_(layout_for(layout)) {
  next_record();
}

void ReadStatement::failed(int number) {
  if (status_ != 0) return;
  if (!error_return_) throw_failure(number, UnitOperation::read, unit_.name());
  status_ = number;
}

bool ReadStatement::next_record() {
  column_ = 0;
  const TakeStatus taken = unit_.take_record(record_);
  if (taken == TakeStatus::ok) return true;
  record_.clear();
  failed(taken == TakeStatus::too_long ? kConsoleLineTooLong : kEndOfFile);
  return false;
}

void ReadStatement::on_literal(std::string_view) { throw_failure(kInvalidLayout); }

void ReadStatement::on_skip(int columns) {
  column_ += static_cast<std::size_t>(columns);
  if (column_ > record_.size()) column_ = record_.size();
}

void ReadStatement::on_record_end() {
  if (status_ == 0) next_record();
}

bool ReadStatement::gather(int width, std::string& field) {
  field.clear();
  for (int taken = 0; taken < width && column_ < record_.size(); ++taken) {
    const char c = record_[column_++];
    if (c == ' ' || c == '\t') continue;
    if (c == ',') break;
    if (c == kCtrlZ) {
      failed(kEndOfFile);
      return false;
    }
    field.push_back(c);
  }
  return true;
}

ReadStatement& ReadStatement::read_integer(std::int32_t& value) {
  if (status_ != 0) return *this;
  const DataEdit& edit = walker_.next_edit(*this);
  if (status_ != 0) return *this;
  if (edit.kind != EditKind::integer) throw_failure(kWrongItemKind);
  std::string field;
  if (!gather(edit.width, field)) return *this;
  const IntegerField f = convert_integer_field(field);
  if (f.failure != 0) {
    failed(f.failure);
    return *this;
  }
  value = f.value;
  return *this;
}

ReadStatement& ReadStatement::read_real(float& value) {
  if (status_ != 0) return *this;
  const DataEdit& edit = walker_.next_edit(*this);
  if (status_ != 0) return *this;
  if (edit.kind != EditKind::fixed && edit.kind != EditKind::exponent) throw_failure(kWrongItemKind);
  std::string field;
  if (!gather(edit.width, field)) return *this;
  const RealField f = convert_real_field(field, edit.decimals);
  if (f.failure != 0) {
    failed(f.failure);
    return *this;
  }
  value = f.value;
  return *this;
}

ReadStatement& ReadStatement::read_text(std::string& text, int length) {
  if (length < 0) length = 0;
  text.assign(static_cast<std::size_t>(length), ' ');
  if (status_ != 0) return *this;
  const DataEdit& edit = walker_.next_edit(*this);
  if (status_ != 0) return *this;
  if (edit.kind != EditKind::text) throw_failure(kWrongItemKind);
  std::size_t want = edit.width > 0 ? static_cast<std::size_t>(edit.width) : static_cast<std::size_t>(length);
  const std::size_t avail = record_.size() - column_;
  const std::size_t take = want < avail ? want : avail;
  // With a width wider than the item the rightmost characters are kept.
  const std::size_t skip = want > static_cast<std::size_t>(length) ? want - static_cast<std::size_t>(length) : 0;
  if (take > skip) text.replace(0, take - skip, record_, column_ + skip, take - skip);
  column_ += take;
  return *this;
}

int ReadStatement::end_read() { return status_; }

}  // namespace korven
