// The packed engine: a query's result over a range of a packed profile's tiles.
//
// Everything that depends on a step alone (the step filters, the group, the (phase, epoch)) is
// decided once per distinct step (step_routes). The samples are then read in three passes:
//  1. every sample: span and step checks; for a matched one, its cell's count, its group's tiles
//     and the longest samples (sample_passes);
//  2. the matched samples again, each written as (start, length) into its cell's place in one
//     array, cells of a group side by side (sample_passes);
//  3. cell by cell: the union of its intervals; group by group: sums and lengths (here), handed to
//     a sink that makes partial groups or finished summaries (group_sinks).
// Threads share the tiles in passes 1 and 2 and the cells in pass 3. Grouping by tile keeps each
// physical tile's samples apart instead, since there the group depends on the tile. Union runs and
// length counts do not depend on the order in which samples are visited, so the report is the same
// bit for bit for any number of threads.
#include "query/packed_partial.hpp"

#include <algorithm>
#include <exception>
#include <iterator>
#include <memory>
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

// Pass 3 for cells first_cell .. end_cell - 1, group by group, into `sink`. A group whose cells
// the range holds only in part goes to the sink as a fragment, to be joined with the rest of the
// group from the neighbouring range: the one large group of a query can so be shared out too.
template <typename Sink>
void measure_step_cells(std::size_t first_cell, std::size_t end_cell, const StepRoutes& routes,
                        const std::vector<std::uint32_t>& group_of_cell, ScatteredCells& cells,
                        std::vector<std::vector<TileRange>>& group_tiles, Sink& sink) {
  CellScratch scratch;
  for (std::size_t from = first_cell; from < end_cell;) {
    const std::uint32_t g = group_of_cell[from];
    const std::size_t to = std::min<std::size_t>(end_cell, routes.group_cells[g + 1]);
    const bool fragment = from != routes.group_cells[g] || to != routes.group_cells[g + 1];
    const std::size_t first = cells.begin[from];
    const std::size_t last = cells.begin[to];
    if (first != last) {  // else no sample of the group matched here
      std::uint32_t shortest = UINT32_MAX;
      std::uint32_t longest = 0;
      for (std::uint32_t c = routes.group_cells[g]; c < routes.group_cells[g + 1]; ++c) {
        shortest = std::min(shortest, cells.counts[c].shortest);
        longest = std::max(longest, cells.counts[c].longest);
      }
      sink.begin(routes.groups[g], fragment ? group_tiles[g] : std::move(group_tiles[g]), fragment);
      LengthTally tally(last - first, shortest, longest, scratch.length_counts);
      for (std::size_t c = from; c < to; ++c) {
        if (cells.begin[c] == cells.begin[c + 1]) continue;
        const CellFigures figures =
            from_origin(cell_figures(std::span(cells.entries.get() + cells.begin[c],
                                               cells.begin[c + 1] - cells.begin[c]),
                                     scratch, tally),
                        scratch.runs, routes.selection.origin());
        sink.add_cell(routes.cell_phase_epochs[c], figures, scratch.runs);
      }
      sink.end(tally, std::span(cells.entries.get() + first, last - first), scratch);
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

// The tile groups of the tiles in `order` (a run of tiles_by_number that does not split a
// physical number), into `sink`: each physical tile's samples (from every tile entry of that
// number) ordered by cell and start, which is how a tile lists them in practice, so that the sort
// is mostly skipped.
template <typename Sink>
void measure_tile_groups(const PackedProfile& profile, std::span<const std::uint32_t> order,
                         const Query& query, const StepRoutes& routes, std::uint32_t chip,
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
      scan(profile, routes.selection, order[last], order[last] + 1,
           [&](const ScannedSample& sample) {
             matched.push_back(TileEntry{routes.routes[sample.step].cell,
                                         cell_entry(sample, routes.selection.origin())});
           });
    }
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
  ReportedSamples longest;
};

// Pass 1 over each share of the tiles between `tile_bounds`, on a thread each: the counts, span and
// longest samples go to `measured`, each share's pass is returned.
std::vector<FirstPass> first_passes(const PackedProfile& profile, const Query& query,
                                    const StepRoutes& routes,
                                    const std::vector<std::size_t>& tile_bounds, bool count_cells,
                                    Measured& measured) {
  const std::size_t shares = tile_bounds.size() - 1;
  std::vector<FirstPass> passes(shares);
  std::vector<std::vector<ChosenSample>> longest(shares);
  run_parallel(shares, [&](std::size_t s) {
    SampleSelection chosen(query.sample_limit);
    passes[s] =
        first_pass(profile, tile_bounds[s], tile_bounds[s + 1], routes, count_cells, chosen);
    longest[s] = chosen.take();
  });
  for (const FirstPass& pass : passes) {
    measured.samples += pass.samples;
    measured.matched += pass.matched;
    measured.span = std::max(measured.span, pass.span);
  }
  std::vector<ChosenSample> chosen;
  for (const auto& share : longest) {
    chosen = merge_chosen(std::move(chosen), share, query.sample_limit);
  }
  measured.longest = reported_samples(profile.steps, chosen);
  return passes;
}

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

// Every matched sample in its cell's place in one array, each share's samples of a cell after the
// earlier shares', scattered by a thread a share of the tiles.
ScatteredCells scatter_cells(const PackedProfile& profile, const StepRoutes& routes,
                             const std::vector<std::size_t>& tile_bounds,
                             const std::vector<FirstPass>& passes, std::size_t matched) {
  const std::size_t shares = passes.size();
  ScatteredCells cells;
  cells.begin.assign(routes.cell_count + 1, 0);
  cells.counts.assign(routes.cell_count, CellCount{});
  std::vector<std::vector<std::size_t>> next(shares, std::vector<std::size_t>(routes.cell_count));
  for (std::size_t c = 0; c < routes.cell_count; ++c) {
    std::size_t at = cells.begin[c];
    for (std::size_t s = 0; s < shares; ++s) {
      const CellCount& count = passes[s].cells[c];
      next[s][c] = at;
      at += count.count;
      cells.counts[c].count += count.count;
      cells.counts[c].shortest = std::min(cells.counts[c].shortest, count.shortest);
      cells.counts[c].longest = std::max(cells.counts[c].longest, count.longest);
    }
    cells.begin[c + 1] = at;
  }
  cells.entries.reset(new CellEntry[matched]);
  run_parallel(shares, [&](std::size_t s) {
    scatter(profile, tile_bounds[s], tile_bounds[s + 1], routes, next[s], cells.entries.get());
  });
  return cells;
}

// Every group of tiles first_tile .. end_tile - 1 into sinks made by make_sink(), on up to
// `threads` threads: pass 1 and the scatter over shares of the tiles, pass 3 over shares of the
// groups. Returns the sinks in order of their groups.
template <typename MakeSink>
auto measure_groups(const PackedProfile& profile, const Query& query, const StepRoutes& routes,
                    std::size_t first_tile, std::size_t end_tile, std::size_t threads,
                    std::uint32_t chip, const MakeSink& make_sink, Measured& measured) {
  using Sink = decltype(make_sink());
  const bool by_tile = query.group_by == GroupBy::Tile;
  const auto tile_bounds = cut(first_tile, end_tile, threads,
                               [&](std::size_t t) { return profile.tiles[t].samples.size(); });
  std::vector<FirstPass> passes =
      first_passes(profile, query, routes, tile_bounds, !by_tile, measured);

  std::vector<Sink> sinks;
  if (by_tile) {
    const auto order = tiles_by_number(profile, first_tile, end_tile);
    const auto bounds = tile_number_shares(profile, order, threads);
    for (std::size_t b = 0; b + 1 < bounds.size(); ++b) sinks.push_back(make_sink());
    run_parallel(sinks.size(), [&](std::size_t part) {
      measure_tile_groups(profile,
                          std::span(order.data() + bounds[part], bounds[part + 1] - bounds[part]),
                          query, routes, chip, sinks[part]);
    });
    return sinks;
  }

  ScatteredCells cells = scatter_cells(profile, routes, tile_bounds, passes, measured.matched);

  std::vector<std::vector<TileRange>> group_tiles(routes.groups.size());
  for (std::size_t g = 0; g < routes.groups.size(); ++g) {
    for (FirstPass& pass : passes) {
      auto& ranges = pass.group_tiles[g].ranges;
      group_tiles[g].insert(group_tiles[g].end(), ranges.begin(), ranges.end());
    }
  }
  std::vector<std::uint32_t> group_of_cell(routes.cell_count);
  for (std::uint32_t g = 0; g < routes.groups.size(); ++g) {
    std::fill(group_of_cell.begin() + routes.group_cells[g],
              group_of_cell.begin() + routes.group_cells[g + 1], g);
  }
  const auto cell_bounds = cut(0, routes.cell_count, threads,
                               [&](std::size_t c) { return cells.begin[c + 1] - cells.begin[c]; });
  for (std::size_t b = 0; b + 1 < cell_bounds.size(); ++b) sinks.push_back(make_sink());
  run_parallel(sinks.size(), [&](std::size_t part) {
    measure_step_cells(cell_bounds[part], cell_bounds[part + 1], routes, group_of_cell, cells,
                       group_tiles, sinks[part]);
  });
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
                          std::size_t threads, std::uint32_t chip) {
  // A physical tile's group holds all of its samples when every tile entry of the profile is
  // here: no other profile has that tile, each being a chip of its own.
  const bool finishing =
      query.group_by == GroupBy::Tile && first_tile == 0 && end_tile == profile.tiles.size();
  Measured measured;
  auto sinks = measure_groups(
      profile, query, routes, first_tile, end_tile, threads, chip,
      [finishing] { return PartialSink(finishing); }, measured);
  PartialQuery partial{
      .clock_hz = profile.clock_hz,
      .tile_count = end_tile - first_tile,
      .sample_count = measured.samples,
      .matched_sample_count = measured.matched,
      .profile_span_cycles = measured.span,
      .groups = {},
      .samples = std::move(measured.longest),
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
                        std::size_t threads) {
  Measured measured;
  auto sinks = measure_groups(
      profile, query, routes, 0, profile.tiles.size(), threads, 0,
      [&] { return SummarySink(profile.clock_hz); }, measured);
  std::vector<GroupSummary> summaries = SummarySink::take_all(sinks);
  return assemble_report(query,
                         {.clock_hz = profile.clock_hz,
                          .tile_count = profile.tiles.size(),
                          .sample_count = measured.samples,
                          .matched_sample_count = measured.matched,
                          .span_cycles = measured.span},
                         std::move(summaries), std::move(measured.longest));
}

}  // namespace zel_profile::detail

namespace zel_profile {

PartialQuery partial_query(const zel_package::PackedProfile& profile, const Query& query,
                           std::size_t first_tile, std::size_t end_tile, std::uint32_t chip) {
  end_tile = std::min(end_tile, profile.tiles.size());
  first_tile = std::min(first_tile, end_tile);
  return detail::partial_over(profile, query, detail::route_steps(profile, query, chip), first_tile,
                              end_tile, 1, chip);
}

PartialQuery partial_query(const zel_package::PackedProfile& profile, const Query& query,
                           Parallelism parallelism, std::uint32_t chip) {
  return detail::partial_over(profile, query, detail::route_steps(profile, query, chip), 0,
                              profile.tiles.size(), thread_count(parallelism), chip);
}

}  // namespace zel_profile
