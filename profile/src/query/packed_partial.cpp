// The packed engine: a query's result over a range of a packed profile's tiles.
//
// Everything that depends on a step alone (the step filters, the group, the (phase, epoch)) is
// decided once per distinct step (step_routes). Grouping by step, the samples are then read once,
// a batch of time at a time (sample_passes): each batch's matched samples are sorted by cell, each
// cell's union of intervals measured, and group by group its sums and lengths (here) handed to a
// sink that makes partial groups or finished summaries (group_sinks). Threads share the tiles
// while reading and the cells while measuring. Grouping by tile keeps each physical tile's samples
// apart instead, since there the group depends on the tile. Union runs and length counts do not
// depend on the order in which samples are visited, so the report is the same bit for bit for any
// number of threads or batches.
#include "query/packed_partial.hpp"

#include <algorithm>
#include <exception>
#include <iterator>
#include <numeric>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <zel_profile/partial_bytes.hpp>
#include <zel_profile/query.hpp>
#include <zel_profile/summary.hpp>

#include "query/cell_figures.hpp"
#include "query/checked_arithmetic.hpp"
#include "query/group_merge.hpp"
#include "query/group_order.hpp"
#include "query/group_sinks.hpp"
#include "query/radix_sort.hpp"
#include "query/sample_selection.hpp"
#include "scan/run_parallel.hpp"
#include "scan/sample_passes.hpp"
#include "scan/step_matching.hpp"
#include "scan/tile_ranges.hpp"

namespace zel_profile::detail {
namespace {

using zel_package::PackedProfile;
using zel_package::PackedSample;

// Measures the cells cells[first] .. cells[end - 1], ascending (so that a group's cells are side
// by side), whose samples lie at entries[begin[i]] .. entries[begin[i + 1] - 1], group by group,
// into `sink`. A group whose cells the range holds only in part goes to the sink as a fragment, to
// be joined with the rest of the group from the neighbouring range or another batch: the one large
// group of a query can so be shared out too.
template <typename Sink>
void measure_step_cells(std::span<const std::uint32_t> cells, std::span<const std::size_t> begin,
                        CellEntry* entries, std::size_t first, std::size_t end,
                        const StepRoutes& routes, const std::vector<std::uint32_t>& group_of_cell,
                        const std::vector<CellCount>& counts,
                        std::vector<std::vector<TileRange>>& group_tiles, CellScratch& scratch,
                        Sink& sink) {
  for (std::size_t from = first; from < end;) {
    const std::uint32_t g = group_of_cell[cells[from]];
    std::size_t to = from + 1;
    while (to < end && group_of_cell[cells[to]] == g) ++to;
    const bool fragment = to - from != routes.group_cells[g + 1] - routes.group_cells[g];
    const std::size_t first_entry = begin[from];
    const std::size_t last_entry = begin[to];
    if (first_entry != last_entry) {  // else no sample of the group matched here
      std::uint32_t shortest = UINT32_MAX;
      std::uint32_t longest = 0;
      for (std::size_t c = from; c < to; ++c) {
        shortest = std::min(shortest, counts[cells[c]].shortest);
        longest = std::max(longest, counts[cells[c]].longest);
      }
      sink.begin(routes.groups[g], fragment ? group_tiles[g] : std::move(group_tiles[g]), fragment);
      LengthTally tally(last_entry - first_entry, shortest, longest, scratch.length_counts);
      for (std::size_t c = from; c < to; ++c) {
        if (begin[c] == begin[c + 1]) continue;
        const CellFigures figures = from_origin(
            cell_figures(std::span(entries + begin[c], begin[c + 1] - begin[c]), scratch, tally),
            scratch.runs, routes.selection.origin());
        sink.add_cell(routes.cell_phase_epochs[cells[c]], figures, scratch.runs);
      }
      sink.end(tally, std::span(entries + first_entry, last_entry - first_entry), scratch);
    }
    from = to;
  }
}

// A matched sample of a tile group: its cell (the number of its (phase, epoch)) and interval.
struct TileEntry {
  std::uint32_t cell;
  CellEntry interval;
};

std::uint64_t tile_entry_key(const TileEntry& entry) {
  return (std::uint64_t{entry.cell} << 32) | entry.interval.start;
}

// One cell of a tile group, measured.
struct MeasuredCell {
  std::uint32_t rank;  // of the cell's (phase, epoch) among all pairs
  std::uint32_t cell;
  CellFigures figures;
  std::size_t first_run;
  std::size_t run_count;
};

// The tiles first_tile .. end_tile - 1 in ascending order of physical number, entries of one number
// in profile order.
std::vector<std::uint32_t> tiles_by_number(const PackedProfile& profile, std::size_t first_tile,
                                           std::size_t end_tile) {
  std::vector<std::uint32_t> order(end_tile - first_tile);
  std::iota(order.begin(), order.end(), static_cast<std::uint32_t>(first_tile));
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return profile.tiles[a].physical_tile < profile.tiles[b].physical_tile;
  });
  return order;
}

