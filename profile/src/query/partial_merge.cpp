// Merging partial results in tile order, and finishing a partial into the report.
#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>

#include <zel_profile/matching.hpp>
#include <zel_profile/partial.hpp>
#include <zel_profile/partial_bytes.hpp>
#include <zel_profile/summary.hpp>

#include "query/cell_figures.hpp"
#include "query/checked_arithmetic.hpp"
#include "query/group_merge.hpp"
#include "query/group_order.hpp"
#include "query/sample_selection.hpp"
#include "query/summary_figures.hpp"
#include "scan/tile_ranges.hpp"

namespace zel_profile {
namespace {

// Runs of both groups, each ascending by (phase, epoch) and start, merged so: ascending, and the
// runs of one (phase, epoch) neither overlapping nor touching.
std::vector<PhaseRun> merge_runs(const std::vector<PhaseRun>& left,
                                 const std::vector<PhaseRun>& right) {
  const auto before = [](const PhaseRun& a, const PhaseRun& b) {
    return a.phase_epoch != b.phase_epoch ? a.phase_epoch < b.phase_epoch
                                          : a.interval.first < b.interval.first;
  };
  std::vector<PhaseRun> all;
  all.reserve(left.size() + right.size());
  std::merge(left.begin(), left.end(), right.begin(), right.end(), std::back_inserter(all), before);
  std::vector<PhaseRun> merged;
  merged.reserve(all.size());
  detail::union_runs_by_key(
      std::span<const PhaseRun>(all), [](const PhaseRun& run) { return run.phase_epoch; },
      [](const PhaseRun& run) { return run.interval; },
      [&](PhaseEpoch key, std::uint64_t start, std::uint64_t end) {
        merged.push_back({key, {start, end}});
      });
  return merged;
}

}  // namespace

namespace detail {

PartialGroup merge_group(PartialGroup left, const PartialGroup& right) {
  if (left.finished || right.finished) {
    throw std::invalid_argument("cannot merge group \"" + left.name +
                                "\" from two results when one holds all of it: each profile is "
                                "queried once, as a chip of its own");
  }
  left.tiles.insert(left.tiles.end(), right.tiles.begin(), right.tiles.end());
  detail::normalize_tiles(left.tiles);
  left.runs = merge_runs(left.runs, right.runs);
  left.work_cycles = detail::checked_add(left.work_cycles, right.work_cycles, "work cycles");
  left.first_offset = std::min(left.first_offset, right.first_offset);
  left.last_offset = std::max(left.last_offset, right.last_offset);
  left.lengths = add_length_counts(left.lengths, right.lengths);
  return left;
}

}  // namespace detail

PartialQuery merge(PartialQuery left, PartialQuery right, const Query& query) {
  check_partial_query(left, query);
  check_partial_query(right, query);
  if (left.tile_count == 0) {
    left.clock_hz = right.clock_hz;
  } else if (right.tile_count != 0 && left.clock_hz != right.clock_hz) {
    throw std::invalid_argument("cannot merge results of profiles with different clock rates (" +
                                std::to_string(left.clock_hz) + " and " +
                                std::to_string(right.clock_hz) + " Hz)");
  }
  if (left.tile_count != 0 && right.tile_count != 0 && right.first_chip < left.last_chip) {
    throw std::invalid_argument("cannot merge the results of chip " +
                                std::to_string(right.first_chip) + " after those of chip " +
                                std::to_string(left.last_chip) +
                                ": results merge in the order of their profiles");
  }
  left.first_chip = std::min(left.first_chip, right.first_chip);
  left.last_chip = std::max(left.last_chip, right.last_chip);
  left.tile_count = detail::checked_add(left.tile_count, right.tile_count, "tile count");
  left.sample_count = detail::checked_add(left.sample_count, right.sample_count, "sample count");
  left.matched_sample_count = detail::checked_add(
      left.matched_sample_count, right.matched_sample_count, "matched sample count");
  left.profile_span_cycles = std::max(left.profile_span_cycles, right.profile_span_cycles);

  std::vector<PartialGroup> groups;
  groups.reserve(left.groups.size() + right.groups.size());
  auto l = left.groups.begin();
  auto r = right.groups.begin();
  while (l != left.groups.end() || r != right.groups.end()) {
    if (r == right.groups.end() || (l != left.groups.end() && l->name < r->name)) {
      groups.push_back(std::move(*l++));
    } else if (l == left.groups.end() || r->name < l->name) {
      groups.push_back(std::move(*r++));
    } else {
      groups.push_back(detail::merge_group(std::move(*l++), *r++));
    }
  }
  left.groups = std::move(groups);

  // Left's tiles come first, so on equal keys its samples, matched first, come first.
  left.samples = detail::merge_reported(std::move(left.samples), right.samples, query.sample_limit);
  return left;
}

QueryReport finish(PartialQuery partial, const Query& query) {
  check_partial_query(partial, query);
  std::vector<GroupSummary> summaries;
  summaries.reserve(partial.groups.size());
  const bool several_chips = partial.first_chip != partial.last_chip;
  for (PartialGroup& group : partial.groups) {
    if (several_chips && query.group_by == GroupBy::Tile && !group.dimensions.contains("chip") &&
        !group.tiles.empty()) {
      // A tile group of chip 0, named before it was known to be one of several chips.
      GroupKey key = tile_group_key(group.tiles.front().first, group.tiles.front().chip, true);
      group.name = std::move(key.name);
      group.dimensions = std::move(key.dimensions);
    }
    std::uint64_t phase_cycles = 0;
    std::size_t phase_count = 0;
    detail::DurationFigures lengths;
    if (group.finished) {
      const FinishedFigures& figures = *group.finished;
      phase_count = figures.phase_count;
      phase_cycles = figures.phase_cycles;
      lengths = {.sample_count = figures.sample_count,
                 .p50 = figures.p50,
                 .p95 = figures.p95,
                 .maximum = figures.maximum};
    } else {
      lengths = detail::duration_figures_of_counts(group.lengths);
    }
    for (std::size_t i = 0; i < group.runs.size(); ++i) {
      const PhaseRun& run = group.runs[i];
      if (i == 0 || group.runs[i - 1].phase_epoch != run.phase_epoch) ++phase_count;
      phase_cycles = detail::checked_add(
          phase_cycles,
          detail::checked_sub(run.interval.second, run.interval.first, "interval length"),
          "phase cycles");
    }
    summaries.push_back(
        detail::build_summary(std::move(group.name), std::move(group.dimensions),
                              detail::GroupFigures{.tile_count = detail::tile_count(group.tiles),
                                                   .phase_count = phase_count,
                                                   .phase_cycles = phase_cycles,
                                                   .work_cycles = group.work_cycles,
                                                   .first_offset = group.first_offset,
                                                   .last_offset = group.last_offset},
                              lengths, partial.clock_hz));
  }
  return detail::assemble_report(query,
                                 {.clock_hz = partial.clock_hz,
                                  .tile_count = partial.tile_count,
                                  .sample_count = partial.sample_count,
                                  .matched_sample_count = partial.matched_sample_count,
                                  .span_cycles = partial.profile_span_cycles},
                                 std::move(summaries), std::move(partial.samples));
}

PartialQuery merge_in_order(std::vector<PartialQuery> partials, const Query& query) {
  if (partials.empty()) throw std::invalid_argument("no partial results to merge");
  PartialQuery merged = std::move(partials.front());
  for (std::size_t i = 1; i < partials.size(); ++i) {
    merged = merge(std::move(merged), std::move(partials[i]), query);
  }
  return merged;
}

}  // namespace zel_profile
