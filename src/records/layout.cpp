#include "records/layout.h"

#include <cctype>
#include <unordered_map>
#include <memory>
#include <string>

#include "records/run_end.h"

namespace korven {
namespace {

[[noreturn]] void bad_layout() { throw_failure(kInvalidLayout); }

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  void parse(std::vector<LayoutNode>& nodes, int& reversion) {
    skip_blanks();
    if (!take('(')) bad_layout();
    nodes.push_back({LayoutNode::open, 1, -1, {}, {}});
    std::vector<int> opens{0};
    int last_depth1_group = -1;
    for (;;) {
      skip_blanks();
      if (pos_ >= text_.size()) bad_layout();
      char c = text_[pos_];
      if (c == ',') {
        ++pos_;
        continue;
      }
      if (c == ')') {
        ++pos_;
        const int open = opens.back();
        opens.pop_back();
        if (opens.empty()) {
          nodes.push_back({LayoutNode::end, 0, open, {}, {}});
          nodes[0].partner = static_cast<int>(nodes.size()) - 1;
          break;
        }
        nodes.push_back({LayoutNode::close, 0, open, {}, {}});
        nodes[open].partner = static_cast<int>(nodes.size()) - 1;
        continue;
      }
      if (c == '\'') {
        nodes.push_back({LayoutNode::literal, 0, -1, {}, literal()});
        continue;
      }
      if (c == '/') {
        ++pos_;
        nodes.push_back({LayoutNode::slash, 0, -1, {}, {}});
        continue;
      }
      if (c == '\\') {
        ++pos_;
        nodes.push_back({LayoutNode::backslash, 0, -1, {}, {}});
        continue;
      }
      int count = -1;
      if (std::isdigit(static_cast<unsigned char>(c))) {
        count = number();
        skip_blanks();
        if (pos_ >= text_.size()) bad_layout();
        c = text_[pos_];
      }
      const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      ++pos_;
      if (c == '(') {
        if (opens.size() == 1) last_depth1_group = static_cast<int>(nodes.size());
        if (opens.size() > 17) bad_layout();
        opens.push_back(static_cast<int>(nodes.size()));
        nodes.push_back({LayoutNode::open, count < 0 ? 1 : count, -1, {}, {}});
      } else if (u == 'X') {
        nodes.push_back({LayoutNode::skip, count < 0 ? 1 : count, -1, {}, {}});
      } else if (u == 'P') {
        if (count < 0) bad_layout();
        nodes.push_back({LayoutNode::scale, count, -1, {}, {}});
      } else if (u == 'I' || u == 'F' || u == 'E' || u == 'A') {
        DataEdit edit{EditKind::text, 0, 0};
        if (u == 'I') edit.kind = EditKind::integer;
        if (u == 'F') edit.kind = EditKind::fixed;
        if (u == 'E') edit.kind = EditKind::exponent;
        skip_blanks();
        const bool has_width = pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]));
        if (has_width) edit.width = number();
        if (u != 'A' && (!has_width || edit.width == 0)) bad_layout();
        if (u == 'F' || u == 'E') {
          skip_blanks();
          if (!take('.')) bad_layout();
          skip_blanks();
          if (pos_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[pos_]))) bad_layout();
          edit.decimals = number();
        }
        if (count == 0) bad_layout();
        nodes.push_back({LayoutNode::data, count < 0 ? 1 : count, -1, edit, {}});
      } else {
        bad_layout();
      }
    }
    if (last_depth1_group >= 0) reversion = last_depth1_group;
  }

 private:
  void skip_blanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }
  bool take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  int number() {
    long long n = 0;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      n = n * 10 + (text_[pos_++] - '0');
      if (n > 100000) bad_layout();
    }
    return static_cast<int>(n);
  }
  std::string literal() {
    std::string out;
    ++pos_;  // opening apostrophe
    for (;;) {
      if (pos_ >= text_.size()) bad_layout();
      const char c = text_[pos_++];
      if (c == '\'') {
        if (pos_ < text_.size() && text_[pos_] == '\'') {
          out.push_back('\'');
          ++pos_;
          continue;
        }
        return out;
      }
      out.push_back(c);
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

Layout::Layout(std::string_view text) {
  Parser(text).parse(nodes_, reversion_);
  for (const auto& n : nodes_) has_data_ = has_data_ || n.kind == LayoutNode::data;
}

const Layout& layout_for(std::string_view text) {
  // Layouts are parsed once per text and kept for the life of the process;
  // a statement usually repeats the previous one's layout, so that is tried
  // first.
  thread_local std::unordered_map<std::string, std::unique_ptr<Layout>> cache;
  thread_local const std::string* last_text = nullptr;
  thread_local const Layout* last_layout = nullptr;
  if (last_text != nullptr && *last_text == text) return *last_layout;
  auto found = cache.find(std::string(text));
  if (found == cache.end()) {
    auto layout = std::make_unique<Layout>(text);
    found = cache.emplace(std::string(text), std::move(layout)).first;
  }
  last_text = &found->first;
  last_layout = found->second.get();
  return *last_layout;
}

LayoutWalker::LayoutWalker(const Layout& layout) : layout_(layout), pc_(1) {}

bool LayoutWalker::advance(LayoutSink& sink, DataEdit& edit) {
  const auto& nodes = layout_.nodes();
  for (;;) {
    const LayoutNode& node = nodes[static_cast<std::size_t>(pc_)];
    switch (node.kind) {
      case LayoutNode::data:
        ++pc_;
        data_left_ = node.repeat - 1;
        pending_ = node.edit;
        edit = node.edit;
        return true;
      case LayoutNode::literal:
        ++pc_;
        sink.on_literal(node.text);
        break;
      case LayoutNode::skip:
        ++pc_;
        sink.on_skip(node.repeat);
        break;
      case LayoutNode::scale:
        ++pc_;
        sink.on_scale(node.repeat);
        break;
      case LayoutNode::slash:
        ++pc_;
        sink.on_record_end();
        break;
      case LayoutNode::backslash:
        ++pc_;
        sink.on_backslash();
        break;
      case LayoutNode::open:
        stack_.push_back({pc_, node.repeat - 1});
        ++pc_;
        break;
      case LayoutNode::close:
        if (!stack_.empty() && stack_.back().remaining > 0) {
          --stack_.back().remaining;
          pc_ = stack_.back().open + 1;
        } else {
          if (!stack_.empty()) stack_.pop_back();
          ++pc_;
        }
        break;
      case LayoutNode::end:
        return false;
    }
  }
}

DataEdit LayoutWalker::next_edit(LayoutSink& sink) {
  if (data_left_ > 0) {
    --data_left_;
    return pending_;
  }
  DataEdit edit{};
  if (advance(sink, edit)) return edit;
  if (!layout_.has_data()) throw_failure(kInvalidLayout);
  // The final parenthesis with an item waiting: a new record, and the walk
  // goes on at the reversion point with the group's full repeat count.
  sink.on_record_end();
  stack_.clear();
  pc_ = layout_.reversion_index();
  if (advance(sink, edit)) return edit;
  throw_failure(kInvalidLayout);
}

void LayoutWalker::finish(LayoutSink& sink) {
  if (data_left_ > 0) return;
  DataEdit edit{};
  advance(sink, edit);
}

}  // namespace korven