// The place in match order of the first sample of each tile t of first_tile .. end_tile - 1, at
// [t]; for walks that meet the samples in another order.
std::vector<std::uint64_t> match_order_starts(const PackedProfile& profile, std::size_t first_tile,
                                              std::size_t end_tile) {
  std::vector<std::uint64_t> starts(end_tile + 1, 0);
  for (std::size_t t = first_tile; t < end_tile; ++t) {
    starts[t + 1] = starts[t] + profile.tiles[t].samples.size();
  }
  return starts;
}

// What the walk over tile groups sees besides them: the totals over every sample, the matched
// samples' count and the longest of them.
struct TileWalk {
  ScanTotals totals;
  std::size_t matched = 0;
  SampleSelection longest;
};

// The tile groups of the tiles in `order` (a run of tiles_by_number that does not split a
// physical number), into `sink`, and what the walk sees into `walk` (`first_order` from
// match_order_starts): each physical tile's samples (from every tile entry of that number)
// ordered by cell and start, which is how a tile lists them in practice, so that the sort is
// mostly skipped.
template <typename Sink>
void measure_tile_groups(const PackedProfile& profile, std::span<const std::uint32_t> order,
                         const Query& query, const StepRoutes& routes, std::uint32_t chip,
                         const std::vector<std::uint64_t>& first_order, TileWalk& walk,
                         Sink& sink) {
  std::vector<TileEntry> matched;
  std::vector<TileEntry> sort_scratch;
  std::vector<CellEntry> intervals;
  std::vector<Interval> runs;
  std::vector<MeasuredCell> cells;
  // For putting a group's cells in ascending order of their pairs: by rank, the cell's place in
  // `cells`.
  std::vector<std::uint32_t> at_rank(routes.cell_count, UINT32_MAX);
  CellScratch scratch;
  for (std::size_t first = 0; first < order.size();) {
    const std::uint32_t physical = profile.tiles[order[first]].physical_tile;
    std::size_t last = first;
    matched.clear();
    for (; last < order.size() && profile.tiles[order[last]].physical_tile == physical; ++last) {
      const ScanTotals seen =
          scan(profile, routes.selection, order[last], order[last] + 1,
               [&](const ScannedSample& sample) {
                 matched.push_back(TileEntry{routes.routes[sample.step].cell,
                                             cell_entry(sample, routes.selection.origin())});
                 if (walk.longest.wanted()) {
                   walk.longest.offer(physical, sample.offset, sample.length, sample.step,
                                      first_order[sample.tile] + sample.index);
                 }
               });
      walk.totals.samples += seen.samples;
      walk.totals.span_cycles = std::max(walk.totals.span_cycles, seen.span_cycles);
    }
    walk.matched += matched.size();
    first = last;
    if (matched.empty()) continue;

    if (!std::is_sorted(matched.begin(), matched.end(), [](const TileEntry& a, const TileEntry& b) {
          return tile_entry_key(a) < tile_entry_key(b);
        })) {
      radix_sort(matched, sort_scratch, tile_entry_key);
    }
    intervals.resize(matched.size());
    std::transform(matched.begin(), matched.end(), intervals.begin(),
                   [](const TileEntry& entry) { return entry.interval; });
    std::uint32_t shortest = UINT32_MAX;
    std::uint32_t longest = 0;
    for (const TileEntry& entry : matched) {
      shortest = std::min(shortest, entry.interval.length);
      longest = std::max(longest, entry.interval.length);
    }
    sink.begin(step_group_key(query, physical, profile.steps.front(), chip),
               {TileRange{physical, physical, chip}}, false);
    LengthTally tally(matched.size(), shortest, longest, scratch.length_counts);
    runs.clear();
    cells.clear();
    for (std::size_t begin = 0; begin < matched.size();) {
      std::size_t end = begin + 1;
      while (end < matched.size() && matched[end].cell == matched[begin].cell) ++end;
      const CellFigures figures = from_origin(
          cell_figures(std::span(intervals.data() + begin, end - begin), scratch, tally),
          scratch.runs, routes.selection.origin());
      const std::uint32_t cell = matched[begin].cell;
      cells.push_back({routes.cell_ranks[cell], cell, figures, runs.size(), scratch.runs.size()});
      runs.insert(runs.end(), scratch.runs.begin(), scratch.runs.end());
      begin = end;
    }
    // The cells in ascending order of their pairs: by placing them at their ranks when they are
    // many, by sorting them when they are few next to all the pairs of the profile.
    const auto add = [&](const MeasuredCell& cell) {
      sink.add_cell(routes.cell_phase_epochs[cell.cell], cell.figures,
                    std::span(runs.data() + cell.first_run, cell.run_count));
    };
    if (16 * cells.size() >= at_rank.size()) {
      for (std::uint32_t c = 0; c < cells.size(); ++c) at_rank[cells[c].rank] = c;
      for (std::uint32_t& at : at_rank) {
        if (at != UINT32_MAX) add(cells[std::exchange(at, UINT32_MAX)]);
      }
    } else {
      std::sort(cells.begin(), cells.end(),
                [](const MeasuredCell& a, const MeasuredCell& b) { return a.rank < b.rank; });
      for (const MeasuredCell& cell : cells) add(cell);
    }
    sink.end(tally, intervals, scratch);
  }
}

