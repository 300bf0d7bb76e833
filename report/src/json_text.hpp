// A small JSON text writer with two-space indentation, shared by the report writers.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "number_text.hpp"

namespace zel_report {

// `text` as a JSON string, quoted and escaped; bytes that are not UTF-8 become U+FFFD.
inline std::string json_quoted(std::string_view text) {
  return nlohmann::json(std::string(text))
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Writes JSON text with two-space indentation. Members and elements are added one by one;
// the writer places the commas.
class JsonText {
 public:
  std::string take() && { return std::move(text_) + "\n"; }

  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }

  // Starts a member of the current object; its value comes next.
  JsonText& key(std::string_view name) {
    next_item();
    text_ += json_quoted(name);
    text_ += ": ";
    after_key_ = true;
    return *this;
  }

  void string(std::string_view value) {
    next_item();
    text_ += json_quoted(value);
  }
  void integer(std::uint64_t value) {
    next_item();
    text_ += decimal(value);
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
  void open(char bracket) {
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

  std::string text_;
  std::vector<bool> first_;  // per open bracket: nothing written inside it yet
  bool after_key_ = false;
};

}  // namespace zel_report
