// What the packed engine makes of each group it measures: a partial result that merges with
// others, or, when one pass sees every tile, the finished summary straight away, which spares
// keeping runs, tile ranges and length counts that only merging needs.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include <zel_profile/matching.hpp>
#include <zel_profile/partial.hpp>

#include "cell_figures.hpp"
#include "checked_arithmetic.hpp"
#include "summary_figures.hpp"
#include "tile_ranges.hpp"

namespace zel_profile::detail {

// Sums and bounds of one group over its cells.
struct GroupSums {
  std::uint64_t work_cycles = 0;
  std::uint64_t first_offset = UINT64_MAX;
  std::uint64_t last_offset = 0;

  void add(const CellFigures& cell) {
    work_cycles = checked_add(work_cycles, cell.work_cycles, "work cycles");
    first_offset = std::min(first_offset, cell.first_offset);
    last_offset = std::max(last_offset, cell.last_offset);
  }
};

// Groups as partial results. Cells must be added in ascending order of their (phase, epoch).
class PartialSink {
 public:
  void begin(const GroupKey& key, std::vector<TileRange> tiles) {
    PartialGroup& group = groups_.emplace_back();
    group.name = key.name;
    group.dimensions = key.dimensions;
    group.tiles = std::move(tiles);
    normalize_tiles(group.tiles);
    sums_ = GroupSums{};
  }

  void add_cell(PhaseEpoch phase_epoch, const CellFigures& figures,
                std::span<const Interval> runs) {
    sums_.add(figures);
    for (const Interval& run : runs) groups_.back().runs.push_back(PhaseRun{phase_epoch, run});
  }

  // `all` holds every sample of the group, for when `tally` did not count them.
  void end(const LengthTally& tally, std::span<const CellEntry> all, CellScratch& scratch) {
    PartialGroup& group = groups_.back();
    group.work_cycles = sums_.work_cycles;
    group.first_offset = sums_.first_offset;
    group.last_offset = sums_.last_offset;
    if (tally.counting()) {
      tally.append_counts(group.lengths);
    } else {
      append_length_counts(all, scratch, group.lengths);
    }
  }

  std::vector<PartialGroup> take() { return std::move(groups_); }

 private:
  std::vector<PartialGroup> groups_;
  GroupSums sums_;
};

// Groups as finished summaries; cells may come in any order.
class SummarySink {
 public:
  explicit SummarySink(std::uint64_t clock_hz) : clock_hz_(clock_hz) {}

  void begin(const GroupKey& key, std::vector<TileRange> tiles) {
    key_ = key;
    normalize_tiles(tiles);
    tile_count_ = tile_count(tiles);
    sums_ = GroupSums{};
    phase_count_ = 0;
    phase_cycles_ = 0;
  }

  void add_cell(PhaseEpoch, const CellFigures& figures, std::span<const Interval> runs) {
    sums_.add(figures);
    ++phase_count_;
    for (const Interval& run : runs) {
      phase_cycles_ = checked_add(phase_cycles_, run.second - run.first, "phase cycles");
    }
  }

  void end(const LengthTally& tally, std::span<const CellEntry> all, CellScratch& scratch) {
    summaries_.push_back(build_summary(
        std::move(key_.name), std::move(key_.dimensions),
        GroupFigures{.tile_count = tile_count_,
                     .phase_count = phase_count_,
                     .phase_cycles = phase_cycles_,
                     .work_cycles = sums_.work_cycles,
                     .first_offset = sums_.first_offset,
                     .last_offset = sums_.last_offset},
        tally.counting() ? tally.figures() : length_figures(all, scratch), clock_hz_));
  }

  std::vector<GroupSummary> take() { return std::move(summaries_); }

 private:
  std::uint64_t clock_hz_;
  std::vector<GroupSummary> summaries_;
  GroupKey key_;
  std::size_t tile_count_ = 0;
  GroupSums sums_;
  std::size_t phase_count_ = 0;
  std::uint64_t phase_cycles_ = 0;
};

}  // namespace zel_profile::detail