// What every share of the tiles found, put together.
struct Measured {
  std::size_t samples = 0;
  std::size_t matched = 0;
  std::uint64_t span = 0;
  std::vector<ChosenSample> longest;  // in reported order

  // Adds a share's totals, matched samples and longest samples (`limit` at most), shares in order.
  void add_share(const ScanTotals& totals, std::size_t matches,
                 const std::vector<ChosenSample>& chosen, std::size_t limit) {
    samples += totals.samples;
    matched += matches;
    span = std::max(span, totals.span_cycles);
    longest = merge_chosen(std::move(longest), chosen, limit);
  }
};

// Shares of `order` (tiles by physical number) for `threads` threads that never split a physical
// number between two of them.
std::vector<std::size_t> tile_number_shares(const PackedProfile& profile,
                                            const std::vector<std::uint32_t>& order,
                                            std::size_t threads) {
  auto bounds = cut(0, order.size(), threads,
                    [&](std::size_t i) { return profile.tiles[order[i]].samples.size(); });
  for (std::size_t b = 1; b + 1 < bounds.size(); ++b) {
    while (bounds[b] < order.size() && bounds[b] > 0 &&
           profile.tiles[order[bounds[b]]].physical_tile ==
               profile.tiles[order[bounds[b] - 1]].physical_tile) {
      ++bounds[b];
    }
    bounds[b] = std::min(std::max(bounds[b], bounds[b - 1]), order.size());
  }
  return bounds;
}

// The cells `cells` (ascending) with their samples in place, on up to `threads` threads, into
// `sinks`, a sink a thread, made by make_sink() when there are fewer.
template <typename Sink, typename MakeSink>
void measure_cells(std::span<const std::uint32_t> cells, std::span<const std::size_t> begin,
                   CellEntry* entries, const StepRoutes& routes,
                   const std::vector<std::uint32_t>& group_of_cell,
                   const std::vector<CellCount>& counts,
                   std::vector<std::vector<TileRange>>& group_tiles, std::size_t threads,
                   std::vector<CellScratch>& scratch, const MakeSink& make_sink,
                   std::vector<Sink>& sinks) {
  const auto bounds =
      cut(0, cells.size(), threads, [&](std::size_t i) { return begin[i + 1] - begin[i]; });
  while (sinks.size() + 1 < bounds.size()) sinks.push_back(make_sink());
  scratch.resize(std::max(scratch.size(), bounds.size() - 1));
  run_parallel(bounds.size() - 1, [&](std::size_t part) {
    measure_step_cells(cells, begin, entries, bounds[part], bounds[part + 1], routes, group_of_cell,
                       counts, group_tiles, scratch[part], sinks[part]);
  });
}

