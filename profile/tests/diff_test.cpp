// Comparing two reports: groups matched by name, one-sided groups, and the order of the changes.
#include <gtest/gtest.h>

#include <optional>

#include <zel_profile/diff.hpp>

namespace zel_profile {
namespace {

GroupSummary group(const char* name, std::uint64_t phase_cycles, std::size_t samples) {
  return GroupSummary{.name = name, .sample_count = samples, .phase_cycles = phase_cycles};
}

TEST(ReportDiff, MatchesGroupsByNameAndPutsTheLargestChangeFirst) {
  const QueryReport base{.profile_span_cycles = 100,
                         .groups = {group("a", 100, 5), group("b", 50, 9), group("gone", 30, 1)}};
  const QueryReport current{.profile_span_cycles = 90,
                            .groups = {group("b", 10, 9), group("a", 120, 6), group("new", 35, 2)}};
  const ReportDiff diff = diff_reports(base, current, SortBy::PhaseCycles);
  EXPECT_EQ(diff.base_span_cycles, 100u);
  EXPECT_EQ(diff.current_span_cycles, 90u);
  // Changes of phase cycles: b -40, new +35, gone -30, a +20.
  ASSERT_EQ(diff.groups.size(), 4u);
  EXPECT_EQ(diff.groups[0].name, "b");
  EXPECT_EQ(diff.groups[1].name, "new");
  EXPECT_EQ(diff.groups[2].name, "gone");
  EXPECT_EQ(diff.groups[3].name, "a");
  EXPECT_EQ(diff.groups[1].base, std::nullopt);
  EXPECT_EQ(diff.groups[2].current, std::nullopt);
  EXPECT_EQ(diff.groups[3].base, group("a", 100, 5));
  EXPECT_EQ(diff.groups[3].current, group("a", 120, 6));

  // By samples: new +2, then a +1 and gone -1 (equal sizes keep the order of names), then b 0.
  const ReportDiff by_samples = diff_reports(base, current, SortBy::Samples);
  EXPECT_EQ(by_samples.groups[0].name, "new");
  EXPECT_EQ(by_samples.groups[1].name, "a");
  EXPECT_EQ(by_samples.groups[2].name, "gone");
  EXPECT_EQ(by_samples.groups[3].name, "b");
  EXPECT_EQ(diff_reports(base, current, SortBy::Name).groups[0].name, "a");

  EXPECT_EQ(relative_change(0.0, 5.0), std::nullopt);
  EXPECT_EQ(relative_change(100.0, 120.0), 0.2);
  EXPECT_EQ(relative_change(50.0, 10.0), -0.8);
}

}  // namespace
}  // namespace zel_profile
