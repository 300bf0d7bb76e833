#include "json_position.hpp"

#include <vector>

namespace zel_storage::detail {
namespace {

constexpr std::size_t max_depth = 1024;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The grammar check over the text, one byte position `at` moving forward; each step returns
// false when the text breaks at `at`.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  std::optional<JsonError> run() {
    if (const auto offset = scan()) return JsonError{*offset, reason_};
    return std::nullopt;
  }

 private:
  std::optional<std::size_t> scan() {
    std::vector<char> open;  // the containers around the current place: '{' or '['
    for (;;) {
      // A value is expected here.
      skip_space();
      if (at_ == text_.size()) return broken("the text ends where a value should be");
      const char c = text_[at_];
      if (c == '{' || c == '[') {
        const std::size_t opening = at_;
        ++at_;
        skip_space();
        if (at_ < text_.size() && text_[at_] == (c == '{' ? '}' : ']')) {
          ++at_;
        } else {
          // A profile nests a few levels deep; the limit keeps this check's memory small.
          if (open.size() == max_depth) {
            at_ = opening;
            return broken("nested more than 1024 deep");
          }
          open.push_back(c);
          if (c == '[') continue;
          if (!key()) return at_;
          continue;
        }
      } else if (c == '"') {
        if (!string()) return at_;
      } else if (c == '-' || is_digit(c)) {
        if (!number()) return at_;
      } else if (c == 't' || c == 'f' || c == 'n') {
        if (!literal(c == 't' ? "true" : c == 'f' ? "false" : "null")) return at_;
      } else {
        return broken("expected a value");
      }
      // After a value: a separator, the end of containers, or the end of the text.
      for (;;) {
        skip_space();
        if (open.empty()) {
          if (at_ != text_.size()) return broken("unexpected content after the JSON value");
          return std::nullopt;
        }
        if (at_ == text_.size()) return broken("the text ends inside an object or array");
        const char next = text_[at_];
        if (next == (open.back() == '{' ? '}' : ']')) {
          ++at_;
          open.pop_back();
          continue;
        }
        if (next != ',')
          return broken(open.back() == '{' ? "expected ',' or '}'" : "expected ',' or ']'");
        ++at_;
        if (open.back() == '{' && !key()) return at_;
        break;
      }
    }
  }

  std::size_t broken(const char* reason) {
    reason_ = reason;
    return at_;
  }
  bool fails(const char* reason) {
    reason_ = reason;
    return false;
  }

  void skip_space() {
    while (at_ < text_.size() && is_space(text_[at_])) ++at_;
  }

  // `"name" :`, leaving `at_` where the value starts.
  bool key() {
    skip_space();
    if (at_ == text_.size() || text_[at_] != '"') return fails("expected a field name in quotes");
    if (!string()) return false;
    skip_space();
    if (at_ == text_.size() || text_[at_] != ':') return fails("expected ':'");
    ++at_;
    return true;
  }

  bool literal(std::string_view word) {
    for (const char c : word) {
      if (at_ == text_.size() || text_[at_] != c) {
        reason_ = word == "true"    ? "expected true"
                  : word == "false" ? "expected false"
                                    : "expected null";
        return false;
      }
      ++at_;
    }
    return true;
  }

  bool digits() {
    if (at_ == text_.size() || !is_digit(text_[at_])) return fails("expected a digit");
    while (at_ < text_.size() && is_digit(text_[at_])) ++at_;
    return true;
  }

  bool number() {
    if (text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;  // a leading zero stands alone: a digit after it breaks the text there
    } else if (!digits()) {
      return false;
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (!digits()) return false;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return false;
    }
    return true;
  }

  // The four hex digits of a \u escape at `at_` (just after the `u`), or -1.
  long hex4() {
    if (text_.size() - at_ < 4) return -1;
    long value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_ + static_cast<std::size_t>(i)];
      if (!is_hex(c)) return -1;
      value = value * 16 + (is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return value;
  }

  // One UTF-8 encoded character of two to four bytes at `at_`.
  bool utf8() {
    const auto byte = [&](std::size_t i) {
      return at_ + i < text_.size() ? static_cast<unsigned char>(text_[at_ + i]) : 0u;
    };
    const unsigned lead = byte(0);
    unsigned low = 0x80;
    unsigned high = 0xBF;
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
      return false;
    }
    if (byte(1) < low || byte(1) > high) return false;
    for (std::size_t i = 2; i < length; ++i) {
      if (byte(i) < 0x80 || byte(i) > 0xBF) return false;
    }
    at_ += length;
    return true;
  }

  // The string at `at_` (its opening quote).
  bool string() {
    const std::size_t opening = at_;
    ++at_;
    for (;;) {
      if (at_ == text_.size()) {
        at_ = opening;
        return fails("a string is opened but never closed");
      }
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20)
        return fails("a control character in a string (line breaks and tabs are escaped)");
      if (c >= 0x80) {
        if (!utf8()) return fails("invalid UTF-8");
        continue;
      }
      if (c != '\\') {
        ++at_;
        continue;
      }
      // An escape: the place of a bad one is its backslash.
      const std::size_t escape = at_;
      if (at_ + 1 == text_.size()) {
        at_ = opening;
        return fails("a string is opened but never closed");
      }
      const char kind = text_[at_ + 1];
      if (kind != 'u') {
        if (std::string_view("\"\\/bfnrt").find(kind) == std::string_view::npos) {
          return fails("invalid escape");
        }
        at_ += 2;
        continue;
      }
      at_ += 2;
      const long unit = hex4();
      if (unit < 0) {
        at_ = escape;
        return fails("invalid escape: \\u needs four hexadecimal digits");
      }
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        at_ = escape;
        return fails("invalid escape: a low surrogate without a high one");
      }
      at_ += 4;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        // A high surrogate needs its low one, escaped at once after it.
        long low = -1;
        if (text_.substr(at_).starts_with("\\u")) {
          at_ += 2;
          low = hex4();
        }
        if (low < 0xDC00 || low > 0xDFFF) {
          at_ = escape;
          return fails("invalid escape: a high surrogate without a low one");
        }
        at_ += 4;
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  const char* reason_ = "";
};

}  // namespace

std::optional<JsonError> first_json_error(std::string_view text) { return Scanner(text).run(); }

TextPosition text_position(std::string_view text, std::size_t offset) {
  TextPosition position;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++position.line;
      line_start = i + 1;
    }
  }
  for (std::size_t i = line_start; i < offset; ++i) {
    position.column += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
  }
  return position;
}

}  // namespace zel_storage::detail
