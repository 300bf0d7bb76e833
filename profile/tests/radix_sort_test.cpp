#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "query/radix_sort.hpp"

namespace zel_profile::detail {
namespace {

TEST(RadixSort, SortsLikeStdSortAtEverySizeAndKeyWidth) {
  std::mt19937_64 random(5);
  std::vector<std::uint32_t> scratch;
  for (const std::size_t size : {0u, 1u, 2u, 255u, 256u, 257u, 5000u}) {
    for (const std::uint32_t mask : {0x0u, 0xffu, 0xff00u, 0xffffffffu}) {
      std::vector<std::uint32_t> values(size);
      for (auto& value : values) {
        value = static_cast<std::uint32_t>(random()) & mask;
      }
      auto expected = values;
      std::sort(expected.begin(), expected.end());
      radix_sort(values, scratch, [](std::uint32_t value) { return value; });
      EXPECT_EQ(values, expected) << "size " << size << ", mask " << mask;
    }
  }
}

TEST(RadixSort, IsStableOnLongLists) {
  std::mt19937_64 random(6);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> items(3000);
  for (std::size_t i = 0; i < items.size(); ++i) {
    items[i] = {random() % 50 + (random() % 2) * (std::uint64_t{1} << 40), i};
  }
  auto expected = items;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const auto& left, const auto& right) { return left.first < right.first; });
  std::vector<std::pair<std::uint64_t, std::uint64_t>> scratch;
  radix_sort(items, scratch, [](const auto& item) { return item.first; });
  EXPECT_EQ(items, expected);
}

}  // namespace
}  // namespace zel_profile::detail
