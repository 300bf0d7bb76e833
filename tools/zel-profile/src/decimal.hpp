// Strict reading of whole numbers given on the command line.
#pragma once

#include <concepts>
#include <limits>
#include <string>
#include <string_view>

#include <zel_request/parameters.hpp>

#include "usage_error.hpp"

namespace zel_cli {

// `text` as an unsigned decimal number of type T, read as a query's numbers are
// (zel_request::parse_whole: digits only, "010" is ten). Throws UsageError, naming `option`, for
// anything else and for values beyond T's range.
template <std::unsigned_integral T>
T parse_decimal(std::string_view text, std::string_view option) {
  try {
    return static_cast<T>(zel_request::parse_whole(text, option, std::numeric_limits<T>::max()));
  } catch (const zel_request::RequestError& error) {
    throw UsageError(error.what(), std::string(option));
  }
}

}  // namespace zel_cli
