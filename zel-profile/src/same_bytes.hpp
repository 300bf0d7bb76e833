// Byte-for-byte equality of two texts, written as a plain loop: the names compared per sample are
// short, and for them a loop is cheaper than a call to the library's memory comparison.
#pragma once

#include <cstddef>
#include <string_view>

namespace zel_profile::detail {

inline bool same_bytes(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (left[i] != right[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace zel_profile::detail
