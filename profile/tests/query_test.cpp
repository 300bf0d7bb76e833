#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include <zel_profile/query.hpp>

#include "profile_builders.hpp"
#include "random_profiles.hpp"

namespace zel_profile {
namespace {

using testing::make_sample;
using zel_package::ProfileReport;
using zel_package::TileProfile;

std::vector<std::string> names(const QueryReport& report) {
  std::vector<std::string> result;
  for (const auto& group : report.groups) {
    result.push_back(group.name);
  }
  return result;
}

TEST(Query, EmptyProfilesCopyClockAndOffset) {
  const ProfileReport none{.clock_hz = 77, .tiles = {}};
  const auto report = query(none, {.at_offset = 3});
  EXPECT_EQ(report.clock_hz, 77u);
  EXPECT_EQ(report.at_offset, 3u);
  EXPECT_EQ(report.tile_count, 0u);
  EXPECT_EQ(report.sample_count, 0u);
  EXPECT_EQ(report.matched_sample_count, 0u);
  EXPECT_EQ(report.profile_span_cycles, 0u);
  EXPECT_EQ(report.profile_span_ms, 0.0);
  EXPECT_TRUE(report.groups.empty() && report.samples.empty());

  const ProfileReport empty_tiles{.clock_hz = 5,
                                  .tiles = {{.physical_tile = 1}, {.physical_tile = 1}}};
  const auto tiles_only = query(empty_tiles, {.sample_limit = 4});
  EXPECT_EQ(tiles_only.tile_count, 2u);
  EXPECT_EQ(tiles_only.sample_count, 0u);
  EXPECT_EQ(tiles_only.profile_span_cycles, 0u);
  EXPECT_FALSE(tiles_only.at_offset.has_value());
  EXPECT_TRUE(tiles_only.groups.empty() && tiles_only.samples.empty());
}

TEST(Query, BaseIsTheFirstListedSampleAndWrapsAreAbsorbed) {
  const ProfileReport out_of_order{
      .clock_hz = 0,
      .tiles = {{.physical_tile = 0, .samples = {make_sample(300, 400), make_sample(200, 250)}}}};
  const auto report = query(out_of_order, {.sample_limit = 2});
  EXPECT_EQ(report.profile_span_cycles, 4294967296u - 50);
  ASSERT_EQ(report.samples.size(), 2u);
  EXPECT_EQ(report.samples[0].offset, 0u);
  EXPECT_EQ(report.samples[0].duration, 100u);
  EXPECT_EQ(report.samples[1].offset, 4294967296u - 100);
  EXPECT_EQ(report.samples[1].duration, 50u);

  const ProfileReport wrapped{
      .clock_hz = 0,
      .tiles = {
          {.physical_tile = 0,
           .samples = {make_sample(4294967296u - 96, 4294967296u - 90), make_sample(100, 104)}}}};
  const auto across = query(wrapped, {.sample_limit = 2});
  ASSERT_EQ(across.samples.size(), 2u);
  EXPECT_EQ(across.samples[1].offset, 196u);
  EXPECT_EQ(across.profile_span_cycles, 200u);
}

ProfileReport two_tile_profile() {
  // Tile A: (500, 600). Tile B: (70, 100) and (100, 400), on its own axis (0, 30) and (30, 330).
  return ProfileReport{
      .clock_hz = 1000,
      .tiles = {{.physical_tile = 10, .samples = {make_sample(500, 600)}},
                {.physical_tile = 11, .samples = {make_sample(70, 100), make_sample(100, 400)}}}};
}

TEST(Query, SpanIsPerTileAndCoversUnmatchedSamples) {
  const auto all = query(two_tile_profile(), {});
  EXPECT_EQ(all.profile_span_cycles, 330u);
  EXPECT_EQ(all.profile_span_ms, 330.0);
  EXPECT_EQ(all.sample_count, 3u);
  EXPECT_EQ(all.matched_sample_count, 3u);

  const auto nothing = query(two_tile_profile(), {.kernel = "absent", .sample_limit = 3});
  EXPECT_EQ(nothing.profile_span_cycles, 330u);
  EXPECT_EQ(nothing.matched_sample_count, 0u);
  EXPECT_TRUE(nothing.groups.empty() && nothing.samples.empty());
}

TEST(Query, RepeatedTileNumbersHaveTheirOwnBaseButCountAsOneTile) {
  const ProfileReport report{
      .clock_hz = 0,
      .tiles = {{.physical_tile = 4, .samples = {make_sample(1000, 1010)}},
                {.physical_tile = 4, .samples = {make_sample(50, 60), make_sample(60, 75)}}}};
  const auto result = query(report, {.group_by = GroupBy::Tile});
  EXPECT_EQ(result.tile_count, 2u);
  ASSERT_EQ(result.groups.size(), 1u);
  EXPECT_EQ(result.groups[0].name, "tile 4");
  EXPECT_EQ(result.groups[0].tile_count, 1u);
  EXPECT_EQ(result.groups[0].phase_cycles, 25u);  // (0, 10) u (0, 10) u (10, 25)
  EXPECT_EQ(result.groups[0].last_offset, 25u);
}

TEST(Query, CountsMatchesWhateverTheLimits) {
  ProfileReport report{.clock_hz = 0, .tiles = {{.physical_tile = 0}}};
  for (std::uint32_t i = 0; i < 5; ++i) {
    report.tiles[0].samples.push_back(
        make_sample(i * 10, i * 10 + 5, {.kernel = "k" + std::to_string(i % 3)}));
  }
  const auto limited = query(report, {.limit = 0, .sample_limit = 0});
  EXPECT_EQ(limited.matched_sample_count, 5u);
  EXPECT_TRUE(limited.groups.empty() && limited.samples.empty());

  // Groups k0 (2 samples), k1 (2), k2 (1), ordered by samples then first offset.
  EXPECT_EQ(names(query(report, {.sort_by = SortBy::Samples, .limit = 2})),
            (std::vector<std::string>{"k0", "k1"}));
  EXPECT_EQ(names(query(report, {.sort_by = SortBy::Samples, .limit = 5})),
            (std::vector<std::string>{"k0", "k1", "k2"}));
  EXPECT_EQ(names(query(report, {.sort_by = SortBy::Samples})),
            (std::vector<std::string>{"k0", "k1", "k2"}));
  EXPECT_EQ(query(report, {.sample_limit = 50}).samples.size(), 5u);
}

TEST(Query, CandidatesLongestFirstThenTileThenOffsetThenListOrder) {
  // (tile, offset, duration) arriving as (3, 50, 40), (1, 90, 40), (1, 10, 40), (2, 0, 70).
  const ProfileReport report{
      .clock_hz = 0,
      .tiles = {
          {.physical_tile = 3, .samples = {make_sample(0, 0), make_sample(50, 90)}},
          {.physical_tile = 1,
           .samples = {make_sample(1000, 1000), make_sample(1090, 1130), make_sample(1010, 1050)}},
          {.physical_tile = 2, .samples = {make_sample(7, 77)}}}};
  const auto result = query(report, {.sample_limit = 3});
  ASSERT_EQ(result.samples.size(), 3u);
  EXPECT_EQ(result.samples[0].physical_tile, 2u);
  EXPECT_EQ(result.samples[0].offset, 0u);
  EXPECT_EQ(result.samples[0].duration, 70u);
  EXPECT_EQ(result.samples[1].physical_tile, 1u);
  EXPECT_EQ(result.samples[1].offset, 10u);
  EXPECT_EQ(result.samples[2].physical_tile, 1u);
  EXPECT_EQ(result.samples[2].offset, 90u);

  // Zero-length samples are matched and counted, and come after every longer one.
  const auto all = query(report, {.sample_limit = 10});
  EXPECT_EQ(all.matched_sample_count, 6u);
  ASSERT_EQ(all.samples.size(), 6u);
  EXPECT_EQ(all.samples[4].duration, 0u);
  EXPECT_EQ(all.samples[4].physical_tile, 1u);
  EXPECT_EQ(all.samples[5].physical_tile, 3u);

  // Equal in every key: list order decides, seen through the operation names.
  const ProfileReport twins{
      .clock_hz = 0,
      .tiles = {{.physical_tile = 0,
                 .samples = {make_sample(0, 0), make_sample(5, 9, {.operation = "first"}),
                             make_sample(5, 9, {.operation = "second"})}}}};
  const auto ordered = query(twins, {.sample_limit = 2});
  ASSERT_EQ(ordered.samples.size(), 2u);
  EXPECT_EQ(ordered.samples[0].operation, "first");
  EXPECT_EQ(ordered.samples[1].operation, "second");
}

TEST(Query, AccumulatesOffsetsAndZeroLengthIntervals) {
  // Offsets 30 (10 cycles), 5 (100 cycles), 200 (0 cycles) on one tile whose base is raw 1000.
  const ProfileReport report{
      .clock_hz = 0,
      .tiles = {{.physical_tile = 0,
                 .samples = {make_sample(1000, 1000, {.kernel = "other"}), make_sample(1030, 1040),
                             make_sample(1005, 1105), make_sample(1200, 1200)}}}};
  const auto result = query(report, {.kernel = "add"});
  ASSERT_EQ(result.groups.size(), 1u);
  const auto& group = result.groups[0];
  EXPECT_EQ(group.first_offset, 5u);
  EXPECT_EQ(group.last_offset, 200u);
  EXPECT_EQ(group.work_cycles, 110u);
  EXPECT_EQ(group.phase_cycles, 100u);
  EXPECT_EQ(group.sample_count, 3u);
}

TEST(Query, SampleRecordsCopyTheWholeStep) {
  const ProfileReport report{
      .clock_hz = 0,
      .tiles = {{.physical_tile = 6,
                 .samples = {make_sample(0, 9,
                                         {.phase = 3,
                                          .epoch = 1,
                                          .kind = zel_package::ProfileStepKind::Synchronization,
                                          .kernel = "",
                                          .operation = "sync/all",
                                          .metadata = {{"a", "1"}, {"b", "2"}, {"a", "3"}}})}}}};
  const auto result = query(report, {.metadata = {{.name = "b"}}, .sample_limit = 1});
  ASSERT_EQ(result.samples.size(), 1u);
  const auto& record = result.samples[0];
  EXPECT_EQ(record.physical_tile, 6u);
  EXPECT_EQ(record.phase, 3u);
  EXPECT_EQ(record.epoch, 1u);
  EXPECT_EQ(record.kind, "synchronization");
  EXPECT_EQ(record.kernel, "");
  EXPECT_EQ(record.operation, "sync/all");
  ASSERT_EQ(record.metadata.size(), 3u);
  EXPECT_EQ(record.metadata[2].name, "a");
  EXPECT_EQ(record.metadata[2].value, "3");
  ASSERT_EQ(result.groups.size(), 1u);
  EXPECT_EQ(result.groups[0].name, "(no kernel)");
}

TEST(Query, ConcurrentCallsGiveIdenticalReports) {
  ProfileReport report{.clock_hz = 1330000000, .tiles = {}};
  for (std::uint32_t tile = 0; tile < 16; ++tile) {
    TileProfile profile{.physical_tile = tile};
    for (std::uint32_t i = 0; i < 200; ++i) {
      const std::uint32_t start = tile * 7919u + i * 37u - 500u;
      profile.samples.push_back(make_sample(start, start + (i * tile) % 41,
                                            {.phase = i % 9,
                                             .epoch = i / 90,
                                             .kernel = "k" + std::to_string(i % 13),
                                             .metadata = {{"block", std::to_string(i % 5)}}}));
    }
    report.tiles.push_back(std::move(profile));
  }
  const Query by_phase{.group_by = GroupBy::Phase, .sample_limit = 25};
  const auto expected = query(report, by_phase);
  std::vector<QueryReport> results(4);
  std::vector<std::thread> threads;
  for (auto& result : results) {
    threads.emplace_back([&] { result = query(report, by_phase); });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  for (const auto& result : results) {
    ASSERT_EQ(result.groups.size(), expected.groups.size());
    for (std::size_t i = 0; i < expected.groups.size(); ++i) {
      EXPECT_EQ(result.groups[i].name, expected.groups[i].name);
      EXPECT_EQ(result.groups[i].phase_cycles, expected.groups[i].phase_cycles);
      EXPECT_EQ(result.groups[i].average_active_tiles, expected.groups[i].average_active_tiles);
    }
    ASSERT_EQ(result.samples.size(), 25u);
    for (std::size_t i = 0; i < 25; ++i) {
      EXPECT_EQ(result.samples[i].offset, expected.samples[i].offset);
      EXPECT_EQ(result.samples[i].physical_tile, expected.samples[i].physical_tile);
    }
  }
}

// A report's samples hold the steps they use, in order of first use, and read back as the
// records they stand for, through every door: by index, by iteration, all at once, and rebuilt
// from those records.
TEST(ReportedSamples, HoldEachStepOnceAndReadAsTheirRecords) {
  testing::RandomProfiles random(20261210);
  for (int round = 0; round < 200; ++round) {
    const ProfileReport profile = random.profile(round % 10 == 0 ? 300 : 30);
    Query asked = random.query(profile);
    asked.sample_limit = round % 3 == 0 ? SIZE_MAX : 1 + random.below(50);
    const auto samples = query(profile, asked).samples;
    const auto steps = samples.steps();
    std::set<std::size_t> used;
    for (const ReportedSample& sample : samples.samples()) {
      ASSERT_LT(sample.step, steps.size());
      // Steps are numbered in order of first use.
      ASSERT_LE(sample.step, used.size()) << "round " << round;
      used.insert(sample.step);
    }
    ASSERT_EQ(used.size(), steps.size()) << "round " << round;
    const std::vector<SampleRecord> records = samples.records();
    ASSERT_EQ(records.size(), samples.size());
    std::size_t i = 0;
    for (const SampleRecord& record : samples) {
      const ReportedSample& compact = samples.samples()[i];
      ASSERT_EQ(record, samples[i]);
      ASSERT_EQ(record, records[i]);
      ASSERT_EQ(record, sample_record(compact, samples.step_of(compact)));
      ++i;
    }
    const ReportedSamples rebuilt(records);
    ASSERT_EQ(rebuilt, samples);
    // Rebuilt from records, equal steps are one (the engine's table holds a step once per
    // distinct step of the profile, and two may differ only in the package's own numbering).
    ASSERT_LE(rebuilt.steps().size(), steps.size());
  }
}

}  // namespace
}  // namespace zel_profile
