#include "group_totals.hpp"

#include <algorithm>
#include <span>
#include <utility>

#include "checked_arithmetic.hpp"
#include "radix_sort.hpp"
#include "summary_figures.hpp"

namespace zel_profile::detail {
namespace {

// Up to this many distinct (phase, epoch) pairs a group finds its pair by a linear search, which
// spares the many small groups of a grouping by phase an index of their own.
constexpr std::size_t linear_search_limit = 8;

// Room for the first samples and tiles of every group, to skip the smallest reallocations.
constexpr std::size_t initial_samples = 16;
constexpr std::size_t initial_tiles = 8;

Interval bounds(const Occupancy& occupancy) {
  return {occupancy.start, std::uint64_t{occupancy.start} + occupancy.length};
}

}  // namespace

GroupTotals::GroupTotals(std::uint64_t first_offset) : first_offset_(first_offset) {
  samples_.reserve(initial_samples);
  tiles_.reserve(initial_tiles);
}

std::uint32_t GroupTotals::phase_slot(std::uint64_t phase_key) {
  if (!phase_keys_.empty() && phase_keys_[last_slot_] == phase_key) {
    return last_slot_;
  }
  std::uint32_t slot = HashIndex::none;
  if (phase_keys_.size() <= linear_search_limit) {
    const auto found = std::find(phase_keys_.begin(), phase_keys_.end(), phase_key);
    if (found != phase_keys_.end()) {
      slot = static_cast<std::uint32_t>(found - phase_keys_.begin());
    }
  } else {
    slot = phase_index_.find(hash_number(phase_key),
                             [&](std::uint32_t at) { return phase_keys_[at] == phase_key; });
  }
  if (slot == HashIndex::none) {
    slot = static_cast<std::uint32_t>(phase_keys_.size());
    phase_keys_.push_back(phase_key);
    if (phase_keys_.size() == linear_search_limit + 1) {
      // From now on the index finds the pairs; it starts with all of them.
      for (std::uint32_t known = 0; known < phase_keys_.size(); ++known) {
        phase_index_.insert(hash_number(phase_keys_[known]), known);
      }
    } else if (phase_keys_.size() > linear_search_limit + 1) {
      phase_index_.insert(hash_number(phase_key), slot);
    }
  }
  last_slot_ = slot;
  return slot;
}

void GroupTotals::add(std::uint32_t tile, std::uint64_t phase_key, std::uint64_t offset,
                      std::uint32_t sample_duration, std::uint64_t end) {
  samples_.push_back(Occupancy{.start = static_cast<std::uint32_t>(offset),
                               .length = sample_duration,
                               .phase_slot = phase_slot(phase_key)});
  if (tiles_.empty() || tiles_.back() != tile) {
    tiles_.push_back(tile);
  }
  work_cycles_ = checked_add<std::uint64_t>(work_cycles_, sample_duration, "work cycles");
  first_offset_ = std::min(first_offset_, offset);
  last_offset_ = std::max(last_offset_, end);
}

GroupSummary GroupTotals::summarize(std::string name, std::map<std::string, std::string> dimensions,
                                    std::uint64_t clock_hz, SummaryScratch& scratch) {
  auto& durations = scratch.durations;
  durations.resize(samples_.size());
  std::transform(samples_.begin(), samples_.end(), durations.begin(),
                 [](const Occupancy& occupancy) { return occupancy.length; });

  std::sort(tiles_.begin(), tiles_.end());
  const auto distinct_tiles =
      static_cast<std::size_t>(std::unique(tiles_.begin(), tiles_.end()) - tiles_.begin());

  // Ordered by (phase, epoch) slot, then by start: each slot's intervals become one run. The
  // union's length does not depend on the order of intervals with equal starts.
  radix_sort(samples_, scratch.occupancy_buffer, [](const Occupancy& occupancy) {
    return (std::uint64_t{occupancy.phase_slot} << 32) | occupancy.start;
  });
  std::uint64_t phase_cycles = 0;
  const std::span<const Occupancy> sorted(samples_);
  for (std::size_t first = 0; first < sorted.size();) {
    std::size_t last = first + 1;
    while (last < sorted.size() && sorted[last].phase_slot == sorted[first].phase_slot) {
      ++last;
    }
    phase_cycles = checked_add(phase_cycles,
                               union_length_of_sorted(sorted.subspan(first, last - first), bounds),
                               "phase cycles");
    first = last;
  }

  return build_summary(std::move(name), std::move(dimensions),
                       GroupFigures{.tile_count = distinct_tiles,
                                    .phase_count = phase_keys_.size(),
                                    .phase_cycles = phase_cycles,
                                    .work_cycles = work_cycles_,
                                    .first_offset = first_offset_,
                                    .last_offset = last_offset_},
                       duration_figures_by_selection(durations), clock_hz);
}

}  // namespace zel_profile::detail
