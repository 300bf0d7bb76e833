// The arithmetic shared by every way of summarising a group, so that the public summarize_group and
// the query engine's own accumulation produce the same values bit for bit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>

#include <zel_profile/model.hpp>
#include <zel_profile/partial.hpp>

#include "query/checked_arithmetic.hpp"

namespace zel_profile::detail {

// The union of half-open intervals ordered by start (any order among equal starts), handed to
// `emit(start, end)` as disjoint, ascending runs; touching intervals join. `bounds` gives an
// element's (start, end). Every union of intervals in the engine is this one.
// Example: [0, 4), [2, 6), [6, 7), [9, 10) emit (0, 7) and (9, 10).
template <typename T, typename Bounds, typename Emit>
void union_runs_of_sorted(std::span<const T> sorted_by_start, Bounds bounds, Emit emit) {
  if (sorted_by_start.empty()) return;
  auto [start, end] = bounds(sorted_by_start.front());
  for (const auto& element : sorted_by_start.subspan(1)) {
    const auto [next_start, next_end] = bounds(element);
    if (next_start > end) {
      emit(start, end);
      start = next_start;
    }
    end = std::max(end, next_end);
  }
  emit(start, end);
}

// The same union for each stretch of elements of equal key(element), the elements ordered by key
// and then start: emit(key, start, end) for each key's runs.
template <typename T, typename Key, typename Bounds, typename Emit>
void union_runs_by_key(std::span<const T> sorted, Key key, Bounds bounds, Emit emit) {
  for (std::size_t begin = 0; begin < sorted.size();) {
    const auto block_key = key(sorted[begin]);
    std::size_t end = begin + 1;
    while (end < sorted.size() && key(sorted[end]) == block_key) ++end;
    union_runs_of_sorted(
        sorted.subspan(begin, end - begin), bounds,
        [&](std::uint64_t start, std::uint64_t stop) { emit(block_key, start, stop); });
    begin = end;
  }
}

// The length of that union, checked for overflow.
template <typename T, typename Bounds>
std::uint64_t union_length_of_sorted(std::span<const T> sorted_by_start, Bounds bounds) {
  std::uint64_t total = 0;
  union_runs_of_sorted(sorted_by_start, bounds, [&](std::uint64_t start, std::uint64_t end) {
    total = checked_add(total, checked_sub(end, start, "interval length"), "union length");
  });
  return total;
}

// Everything a summary needs besides the group's name, dimensions and durations.
struct GroupFigures {
  std::size_t tile_count = 0;
  std::size_t phase_count = 0;
  std::uint64_t phase_cycles = 0;
  std::uint64_t work_cycles = 0;
  std::uint64_t first_offset = 0;
  std::uint64_t last_offset = 0;
};

// The index of a nearest-rank percentile in an ascending list of `count` values (count > 0).
std::size_t percentile_index(std::size_t count, std::size_t percentage);

// The nearest-rank percentiles of `count` lengths offered in ascending order, each with how many
// samples have it: the one walk over counted lengths, whatever holds the counts.
// Example: lengths 5, 5, 7, 9 are offered as (5, 2), (7, 1), (9, 1); the offer of 7 returns false
// and leaves p50() 5 and p95() 7.
class PercentileWalk {
 public:
  explicit PercentileWalk(std::size_t count)
      : at_p50_(percentile_index(count, 50)), at_p95_(percentile_index(count, 95)) {}

  // Takes `how_many` samples of `length`; false once both percentiles are known.
  bool offer(std::uint32_t length, std::size_t how_many) {
    seen_ += how_many;
    if (!p50_found_ && seen_ > at_p50_) {
      p50_ = length;
      p50_found_ = true;
    }
    if (seen_ > at_p95_) {
      p95_ = length;
      return false;
    }
    return true;
  }
  std::uint32_t p50() const { return p50_; }
  std::uint32_t p95() const { return p95_; }

 private:
  std::size_t at_p50_;
  std::size_t at_p95_;
  std::size_t seen_ = 0;
  bool p50_found_ = false;
  std::uint32_t p50_ = 0;
  std::uint32_t p95_ = 0;
};

// The statistics of a group's sample lengths.
struct DurationFigures {
  std::size_t sample_count = 0;
  std::uint32_t p50 = 0;
  std::uint32_t p95 = 0;
  std::uint32_t maximum = 0;
};

// From durations sorted ascending.
DurationFigures duration_figures_of_sorted(std::span<const std::uint32_t> sorted);

// From durations in any order, which it reorders: it finds the values at the percentile indexes
// as a full sort would place them, without sorting everything.
DurationFigures duration_figures_by_selection(std::span<std::uint32_t> durations);

// From the distinct lengths, ascending, with their counts (all above 0).
DurationFigures duration_figures_of_counts(std::span<const LengthCount> lengths);

GroupSummary build_summary(std::string name, std::map<std::string, std::string> dimensions,
                           const GroupFigures& figures, const DurationFigures& durations,
                           std::uint64_t clock_hz);

}  // namespace zel_profile::detail
