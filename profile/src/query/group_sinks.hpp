// What the packed engine makes of each group it measures: a partial result that merges with
// others, or, when one pass sees every tile, the finished summary straight away, which spares
// keeping runs, tile ranges and length counts that only merging needs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <zel_profile/matching.hpp>
#include <zel_profile/partial.hpp>

#include "query/cell_figures.hpp"
#include "query/checked_arithmetic.hpp"
#include "query/summary_figures.hpp"
#include "scan/tile_ranges.hpp"

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

// The (phase, epoch) pairs a group has runs in, and the runs' summed length.
struct PhaseSums {
  std::size_t phase_count = 0;
  std::uint64_t phase_cycles = 0;

  void add(std::span<const Interval> runs) {
    ++phase_count;
    for (const Interval& run : runs) {
      phase_cycles = checked_add(phase_cycles, run.second - run.first, "phase cycles");
    }
  }
};

// Groups as partial results. Cells must be added in ascending order of their (phase, epoch). A
// fragment of a group becomes a partial group of its own, to be merged with the others by name.
// Made `finishing`, the sink gives each group its finished figures instead of runs and lengths:
// for groups that hold all of their samples, which are never fragments.
class PartialSink {
 public:
  explicit PartialSink(bool finishing = false) : finishing_(finishing) {}

  void begin(const GroupKey& key, std::vector<TileRange> tiles, bool /*fragment*/) {
    PartialGroup& group = groups_.emplace_back();
    group.name = key.name;
    group.dimensions = key.dimensions;
    group.tiles = std::move(tiles);
    normalize_tiles(group.tiles);
    sums_ = GroupSums{};
    phases_ = PhaseSums{};
  }

  void add_cell(PhaseEpoch phase_epoch, const CellFigures& figures,
                std::span<const Interval> runs) {
    sums_.add(figures);
    if (finishing_) {
      phases_.add(runs);
      return;
    }
    for (const Interval& run : runs) groups_.back().runs.push_back(PhaseRun{phase_epoch, run});
  }

  // `all` holds every sample of the group, for when `tally` did not count them.
  void end(const LengthTally& tally, std::span<const CellEntry> all, CellScratch& scratch) {
    PartialGroup& group = groups_.back();
    group.work_cycles = sums_.work_cycles;
    group.first_offset = sums_.first_offset;
    group.last_offset = sums_.last_offset;
    if (finishing_) {
      const DurationFigures lengths =
          tally.counting() ? tally.figures() : length_figures(all, scratch);
      group.finished = FinishedFigures{.phase_count = phases_.phase_count,
                                       .phase_cycles = phases_.phase_cycles,
                                       .sample_count = lengths.sample_count,
                                       .p50 = lengths.p50,
                                       .p95 = lengths.p95,
                                       .maximum = lengths.maximum};
    } else if (tally.counting()) {
      tally.append_counts(group.lengths);
    } else {
      append_length_counts(all, scratch, group.lengths);
    }
  }

  std::vector<PartialGroup> take() { return std::move(groups_); }

 private:
  bool finishing_;
  std::vector<PartialGroup> groups_;
  GroupSums sums_;
  PhaseSums phases_;
};

// Groups as finished summaries; cells may come in any order. Fragments of a group, which the
// sinks of neighbouring shares and batches hold, keep their lengths as counts: each sink joins its
// fragments of a group as they come, and take_all joins the sinks'.
class SummarySink {
 public:
  explicit SummarySink(std::uint64_t clock_hz) : clock_hz_(clock_hz) {}

  void begin(const GroupKey& key, std::vector<TileRange> tiles, bool fragment) {
    current_ = Group{.key = key, .tiles = std::move(tiles)};
    fragment_ = fragment;
  }

  void add_cell(PhaseEpoch, const CellFigures& figures, std::span<const Interval> runs) {
    current_.sums.add(figures);
    current_.phases.add(runs);
  }

  void end(const LengthTally& tally, std::span<const CellEntry> all, CellScratch& scratch) {
    if (!fragment_) {
      summaries_.push_back(summary(
          std::move(current_), tally.counting() ? tally.figures() : length_figures(all, scratch)));
      return;
    }
    if (tally.counting()) {
      tally.append_counts(current_.lengths);
    } else {
      append_length_counts(all, scratch, current_.lengths);
    }
    const auto [at, fresh] = fragment_at_.try_emplace(current_.key.name, fragments_.size());
    if (fresh) {
      fragments_.push_back(std::move(current_));
    } else {
      join(fragments_[at->second], current_);
    }
  }

  // The summaries of every sink, fragments joined; `sinks` in order of their shares.
  static std::vector<GroupSummary> take_all(std::vector<SummarySink>& sinks) {
    std::vector<GroupSummary> summaries;
    std::vector<Group> fragments;
    for (SummarySink& sink : sinks) {
      std::move(sink.summaries_.begin(), sink.summaries_.end(), std::back_inserter(summaries));
      std::move(sink.fragments_.begin(), sink.fragments_.end(), std::back_inserter(fragments));
    }
    std::stable_sort(fragments.begin(), fragments.end(),
                     [](const Group& a, const Group& b) { return a.key.name < b.key.name; });
    for (std::size_t first = 0; first < fragments.size();) {
      Group joined = std::move(fragments[first]);
      std::size_t next = first + 1;
      for (; next < fragments.size() && fragments[next].key.name == joined.key.name; ++next) {
        join(joined, fragments[next]);
      }
      const DurationFigures lengths = duration_figures_of_counts(joined.lengths);
      summaries.push_back(sinks.front().summary(std::move(joined), lengths));
      first = next;
    }
    return summaries;
  }

 private:
  struct Group {
    GroupKey key;
    std::vector<TileRange> tiles;
    GroupSums sums;
    PhaseSums phases;
    std::vector<LengthCount> lengths;  // of a fragment
  };

  // Joins fragment `more` of a group into fragment `into` of the same group.
  static void join(Group& into, const Group& more) {
    into.tiles.insert(into.tiles.end(), more.tiles.begin(), more.tiles.end());
    normalize_tiles(into.tiles);
    into.sums.work_cycles =
        checked_add(into.sums.work_cycles, more.sums.work_cycles, "work cycles");
    into.sums.first_offset = std::min(into.sums.first_offset, more.sums.first_offset);
    into.sums.last_offset = std::max(into.sums.last_offset, more.sums.last_offset);
    into.phases.phase_count += more.phases.phase_count;
    into.phases.phase_cycles =
        checked_add(into.phases.phase_cycles, more.phases.phase_cycles, "phase cycles");
    into.lengths = add_length_counts(into.lengths, more.lengths);
  }

  GroupSummary summary(Group group, const DurationFigures& lengths) const {
    normalize_tiles(group.tiles);
    return build_summary(std::move(group.key.name), std::move(group.key.dimensions),
                         GroupFigures{.tile_count = tile_count(group.tiles),
                                      .phase_count = group.phases.phase_count,
                                      .phase_cycles = group.phases.phase_cycles,
                                      .work_cycles = group.sums.work_cycles,
                                      .first_offset = group.sums.first_offset,
                                      .last_offset = group.sums.last_offset},
                         lengths, clock_hz_);
  }

  std::uint64_t clock_hz_;
  std::vector<GroupSummary> summaries_;
  std::vector<Group> fragments_;
  std::map<std::string, std::size_t> fragment_at_;  // by name: the place in fragments_
  Group current_;
  bool fragment_ = false;
};

}  // namespace zel_profile::detail
