// Record layouts: parsing a layout text once, and walking it item by item.
// The walker does literals, X, P, '/', '\', groups and reversion itself and
// hands out the next data edit; the statement that drives it only converts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korven {

enum class EditKind : std::uint8_t { integer, fixed, exponent, text };

struct DataEdit {
  EditKind kind;
  int width;     // 0 for A without a width
  int decimals;  // F and E only
};

// One step of a layout's walk from its first item to its final parenthesis,
// with every group and repeat count written out: a data edit, or something
// the walker does on its way to one.
struct LayoutStep {
  enum Kind : std::uint8_t { data, literal, skip, scale, slash, backslash, end };
  Kind kind;
  int value;      // literal: its index in the layout; skip: columns; scale: factor
  DataEdit edit;  // data only
};

// A parsed layout. Failing to parse is the run-time failure kInvalidLayout,
// and so is a layout whose repeat counts write out to more than kMaxSteps
// steps.
class Layout {
 public:
  static constexpr std::size_t kMaxSteps = std::size_t{1} << 17;

  explicit Layout(std::string_view text);
  const std::vector<LayoutStep>& steps() const { return steps_; }  // the last is the end
  std::string_view literal(int index) const { return literals_[static_cast<std::size_t>(index)]; }
  // Where the walk goes on after the final parenthesis: the first step of
  // the last group at the outer level, or the first step.
  int reversion_step() const { return reversion_; }
  bool has_data() const { return has_data_; }

 private:
  std::vector<LayoutStep> steps_;
  std::vector<std::string> literals_;
  int reversion_ = 0;
  bool has_data_ = false;
};

// The parsed form of a layout text, parsed on first use and kept.
const Layout& layout_for(std::string_view text);

// A literal of a layout and where a write statement under the layout puts
// it: record 1 is the statement's first record, and each '/' starts the
// next; column is the literal's first column in its record, from 1 (the
// record's first character, which a file keeps and the console takes as its
// carriage control). column is 0 when an A edit without a width stands ahead
// of the literal in its record, since the item's length then decides.
struct LiteralText {
  int record;
  int column;
  std::string text;
  bool operator==(const LiteralText&) const = default;
};

// Every literal of the layout in the order written, from its first item to
// its final parenthesis (what a reversion writes again is not repeated). A
// layout that does not parse is the run-time failure kInvalidLayout.
std::vector<LiteralText> literal_texts(std::string_view layout);

// What the walker asks of the statement it serves.
class LayoutSink {
 public:
  virtual void on_literal(std::string_view text) = 0;
  virtual void on_skip(int columns) = 0;
  virtual void on_record_end() = 0;  // '/' or reversion
  virtual void on_scale(int factor) = 0;
  virtual void on_backslash() = 0;

 protected:
  ~LayoutSink() = default;
};

class LayoutWalker {
 public:
  explicit LayoutWalker(const Layout& layout) : layout_(layout), steps_(layout.steps().data()) {}

  // Walks to the next data edit, doing everything on the way through sink,
  // reverting at the final parenthesis. Fails with kInvalidLayout when the
  // layout has no data edit at all.
  // The edit stays valid as long as the layout.
  const DataEdit& next_edit(LayoutSink& sink) {
    const LayoutStep& step = steps_[next_];
    if (step.kind != LayoutStep::data) return walk_to_edit(sink);
    ++next_;
    return step.edit;
  }

  // After the last item: walks on without reverting, up to the first data
  // edit or the final parenthesis.
  void finish(LayoutSink& sink) { (void)walk(sink); }

 private:
  // Does the steps up to a data edit (true, next_ at it) or the end (false).
  bool walk(LayoutSink& sink);
  const DataEdit& walk_to_edit(LayoutSink& sink);

  const Layout& layout_;
  const LayoutStep* steps_;
  int next_ = 0;
};

}  // namespace korven
