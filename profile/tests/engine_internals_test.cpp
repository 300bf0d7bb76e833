// The engine's internal shortcuts, each against the obvious way of computing the same thing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "query/summary_figures.hpp"
#include "scan/hash_index.hpp"
#include "scan/same_bytes.hpp"

namespace zel_profile::detail {
namespace {

TEST(EngineInternals, SelectedPercentilesEqualThoseOfTheSortedList) {
  std::mt19937 random(11);
  for (std::size_t size = 0; size < 300; size += (size < 40 ? 1 : 37)) {
    for (const std::uint32_t spread : {3u, 1000u, 4294967295u}) {
      std::vector<std::uint32_t> values(size);
      for (auto& value : values) {
        value = static_cast<std::uint32_t>(random() % (std::uint64_t{spread} + 1));
      }
      auto sorted = values;
      std::sort(sorted.begin(), sorted.end());
      const auto expected = duration_figures_of_sorted(sorted);
      const auto selected = duration_figures_by_selection(values);
      EXPECT_EQ(selected.sample_count, expected.sample_count);
      EXPECT_EQ(selected.p50, expected.p50) << "size " << size;
      EXPECT_EQ(selected.p95, expected.p95) << "size " << size;
      EXPECT_EQ(selected.maximum, expected.maximum) << "size " << size;
    }
  }
}

TEST(EngineInternals, UnionOfSortedIgnoresOrderAmongEqualStarts) {
  const auto bounds = [](const Interval& interval) { return interval; };
  const std::vector<Interval> longer_first{{0, 30}, {0, 5}, {10, 12}, {40, 40}, {40, 45}};
  const std::vector<Interval> shorter_first{{0, 5}, {0, 30}, {10, 12}, {40, 45}, {40, 40}};
  EXPECT_EQ(union_length_of_sorted(std::span<const Interval>(longer_first), bounds), 35u);
  EXPECT_EQ(union_length_of_sorted(std::span<const Interval>(shorter_first), bounds), 35u);
}

TEST(EngineInternals, HashIndexSurvivesCollidingHashes) {
  std::vector<std::string> keys;
  HashIndex index;
  for (std::uint32_t i = 0; i < 100; ++i) {
    keys.push_back("key" + std::to_string(i));
    index.insert(i % 3, i);  // deliberately few distinct hashes
  }
  for (std::uint32_t i = 0; i < 100; ++i) {
    const auto found = index.find(i % 3, [&](std::uint32_t at) { return keys[at] == keys[i]; });
    EXPECT_EQ(found, i);
  }
  EXPECT_EQ(index.find(1, [](std::uint32_t) { return false; }), HashIndex::none);
  EXPECT_EQ(HashIndex{}.find(5, [](std::uint32_t) { return true; }), HashIndex::none);
  EXPECT_EQ(hash_text("block"), hash_text(std::string("block")));
}

TEST(EngineInternals, SameBytesAtEveryLength) {
  for (std::size_t size = 0; size <= 40; ++size) {
    const std::string text(size, 'a');
    EXPECT_TRUE(same_bytes(text, std::string(size, 'a')));
    for (std::size_t at = 0; at < size; ++at) {
      std::string other = text;
      other[at] = 'b';
      EXPECT_FALSE(same_bytes(text, other)) << "size " << size << ", differing at " << at;
    }
    EXPECT_FALSE(same_bytes(text, text + "a"));
  }
  EXPECT_TRUE(same_bytes(std::string("\0x", 2), std::string("\0x", 2)));
  EXPECT_FALSE(same_bytes(std::string("\0x", 2), std::string("\0y", 2)));
}

}  // namespace
}  // namespace zel_profile::detail
