// Byte-for-byte equality of two texts, tuned for the short names compared per sample: up to 16
// bytes are compared as two overlapping machine words instead of calling the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zel_profile::detail {

template <typename Word>
Word load_word(const char* bytes) {
  Word word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

inline bool same_bytes(std::string_view left, std::string_view right) {
  const std::size_t size = left.size();
  if (size != right.size()) {
    return false;
  }
  const char* a = left.data();
  const char* b = right.data();
  if (size >= 8) {
    if (size > 16) {
      return std::memcmp(a, b, size) == 0;
    }
    return load_word<std::uint64_t>(a) == load_word<std::uint64_t>(b) &&
           load_word<std::uint64_t>(a + size - 8) == load_word<std::uint64_t>(b + size - 8);
  }
  if (size >= 4) {
    return load_word<std::uint32_t>(a) == load_word<std::uint32_t>(b) &&
           load_word<std::uint32_t>(a + size - 4) == load_word<std::uint32_t>(b + size - 4);
  }
  for (std::size_t i = 0; i < size; ++i) {
    if (a[i] != b[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace zel_profile::detail
