// Numbers as text, independent of the locale.
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <string>

namespace zel_report {

// Plain decimal.
inline std::string decimal(std::uint64_t value) {
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

// The shortest text that reads back as exactly `value`, such as "0.1", "1e+21" or "2".
inline std::string shortest(double value) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

// `value` rounded to `digits` places after the point, such as "0.001234".
inline std::string fixed(double value, int digits) {
  // The largest double has 309 digits before the point.
  std::array<char, 400> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, digits);
  return std::string(buffer.data(), result.ptr);
}

}  // namespace zel_report
