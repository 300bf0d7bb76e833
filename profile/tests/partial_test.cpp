// What the random-profile oracle rarely meets: samples equal in every reported key on both sides
// of a split, clock rates that disagree, and failures inside worker threads.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include <zel_generator/generator.hpp>
#include <zel_package/packed.hpp>
#include <zel_profile/partial.hpp>
#include <zel_profile/query.hpp>

namespace zel_profile {
namespace {

using zel_package::PackedProfile;
using zel_package::ProfileStep;
using zel_package::ProfileStepKind;

ProfileStep step(std::uint32_t phase) {
  return ProfileStep{.phase = phase, .operation = "op", .kind = ProfileStepKind::Compute};
}

TEST(PartialQuery, EqualSamplesAcrossASplitKeepTileOrder) {
  // Two entries of physical tile 7, each with one sample at offset 0 lasting 10 cycles, of
  // different steps: the first entry's sample must be reported first however the tiles are split.
  const PackedProfile profile{.clock_hz = 1000,
                              .steps = {step(1), step(2)},
                              .tiles = {{.physical_tile = 7, .samples = {{0, 100, 110}}},
                                        {.physical_tile = 7, .samples = {{1, 500, 510}}}}};
  const Query query{.sample_limit = 1};
  const QueryReport whole = zel_profile::query(profile, query);
  ASSERT_EQ(whole.samples.size(), 1u);
  EXPECT_EQ(whole.samples[0].phase, 1u);
  const QueryReport split =
      finish(merge(partial_query(profile, query, 0, 1), partial_query(profile, query, 1, 2), query),
             query);
  EXPECT_EQ(split, whole);
  EXPECT_EQ(zel_profile::query(profile, query, Parallelism{2}), whole);
}

TEST(PartialQuery, ProfilesWithDifferentClockRatesDoNotMix) {
  const PackedProfile fast{.clock_hz = 2000,
                           .steps = {step(0)},
                           .tiles = {{.physical_tile = 1, .samples = {{0, 0, 5}}}}};
  PackedProfile slow = fast;
  slow.clock_hz = 1000;
  const std::vector<PackedProfile> both = {fast, slow};
  EXPECT_THROW(zel_profile::query(both, Query{}), std::invalid_argument);
  EXPECT_THROW(
      merge(partial_query(fast, Query{}, 0, 1), partial_query(slow, Query{}, 0, 1), Query{}),
      std::invalid_argument);
  // A partial without tiles takes the other's rate.
  const auto merged =
      merge(partial_query(slow, Query{}, 0, 0), partial_query(fast, Query{}, 0, 1), Query{});
  EXPECT_EQ(merged.clock_hz, 2000u);
}

TEST(PartialQuery, AWorkersFailureReachesTheCaller) {
  // The bad step index sits in the last tile, which another thread than the caller's reads.
  PackedProfile profile{.clock_hz = 1, .steps = {step(0)}, .tiles = {}};
  for (std::uint32_t t = 0; t < 8; ++t) {
    profile.tiles.push_back({.physical_tile = t, .samples = {{0, 0, 5}, {0, 5, 9}}});
  }
  profile.tiles.back().samples.back().step = 3;
  EXPECT_THROW(zel_profile::query(profile, Query{}, Parallelism{4}), std::invalid_argument);
  EXPECT_THROW(zel_profile::query(profile, Query{}), std::invalid_argument);
}

TEST(PartialQuery, BenchmarkQueriesGiveOneReportOnAnyNumberOfThreads) {
  // The benchmarks' profile shape (every tile, exchange, compute or idle, synchronization per
  // phase), smaller, and the benchmarks' queries.
  const auto profile = zel_generator::generate_packed_profile(
      {.tiles = 300, .epochs = 3, .phases = 13, .seed = 2026, .clock_hz = 1330000000});
  const std::vector<Query> queries{
      Query{},
      Query{.group_by = GroupBy::Phase},
      Query{.group_by = GroupBy::Metadata, .metadata_key = "block", .sample_limit = 10},
      Query{.group_by = GroupBy::Tile, .kind = StepKind::Compute, .operation_contains = "_tiled"},
      Query{.group_by = GroupBy::Tile},
      Query{.at_offset = 20000},
  };
  for (const Query& query : queries) {
    const QueryReport one = zel_profile::query(profile, query);
    for (const std::size_t threads : {2, 3, 4, 7, 16}) {
      EXPECT_EQ(zel_profile::query(profile, query, Parallelism{threads}), one)
          << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace zel_profile
