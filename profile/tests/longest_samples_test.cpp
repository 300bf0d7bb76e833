// The longest samples read through the timeline index against the reference query's samples, on
// random profiles cut into one to three chips, whose tiles are sometimes in time order (read
// between their marks) and sometimes not (read whole), for random tile filters, instants, windows,
// step filters and limits.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/longest_samples.hpp>
#include <zel_profile/timeline.hpp>

#include "random_profiles.hpp"
#include "reference_query.hpp"

namespace zel_profile {
namespace {

TEST(LongestSamples, AreTheReferenceQuerysSamples) {
  testing::RandomProfiles random(20261209);
  int timed_and_found = 0;
  int several_chips = 0;
  for (int round = 0; round < 4000; ++round) {
    auto profile = random.profile(round % 10 == 0 ? 400 : 40);
    const bool in_order = random.chance(70);
    for (auto& tile : profile.tiles) {
      if (in_order || random.chance(20)) testing::put_in_time_order(tile);
    }
    Query query = random.query(profile);
    // Mostly what a hover asks: one tile, at a cycle among its samples, or in a window.
    if (random.chance(50)) query.tiles = {random.below(4) * 3};
    if (random.chance(40)) query.at_offset = random.below(round % 10 == 0 ? 40000 : 4000);
    query.sample_limit = random.pick<std::size_t>({1, 1, 3, 10, 1000000});

    // The tiles cut into chips, each with its own index; the reference queries their records.
    const std::size_t chip_count = 1 + random.below(3);
    std::vector<zel_package::ProfileReport> records(
        chip_count, zel_package::ProfileReport{.clock_hz = profile.clock_hz, .tiles = {}});
    for (const auto& tile : profile.tiles) records[random.below(chip_count)].tiles.push_back(tile);
    std::vector<zel_package::PackedProfile> chips;
    std::vector<TimelineIndex> indexes;
    for (const auto& record : records) {
      chips.push_back(zel_package::pack(record));
      indexes.push_back(index_timeline(chips.back(), {.threads = 1}));
    }
    const auto expected = chip_count == 1 ? reference::query(records[0], query).samples
                                          : reference::query(records, query).samples;

    // The limit comes apart from the query, whose own sample_limit plays no part.
    Query asked = query;
    asked.sample_limit = random.pick<std::size_t>({0, 2, 7});
    ASSERT_EQ(longest_samples(chips, asked, indexes, query.sample_limit), expected)
        << "round " << round << ", " << chip_count << " chips";
    ASSERT_TRUE(longest_samples(chips, query, indexes, 0).empty());

    const bool timed = query.at_offset || query.from_offset || query.to_offset;
    timed_and_found += timed && !expected.empty();
    several_chips += chip_count > 1 && !expected.empty();
  }
  EXPECT_GT(timed_and_found, 400);
  EXPECT_GT(several_chips, 800);

  // Each index must be of its profile, one a profile.
  const auto profile = zel_package::pack(random.profile(10));
  const std::vector<zel_package::PackedProfile> two{profile, profile};
  const std::vector<TimelineIndex> one{index_timeline(profile, {.threads = 1})};
  EXPECT_THROW(longest_samples(two, Query{}, one, 1), std::invalid_argument);
  auto longer = profile;
  longer.tiles.emplace_back();
  const std::vector<TimelineIndex> other{index_timeline(longer, {.threads = 1})};
  EXPECT_THROW(longest_samples(std::span(&profile, 1), Query{}, other, 1), std::invalid_argument);
  // Chips of one machine share a clock, as the query has them.
  auto faster = profile;
  faster.clock_hz = profile.clock_hz + 1;
  const std::vector<zel_package::PackedProfile> clocks{profile, faster};
  const std::vector<TimelineIndex> both{one[0], one[0]};
  EXPECT_THROW(longest_samples(clocks, Query{}, both, 1), std::invalid_argument);
}

}  // namespace
}  // namespace zel_profile
