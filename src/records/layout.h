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

struct LayoutNode {
  enum Kind : std::uint8_t { data, literal, skip, scale, slash, backslash, open, close, end };
  Kind kind;
  int repeat;       // data and open: repeat count; skip: columns; scale: factor
  int partner;      // open: index of its close; close: index of its open
  DataEdit edit;    // data only
  std::string text; // literal only
};

// A parsed layout. Failing to parse is the run-time failure kInvalidLayout.
class Layout {
 public:
  explicit Layout(std::string_view text);
  const std::vector<LayoutNode>& nodes() const { return nodes_; }
  int reversion_index() const { return reversion_; }
  bool has_data() const { return has_data_; }

 private:
  std::vector<LayoutNode> nodes_;
  int reversion_ = 1;
  bool has_data_ = false;
};

// The parsed form of a layout text, parsed on first use and kept.
const Layout& layout_for(std::string_view text);

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
  explicit LayoutWalker(const Layout& layout);

  // Walks to the next data edit, doing everything on the way through sink,
  // reverting at the final parenthesis. Fails with kInvalidLayout when the
  // layout has no data edit at all.
  DataEdit next_edit(LayoutSink& sink);

  // After the last item: walks on without reverting, up to the first data
  // edit or the final parenthesis.
  void finish(LayoutSink& sink);

 private:
  struct Frame {
    int open;       // index of the group's open node
    int remaining;  // repetitions still to run after the current one
  };
  // Processes nodes until a data edit (returns true with edit set) or the end
  // node (returns false).
  bool advance(LayoutSink& sink, DataEdit& edit);

  const Layout& layout_;
  int pc_;
  int data_left_ = 0;  // further copies of the current repeated data edit
  DataEdit pending_{};
  std::vector<Frame> stack_;
};

}  // namespace korven
