// A small JSON text writer with two-space indentation, shared by the report writers.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "number_text.hpp"

namespace zel_report {

// True when `text` is printable ASCII without a quote or a backslash: its JSON string is the text
// between quotes, as nlohmann-json writes it.
inline bool plain_json_text(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\') return false;
  }
  return true;
}

// Appends `text` as a JSON string, quoted and escaped; bytes that are not UTF-8 become U+FFFD.
inline void append_json_quoted(std::string& out, std::string_view text) {
  if (plain_json_text(text)) {
    out += '"';
    out += text;
    out += '"';
  } else {
    out += nlohmann::json(std::string(text))
               .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
}

// That JSON string alone.
inline std::string json_quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  append_json_quoted(quoted, text);
  return quoted;
}

// Writes JSON text with two-space indentation. Members and elements are added one by one;
// the writer places the commas. Made with a sink, it hands its text to the sink in pieces of about
// a megabyte as it goes, and take() hands over the rest.
class JsonText {
 public:
  using Sink = std::function<void(std::string_view)>;

  JsonText() = default;
  explicit JsonText(Sink sink) : sink_(std::move(sink)) {}

  std::string take() && {
    text_ += '\n';
    if (sink_) {
      sink_(text_);
      return {};
    }
    return std::move(text_);
  }

  // A writer without text or sink that goes on from where this one is: what it writes, given to
  // append(), continues this text as if written here. So a part written the same way many times
  // over (the same depth, after the same items) is written once.
  JsonText continuation() const {
    JsonText rest;
    rest.first_ = first_;
    rest.after_key_ = after_key_;
    return rest;
  }

  // Appends the text of a continuation() of this writer in the same place, and takes its state.
  void append(const JsonText& rest) {
    text_ += rest.text_;
    first_ = rest.first_;
    after_key_ = rest.after_key_;
    flush_if_full();
  }

  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }

  // Starts a member of the current object; its value comes next.
  JsonText& key(std::string_view name) {
    next_item();
    append_json_quoted(text_, name);
    text_ += ": ";
    after_key_ = true;
    return *this;
  }

  void string(std::string_view value) {
    next_item();
    append_json_quoted(text_, value);
  }
  void integer(std::uint64_t value) {
    next_item();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text_.append(digits, end);
  }
  void signed_integer(std::int64_t value) {
    next_item();
    if (value < 0) {
      text_ += '-';
      text_ += decimal(0 - static_cast<std::uint64_t>(value));
    } else {
      text_ += decimal(static_cast<std::uint64_t>(value));
    }
  }
  void number(double value) {
    next_item();
    // The engine's floats are finite; JSON has no text for the others.
    text_ += std::isfinite(value) ? shortest(value) : "null";
  }
  void null() {
    next_item();
    text_ += "null";
  }

 private:
  void flush_if_full() {
    constexpr std::size_t piece = std::size_t{1} << 20;
    if (sink_ && text_.size() >= piece) {
      sink_(text_);
      text_.clear();
    }
  }

  void open(char bracket) {
    flush_if_full();
    next_item();
    text_ += bracket;
    first_.push_back(true);
  }

  void close(char bracket) {
    const bool empty = first_.back();
    first_.pop_back();
    if (!empty) {
      new_line();
    }
    text_ += bracket;
  }

  // Places the comma and line break before an item, unless it is the value of a key.
  void next_item() {
    if (after_key_) {
      after_key_ = false;
      return;
    }
    if (first_.empty()) {
      return;
    }
    if (!first_.back()) {
      text_ += ',';
    }
    first_.back() = false;
    new_line();
  }

  void new_line() {
    text_ += '\n';
    text_.append(2 * first_.size(), ' ');
  }

  Sink sink_;
  std::string text_;
  std::vector<bool> first_;  // per open bracket: nothing written inside it yet
  bool after_key_ = false;
};

}  // namespace zel_report
