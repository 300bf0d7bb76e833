// Overflow-checked integer arithmetic for cycle totals and counts. A result that does not fit its
// type throws std::overflow_error naming the quantity instead of wrapping.
#pragma once

#include <concepts>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zel_profile::detail {

[[noreturn]] inline void overflow(std::string_view quantity, std::string_view operation) {
  throw std::overflow_error(std::string(quantity) + ": " + std::string(operation) +
                            " overflows its integer type");
}

template <std::unsigned_integral T>
T checked_add(T left, T right, std::string_view quantity) {
  if (right > std::numeric_limits<T>::max() - left) {
    overflow(quantity, "addition");
  }
  return static_cast<T>(left + right);
}

template <std::unsigned_integral T>
T checked_sub(T left, T right, std::string_view quantity) {
  if (right > left) {
    overflow(quantity, "subtraction");
  }
  return static_cast<T>(left - right);
}

template <std::unsigned_integral T>
T checked_mul(T left, T right, std::string_view quantity) {
  if (left != 0 && right > std::numeric_limits<T>::max() / left) {
    overflow(quantity, "multiplication");
  }
  return static_cast<T>(left * right);
}

}  // namespace zel_profile::detail
