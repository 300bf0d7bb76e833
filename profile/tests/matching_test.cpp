#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include <zel_profile/matching.hpp>

#include "profile_builders.hpp"

namespace zel_profile {
namespace {

using testing::make_sample;
using zel_package::ProfileMetadata;
using zel_package::ProfileStepKind;

bool matches(const Query& query, const zel_package::CycleSample& sample, std::uint32_t tile = 0,
             std::uint64_t offset = 0) {
  return matches_query(query, tile, sample, offset, duration(sample));
}

TEST(Matching, EmptyQueryMatchesEverySample) {
  EXPECT_TRUE(matches({}, make_sample(0, 0, {.kernel = "", .operation = ""})));
  EXPECT_TRUE(matches({}, make_sample(5, 1, {.kind = ProfileStepKind::Idle}), 77, 1u << 31));
}

TEST(Matching, KindKernelAndOperationCompareExactBytes) {
  const auto compute = make_sample(0, 1, {.kind = ProfileStepKind::Compute, .kernel = "gemm"});
  const auto exchange = make_sample(0, 1, {.kind = ProfileStepKind::Exchange, .kernel = ""});
  EXPECT_TRUE(matches({.kind = StepKind::Compute}, compute));
  EXPECT_FALSE(matches({.kind = StepKind::Compute}, exchange));

  // An empty kernel filter selects exactly the steps without a kernel; the grouping placeholder is
  // not a kernel name.
  EXPECT_TRUE(matches({.kernel = ""}, exchange));
  EXPECT_FALSE(matches({.kernel = ""}, compute));
  EXPECT_FALSE(matches({.kernel = "(no kernel)"}, exchange));
  EXPECT_FALSE(matches({.kernel = "Gemm"}, compute));

  const auto op = make_sample(0, 1, {.operation = "layer3/MatMul"});
  EXPECT_TRUE(matches({.operation_contains = "r3/Mat"}, op));
  EXPECT_TRUE(matches({.operation_contains = ""}, op));
  EXPECT_FALSE(matches({.operation_contains = "matmul"}, op));
  EXPECT_FALSE(matches({.operation_contains = "layer3/MatMul/"}, op));
}

TEST(Matching, TileAndPhaseSets) {
  const auto phase5_epoch2 = make_sample(0, 1, {.phase = 5, .epoch = 2});
  EXPECT_TRUE(matches({.tiles = {3}}, phase5_epoch2, 3));
  EXPECT_FALSE(matches({.tiles = {3}}, phase5_epoch2, 4));
  EXPECT_TRUE(matches({.tiles = {1, 9}}, phase5_epoch2, 9));
  EXPECT_TRUE(matches({.phases = {5}}, phase5_epoch2));
  EXPECT_TRUE(matches({.phases = {5}}, make_sample(0, 1, {.phase = 5, .epoch = 0})));
  EXPECT_FALSE(matches({.phases = {2}}, phase5_epoch2));
}

TEST(Matching, PointInTimeIsHalfOpenAndSaturates) {
  const auto sample = make_sample(1000, 1050);  // 50 cycles, placed at offset 100 below
  EXPECT_TRUE(matches({.at_offset = 100}, sample, 0, 100));
  EXPECT_TRUE(matches({.at_offset = 149}, sample, 0, 100));
  EXPECT_FALSE(matches({.at_offset = 99}, sample, 0, 100));
  EXPECT_FALSE(matches({.at_offset = 150}, sample, 0, 100));

  const auto empty = make_sample(7, 7);
  EXPECT_FALSE(matches({.at_offset = 100}, empty, 0, 100));

  // offset + duration beyond 2^64 - 1 ends at 2^64 - 1, which itself is outside the interval.
  constexpr auto largest = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t offset = largest - 10;
  EXPECT_TRUE(matches({.at_offset = largest - 1}, sample, 0, offset));
  EXPECT_FALSE(matches({.at_offset = largest}, sample, 0, offset));
  EXPECT_TRUE(matches({.at_offset = offset}, sample, 0, offset));
}

TEST(Matching, MetadataFiltersEachFindTheirOwnEntry) {
  const auto sample = make_sample(
      0, 1, {.metadata = {{"block", "1"}, {"block", "2"}, {"note", ""}, {"layer", "conv"}}});
  EXPECT_TRUE(matches({.metadata = {{.name = "block"}}}, sample));
  EXPECT_TRUE(matches({.metadata = {{.name = "block", .value = "2"}}}, sample));
  EXPECT_FALSE(matches({.metadata = {{.name = "block", .value = "3"}}}, sample));
  EXPECT_TRUE(matches({.metadata = {{.name = "note"}}}, sample));
  EXPECT_TRUE(matches({.metadata = {{.name = "note", .value = ""}}}, sample));
  EXPECT_FALSE(matches({.metadata = {{.name = "layer", .value = ""}}}, sample));
  EXPECT_FALSE(matches({.metadata = {{.name = "Block"}}}, sample));
  EXPECT_TRUE(matches({.metadata = {{.name = "block", .value = "1"}, {.name = "layer"}}}, sample));
  EXPECT_FALSE(matches({.metadata = {{.name = "block"}, {.name = "missing"}}}, sample));
  // One entry may satisfy several filters.
  EXPECT_TRUE(
      matches({.metadata = {{.name = "layer"}, {.name = "layer", .value = "conv"}}}, sample));
}

TEST(Matching, EveryConditionMustHold) {
  const auto sample = make_sample(0, 10,
                                  {.phase = 2,
                                   .kind = ProfileStepKind::Compute,
                                   .kernel = "k",
                                   .operation = "abc",
                                   .metadata = {{"m", "v"}}});
  const Query all{.kind = StepKind::Compute,
                  .kernel = "k",
                  .operation_contains = "b",
                  .tiles = {4},
                  .phases = {2},
                  .metadata = {{.name = "m", .value = "v"}},
                  .at_offset = 5};
  EXPECT_TRUE(matches(all, sample, 4, 0));
  auto one_off = all;
  one_off.metadata = {{.name = "m", .value = "w"}};
  EXPECT_FALSE(matches(one_off, sample, 4, 0));
  EXPECT_FALSE(matches(all, sample, 5, 0));
  EXPECT_FALSE(matches(all, sample, 4, 6));
}

TEST(GroupKeys, KindKernelAndOperationHaveNoDimensions) {
  const auto sync = make_sample(0, 1, {.kind = ProfileStepKind::Synchronization, .kernel = ""});
  EXPECT_EQ(group_key({.group_by = GroupBy::Kind}, 0, sync).name, "synchronization");
  EXPECT_TRUE(group_key({.group_by = GroupBy::Kind}, 0, sync).dimensions.empty());

  EXPECT_EQ(group_key({}, 0, sync).name, "(no kernel)");
  EXPECT_EQ(group_key({}, 0, make_sample(0, 1, {.kernel = "(no kernel)"})).name, "(no kernel)");
  EXPECT_EQ(group_key({}, 0, make_sample(0, 1, {.kernel = " "})).name, " ");
  EXPECT_TRUE(group_key({}, 0, sync).dimensions.empty());

  const auto unnamed = make_sample(0, 1, {.operation = ""});
  const auto key = group_key({.group_by = GroupBy::Operation}, 0, unnamed);
  EXPECT_EQ(key.name, "");
  EXPECT_TRUE(key.dimensions.empty());
}

TEST(GroupKeys, PhaseAndTileWritePlainDecimal) {
  const auto phase_key =
      group_key({.group_by = GroupBy::Phase}, 0, make_sample(0, 1, {.phase = 7, .epoch = 2}));
  EXPECT_EQ(phase_key.name, "phase 7/2");
  const std::map<std::string, std::string> phase_dimensions{{"epoch", "2"}, {"phase", "7"}};
  EXPECT_EQ(phase_key.dimensions, phase_dimensions);
  EXPECT_EQ(phase_key.dimensions.begin()->first, "epoch");

  const auto large = group_key({.group_by = GroupBy::Phase}, 0,
                               make_sample(0, 1, {.phase = 4294967295u, .epoch = 10}));
  EXPECT_EQ(large.name, "phase 4294967295/10");

  const auto tile_key = group_key({.group_by = GroupBy::Tile}, 12, make_sample(0, 1));
  EXPECT_EQ(tile_key.name, "tile 12");
  const std::map<std::string, std::string> tile_dimensions{{"physicalTile", "12"}};
  EXPECT_EQ(tile_key.dimensions, tile_dimensions);
  EXPECT_EQ(group_key({.group_by = GroupBy::Tile}, 0, make_sample(0, 1)).name, "tile 0");
}

TEST(GroupKeys, MetadataValueFirstEntryAndMissing) {
  const Query by_block{.group_by = GroupBy::Metadata, .metadata_key = "block"};
  const auto twice = make_sample(0, 1, {.metadata = {{"x", "0"}, {"block", "4"}, {"block", "5"}}});
  const auto key = group_key(by_block, 0, twice);
  EXPECT_EQ(key.name, "4");
  const std::map<std::string, std::string> dimensions{{"metadataKey", "block"},
                                                      {"metadataValue", "4"}};
  EXPECT_EQ(key.dimensions, dimensions);

  const auto missing = group_key(by_block, 0, make_sample(0, 1, {.metadata = {{"Block", "4"}}}));
  EXPECT_EQ(missing.name, "(missing)");
  EXPECT_EQ(missing.dimensions.at("metadataValue"), "(missing)");
  EXPECT_EQ(group_key(by_block, 0, make_sample(0, 1, {.metadata = {{"block", "(missing)"}}})).name,
            "(missing)");

  // Without a key, the key is the empty name.
  const Query no_key{.group_by = GroupBy::Metadata};
  const auto unnamed = group_key(no_key, 0, make_sample(0, 1, {.metadata = {{"", "anon"}}}));
  EXPECT_EQ(unnamed.name, "anon");
  EXPECT_EQ(unnamed.dimensions.at("metadataKey"), "");
  EXPECT_EQ(group_key(no_key, 0, make_sample(0, 1, {.metadata = {{"block", "1"}}})).name,
            "(missing)");
}

}  // namespace
}  // namespace zel_profile
