// The optimised engine against the plain reference implementation on many random profiles and
// queries: every report must be equal in every field, floating-point values included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <zel_profile/partial.hpp>
#include <zel_profile/partial_bytes.hpp>
#include <zel_profile/query.hpp>

#include "random_profiles.hpp"
#include "reference_query.hpp"

namespace zel_profile {
namespace {

using testing::RandomProfiles;
using zel_package::CycleSample;
using zel_package::ProfileReport;
using zel_package::ProfileStepKind;

// The packed form with one step per sample, as a stored file may list them: steps repeat and come
// in no particular order, which the packed engine must not depend on.
zel_package::PackedProfile pack_without_sharing(const ProfileReport& profile) {
  zel_package::PackedProfile packed{.clock_hz = profile.clock_hz, .steps = {}, .tiles = {}};
  for (const auto& tile : profile.tiles) {
    auto& packed_tile = packed.tiles.emplace_back();
    packed_tile.physical_tile = tile.physical_tile;
    for (const auto& sample : tile.samples) {
      packed.steps.insert(packed.steps.begin(), sample.step);
      packed_tile.samples.push_back({0, sample.start_cycle, sample.end_cycle});
    }
  }
  // Every insertion at the front moved the earlier steps one place on.
  std::uint32_t remaining = static_cast<std::uint32_t>(packed.steps.size());
  for (auto& tile : packed.tiles) {
    for (auto& sample : tile.samples) sample.step = --remaining;
  }
  return packed;
}

void expect_equal_reports(const QueryReport& actual, const QueryReport& expected, int round,
                          const char* path) {
  ASSERT_EQ(actual.groups.size(), expected.groups.size()) << path << ", round " << round;
  for (std::size_t i = 0; i < expected.groups.size(); ++i) {
    ASSERT_EQ(actual.groups[i], expected.groups[i])
        << path << ", round " << round << ", group " << i;
  }
  ASSERT_EQ(actual.samples, expected.samples) << path << ", round " << round;
  ASSERT_EQ(actual, expected) << path << ", round " << round;
}

// The profile's tiles as two profiles, the first holding tiles 0 .. cut - 1.
std::vector<zel_package::PackedProfile> split_profile(const zel_package::PackedProfile& profile,
                                                      std::size_t cut) {
  std::vector<zel_package::PackedProfile> parts(
      2, zel_package::PackedProfile{
             .clock_hz = profile.clock_hz, .steps = profile.steps, .tiles = {}});
  for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
    parts[t < cut ? 0 : 1].tiles.push_back(profile.tiles[t]);
  }
  return parts;
}

// The profile's tiles as profiles of their own, the first holding tiles 0 .. cuts[0] - 1, the
// next the tiles up to cuts[1], and so on; `cuts` ascending.
std::vector<ProfileReport> split_records(const ProfileReport& profile,
                                         const std::vector<std::size_t>& cuts) {
  std::vector<ProfileReport> parts(cuts.size() + 1,
                                   ProfileReport{.clock_hz = profile.clock_hz, .tiles = {}});
  for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
    const auto part = std::upper_bound(cuts.begin(), cuts.end(), t) - cuts.begin();
    parts[part].tiles.push_back(profile.tiles[t]);
  }
  return parts;
}

void expect_same_report(const ProfileReport& profile, const Query& query, int round) {
  const auto expected = reference::query(profile, query);
  expect_equal_reports(zel_profile::query(profile, query), expected, round, "records");
  const auto packed = zel_package::pack(profile);
  expect_equal_reports(zel_profile::query(packed, query), expected, round, "packed");
  expect_equal_reports(zel_profile::query(pack_without_sharing(profile), query), expected, round,
                       "packed, a step per sample");

  // The same report from partials over any split of the tiles, merged in order, from several
  // threads, and from the tiles given as two profiles.
  std::mt19937 random(static_cast<std::uint32_t>(round));
  const std::size_t tiles = packed.tiles.size();
  std::size_t cuts[2] = {random() % (tiles + 1), random() % (tiles + 1)};
  std::sort(std::begin(cuts), std::end(cuts));
  PartialQuery merged = merge(partial_query(packed, query, 0, cuts[0]),
                              partial_query(packed, query, cuts[0], cuts[1]), query);
  merged = merge(std::move(merged), partial_query(packed, query, cuts[1], tiles), query);
  expect_equal_reports(finish(std::move(merged), query), expected, round, "merged partials");
  const std::size_t threads = std::size_t{2} + random() % 15;
  expect_equal_reports(zel_profile::query(packed, query, Parallelism{threads}), expected, round,
                       "threads");
  // Two profiles are two chips, whose tiles count apart.
  expect_equal_reports(
      zel_profile::query(split_profile(packed, cuts[0]), query, Parallelism{random() % 3}),
      reference::query(split_records(profile, {cuts[0]}), query), round, "two profiles");
}

TEST(Oracle, SmallRandomProfilesAndQueries) {
  RandomProfiles random(20261208);
  for (int round = 0; round < 3000; ++round) {
    const auto profile = random.profile(12);
    auto query = random.query(profile);
    query.reverse = round % 5 == 0;
    expect_same_report(profile, query, round);
  }
}

// The partials merged as a random tree that keeps their order: any cut into two runs, each merged
// so, then the two.
PartialQuery merge_as_random_tree(std::span<PartialQuery> partials, const Query& query,
                                  RandomProfiles& random) {
  if (partials.size() == 1) return std::move(partials.front());
  const std::size_t cut = 1 + random.below(static_cast<std::uint32_t>(partials.size() - 1));
  PartialQuery left = merge_as_random_tree(partials.first(cut), query, random);
  return merge(std::move(left), merge_as_random_tree(partials.subspan(cut), query, random), query);
}

