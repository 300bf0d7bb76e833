// Keys a file's author chose to collide in a fixed hash: (phase, epoch) pairs and kernel names
// that an unkeyed multiply hash sends to one slot. The engine must still look each up in a few
// probes, counted through the index's probe counter.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <zel_profile/query.hpp>

#include "scan/hash_index.hpp"

namespace zel_profile {
namespace {

constexpr std::uint64_t fibonacci = 0x9e3779b97f4a7c15ULL;
constexpr std::uint32_t key_count = 200;
// Expected probes per lookup stay below 3 in a half-full linear-probing table; this leaves a wide
// margin, while keys crowded onto one slot need about key_count / 2 each.
constexpr std::uint64_t probes_per_key = 24;

std::uint64_t inverse_of_odd(std::uint64_t odd) {
  std::uint64_t inverse = odd;
  for (int step = 0; step < 6; ++step) {
    inverse *= 2 - odd * inverse;
  }
  return inverse;
}

// Keys k with k * fibonacci = 1, 2, 3, ...: the top bits of the product, a multiply hash's slot,
// are zero for all of them at every table size.
std::vector<std::uint64_t> pairs_on_one_slot() {
  const std::uint64_t inverse = inverse_of_odd(fibonacci);
  std::vector<std::uint64_t> keys;
  for (std::uint64_t i = 1; i <= key_count; ++i) {
    keys.push_back(i * inverse);
  }
  return keys;
}

// 16-byte names with one value of an unkeyed word-by-word multiply hash: the second word cancels
// what the first one left, so every name enters the last step with the same state.
std::vector<std::string> names_with_one_hash() {
  constexpr std::uint64_t multiplier = 0x9fb21c651e98df25ULL;
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < key_count; ++i) {
    std::string first = "kern" + std::to_string(1000 + i);
    std::uint64_t word;
    std::memcpy(&word, first.data(), 8);
    std::uint64_t state = (16 * multiplier ^ word) * multiplier;
    state ^= state >> 29;
    const std::uint64_t second = state ^ 0x0123456789abcdefULL;
    std::string name = first + std::string(8, '\0');
    std::memcpy(name.data() + 8, &second, 8);
    names.push_back(name);
  }
  return names;
}

// One tile running one 10-cycle compute step per key, back to back.
zel_package::ProfileReport profile_of(const std::vector<std::uint64_t>& pairs,
                                      const std::vector<std::string>& kernels) {
  zel_package::ProfileReport report{.clock_hz = 1000,
                                    .tiles = {{.physical_tile = 7, .samples = {}}}};
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    zel_package::ProfileStep step{.phase = static_cast<std::uint32_t>(pairs[i] >> 32),
                                  .epoch = static_cast<std::uint32_t>(pairs[i]),
                                  .operation = "op",
                                  .kind = zel_package::ProfileStepKind::Compute,
                                  .kernel = kernels[i]};
    const auto start = static_cast<std::uint32_t>(10 * i);
    report.tiles[0].samples.push_back(
        {.step = step, .start_cycle = start, .end_cycle = start + 10});
  }
  return report;
}

struct Run {
  QueryReport report;
  std::uint64_t probes;
};

template <typename Profile>
Run counted(const Profile& profile, GroupBy group_by) {
  Query query;
  query.group_by = group_by;
  const std::uint64_t before = detail::hash_index_probes;
  QueryReport report = zel_profile::query(profile, query);
  return {std::move(report), detail::hash_index_probes - before};
}

void expect_linear(const zel_package::ProfileReport& records, GroupBy group_by, std::size_t groups,
                   std::uint64_t samples_per_group) {
  const auto packed = zel_package::pack(records);
  for (const Run& run : {counted(records, group_by), counted(packed, group_by)}) {
    EXPECT_LE(run.probes, probes_per_key * key_count);
    ASSERT_EQ(run.report.groups.size(), groups);
    for (const auto& group : run.report.groups) {
      EXPECT_EQ(group.sample_count, samples_per_group);
      EXPECT_EQ(group.phase_cycles, 10 * samples_per_group);
    }
  }
}

TEST(HostileKeys, CollidingPhaseEpochPairsTakeLinearProbes) {
  const auto pairs = pairs_on_one_slot();
  const auto profile = profile_of(pairs, std::vector<std::string>(key_count, "gemm"));
  expect_linear(profile, GroupBy::Phase, key_count, 1);   // one group per pair
  expect_linear(profile, GroupBy::Kernel, 1, key_count);  // one group holding every pair
}

TEST(HostileKeys, NamesWithOneUnkeyedHashTakeLinearProbes) {
  const auto names = names_with_one_hash();
  std::vector<std::uint64_t> pairs(key_count);
  for (std::uint32_t i = 0; i < key_count; ++i) pairs[i] = i;
  expect_linear(profile_of(pairs, names), GroupBy::Kernel, key_count, 1);
}

}  // namespace
}  // namespace zel_profile
