// Names with their control characters escaped, so that no report sends them to a terminal: LF, TAB
// and CR as \n, \t and \r, other bytes below 0x20 and 0x7f as \xNN (two lowercase hex digits),
// and each byte of a C1 control or a bidirectional override in UTF-8 as \xNN too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zel_report {

enum class Backslash {
  AsItIs,   // for people: the table
  Doubled,  // written \\, so that undoing the escapes gives the exact text: CSV
};

// The length of the UTF-8 sequence at the start of `text` that a terminal would act on rather
// than show: a C1 control (U+0080 to U+009F) or a bidirectional embedding, override or isolate
// (U+202A to U+202E, U+2066 to U+2069), which can make a name read as another. 0 for any other.
inline std::size_t terminal_sequence_size(std::string_view text) {
  const auto at = [&](std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
  };
  if (at(0) == 0xC2 && at(1) >= 0x80 && at(1) <= 0x9F) return 2;
  if (at(0) == 0xE2 && ((at(1) == 0x80 && at(2) >= 0xAA && at(2) <= 0xAE) ||
                        (at(1) == 0x81 && at(2) >= 0xA6 && at(2) <= 0xA9))) {
    return 3;
  }
  return 0;
}

inline std::string escape_controls(std::string_view text, Backslash backslash) {
  static constexpr char hex[] = "0123456789abcdef";
  const auto escape_byte = [](std::string& shown, unsigned char byte) {
    shown += "\\x";
    shown += hex[byte >> 4];
    shown += hex[byte & 0xf];
  };
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
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
      escape_byte(shown, byte);
    } else if (const std::size_t size = byte >= 0xC2 ? terminal_sequence_size(text.substr(i)) : 0) {
      for (std::size_t k = 0; k < size; ++k)
        escape_byte(shown, static_cast<unsigned char>(text[i + k]));
      i += size - 1;
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace zel_report
