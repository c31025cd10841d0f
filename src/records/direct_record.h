// Records built straight from their fields, for the few layouts a run writes
// thousands of times (the element records and the factoring report). The
// fields are made by the same conversions a write statement's edits call, in
// the order the layout gives them, without walking the layout; each caller
// names the layout it stands for, and the tests hold the two to the same
// bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "records/field_output.h"
#include "records/run_end.h"
#include "records/units.h"

namespace korven {

class DirectRecord {
 public:
  static constexpr std::size_t kRoom = 160;  // the longest record it is used for is 93

  DirectRecord& text(std::string_view chars) {  // a literal, or nX as blanks
    std::memcpy(room(chars.size()), chars.data(), chars.size());
    end_ += chars.size();
    return *this;
  }
  DirectRecord& integer(std::int32_t value, int width) {  // Iw
    end_ = format_integer(room(static_cast<std::size_t>(width)), value, width);
    return *this;
  }
  DirectRecord& fixed(float value, int width, int decimals) {  // Fw.d
    end_ = format_fixed(room(static_cast<std::size_t>(width)), value, width, decimals);
    return *this;
  }
  DirectRecord& exponent(float value, int width, int decimals, int scale) {  // kP then Ew.d
    const auto n = static_cast<std::size_t>(exponent_field_room(width, decimals, scale));
    end_ = format_exponent(room(n), value, width, decimals, scale);
    return *this;
  }
  // Puts the record, with its line end, and starts the next one.
  void put(Unit& unit) {
    unit.put_record(std::string_view(record_, static_cast<std::size_t>(end_ - record_)), false);
    end_ = record_;
  }

 private:
  char* room(std::size_t n) {
    if (n > kRoom - static_cast<std::size_t>(end_ - record_)) throw_failure(kInvalidLayout);
    return end_;
  }

  char record_[kRoom];
  char* end_ = record_;
};

}  // namespace korven
