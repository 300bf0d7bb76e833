// Four end-to-end checks of the query engine: each builds a small profile, runs one query and
// compares the report with exact values, floating-point ones included.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <zel_profile/query.hpp>

namespace {

using zel_package::CycleSample;
using zel_package::ProfileReport;
using zel_package::ProfileStepKind;
using zel_package::TileProfile;
using zel_profile::GroupBy;
using zel_profile::MetadataFilter;
using zel_profile::Query;

// A sample of `phase` in epoch 0: operation "operation <phase>", metadata "block" = "<phase>", and
// the phase as its local index.
CycleSample sample(std::uint32_t phase, ProfileStepKind kind, std::string kernel,
                   std::uint32_t start_cycle, std::uint32_t end_cycle) {
  const std::string phase_text = std::to_string(phase);
  return CycleSample{
      .step = {.local_index = phase,
               .phase = phase,
               .epoch = 0,
               .operation = "operation " + phase_text,
               .kind = kind,
               .kernel = std::move(kernel),
               .metadata = {{.name = "block", .value = phase_text}}},
      .start_cycle = start_cycle,
      .end_cycle = end_cycle,
  };
}

TEST(tests, filters_by_normalized_time_and_metadata_across_counter_wrap) {
  const ProfileReport profile{
      .clock_hz = 1500000000,
      .tiles = {TileProfile{.physical_tile = 9,
                            .samples = {sample(0, ProfileStepKind::Exchange, "", 4294967291u, 5),
                                        sample(1, ProfileStepKind::Compute, "add", 5, 15)}}},
  };
  const auto report =
      zel_profile::query(profile, Query{.metadata = {MetadataFilter{.name = "block", .value = "1"}},
                                        .at_offset = 12,
                                        .sample_limit = 1});

  EXPECT_EQ(report.matched_sample_count, 1u);
  EXPECT_EQ(report.sample_count, 2u);
  EXPECT_EQ(report.profile_span_cycles, 20u);
  EXPECT_EQ(report.at_offset, 12u);
  ASSERT_EQ(report.samples.size(), 1u);
  EXPECT_EQ(report.samples[0].phase, 1u);
  EXPECT_EQ(report.samples[0].offset, 10u);
  EXPECT_EQ(report.samples[0].physical_tile, 9u);
  EXPECT_EQ(report.samples[0].duration, 10u);
  ASSERT_EQ(report.groups.size(), 1u);
  EXPECT_EQ(report.groups[0].name, "add");
}

TEST(tests, groups_by_semantic_metadata_value) {
  const ProfileReport profile{
      .clock_hz = 1000000000,
      .tiles = {TileProfile{.physical_tile = 1,
                            .samples = {sample(0, ProfileStepKind::Compute, "add", 0, 10),
                                        sample(1, ProfileStepKind::Compute, "add", 10, 30)}}},
  };
  const auto report =
      zel_profile::query(profile, Query{.group_by = GroupBy::Metadata, .metadata_key = "block"});

  ASSERT_EQ(report.groups.size(), 2u);
  EXPECT_EQ(report.groups[0].name, "1");
  EXPECT_EQ(report.groups[0].phase_cycles, 20u);
  EXPECT_EQ(report.groups[0].dimensions.at("metadataKey"), "block");
  EXPECT_EQ(report.groups[0].dimensions.at("metadataValue"), "1");
  EXPECT_EQ(report.groups[1].name, "0");
  EXPECT_EQ(report.groups[1].phase_cycles, 10u);
  EXPECT_EQ(report.groups[1].phase_ms, 0.00001);
  EXPECT_EQ(report.matched_sample_count, 2u);
}

TEST(tests, groups_parallel_samples_by_kernel) {
  const ProfileReport profile{
      .clock_hz = 1000000000,
      .tiles = {TileProfile{.physical_tile = 2,
                            .samples = {sample(0, ProfileStepKind::Compute, "add", 100, 120)}},
                TileProfile{.physical_tile = 3,
                            .samples = {sample(0, ProfileStepKind::Compute, "add", 200, 230)}}},
  };
  const auto report = zel_profile::query(profile, Query{});

  ASSERT_EQ(report.groups.size(), 1u);
  const auto& group = report.groups[0];
  EXPECT_EQ(group.name, "add");
  EXPECT_EQ(group.phase_cycles, 30u);
  EXPECT_EQ(group.work_cycles, 50u);
  EXPECT_EQ(group.average_active_tiles, 50.0 / 30.0);
  EXPECT_EQ(group.average_active_tiles, 1.6666666666666667);
  EXPECT_EQ(group.tile_count, 2u);
  EXPECT_EQ(report.profile_span_cycles, 30u);
  EXPECT_EQ(report.profile_span_ms, 0.00003);
}

TEST(tests, phase_cycles_include_sequential_repeated_operations) {
  const ProfileReport profile{
      .clock_hz = 1000000000,
      .tiles = {TileProfile{.physical_tile = 2,
                            .samples = {sample(0, ProfileStepKind::Compute, "gemm", 100, 110),
                                        sample(0, ProfileStepKind::Compute, "gemm", 110, 120)}},
                TileProfile{.physical_tile = 3,
                            .samples = {sample(0, ProfileStepKind::Compute, "gemm", 200, 208),
                                        sample(0, ProfileStepKind::Compute, "gemm", 208, 216)}}},
  };
  const auto report = zel_profile::query(profile, Query{});

  ASSERT_EQ(report.groups.size(), 1u);
  const auto& group = report.groups[0];
  EXPECT_EQ(group.name, "gemm");
  EXPECT_EQ(group.phase_cycles, 20u);
  EXPECT_EQ(group.work_cycles, 36u);
  EXPECT_EQ(group.average_active_tiles, 1.8);
  EXPECT_EQ(group.phase_count, 1u);
  EXPECT_EQ(group.sample_count, 4u);
}

}  // namespace
