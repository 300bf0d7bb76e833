// Names with their control characters escaped, so that no report sends them to a terminal: LF, TAB
// and CR as \n, \t and \r, other bytes below 0x20 and 0x7f as \xNN (two lowercase hex digits).
#pragma once

#include <string>
#include <string_view>

namespace zel_report {

enum class Backslash {
  AsItIs,   // for people: the table
  Doubled,  // written \\, so that undoing the escapes gives the exact text: CSV
};

inline std::string escape_controls(std::string_view text, Backslash backslash) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' && backslash == Backslash::Doubled) {
      shown += "\\\\";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      shown += "\\x";
      shown += hex[byte >> 4];
      shown += hex[byte & 0xf];
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace zel_report
