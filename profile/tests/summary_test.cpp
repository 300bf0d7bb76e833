#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include <zel_profile/summary.hpp>

namespace zel_profile {
namespace {

std::uint64_t union_of(std::vector<Interval> intervals) {
  const auto before = intervals;
  const auto result = union_length(intervals);
  EXPECT_EQ(intervals, before) << "the caller's intervals must stay unchanged";
  return result;
}

TEST(UnionLength, JoinsTouchingAndOverlappingIntervals) {
  EXPECT_EQ(union_of({}), 0u);
  EXPECT_EQ(union_of({{5, 9}}), 4u);
  EXPECT_EQ(union_of({{7, 7}}), 0u);
  EXPECT_EQ(union_of({{0, 10}, {10, 20}}), 20u);
  EXPECT_EQ(union_of({{0, 10}, {5, 15}}), 15u);
  EXPECT_EQ(union_of({{0, 100}, {10, 20}}), 100u);
  EXPECT_EQ(union_of({{0, 10}, {0, 10}}), 10u);
  EXPECT_EQ(union_of({{20, 30}, {0, 10}}), 20u);
  EXPECT_EQ(union_of({{0, 10}, {15, 15}, {15, 20}}), 15u);
  EXPECT_EQ(union_of({{0, 10}, {20, 30}, {5, 25}}), 30u);
  EXPECT_EQ(union_of({{50, 50}, {0, 10}}), 10u);
  EXPECT_EQ(union_of({{8589934000u, 8589934591u}, {0, 1}}), 592u);
}

TEST(UnionLength, AgreesWithCountingCoveredCycles) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<Interval> intervals(random() % 8);
    std::vector<bool> covered(64, false);
    for (auto& interval : intervals) {
      const std::uint64_t start = random() % 48;
      interval = {start, start + random() % 16};
      for (auto t = interval.first; t < interval.second; ++t) {
        covered[t] = true;
      }
    }
    EXPECT_EQ(union_of(intervals),
              static_cast<std::uint64_t>(std::count(covered.begin(), covered.end(), true)));
  }
}

TEST(Percentile, NearestRankWithTruncatedIndex) {
  EXPECT_EQ(percentile({}, 50), 0u);
  EXPECT_EQ(percentile({}, 95), 0u);
  const std::vector<std::uint32_t> four{10, 20, 30, 40};
  EXPECT_EQ(percentile(four, 50), 20u);
  EXPECT_EQ(percentile(four, 95), 30u);
  EXPECT_EQ(percentile(four, 0), 10u);
  EXPECT_EQ(percentile(four, 100), 40u);
  EXPECT_EQ(percentile(four, 250), 40u) << "above 100 behaves as 100";

  auto one_to = [](std::uint32_t n) {
    std::vector<std::uint32_t> values(n);
    std::iota(values.begin(), values.end(), 1u);
    return values;
  };
  EXPECT_EQ(percentile(one_to(20), 50), 10u);
  EXPECT_EQ(percentile(one_to(20), 95), 19u);
  EXPECT_EQ(percentile(one_to(21), 50), 11u);
  EXPECT_EQ(percentile(one_to(21), 95), 20u);
  EXPECT_EQ(percentile(one_to(100), 50), 50u);
  EXPECT_EQ(percentile(one_to(100), 95), 95u);
  const std::vector<std::uint32_t> single{42};
  EXPECT_EQ(percentile(single, 50), 42u);
  EXPECT_EQ(percentile(single, 95), 42u);
}

TEST(CyclesToMs, MultipliesBeforeDividing) {
  EXPECT_EQ(cycles_to_ms(500, 1000000000), 0.0005);
  EXPECT_EQ(cycles_to_ms(161, 5), 32200.0);
  EXPECT_NE(cycles_to_ms(161, 5), 161.0 / 5.0 * 1000.0);
  EXPECT_EQ(cycles_to_ms(123456, 0), 0.0);
  EXPECT_EQ(cycles_to_ms(0, 7), 0.0);
}

