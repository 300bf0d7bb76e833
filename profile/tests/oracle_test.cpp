// The optimised engine against the plain reference implementation on many random profiles and
// queries: every report must be equal in every field, floating-point values included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <zel_profile/partial.hpp>
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
  expect_equal_reports(
      zel_profile::query(split_profile(packed, cuts[0]), query, Parallelism{random() % 3}),
      expected, round, "two profiles");
}

TEST(Oracle, SmallRandomProfilesAndQueries) {
  RandomProfiles random(20261208);
  for (int round = 0; round < 3000; ++round) {
    const auto profile = random.profile(12);
    expect_same_report(profile, random.query(profile), round);
  }
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
