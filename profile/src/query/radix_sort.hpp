// Least-significant-digit radix sort on an unsigned integer key, for the large lists of durations
// and intervals a query sorts. Digits on which every key agrees are skipped, so keys that use only
// their low bytes cost only those passes. The sort is stable; short lists use std::sort instead,
// which is only correct where elements with equal keys cannot be told apart or their order does
// not matter to the caller.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace zel_profile::detail {

template <typename T, typename KeyOf>
void radix_sort(std::span<T> items, std::vector<T>& scratch, KeyOf key_of) {
  using Key = std::invoke_result_t<KeyOf, const T&>;
  static_assert(std::is_unsigned_v<Key>);
  constexpr std::size_t digits = sizeof(Key);
  constexpr std::size_t short_list = 256;

  const std::size_t count = items.size();
  if (count < short_list) {
    std::sort(items.begin(), items.end(),
              [&](const T& left, const T& right) { return key_of(left) < key_of(right); });
    return;
  }

  // Only the bytes in which some keys differ need a pass.
  Key all_ones = static_cast<Key>(~Key{0});
  Key any_ones = 0;
  for (const T& item : items) {
    const Key key = key_of(item);
    all_ones &= key;
    any_ones |= key;
  }
  const Key varying = all_ones ^ any_ones;
  std::array<std::size_t, digits> passes{};
  std::size_t pass_count = 0;
  for (std::size_t digit = 0; digit < digits; ++digit) {
    if (((varying >> (8 * digit)) & 0xff) != 0) {
      passes[pass_count++] = digit;
    }
  }

  std::array<std::array<std::size_t, 256>, digits> histograms;
  for (std::size_t pass = 0; pass < pass_count; ++pass) {
    histograms[pass].fill(0);
  }
  for (const T& item : items) {
    const Key key = key_of(item);
    for (std::size_t pass = 0; pass < pass_count; ++pass) {
      ++histograms[pass][(key >> (8 * passes[pass])) & 0xff];
    }
  }

  scratch.resize(count);
  T* source = items.data();
  T* target = scratch.data();
  for (std::size_t pass = 0; pass < pass_count; ++pass) {
    auto& histogram = histograms[pass];
    const std::size_t shift = 8 * passes[pass];
    std::size_t position = 0;
    for (auto& bucket : histogram) {
      position += std::exchange(bucket, position);
    }
    for (std::size_t i = 0; i < count; ++i) {
      target[histogram[(key_of(source[i]) >> shift) & 0xff]++] = source[i];
    }
    std::swap(source, target);
  }
  if (source != items.data()) {
    std::copy(source, source + count, items.data());
  }
}

template <typename T, typename KeyOf>
void radix_sort(std::vector<T>& items, std::vector<T>& scratch, KeyOf key_of) {
  radix_sort(std::span<T>(items), scratch, key_of);
}

}  // namespace zel_profile::detail