Accumulator four_sample_group() {
  // One (phase, epoch); one tile at (0, 40) and (50, 80), another at (0, 10) and (100, 120).
  return Accumulator{
      .dimensions = {{"k", "v"}},
      .durations = {40, 30, 10, 20},
      .tiles = {1, 2},
      .phases = {{PhaseEpoch{3, 0}, {{0, 40}, {50, 80}, {0, 10}, {100, 120}}}},
      .work_cycles = 100,
      .first_offset = 0,
      .last_offset = 120,
  };
}

TEST(SummarizeGroup, FourSampleGroup) {
  const zel_package::ProfileReport report{.clock_hz = 1000000000, .tiles = {}};
  const auto summary = summarize_group("g", four_sample_group(), report);
  EXPECT_EQ(summary.name, "g");
  EXPECT_EQ(summary.dimensions.at("k"), "v");
  EXPECT_EQ(summary.sample_count, 4u);
  EXPECT_EQ(summary.tile_count, 2u);
  EXPECT_EQ(summary.phase_count, 1u);
  EXPECT_EQ(summary.phase_cycles, 90u);
  EXPECT_EQ(summary.phase_ms, 0.00009);
  EXPECT_EQ(summary.work_cycles, 100u);
  EXPECT_EQ(summary.average_active_tiles, 100.0 / 90.0);
  EXPECT_EQ(summary.average_active_tiles, 1.1111111111111112);
  EXPECT_EQ(summary.mean_cycles, 25.0);
  EXPECT_EQ(summary.p50_cycles, 20u);
  EXPECT_EQ(summary.p95_cycles, 30u);
  EXPECT_EQ(summary.maximum_cycles, 40u);
  EXPECT_EQ(summary.first_offset, 0u);
  EXPECT_EQ(summary.last_offset, 120u);
}

TEST(SummarizeGroup, PhasesAreUnitedSeparatelyPerPhaseAndEpoch) {
  const zel_package::ProfileReport report{.clock_hz = 0, .tiles = {}};
  const auto same_phase =
      summarize_group("a",
                      Accumulator{.durations = {100, 100},
                                  .tiles = {1, 2},
                                  .phases = {{PhaseEpoch{0, 0}, {{0, 100}, {0, 100}}}},
                                  .work_cycles = 200},
                      report);
  EXPECT_EQ(same_phase.phase_cycles, 100u);
  EXPECT_EQ(same_phase.average_active_tiles, 2.0);
  EXPECT_EQ(same_phase.phase_ms, 0.0);

  const auto two_phases = summarize_group(
      "b",
      Accumulator{.durations = {100, 100},
                  .tiles = {1, 2},
                  .phases = {{PhaseEpoch{0, 0}, {{0, 100}}}, {PhaseEpoch{1, 0}, {{0, 100}}}},
                  .work_cycles = 200},
      report);
  EXPECT_EQ(two_phases.phase_cycles, 200u);
  EXPECT_EQ(two_phases.average_active_tiles, 1.0);
  EXPECT_EQ(two_phases.phase_count, 2u);

  const auto two_epochs = summarize_group(
      "c",
      Accumulator{.durations = {100, 100},
                  .tiles = {1},
                  .phases = {{PhaseEpoch{4, 0}, {{0, 100}}}, {PhaseEpoch{4, 1}, {{200, 300}}}},
                  .work_cycles = 200},
      report);
  EXPECT_EQ(two_epochs.phase_count, 2u);
  EXPECT_EQ(two_epochs.phase_cycles, 200u);
}

TEST(SummarizeGroup, ZeroLengthAndEmptyGroups) {
  const zel_package::ProfileReport report{.clock_hz = 1000, .tiles = {}};
  const auto zero = summarize_group("z",
                                    Accumulator{.durations = {0, 0},
                                                .tiles = {1},
                                                .phases = {{PhaseEpoch{0, 0}, {{5, 5}, {9, 9}}}},
                                                .work_cycles = 0,
                                                .first_offset = 5,
                                                .last_offset = 9},
                                    report);
  EXPECT_EQ(zero.phase_cycles, 0u);
  EXPECT_EQ(zero.average_active_tiles, 0.0);
  EXPECT_EQ(zero.mean_cycles, 0.0);
  EXPECT_EQ(zero.phase_ms, 0.0);
  EXPECT_EQ(zero.sample_count, 2u);

  const auto empty = summarize_group("e", Accumulator{}, report);
  EXPECT_EQ(empty.mean_cycles, 0.0);
  EXPECT_EQ(empty.p50_cycles, 0u);
  EXPECT_EQ(empty.p95_cycles, 0u);
  EXPECT_EQ(empty.maximum_cycles, 0u);
}

