#include <gtest/gtest.h>

#include <zel_profile/matching.hpp>
#include <zel_profile/model.hpp>

#include "profile_builders.hpp"

namespace zel_profile {
namespace {

using testing::make_sample;
using zel_package::ProfileStepKind;

TEST(Model, DurationWrapsModulo32Bits) {
  EXPECT_EQ(duration(make_sample(4294967290u, 10)), 16u);
  EXPECT_EQ(duration(make_sample(77, 77)), 0u);
  EXPECT_EQ(duration(make_sample(100, 350)), 250u);
  // An end reading before the start in counter order is a wrap, not a negative length.
  EXPECT_EQ(duration(make_sample(10, 9)), 4294967295u);
}

TEST(Model, KindOfMapsValueForValueAndKindNameIsLowerCase) {
  const std::pair<ProfileStepKind, StepKind> kinds[] = {
      {ProfileStepKind::Exchange, StepKind::Exchange},
      {ProfileStepKind::Compute, StepKind::Compute},
      {ProfileStepKind::Synchronization, StepKind::Synchronization},
      {ProfileStepKind::Idle, StepKind::Idle},
  };
  const char* names[] = {"exchange", "compute", "synchronization", "idle"};
  for (std::size_t i = 0; i < 4; ++i) {
    const auto sample = make_sample(0, 1, {.kind = kinds[i].first});
    EXPECT_EQ(kind_of(sample), kinds[i].second);
    EXPECT_EQ(kind_name(sample), names[i]);
  }
  // A byte outside the defined kinds still has a defined name.
  EXPECT_EQ(kind_name(make_sample(0, 1, {.kind = static_cast<ProfileStepKind>(9)})), "unknown");
}

TEST(Model, DefaultQueryHasNoFilterAndDocumentedDefaults) {
  const Query query{};
  EXPECT_EQ(query.group_by, GroupBy::Kernel);
  EXPECT_EQ(query.sort_by, SortBy::PhaseCycles);
  EXPECT_FALSE(query.kind || query.kernel || query.operation_contains || query.metadata_key ||
               query.at_offset || query.limit);
  EXPECT_TRUE(query.tiles.empty() && query.phases.empty() && query.metadata.empty());
  EXPECT_EQ(query.sample_limit, 0u);

  const Query designated{.group_by = GroupBy::Metadata, .metadata_key = "block"};
  EXPECT_EQ(designated.group_by, GroupBy::Metadata);
  EXPECT_EQ(designated.metadata_key, "block");

  const Accumulator accumulator{};
  EXPECT_TRUE(accumulator.durations.empty() && accumulator.phases.empty());
  EXPECT_EQ(accumulator.first_offset, 0u);
  EXPECT_EQ(static_cast<int>(GroupBy::Metadata), 5);
  EXPECT_EQ(static_cast<int>(SortBy::Name), 4);
  EXPECT_EQ(static_cast<int>(StepKind::Idle), 3);
}

}  // namespace
}  // namespace zel_profile
