// Random profiles and queries for the engine's property tests: few names, tiles, phases and
// lengths, so that groups, ties and repeated tile numbers are common, with counters near the wrap
// and samples out of order or overlapping.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <zel_package/records.hpp>
#include <zel_profile/model.hpp>

namespace zel_profile::testing {

using zel_package::CycleSample;
using zel_package::ProfileReport;
using zel_package::ProfileStepKind;

class RandomProfiles {
 public:
  // Dense profiles pack their samples closely in time, as real ones do: many samples of one
  // (phase, epoch) over a short stretch, and few distinct lengths.
  explicit RandomProfiles(std::uint32_t seed, bool dense = false) : random_(seed), dense_(dense) {}

  std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(random_() % bound); }
  bool chance(std::uint32_t percent) { return below(100) < percent; }

  template <typename T>
  const T& pick(const std::vector<T>& values) {
    return values[below(static_cast<std::uint32_t>(values.size()))];
  }

  ProfileReport profile(std::uint32_t max_samples_per_tile) {
    ProfileReport report{.clock_hz = pick<std::uint64_t>({0, 5, 1000000000, 1330000000}),
                         .tiles = {}};
    const std::uint32_t tiles = below(7);
    for (std::uint32_t t = 0; t < tiles; ++t) {
      // Few tile numbers, so that some repeat.
      zel_package::TileProfile tile{.physical_tile = below(4) * 3, .samples = {}};
      const std::uint32_t samples = chance(15) ? 0 : below(max_samples_per_tile + 1);
      // Counters that start anywhere, often just before the wrap.
      std::uint32_t clock = chance(40) ? 0u - below(3000) : static_cast<std::uint32_t>(random_());
      for (std::uint32_t s = 0; s < samples; ++s) {
        tile.samples.push_back(sample(clock));
      }
      report.tiles.push_back(std::move(tile));
    }
    return report;
  }

  Query query(const ProfileReport& report) {
    Query query{.group_by = static_cast<GroupBy>(below(7)),
                .sort_by = static_cast<SortBy>(below(5))};
    if (chance(20)) query.kind = static_cast<StepKind>(below(4));
    if (chance(15)) query.kernel = pick(kernels_);
    if (chance(15)) query.operation_contains = pick<std::string>({"", "conv", "ayer1", "L"});
    if (chance(15)) query.tiles = {below(4) * 3, below(12)};
    if (chance(15)) query.phases = {below(5), below(5)};
    if (chance(20)) {
      query.metadata.push_back({.name = pick(metadata_names_)});
      if (chance(50)) query.metadata.back().value = pick(metadata_values_);
    }
    if (chance(70)) query.metadata_key = pick(metadata_names_);
    if (chance(20)) {
      // Mostly a time inside some sample, otherwise anything.
      query.at_offset = chance(70) ? below(5000) : random_();
    }
    if (chance(30)) query.limit = below(5);
    query.sample_limit = pick<std::size_t>({0, 0, 1, 3, 10, 1000000});
    if (chance(25)) {
      // A window among the samples' times: an end sometimes open, sometimes one cycle wide.
      const std::uint64_t from = chance(90) ? below(5000) : random_();
      if (chance(75)) query.from_offset = from;
      if (chance(75)) query.to_offset = from + (chance(30) ? 1 : 1 + below(3000));
      if (chance(15)) {
        // Past 2^32, in the tail of a sample that began before its tile's first one and ran past
        // the axis's 32 bits, when there is one: a part there starts past 2^32.
        std::uint64_t at = (std::uint64_t{1} << 32) - 200 + below(400);
        for (const auto& tile : report.tiles) {
          for (const auto& sample : tile.samples) {
            const std::uint64_t offset =
                static_cast<std::uint32_t>(sample.start_cycle - tile.samples.front().start_cycle);
            const std::uint64_t end = offset + (sample.end_cycle - sample.start_cycle);
            if (end > (std::uint64_t{1} << 32)) at = end - 1 - below(4);
          }
        }
        query.from_offset = at;
        query.to_offset = at + 1 + below(300);
      }
      // Half the windows count only the samples' parts inside them.
      query.clip = (query.from_offset || query.to_offset) && chance(50);
    }
    if (chance(50)) {
      // Names of profiles queried together: repeated, empty, like an unnamed chip's, or too few.
      query.profile_names = pick<std::vector<std::string>>(
          {{"a.json"}, {"a.json", "b.json"}, {"a.json", "a.json", "c"}, {"", "chip 0", "x"}});
    }
    return query;
  }

 private:
  CycleSample sample(std::uint32_t& clock) {
    // Mostly forward in time; sometimes back (out of counter order) or overlapping.
    if (chance(dense_ ? 1 : 8)) {
      clock -= below(2000);
    } else {
      clock += below(dense_ ? 3 : 40);
    }
    const std::uint32_t start = clock;
    const std::uint32_t length = chance(10) ? 0 : below(dense_ ? 60 : 300);
    clock += length;
    zel_package::ProfileStep step{.local_index = below(10),
                                  .phase = below(5),
                                  .epoch = below(3),
                                  .operation = pick(operations_),
                                  .kind = static_cast<ProfileStepKind>(below(4)),
                                  .kernel = pick(kernels_),
                                  .metadata = {}};
    const std::uint32_t entries = below(4);
    for (std::uint32_t i = 0; i < entries; ++i) {
      step.metadata.push_back({pick(metadata_names_), pick(metadata_values_)});
    }
    return CycleSample{.step = std::move(step), .start_cycle = start, .end_cycle = start + length};
  }

  std::mt19937_64 random_;
  bool dense_;
  const std::vector<std::string> kernels_{
      "", "gemm", "conv2d", "(no kernel)", " ", "a_long_kernel_name_beyond_inline_storage"};
  const std::vector<std::string> operations_{"", "layer1/conv", "layer12/conv", "L0", "sync"};
  const std::vector<std::string> metadata_names_{"", "block", "layer", "Block"};
  const std::vector<std::string> metadata_values_{"", "0", "1", "(missing)", "x y"};
};

// The tile's samples in time order, as a timeline index marks them: by their distance from the
// first sample, which stays first.
inline void put_in_time_order(zel_package::TileProfile& tile) {
  if (tile.samples.empty()) return;
  const std::uint32_t base = tile.samples.front().start_cycle;
  std::stable_sort(tile.samples.begin(), tile.samples.end(), [base](const auto& a, const auto& b) {
    return static_cast<std::uint32_t>(a.start_cycle - base) <
           static_cast<std::uint32_t>(b.start_cycle - base);
  });
}

}  // namespace zel_profile::testing