GroupSummary group(std::string name, std::uint64_t value, std::uint64_t first_offset) {
  return GroupSummary{.name = std::move(name),
                      .sample_count = value,
                      .phase_cycles = value,
                      .work_cycles = value,
                      .maximum_cycles = static_cast<std::uint32_t>(value),
                      .first_offset = first_offset};
}

TEST(CompareGroups, LargerValuesFirstThenOffsetThenName) {
  for (const auto sort_by :
       {SortBy::PhaseCycles, SortBy::WorkCycles, SortBy::MaximumCycles, SortBy::Samples}) {
    EXPECT_EQ(compare_groups(sort_by, group("a", 5, 9), group("b", 3, 0)),
              std::strong_ordering::less);
    EXPECT_EQ(compare_groups(sort_by, group("a", 3, 0), group("b", 5, 9)),
              std::strong_ordering::greater);
    EXPECT_EQ(compare_groups(sort_by, group("z", 3, 1), group("a", 3, 2)),
              std::strong_ordering::less);
    EXPECT_EQ(compare_groups(sort_by, group("a", 3, 2), group("b", 3, 2)),
              std::strong_ordering::less);
    EXPECT_EQ(compare_groups(sort_by, group("b", 3, 2), group("a", 3, 2)),
              std::strong_ordering::greater);
    EXPECT_EQ(compare_groups(sort_by, group("a", 3, 2), group("a", 3, 2)),
              std::strong_ordering::equal);
  }
  // Each key is consulted on its own field only.
  auto left = group("a", 1, 0);
  auto right = group("b", 1, 0);
  right.work_cycles = 9;
  EXPECT_EQ(compare_groups(SortBy::WorkCycles, left, right), std::strong_ordering::greater);
  EXPECT_EQ(compare_groups(SortBy::PhaseCycles, left, right), std::strong_ordering::less);
}

TEST(CompareGroups, NamesInByteOrder) {
  EXPECT_EQ(compare_groups(SortBy::Name, group("Zeta", 0, 9), group("alpha", 9, 0)),
            std::strong_ordering::less);
  EXPECT_EQ(compare_groups(SortBy::Name, group("conv", 0, 9), group("conv2", 0, 0)),
            std::strong_ordering::less);
  // Bytes above 0x7f (UTF-8) sort after ASCII, as unsigned bytes.
  EXPECT_EQ(compare_groups(SortBy::Name, group("\xc3\xa9", 0, 0), group("z", 0, 0)),
            std::strong_ordering::greater);
}

TEST(CompareGroups, SortingIsIndependentOfInputOrder) {
  std::vector<GroupSummary> groups{group("c", 2, 5), group("a", 2, 5), group("b", 7, 0),
                                   group("d", 2, 1), group("e", 0, 0)};
  const auto sorted = [](std::vector<GroupSummary> list, SortBy sort_by) {
    std::stable_sort(list.begin(), list.end(), [&](const auto& l, const auto& r) {
      return compare_groups(sort_by, l, r) < 0;
    });
    std::string names;
    for (const auto& g : list) {
      names += g.name;
    }
    return names;
  };
  EXPECT_EQ(sorted(groups, SortBy::PhaseCycles), "bdace");
  EXPECT_EQ(sorted(groups, SortBy::Name), "abcde");
  std::reverse(groups.begin(), groups.end());
  EXPECT_EQ(sorted(groups, SortBy::Samples), "bdace");
}

}  // namespace
}  // namespace zel_profile
