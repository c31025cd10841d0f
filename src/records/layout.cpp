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

  // Writes out the walk of the layout: a group's steps are copied once for
  // each further repetition when its parenthesis closes.
  void parse(std::vector<LayoutStep>& steps, std::vector<std::string>& literals, int& reversion) {
    struct Group {
      std::size_t first;  // its first step
      int repeat;
    };
    skip_blanks();
    if (!take('(')) bad_layout();
    std::vector<Group> open{{0, 1}};
    const auto add = [&steps](const LayoutStep& step, int copies) {
      if (steps.size() + static_cast<std::size_t>(copies) > Layout::kMaxSteps) bad_layout();
      steps.insert(steps.end(), static_cast<std::size_t>(copies), step);
    };
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
        const Group group = open.back();
        open.pop_back();
        if (open.empty()) {
          add({LayoutStep::end, 0, {}}, 1);
          break;
        }
        // The group's further repetitions; a repeat count of 0 runs it once,
        // as 1 does.
        const std::vector<LayoutStep> body(steps.begin() + static_cast<std::ptrdiff_t>(group.first), steps.end());
        for (int r = 1; r < group.repeat; ++r) {
          if (steps.size() + body.size() > Layout::kMaxSteps) bad_layout();
          steps.insert(steps.end(), body.begin(), body.end());
        }
        continue;
      }
      if (c == '\'') {
        literals.push_back(literal());
        add({LayoutStep::literal, static_cast<int>(literals.size()) - 1, {}}, 1);
        continue;
      }
      if (c == '/') {
        ++pos_;
        add({LayoutStep::slash, 0, {}}, 1);
        continue;
      }
      if (c == '\\') {
        ++pos_;
        add({LayoutStep::backslash, 0, {}}, 1);
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
        if (open.size() == 1) reversion = static_cast<int>(steps.size());
        if (open.size() > 17) bad_layout();
        open.push_back({steps.size(), count});
      } else if (u == 'X') {
        add({LayoutStep::skip, count < 0 ? 1 : count, {}}, 1);
      } else if (u == 'P') {
        if (count < 0) bad_layout();
        add({LayoutStep::scale, count, {}}, 1);
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
        add({LayoutStep::data, 0, edit}, count < 0 ? 1 : count);
      } else {
        bad_layout();
      }
    }
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
  Parser(text).parse(steps_, literals_, reversion_);
  for (const LayoutStep& step : steps_) has_data_ = has_data_ || step.kind == LayoutStep::data;
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

std::vector<LiteralText> literal_texts(std::string_view text) {
  const Layout layout(text);
  std::vector<LiteralText> texts;
  int record = 1;
  int column = 1;  // 0 once the column is unknown
  const auto advance = [&column](int columns) {
    if (column > 0) column += columns;
  };
  for (const LayoutStep& step : layout.steps()) {
    switch (step.kind) {
      case LayoutStep::literal: {
        const std::string_view literal = layout.literal(step.value);
        texts.push_back({record, column, std::string(literal)});
        advance(static_cast<int>(literal.size()));
        break;
      }
      case LayoutStep::skip:
        advance(step.value);
        break;
      case LayoutStep::data:
        if (step.edit.width == 0) column = 0;
        advance(step.edit.width);
        break;
      case LayoutStep::slash:
        ++record;
        column = 1;
        break;
      case LayoutStep::scale:
      case LayoutStep::backslash:
      case LayoutStep::end:
        break;
    }
  }
  return texts;
}

bool LayoutWalker::walk(LayoutSink& sink) {
  for (;;) {
    const LayoutStep& step = steps_[next_];
    if (step.kind == LayoutStep::data) return true;
    if (step.kind == LayoutStep::end) return false;
    ++next_;
    switch (step.kind) {
      case LayoutStep::literal:
        sink.on_literal(layout_.literal(step.value));
        break;
      case LayoutStep::skip:
        sink.on_skip(step.value);
        break;
      case LayoutStep::scale:
        sink.on_scale(step.value);
        break;
      case LayoutStep::slash:
        sink.on_record_end();
        break;
      case LayoutStep::backslash:
        sink.on_backslash();
        break;
      case LayoutStep::data:
      case LayoutStep::end:
        break;
    }
  }
}

const DataEdit& LayoutWalker::walk_to_edit(LayoutSink& sink) {
  if (!walk(sink)) {
    if (!layout_.has_data()) throw_failure(kInvalidLayout);
    // The final parenthesis with an item waiting: a new record, and the walk
    // goes on at the reversion point with the group's full repeat count.
    sink.on_record_end();
    next_ = layout_.reversion_step();
    if (!walk(sink)) throw_failure(kInvalidLayout);
  }
  return steps_[next_++].edit;
}

}  // namespace korven
