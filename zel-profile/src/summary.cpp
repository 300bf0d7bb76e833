#include <zel_profile/summary.hpp>

#include <algorithm>
#include <utility>
#include <vector>

#include "checked_arithmetic.hpp"

namespace zel_profile {
namespace {

template <typename T>
std::strong_ordering larger_first(T left, T right) {
  return right <=> left;
}

}  // namespace

GroupSummary summarize_group(std::string name, Accumulator accumulator,
                             const zel_package::ProfileReport& report) {
  auto& durations = accumulator.durations;
  std::sort(durations.begin(), durations.end());

  std::uint64_t phase_cycles = 0;
  for (const auto& [phase_epoch, intervals] : accumulator.phases) {
    phase_cycles = detail::checked_add(phase_cycles, union_length(intervals), "phase cycles");
  }

  const std::size_t sample_count = durations.size();
  const double mean_cycles = sample_count == 0 ? 0.0
                                               : static_cast<double>(accumulator.work_cycles) /
                                                     static_cast<double>(sample_count);
  const double average_active_tiles =
      phase_cycles == 0
          ? 0.0
          : static_cast<double>(accumulator.work_cycles) / static_cast<double>(phase_cycles);

  return GroupSummary{
      .name = std::move(name),
      .dimensions = std::move(accumulator.dimensions),
      .sample_count = sample_count,
      .tile_count = accumulator.tiles.size(),
      .phase_count = accumulator.phases.size(),
      .phase_cycles = phase_cycles,
      .phase_ms = cycles_to_ms(phase_cycles, report.clock_hz),
      .work_cycles = accumulator.work_cycles,
      .average_active_tiles = average_active_tiles,
      .mean_cycles = mean_cycles,
      .p50_cycles = percentile(durations, 50),
      .p95_cycles = percentile(durations, 95),
      .maximum_cycles = durations.empty() ? 0 : durations.back(),
      .first_offset = accumulator.first_offset,
      .last_offset = accumulator.last_offset,
  };
}

std::uint64_t union_length(std::span<const Interval> intervals) {
  if (intervals.empty()) {
    return 0;
  }
  std::vector<Interval> sorted(intervals.begin(), intervals.end());
  std::sort(sorted.begin(), sorted.end());

  std::uint64_t start = sorted.front().first;
  std::uint64_t end = sorted.front().second;
  std::uint64_t total = 0;
  for (auto it = sorted.begin() + 1; it != sorted.end(); ++it) {
    const auto [next_start, next_end] = *it;
    if (next_start <= end) {
      end = std::max(end, next_end);
    } else {
      total = detail::checked_add(total, detail::checked_sub(end, start, "interval length"),
                                  "union length");
      start = next_start;
      end = next_end;
    }
  }
  return detail::checked_sub(detail::checked_add(total, end, "union length"), start,
                             "union length");
}

std::uint32_t percentile(std::span<const std::uint32_t> sorted, std::size_t percentage) {
  if (sorted.empty()) {
    return 0;
  }
  const std::size_t index =
      detail::checked_mul(sorted.size() - 1, std::min<std::size_t>(percentage, 100),
                          "percentile index") /
      100;
  return sorted[index];
}

double cycles_to_ms(std::uint64_t cycles, std::uint64_t clock_hz) {
  if (clock_hz == 0) {
    return 0.0;
  }
  return static_cast<double>(cycles) * 1000.0 / static_cast<double>(clock_hz);
}

std::strong_ordering compare_groups(SortBy sort_by, const GroupSummary& left,
                                    const GroupSummary& right) {
  std::strong_ordering primary = std::strong_ordering::equal;
  switch (sort_by) {
    case SortBy::PhaseCycles:
      primary = larger_first(left.phase_cycles, right.phase_cycles);
      break;
    case SortBy::WorkCycles:
      primary = larger_first(left.work_cycles, right.work_cycles);
      break;
    case SortBy::MaximumCycles:
      primary = larger_first(left.maximum_cycles, right.maximum_cycles);
      break;
    case SortBy::Samples:
      primary = larger_first(left.sample_count, right.sample_count);
      break;
    case SortBy::Name:
      primary = left.name <=> right.name;
      break;
  }
  if (primary != 0) {
    return primary;
  }
  if (auto by_offset = left.first_offset <=> right.first_offset; by_offset != 0) {
    return by_offset;
  }
  return left.name <=> right.name;
}

}  // namespace zel_profile
