#include <zel_profile/summary.hpp>

#include <algorithm>
#include <utility>
#include <vector>

#include "query/checked_arithmetic.hpp"
#include "query/summary_figures.hpp"

namespace zel_profile {
namespace {

template <typename T>
std::strong_ordering larger_first(T left, T right) {
  return right <=> left;
}

}  // namespace

namespace detail {

std::size_t percentile_index(std::size_t count, std::size_t percentage) {
  return checked_mul(count - 1, std::min<std::size_t>(percentage, 100), "percentile index") / 100;
}

DurationFigures duration_figures_of_sorted(std::span<const std::uint32_t> sorted) {
  return DurationFigures{.sample_count = sorted.size(),
                         .p50 = percentile(sorted, 50),
                         .p95 = percentile(sorted, 95),
                         .maximum = sorted.empty() ? 0 : sorted.back()};
}

DurationFigures duration_figures_by_selection(std::span<std::uint32_t> durations) {
  if (durations.empty()) {
    return DurationFigures{};
  }
  const auto p50 =
      durations.begin() + static_cast<std::ptrdiff_t>(percentile_index(durations.size(), 50));
  const auto p95 =
      durations.begin() + static_cast<std::ptrdiff_t>(percentile_index(durations.size(), 95));
  // After the first selection everything before p95 is at most its value and everything after at
  // least, so the 50th percentile lies before it and the maximum after it.
  std::nth_element(durations.begin(), p95, durations.end());
  std::nth_element(durations.begin(), p50, p95);
  return DurationFigures{.sample_count = durations.size(),
                         .p50 = *p50,
                         .p95 = *p95,
                         .maximum = *std::max_element(p95, durations.end())};
}

DurationFigures duration_figures_of_counts(std::span<const LengthCount> lengths) {
  std::size_t count = 0;
  for (const LengthCount& length : lengths) {
    count = checked_add(count, static_cast<std::size_t>(length.count), "sample count");
  }
  if (count == 0) {
    return DurationFigures{};
  }
  PercentileWalk walk(count);
  for (const LengthCount& length : lengths) {
    if (!walk.offer(length.length, static_cast<std::size_t>(length.count))) break;
  }
  return DurationFigures{.sample_count = count,
                         .p50 = walk.p50(),
                         .p95 = walk.p95(),
                         .maximum = lengths.back().length};
}

GroupSummary build_summary(std::string name, std::map<std::string, std::string> dimensions,
                           const GroupFigures& figures, const DurationFigures& durations,
                           std::uint64_t clock_hz) {
  const double mean_cycles =
      durations.sample_count == 0
          ? 0.0
          : static_cast<double>(figures.work_cycles) / static_cast<double>(durations.sample_count);
  const double average_active_tiles =
      figures.phase_cycles == 0
          ? 0.0
          : static_cast<double>(figures.work_cycles) / static_cast<double>(figures.phase_cycles);
  return GroupSummary{
      .name = std::move(name),
      .dimensions = std::move(dimensions),
      .sample_count = durations.sample_count,
      .tile_count = figures.tile_count,
      .phase_count = figures.phase_count,
      .phase_cycles = figures.phase_cycles,
      .phase_ms = cycles_to_ms(figures.phase_cycles, clock_hz),
      .work_cycles = figures.work_cycles,
      .average_active_tiles = average_active_tiles,
      .mean_cycles = mean_cycles,
      .p50_cycles = durations.p50,
      .p95_cycles = durations.p95,
      .maximum_cycles = durations.maximum,
      .first_offset = figures.first_offset,
      .last_offset = figures.last_offset,
  };
}

}  // namespace detail

GroupSummary summarize_group(std::string name, Accumulator accumulator,
                             const zel_package::ProfileReport& report) {
  auto& durations = accumulator.durations;
  std::sort(durations.begin(), durations.end());

  std::uint64_t phase_cycles = 0;
  for (const auto& [phase_epoch, intervals] : accumulator.phases) {
    phase_cycles = detail::checked_add(phase_cycles, union_length(intervals), "phase cycles");
  }

  return detail::build_summary(std::move(name), std::move(accumulator.dimensions),
                               detail::GroupFigures{.tile_count = accumulator.tiles.size(),
                                                    .phase_count = accumulator.phases.size(),
                                                    .phase_cycles = phase_cycles,
                                                    .work_cycles = accumulator.work_cycles,
                                                    .first_offset = accumulator.first_offset,
                                                    .last_offset = accumulator.last_offset},
                               detail::duration_figures_of_sorted(durations), report.clock_hz);
}

std::uint64_t union_length(std::span<const Interval> intervals) {
  std::vector<Interval> sorted(intervals.begin(), intervals.end());
  std::sort(sorted.begin(), sorted.end());
  return detail::union_length_of_sorted(std::span<const Interval>(sorted),
                                        [](const Interval& interval) { return interval; });
}

std::uint32_t percentile(std::span<const std::uint32_t> sorted, std::size_t percentage) {
  if (sorted.empty()) {
    return 0;
  }
  return sorted[detail::percentile_index(sorted.size(), percentage)];
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