// How many batches of time the cells of `samples` samples are measured in: enough for about
// limits.entries samples a batch, at most one a time number.
std::uint32_t batch_count(std::size_t samples, const StepRoutes& routes,
                          const BatchLimits& limits) {
  const std::size_t entries = std::max<std::size_t>(limits.entries, 1);
  return static_cast<std::uint32_t>(std::clamp<std::size_t>(
      (samples + entries - 1) / entries, 1, std::max<std::uint32_t>(routes.time_count, 1)));
}

// The batch's cells in ascending order, their counts summed over the shares into `counts`, where
// each begins in the batch's entries (and one past the last), and where each share writes its
// samples of each (ShareReading::next_place).
void plan_batch(std::vector<ShareReading>& readings, std::size_t shares,
                std::vector<CellCount>& counts, std::vector<std::uint32_t>& cells,
                std::vector<std::size_t>& begin) {
  cells.clear();
  for (std::size_t s = 0; s < shares; ++s) {
    for (const std::uint32_t c : readings[s].touched) {
      CellCount& total = counts[c];
      const CellCount& part = readings[s].counts[c];
      if (total.count == 0) cells.push_back(c);
      total.count += part.count;
      total.shortest = std::min(total.shortest, part.shortest);
      total.longest = std::max(total.longest, part.longest);
    }
  }
  std::sort(cells.begin(), cells.end());
  begin.resize(cells.size() + 1);
  std::size_t at = 0;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    begin[i] = at;
    for (std::size_t s = 0; s < shares; ++s) {
      readings[s].next_place[cells[i]] = at;
      at += readings[s].counts[cells[i]].count;
    }
  }
  begin[cells.size()] = at;
}

// Every group of the tiles between `tile_bounds` (a share a thread) into sinks made by
// make_sink(), reading the samples once, in `batches` batches of time (sample_passes.hpp), and
// measuring each batch's cells on up to `threads` threads; a tile t with whole[t - first tile] set
// is read whole by every batch. Returns false, with `sinks` and `measured` to be dropped, when a
// tile lists a matched sample after one of a later batch, having set `whole` for it.
template <typename Sink, typename MakeSink>
bool measure_in_batches(const PackedProfile& profile, const Query& query, const StepRoutes& routes,
                        const std::vector<std::size_t>& tile_bounds, std::uint32_t batches,
                        std::vector<std::uint8_t>& whole, std::size_t threads,
                        const MakeSink& make_sink, ScratchParts& scratch, std::vector<Sink>& sinks,
                        Measured& measured) {
  const std::size_t shares = tile_bounds.size() - 1;
  const auto targets = step_targets(routes, batches);
  const auto first_order = match_order_starts(profile, tile_bounds.front(), tile_bounds.back());
  auto& readings = scratch.readings;
  readings.resize(std::max(readings.size(), shares));
  for (std::size_t s = 0; s < shares; ++s) {
    readings[s].start(tile_bounds[s], tile_bounds[s + 1], routes);
  }
  std::vector<SampleSelection> longest(shares, SampleSelection(query.sample_limit));
  std::vector<std::uint32_t> group_of_cell(routes.cell_count);
  for (std::uint32_t g = 0; g < routes.groups.size(); ++g) {
    std::fill(group_of_cell.begin() + routes.group_cells[g],
              group_of_cell.begin() + routes.group_cells[g + 1], g);
  }
  scratch.counts.assign(routes.cell_count, CellCount{});
  std::vector<std::vector<TileRange>> group_tiles(routes.groups.size());
  std::vector<std::uint32_t> cells;
  std::vector<std::size_t> begin;
  for (std::uint32_t b = 0; b < batches; ++b) {
    run_parallel(shares, [&](std::size_t s) {
      read_batch(profile, tile_bounds[s], tile_bounds[s + 1], routes, targets, b, first_order,
                 whole.data() + (tile_bounds[s] - tile_bounds.front()), readings[s], longest[s]);
    });
    for (std::size_t s = 0; s < shares; ++s) {
      if (readings[s].late) return false;
    }
    plan_batch(readings, shares, scratch.counts, cells, begin);
    for (std::size_t g = 0; g < group_tiles.size(); ++g) {
      group_tiles[g].clear();
      for (std::size_t s = 0; s < shares; ++s) {
        const auto& ranges = readings[s].group_tiles[g].ranges;
        group_tiles[g].insert(group_tiles[g].end(), ranges.begin(), ranges.end());
      }
    }
    CellEntry* const entries = scratch.entries_for(std::max<std::size_t>(begin.back(), 1));
    run_parallel(shares, [&](std::size_t s) { place_batch(readings[s], entries); });
    measure_cells(std::span<const std::uint32_t>(cells), std::span<const std::size_t>(begin),
                  entries, routes, group_of_cell, scratch.counts, group_tiles, threads,
                  scratch.cells, make_sink, sinks);
    for (const std::uint32_t c : cells) scratch.counts[c] = CellCount{};
  }
  for (std::size_t s = 0; s < shares; ++s) {
    measured.add_share(readings[s].totals, readings[s].matched, longest[s].take(),
                       query.sample_limit);
  }
  return true;
}

