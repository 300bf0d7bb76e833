// Measuring the cells a batch of time at a time, as the engine does for profiles larger than its
// batch, must give the reference's report, whether the tiles list their samples in order of time
// (each batch reads its part of every tile) or not (the query is made again in one batch).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>

#include <zel_generator/generator.hpp>
#include <zel_profile/partial.hpp>
#include <zel_profile/query.hpp>

#include "query/packed_partial.hpp"
#include "random_profiles.hpp"
#include "reference_query.hpp"

namespace zel_profile::detail {
namespace {

// `scratch` and `kept` are kept from one query to the next, as a caller that keeps its scratch
// does, whatever the queries and profiles.
void expect_batched_like_reference(const zel_package::PackedProfile& packed, const Query& query,
                                   std::mt19937& random, int round, ScratchParts& scratch,
                                   QueryScratch& kept) {
  const auto expected = reference::query(zel_package::unpack(packed), query);
  const BatchLimits limits{.entries = 1 + random() % 40};
  const std::size_t threads = 1 + random() % 3;
  EXPECT_EQ(zel_profile::query(packed, query, Parallelism{threads}, kept), expected)
      << "round " << round << ", kept scratch";
  EXPECT_EQ(query_whole(packed, query, route_steps(packed, query), threads, scratch, limits),
            expected)
      << "round " << round << ", batches of " << limits.entries;
  // Partial results keep each batch's fragment of a group, merged by name.
  const std::size_t cut = random() % (packed.tiles.size() + 1);
  PartialQuery merged = merge(
      partial_over(packed, query, route_steps(packed, query), 0, cut, threads, 0, scratch, limits),
      partial_over(packed, query, route_steps(packed, query), cut, packed.tiles.size(), threads, 0,
                   scratch, limits),
      query);
  EXPECT_EQ(finish(std::move(merged), query), expected)
      << "round " << round << ", partials in batches of " << limits.entries;
}

TEST(CellBatches, BatchesOfSlicesGiveTheReferenceReport) {
  std::mt19937 random(33);
  ScratchParts scratch;
  QueryScratch kept;
  testing::RandomProfiles queries(3301);
  // Generated profiles list every tile's samples in order of time, over several epochs.
  for (int round = 0; round < 24; ++round) {
    const auto packed = zel_generator::generate_packed_profile(
        {.tiles = static_cast<std::uint32_t>(1 + random() % 9),
         .epochs = static_cast<std::uint32_t>(1 + random() % 4),
         .phases = static_cast<std::uint32_t>(1 + random() % 7),
         .seed = random(),
         .clock_hz = 1330000000});
    const auto records = zel_package::unpack(packed);
    for (int variant = 0; variant < 4; ++variant) {
      Query query = queries.query(records);
      if (query.group_by == GroupBy::Tile) query.group_by = GroupBy::Phase;
      expect_batched_like_reference(packed, query, random, round, scratch, kept);
    }
  }
  // One tile of an ordered profile out of order: read whole by every batch, the others in parts.
  for (int round = 0; round < 8; ++round) {
    auto packed = zel_generator::generate_packed_profile(
        {.tiles = 16, .epochs = 3, .phases = 5, .seed = random(), .clock_hz = 1330000000});
    auto& shuffled = packed.tiles[random() % packed.tiles.size()].samples;
    std::shuffle(shuffled.begin() + 1, shuffled.end(), random);
    const auto records = zel_package::unpack(packed);
    for (int variant = 0; variant < 4; ++variant) {
      Query query = queries.query(records);
      if (query.group_by == GroupBy::Tile) query.group_by = GroupBy::Kernel;
      expect_batched_like_reference(packed, query, random, round, scratch, kept);
    }
  }
  // Random profiles list samples out of order, overlapping and on repeated tile numbers.
  for (const bool dense : {false, true}) {
    testing::RandomProfiles profiles(dense ? 3303 : 3302, dense);
    for (int round = 0; round < 24; ++round) {
      const auto records = profiles.profile(300);
      const auto packed = zel_package::pack(records);
      for (int variant = 0; variant < 4; ++variant) {
        expect_batched_like_reference(packed, profiles.query(records), random, round, scratch,
                                      kept);
      }
    }
  }
}

}  // namespace
}  // namespace zel_profile::detail
