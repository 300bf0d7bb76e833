// What profile_info says a profile holds, against counts taken sample by sample from the records.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/info.hpp>

#include "random_profiles.hpp"
#include "reference_query.hpp"

namespace zel_profile {
namespace {

using zel_package::ProfileReport;

template <typename Key>
using Counts = std::map<Key, std::uint64_t>;

// Named counts as a map, checking that the list is ranked: most samples first, then by name.
Counts<std::string> as_map(const std::vector<NameCount>& list) {
  for (std::size_t i = 1; i < list.size(); ++i) {
    EXPECT_TRUE(list[i - 1].samples > list[i].samples ||
                (list[i - 1].samples == list[i].samples && list[i - 1].name < list[i].name))
        << list[i - 1].name << " before " << list[i].name;
  }
  Counts<std::string> counts;
  for (const auto& entry : list) counts[entry.name] = entry.samples;
  return counts;
}

Counts<std::uint32_t> as_map(const std::vector<NumberCount>& list) {
  Counts<std::uint32_t> counts;
  for (const auto& entry : list) counts[entry.number] = entry.samples;
  EXPECT_EQ(counts.size(), list.size());
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                             [](const auto& a, const auto& b) { return a.number < b.number; }));
  return counts;
}

TEST(ProfileInfo, CountsEverySampleAsTheRecordsSayOverRandomSplits) {
  testing::RandomProfiles random(2020);
  for (int round = 0; round < 300; ++round) {
    const ProfileReport whole = random.profile(round % 10 == 0 ? 200 : 12);
    // The tiles split into one to three profiles, queried as one.
    std::vector<zel_package::PackedProfile> parts;
    const std::uint32_t splits = 1 + random.below(3);
    for (std::uint32_t p = 0; p < splits; ++p) {
      ProfileReport part{.clock_hz = whole.clock_hz, .tiles = {}};
      for (std::size_t t = p; t < whole.tiles.size(); t += splits) {
        part.tiles.push_back(whole.tiles[t]);
      }
      parts.push_back(zel_package::pack(part));
    }
    ProfileReport in_order{.clock_hz = whole.clock_hz, .tiles = {}};
    for (std::uint32_t p = 0; p < splits; ++p) {
      for (std::size_t t = p; t < whole.tiles.size(); t += splits) {
        in_order.tiles.push_back(whole.tiles[t]);
      }
    }

    Counts<std::string> kinds{{"exchange", 0}, {"compute", 0}, {"synchronization", 0}, {"idle", 0}};
    Counts<std::string> kind_cycles = kinds;
    Counts<std::string> kernels;
    Counts<std::string> operations;
    Counts<std::uint32_t> phases;
    Counts<std::uint32_t> epochs;
    Counts<std::string> keys;
    std::map<std::string, Counts<std::string>> values;
    const char* kind_words[] = {"exchange", "compute", "synchronization", "idle"};
    for (const auto& tile : in_order.tiles) {
      for (const auto& sample : tile.samples) {
        const auto& step = sample.step;
        ++kinds[kind_words[static_cast<int>(step.kind)]];
        kind_cycles[kind_words[static_cast<int>(step.kind)]] +=
            static_cast<std::uint32_t>(sample.end_cycle - sample.start_cycle);
        ++kernels[step.kernel];
        ++operations[step.operation];
        ++phases[step.phase];
        ++epochs[step.epoch];
        std::set<std::string> seen;
        std::set<std::pair<std::string, std::string>> seen_values;
        for (const auto& entry : step.metadata) {
          if (seen.insert(entry.name).second) ++keys[entry.name];
          if (seen_values.insert({entry.name, entry.value}).second) {
            ++values[entry.name][entry.value];
          }
        }
      }
    }

    const auto info = profile_info(parts, {.threads = 1 + random.below(3)});
    const auto totals = reference::query(in_order, Query{});
    EXPECT_EQ(info.tile_count, totals.tile_count) << round;
    EXPECT_EQ(info.sample_count, totals.sample_count) << round;
    EXPECT_EQ(info.span_cycles, totals.profile_span_cycles) << round;
    EXPECT_EQ(info.span_ms, totals.profile_span_ms) << round;
    EXPECT_EQ(info.clock_hz, whole.clock_hz) << round;
    ASSERT_EQ(info.kinds.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) {
      EXPECT_EQ(info.kinds[k].name, kind_words[k]);
      EXPECT_EQ(info.kinds[k].samples, kinds[kind_words[k]]) << round;
      EXPECT_EQ(info.kind_cycles.at(k), kind_cycles[kind_words[k]]) << round;
    }
    EXPECT_EQ(as_map(info.kernels), kernels) << round;
    EXPECT_EQ(as_map(info.operations), operations) << round;
    EXPECT_EQ(as_map(info.phases), phases) << round;
    EXPECT_EQ(as_map(info.epochs), epochs) << round;
    ASSERT_EQ(info.metadata.size(), keys.size()) << round;
    for (const auto& key : info.metadata) {
      EXPECT_EQ(key.samples, keys[key.key]) << round << " " << key.key;
      EXPECT_EQ(as_map(key.values), values[key.key]) << round << " " << key.key;
    }
  }
}

TEST(ProfileInfo, RefusesASampleOfAMissingStep) {
  zel_package::PackedProfile profile;
  profile.steps.resize(1);
  profile.tiles.push_back({.physical_tile = 0, .samples = {{.step = 1}}});
  const std::vector<zel_package::PackedProfile> profiles{profile};
  EXPECT_THROW(profile_info(profiles), std::invalid_argument);
}

}  // namespace
}  // namespace zel_profile