// Every group of tiles first_tile .. end_tile - 1 into sinks made by make_sink(), on up to
// `threads` threads. Returns the sinks; the fragments of a group may lie in several.
template <typename MakeSink>
auto measure_groups(const PackedProfile& profile, const Query& query, const StepRoutes& routes,
                    std::size_t first_tile, std::size_t end_tile, std::size_t threads,
                    std::uint32_t chip, const MakeSink& make_sink, ScratchParts& scratch,
                    const BatchLimits& limits, Measured& measured) {
  using Sink = decltype(make_sink());
  const auto tile_bounds = cut(first_tile, end_tile, threads,
                               [&](std::size_t t) { return profile.tiles[t].samples.size(); });
  std::vector<Sink> sinks;
  if (query.group_by == GroupBy::Tile) {
    const auto first_order = match_order_starts(profile, first_tile, end_tile);
    const auto order = tiles_by_number(profile, first_tile, end_tile);
    const auto bounds = tile_number_shares(profile, order, threads);
    const std::size_t parts = bounds.size() - 1;
    std::vector<TileWalk> walks(parts, TileWalk{.longest = SampleSelection(query.sample_limit)});
    for (std::size_t part = 0; part < parts; ++part) sinks.push_back(make_sink());
    run_parallel(parts, [&](std::size_t part) {
      measure_tile_groups(profile,
                          std::span(order.data() + bounds[part], bounds[part + 1] - bounds[part]),
                          query, routes, chip, first_order, walks[part], sinks[part]);
    });
    // Parts hold different physical tiles, so their longest samples never tie.
    for (TileWalk& walk : walks) {
      measured.add_share(walk.totals, walk.matched, walk.longest.take(), query.sample_limit);
    }
    return sinks;
  }
  std::size_t samples = 0;
  for (std::size_t t = first_tile; t < end_tile; ++t) samples += profile.tiles[t].samples.size();
  std::uint32_t batches = batch_count(samples, routes, limits);
  std::vector<std::uint8_t> whole(end_tile - first_tile, 0);
  for (int attempt = 1; !measure_in_batches(profile, query, routes, tile_bounds, batches, whole,
                                            threads, make_sink, scratch, sinks, measured);
       ++attempt) {
    // Tiles out of order of time are read whole by every batch from now on; when they hold more
    // than an eighth of the samples, or keep turning up, one batch reads every tile once.
    sinks.clear();
    measured = Measured{};
    std::size_t out_of_order = 0;
    for (std::size_t t = first_tile; t < end_tile; ++t) {
      if (whole[t - first_tile] != 0) out_of_order += profile.tiles[t].samples.size();
    }
    if (attempt >= 2 || out_of_order > samples / 8) batches = 1;
  }
  return sinks;
}

}  // namespace

