// Strict reading of whole numbers given on the command line.
#pragma once

#include <charconv>
#include <concepts>
#include <limits>
#include <string>
#include <string_view>

#include "messages.hpp"
#include "usage_error.hpp"

namespace zel_cli {

// `text` as an unsigned decimal number of type T. Accepts digits only: no sign, no blanks, no
// base prefix (so "010" is ten, not eight). Throws UsageError, naming `option`, for anything else
// and for values beyond T's range.
template <std::unsigned_integral T>
T parse_decimal(std::string_view text, std::string_view option) {
  T value{};
  const char* first = text.data();
  const char* last = first + text.size();
  const auto [end, error] = std::from_chars(first, last, value);
  if (text.empty() || error != std::errc{} || end != last) {
    throw UsageError(std::string(option) + ": expected a whole number from 0 to " +
                         std::to_string(std::numeric_limits<T>::max()) + ", got \"" +
                         shown_name(text) + "\"",
                     std::string(option));
  }
  return value;
}

}  // namespace zel_cli