// Each tile's samples laid end to end from its first start, and each tile numbered by its place:
// a profile such as a processor writes, where a tile runs one sample at a time.
ProfileReport one_at_a_time(ProfileReport profile) {
  for (std::uint32_t t = 0; t < profile.tiles.size(); ++t) {
    auto& tile = profile.tiles[t];
    tile.physical_tile = t;
    std::uint32_t clock = tile.samples.empty() ? 0 : tile.samples.front().start_cycle;
    for (auto& sample : tile.samples) {
      const std::uint32_t length = sample.end_cycle - sample.start_cycle;
      sample.start_cycle = clock;
      sample.end_cycle = clock += length;
    }
  }
  return profile;
}

TEST(Oracle, SeveralProfilesAreSeveralChips) {
  // Random profiles split into chips whose physical tile numbers repeat, queried as one by every
  // path: the records of all chips at once, each chip's partials (over a random cut of its tiles,
  // through their bytes) merged in order, and the profiles together on threads.
  RandomProfiles random(20261209);
  std::size_t checked_groups = 0;
  std::size_t finished_groups = 0;
  for (int round = 0; round < 1500; ++round) {
    const bool real = random.chance(50);
    ProfileReport whole = random.profile(12);
    Query query = random.query(whole);
    std::vector<std::size_t> cuts(random.below(4));
    for (auto& cut : cuts) cut = random.below(static_cast<std::uint32_t>(whole.tiles.size()) + 1);
    std::sort(cuts.begin(), cuts.end());
    std::vector<ProfileReport> chips = split_records(whole, cuts);
    if (real) {
      for (auto& chip : chips) chip = one_at_a_time(std::move(chip));
    }
    const QueryReport expected = reference::query(chips, query);

    std::vector<zel_package::PackedProfile> packed;
    for (const auto& chip : chips) packed.push_back(zel_package::pack(chip));
    expect_equal_reports(zel_profile::query(packed, query, Parallelism{random.below(4)}), expected,
                         round, "chips");
    std::optional<PartialQuery> merged;
    for (std::uint32_t c = 0; c < packed.size(); ++c) {
      const std::size_t tiles = packed[c].tiles.size();
      const std::size_t cut = random.below(static_cast<std::uint32_t>(tiles) + 1);
      PartialQuery chip =
          merge(partial_query(packed[c], query, 0, cut, c),
                decode_partial(encode(partial_query(packed[c], query, cut, tiles, c))), query);
      merged = merged ? merge(std::move(*merged), std::move(chip), query) : std::move(chip);
    }
    expect_equal_reports(finish(std::move(*merged), query), expected, round, "chips' partials");

    // Each chip's partial over all its tiles, whose tile groups are finished, through its bytes,
    // merged as a random tree.
    std::vector<PartialQuery> wholes;
    for (std::uint32_t c = 0; c < packed.size(); ++c) {
      wholes.push_back(
          decode_partial(encode(partial_query(packed[c], query, Parallelism{random.below(4)}, c))));
      for (const PartialGroup& group : wholes.back().groups) {
        ASSERT_EQ(group.finished.has_value(), query.group_by == GroupBy::Tile) << "round " << round;
        finished_groups += group.finished ? 1 : 0;
      }
    }
    expect_equal_reports(finish(merge_as_random_tree(wholes, query, random), query), expected,
                         round, "chips' whole partials");

    if (real) {
      // No tile runs two samples at once, so no group has more tiles active than it has tiles.
      for (const GroupSummary& group : expected.groups) {
        ASSERT_LE(group.average_active_tiles, static_cast<double>(group.tile_count))
            << "round " << round << ", group " << group.name;
        ++checked_groups;
      }
    }
  }
  EXPECT_GT(checked_groups, 500u);
  EXPECT_GT(finished_groups, 100u);

  // Results merge in the order of their chips.
  ProfileReport tiles = one_at_a_time(random.profile(5));
  tiles.tiles.resize(1);
  tiles.tiles.front().samples.push_back({});
  const auto packed = zel_package::pack(tiles);
  EXPECT_THROW(merge(partial_query(packed, {}, 0, 1, 1), partial_query(packed, {}, 0, 1, 0), {}),
               std::invalid_argument);
  // A finished group cannot take more samples: one profile given twice, as the same chip, is
  // refused grouped by tile rather than counted as one tile.
  const Query by_tile{.group_by = GroupBy::Tile};
  const PartialQuery once = partial_query(packed, by_tile, Parallelism{}, 1);
  ASSERT_FALSE(once.groups.empty());
  EXPECT_THROW(merge(once, once, by_tile), std::invalid_argument);
}

TEST(Oracle, LargeGroupsTakeTheSameResults) {
  // Groups of thousands of samples go through the engine's sorting of long lists.
  RandomProfiles random(77);
  for (int round = 0; round < 12; ++round) {
    const auto profile = random.profile(1500);
    for (int variant = 0; variant < 6; ++variant) {
      expect_same_report(profile, random.query(profile), round);
    }
  }
}

TEST(Oracle, DenseProfilesTakeTheSameResults) {
  // Cells and groups of hundreds of samples close together in time and length, which the packed
  // engine measures by walking their range of values rather than by sorting.
  RandomProfiles random(4242, true);
  for (int round = 0; round < 12; ++round) {
    const auto profile = random.profile(2000);
    for (int variant = 0; variant < 6; ++variant) {
      expect_same_report(profile, random.query(profile), round);
    }
  }
}

}  // namespace
}  // namespace zel_profile