StepRoutes route_steps(const PackedProfile& profile, const Query& query, std::uint32_t chip) {
  Selection selection = select(profile, query);
  return query.group_by == GroupBy::Tile
             ? route_by_phase_epoch(profile.steps, std::move(selection))
             : route_by_group(profile.steps, query, std::move(selection), chip);
}

PartialQuery partial_over(const PackedProfile& profile, const Query& query,
                          const StepRoutes& routes, std::size_t first_tile, std::size_t end_tile,
                          std::size_t threads, std::uint32_t chip, ScratchParts& scratch,
                          const BatchLimits& limits) {
  // A physical tile's group holds all of its samples when every tile entry of the profile is
  // here: no other profile has that tile, each being a chip of its own.
  const bool finishing =
      query.group_by == GroupBy::Tile && first_tile == 0 && end_tile == profile.tiles.size();
  Measured measured;
  auto sinks = measure_groups(
      profile, query, routes, first_tile, end_tile, threads, chip,
      [finishing] { return PartialSink(finishing); }, scratch, limits, measured);
  PartialQuery partial{
      .clock_hz = profile.clock_hz,
      .tile_count = end_tile - first_tile,
      .sample_count = measured.samples,
      .matched_sample_count = measured.matched,
      .profile_span_cycles = measured.span,
      .groups = {},
      .samples = reported_samples(profile.steps, measured.longest),
      .query_fingerprint = query_fingerprint(query),
      .first_chip = chip,
      .last_chip = chip,
  };
  for (auto& sink : sinks) {
    auto groups = sink.take();
    for (PartialGroup& group : groups) {
      for (TileRange& range : group.tiles) range.chip = chip;
    }
    std::move(groups.begin(), groups.end(), std::back_inserter(partial.groups));
  }
  // Fragments of one group, from neighbouring shares, sort side by side and are joined.
  std::stable_sort(partial.groups.begin(), partial.groups.end(),
                   [](const PartialGroup& a, const PartialGroup& b) { return a.name < b.name; });
  std::vector<PartialGroup> joined;
  joined.reserve(partial.groups.size());
  for (auto& group : partial.groups) {
    if (!joined.empty() && joined.back().name == group.name) {
      joined.back() = merge_group(std::move(joined.back()), group);
    } else {
      joined.push_back(std::move(group));
    }
  }
  partial.groups = std::move(joined);
  return partial;
}

QueryReport query_whole(const PackedProfile& profile, const Query& query, const StepRoutes& routes,
                        std::size_t threads, ScratchParts& scratch, const BatchLimits& limits) {
  Measured measured;
  auto sinks = measure_groups(
      profile, query, routes, 0, profile.tiles.size(), threads, 0,
      [&] { return SummarySink(profile.clock_hz); }, scratch, limits, measured);
  std::vector<GroupSummary> summaries = SummarySink::take_all(sinks);
  return assemble_report(query,
                         {.clock_hz = profile.clock_hz,
                          .tile_count = profile.tiles.size(),
                          .sample_count = measured.samples,
                          .matched_sample_count = measured.matched,
                          .span_cycles = measured.span},
                         std::move(summaries), reported_samples(profile.steps, measured.longest));
}

}  // namespace zel_profile::detail

namespace zel_profile {

PartialQuery partial_query(const zel_package::PackedProfile& profile, const Query& query,
                           std::size_t first_tile, std::size_t end_tile, std::uint32_t chip) {
  end_tile = std::min(end_tile, profile.tiles.size());
  first_tile = std::min(first_tile, end_tile);
  detail::ScratchParts scratch;
  return detail::partial_over(profile, query, detail::route_steps(profile, query, chip), first_tile,
                              end_tile, 1, chip, scratch);
}

PartialQuery partial_query(const zel_package::PackedProfile& profile, const Query& query,
                           Parallelism parallelism, std::uint32_t chip) {
  detail::ScratchParts scratch;
  return detail::partial_over(profile, query, detail::route_steps(profile, query, chip), 0,
                              profile.tiles.size(), thread_count(parallelism), chip, scratch);
}

}  // namespace zel_profile
