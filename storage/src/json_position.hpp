// Where text stops being JSON, for the messages of the reader's syntax errors. simdjson says what
// is wrong but not where, so once reading has failed the text is scanned again by a plain JSON
// grammar check; reading a valid profile never comes here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zel_storage::detail {

struct JsonError {
  std::size_t offset = 0;   // of the first byte that breaks the text, or its size
  std::string_view reason;  // what is wrong there, such as "expected ',' or ']'"
};

// Where `text` first stops being one JSON value with optional whitespace around it: the first
// byte that cannot continue it (text.size() when it ends too early); nullopt when the whole text
// is such a value. The JSON grammar of RFC 8259, with strings of valid UTF-8 and escapes that pair
// their surrogates. An unterminated string is placed at its opening quote.
std::optional<JsonError> first_json_error(std::string_view text);

struct TextPosition {
  std::uint64_t line = 1;    // from 1: line feeds before the offset, plus one
  std::uint64_t column = 1;  // from 1: UTF-8 code points between the line's start and the offset
};

// The line and column of the byte at `offset` in `text` (offset may be text.size()).
TextPosition text_position(std::string_view text, std::size_t offset);

}  // namespace zel_storage::detail
