#include "cell_figures.hpp"

#include <algorithm>

#include "radix_sort.hpp"

namespace zel_profile::detail {
namespace {

// Below this many intervals a cell is sorted; a sweep over its range would cost more.
constexpr std::size_t few_entries = 24;

// A range of values is walked through when it is at most this many times the number of entries,
// plus a constant that keeps small groups from sorting.
constexpr std::uint64_t range_per_entry = 4;
constexpr std::uint64_t range_slack = 4096;

bool small_range(std::uint64_t range, std::size_t count) {
  return range <= range_per_entry * count + range_slack;
}

Interval bounds(const CellEntry& entry) {
  return {entry.start, std::uint64_t{entry.start} + entry.length};
}

// The union's length from the farthest end reached at each start position: a position is covered
// when some interval starting at or before it ends after it.
std::uint64_t union_by_sweep(std::span<const CellEntry> entries, std::uint64_t first,
                             std::uint64_t range, std::vector<std::uint32_t>& reach) {
  reach.assign(range + 1, 0);  // a zero-length interval may start at the very end
  for (const CellEntry& entry : entries) {
    const auto at = static_cast<std::size_t>(entry.start - first);
    const auto end = static_cast<std::uint32_t>(entry.start - first + std::uint64_t{entry.length});
    reach[at] = std::max(reach[at], end);
  }
  std::uint64_t covered = 0;
  std::uint32_t farthest = 0;
  for (std::uint32_t position = 0; position < range; ++position) {
    farthest = std::max(farthest, reach[position]);
    covered += farthest > position;
  }
  return covered;
}

}  // namespace

std::uint64_t union_of_sorted(std::span<const CellEntry> entries) {
  return union_length_of_sorted(entries, bounds);
}

CellFigures cell_figures(std::span<CellEntry> entries, CellScratch& scratch) {
  CellFigures figures{.union_length = 0,
                      .work_cycles = 0,
                      .first_offset = entries.front().start,
                      .last_offset = 0,
                      .shortest = entries.front().length,
                      .longest = 0};
  for (const CellEntry& entry : entries) {
    figures.work_cycles += entry.length;
    figures.first_offset = std::min<std::uint64_t>(figures.first_offset, entry.start);
    figures.last_offset = std::max(figures.last_offset, std::uint64_t{entry.start} + entry.length);
    figures.shortest = std::min(figures.shortest, entry.length);
    figures.longest = std::max(figures.longest, entry.length);
  }
  const std::uint64_t range = figures.last_offset - figures.first_offset;
  if (entries.size() > few_entries && small_range(range, entries.size())) {
    figures.union_length = union_by_sweep(entries, figures.first_offset, range, scratch.reach);
    return figures;
  }
  if (entries.size() <= few_entries) {
    std::sort(entries.begin(), entries.end(),
              [](const CellEntry& a, const CellEntry& b) { return a.start < b.start; });
  } else {
    radix_sort(entries, scratch.entries, [](const CellEntry& entry) { return entry.start; });
  }
  figures.union_length = union_of_sorted(entries);
  return figures;
}

DurationFigures length_figures(std::span<const CellEntry> entries, std::uint32_t shortest,
                               std::uint32_t longest, CellScratch& scratch) {
  const std::size_t count = entries.size();
  if (count == 0) {
    return DurationFigures{};
  }
  const std::uint64_t range = std::uint64_t{longest} - shortest;
  if (count > few_entries && count < UINT32_MAX && small_range(range, count)) {
    // Counts per length, then a walk to the lengths at the percentile indexes.
    auto& counts = scratch.counts;
    counts.assign(range + 1, 0);
    for (const CellEntry& entry : entries) {
      ++counts[entry.length - shortest];
    }
    const std::size_t at_p50 = percentile_index(count, 50);
    const std::size_t at_p95 = percentile_index(count, 95);
    DurationFigures figures{.sample_count = count, .p50 = 0, .p95 = 0, .maximum = longest};
    std::size_t seen = 0;
    bool p50_found = false;
    for (std::size_t value = 0; value <= range; ++value) {
      seen += counts[value];
      if (!p50_found && seen > at_p50) {
        figures.p50 = static_cast<std::uint32_t>(shortest + value);
        p50_found = true;
      }
      if (seen > at_p95) {
        figures.p95 = static_cast<std::uint32_t>(shortest + value);
        break;
      }
    }
    return figures;
  }
  auto& lengths = scratch.lengths;
  lengths.resize(count);
  std::transform(entries.begin(), entries.end(), lengths.begin(),
                 [](const CellEntry& entry) { return entry.length; });
  return duration_figures_by_selection(lengths);
}

}  // namespace zel_profile::detail
