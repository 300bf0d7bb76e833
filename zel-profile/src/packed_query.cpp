// The query engine over packed profiles.
//
// Everything that depends on a step alone (the step filters, the group, the (phase, epoch)) is
// decided once per distinct step (step_routes). The samples are then read in three passes:
//  1. every sample: span and step checks; for a matched one, its cell's count, its group's tiles
//     and the longest samples;
//  2. the matched samples again, each written as (start, length) into its cell's place in one
//     array, cells of a group side by side;
//  3. cell by cell: the union of its intervals; group by group: sums and length percentiles.
// Grouping by tile keeps each physical tile's samples apart instead, since there the group depends
// on the tile. The report equals the records engine's bit for bit: the same float formulas
// (build_summary), the same order of groups and samples, and union lengths and percentiles that do
// not depend on the order in which samples are visited.
#include <zel_profile/query.hpp>

#include <algorithm>
#include <memory>
#include <numeric>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <zel_profile/summary.hpp>

#include "cell_figures.hpp"
#include "checked_arithmetic.hpp"
#include "group_order.hpp"
#include "radix_sort.hpp"
#include "sample_selection.hpp"
#include "step_matching.hpp"
#include "step_routes.hpp"

namespace zel_profile {
namespace {

using zel_package::PackedProfile;
using zel_package::PackedSample;

// The scatter's walk: this many tiles side by side, this many samples of each at a time.
constexpr std::size_t scatter_tiles = 64;
constexpr std::size_t scatter_samples = 16;

// Asks for the next `scatter_samples` samples of a tile, which the walk reaches after the block's
// other tiles: too many interleaved streams for the processor to foresee on its own.
void prefetch_samples(const PackedSample* samples) {
#if defined(__GNUC__)
  const char* bytes = reinterpret_cast<const char*>(samples);
  for (std::size_t line = 0; line < scatter_samples * sizeof(PackedSample); line += 64) {
    __builtin_prefetch(bytes + line);
  }
#else
  (void)samples;
#endif
}

[[noreturn]] void step_out_of_range(std::uint32_t step, std::size_t step_count) {
  throw std::invalid_argument("a sample refers to step " + std::to_string(step) +
                              " of a profile with " + std::to_string(step_count) + " steps");
}

bool tile_selected(const Query& query, std::uint32_t physical_tile) {
  return query.tiles.empty() || query.tiles.contains(physical_tile);
}

// A sample's place on its tile's axis.
struct Placed {
  std::uint64_t offset;
  std::uint32_t duration;
  std::uint64_t end;
};

Placed place(const PackedSample& sample, std::uint32_t base) {
  const std::uint64_t offset = static_cast<std::uint32_t>(sample.start_cycle - base);
  const auto duration = static_cast<std::uint32_t>(sample.end_cycle - sample.start_cycle);
  return Placed{offset, duration, offset + duration};
}

bool running_at(const std::optional<std::uint64_t>& at, const Placed& placed) {
  // The end is below 2^33, so it needs no saturation.
  return !at || (*at >= placed.offset && *at < placed.end);
}

// A cell's matched samples as pass 1 counts them.
struct CellCount {
  std::size_t count = 0;
  std::uint32_t shortest = UINT32_MAX;
  std::uint32_t longest = 0;
};

// The tiles on which a group's samples matched. Tile entries are met one after the other, so a
// group meets each entry in one run; entries are counted as they start. Only when two entries
// share a physical number are the numbers kept, to count them once.
struct GroupTiles {
  std::size_t last_entry = SIZE_MAX;
  std::size_t entries = 0;
  std::vector<std::uint32_t> physical;
};

bool physical_tiles_repeat(const PackedProfile& profile) {
  std::vector<std::uint32_t> numbers;
  numbers.reserve(profile.tiles.size());
  for (const auto& tile : profile.tiles) numbers.push_back(tile.physical_tile);
  std::sort(numbers.begin(), numbers.end());
  return std::adjacent_find(numbers.begin(), numbers.end()) != numbers.end();
}

// What pass 1 learns.
struct FirstPass {
  std::size_t matched = 0;
  std::uint64_t span = 0;
  std::vector<CellCount> cells;         // by cell, when grouping by step
  std::vector<GroupTiles> group_tiles;  // by group
};

// Pass 1 over every tile. `count_cells` is false when grouping by tile, where cells are counted
// per tile later.
FirstPass first_pass(const PackedProfile& profile, const Query& query,
                     const detail::StepRoutes& routes, bool count_cells,
                     detail::SampleSelection& selection) {
  FirstPass pass;
  const std::size_t step_count = profile.steps.size();
  if (count_cells) {
    pass.cells.assign(routes.cell_count, CellCount{});
    pass.group_tiles.resize(routes.groups.size());
  }
  const bool repeats = count_cells && physical_tiles_repeat(profile);
  const auto& route_of = routes.routes;
  for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
    const auto& tile = profile.tiles[t];
    if (tile.samples.empty()) continue;
    const std::uint32_t base = tile.samples.front().start_cycle;
    if (!tile_selected(query, tile.physical_tile)) {
      for (const PackedSample& sample : tile.samples) {
        if (sample.step >= step_count) step_out_of_range(sample.step, step_count);
        pass.span = std::max(pass.span, place(sample, base).end);
      }
      continue;
    }
    for (const PackedSample& sample : tile.samples) {
      if (sample.step >= step_count) step_out_of_range(sample.step, step_count);
      const Placed placed = place(sample, base);
      pass.span = std::max(pass.span, placed.end);
      const detail::StepRoute route = route_of[sample.step];
      if (route.cell == detail::no_route || !running_at(query.at_offset, placed)) continue;
      ++pass.matched;
      if (count_cells) {
        CellCount& cell = pass.cells[route.cell];
        ++cell.count;
        cell.shortest = std::min(cell.shortest, placed.duration);
        cell.longest = std::max(cell.longest, placed.duration);
        GroupTiles& tiles = pass.group_tiles[route.group];
        if (tiles.last_entry != t) {
          tiles.last_entry = t;
          ++tiles.entries;
          if (repeats) tiles.physical.push_back(tile.physical_tile);
        }
      }
      if (selection.wanted()) {
        selection.offer(tile.physical_tile, placed.offset, placed.duration,
                        profile.steps[sample.step]);
      }
    }
  }
  return pass;
}

std::size_t tile_count(GroupTiles& tiles) {
  if (tiles.physical.empty()) return tiles.entries;
  auto& numbers = tiles.physical;
  std::sort(numbers.begin(), numbers.end());
  return static_cast<std::size_t>(std::unique(numbers.begin(), numbers.end()) - numbers.begin());
}

// Running sums of one group over its cells.
struct GroupSums {
  std::size_t phase_count = 0;
  std::uint64_t phase_cycles = 0;
  std::uint64_t work_cycles = 0;
  std::uint64_t first_offset = UINT64_MAX;
  std::uint64_t last_offset = 0;
  std::uint32_t shortest = UINT32_MAX;
  std::uint32_t longest = 0;

  void add(const detail::CellFigures& cell) {
    ++phase_count;
    phase_cycles = detail::checked_add(phase_cycles, cell.union_length, "phase cycles");
    work_cycles = detail::checked_add(work_cycles, cell.work_cycles, "work cycles");
    first_offset = std::min(first_offset, cell.first_offset);
    last_offset = std::max(last_offset, cell.last_offset);
    shortest = std::min(shortest, cell.shortest);
    longest = std::max(longest, cell.longest);
  }
};

GroupSummary summary_of(GroupKey key, std::size_t tile_count, const GroupSums& sums,
                        const detail::DurationFigures& lengths, std::uint64_t clock_hz) {
  return detail::build_summary(std::move(key.name), std::move(key.dimensions),
                               detail::GroupFigures{.tile_count = tile_count,
                                                    .phase_count = sums.phase_count,
                                                    .phase_cycles = sums.phase_cycles,
                                                    .work_cycles = sums.work_cycles,
                                                    .first_offset = sums.first_offset,
                                                    .last_offset = sums.last_offset},
                               lengths, clock_hz);
}

// Passes 2 and 3 for groupings by step.
std::vector<GroupSummary> summarize_by_step(const PackedProfile& profile, const Query& query,
                                            detail::StepRoutes& routes, FirstPass& pass) {
  // Where each cell's entries begin; `next` is advanced as they are written.
  std::vector<std::size_t> cell_begin(routes.cell_count + 1, 0);
  for (std::size_t c = 0; c < pass.cells.size(); ++c) {
    cell_begin[c + 1] = cell_begin[c] + pass.cells[c].count;
  }
  std::vector<std::size_t> next(cell_begin.begin(), cell_begin.end() - 1);
  std::unique_ptr<detail::CellEntry[]> entries(new detail::CellEntry[pass.matched]);

  // Tiles are walked a block at a time, a few samples of each tile in turn. Tiles run the same
  // steps at about the same positions of their lists, so the entries written one after the other
  // go to a few cells rather than to a different cell each time, which keeps the writes in cache.
  // The order of entries within a cell does not matter to any figure.
  const auto& route_of = routes.routes;
  for (std::size_t block = 0; block < profile.tiles.size(); block += scatter_tiles) {
    const std::size_t block_end = std::min(profile.tiles.size(), block + scatter_tiles);
    std::size_t longest = 0;
    for (std::size_t t = block; t < block_end; ++t) {
      const auto& tile = profile.tiles[t];
      if (tile_selected(query, tile.physical_tile))
        longest = std::max(longest, tile.samples.size());
    }
    for (std::size_t from = 0; from < longest; from += scatter_samples) {
      for (std::size_t t = block; t < block_end; ++t) {
        const auto& samples = profile.tiles[t].samples;
        if (from >= samples.size() || !tile_selected(query, profile.tiles[t].physical_tile)) {
          continue;
        }
        const std::uint32_t base = samples.front().start_cycle;
        const std::size_t to = std::min(samples.size(), from + scatter_samples);
        if (to < samples.size()) prefetch_samples(samples.data() + to);
        for (std::size_t i = from; i < to; ++i) {
          const PackedSample& sample = samples[i];
          const std::uint32_t cell = route_of[sample.step].cell;
          if (cell == detail::no_route) continue;
          const Placed placed = place(sample, base);
          if (!running_at(query.at_offset, placed)) continue;
          entries[next[cell]++] =
              detail::CellEntry{static_cast<std::uint32_t>(placed.offset), placed.duration};
        }
      }
    }
  }

  std::vector<GroupSummary> summaries;
  detail::CellScratch scratch;
  for (std::size_t g = 0; g < routes.groups.size(); ++g) {
    const std::size_t first = cell_begin[routes.group_cells[g]];
    const std::size_t last = cell_begin[routes.group_cells[g + 1]];
    if (first == last) continue;  // no sample of the group matched
    std::uint32_t shortest = UINT32_MAX;
    std::uint32_t longest = 0;
    for (std::uint32_t c = routes.group_cells[g]; c < routes.group_cells[g + 1]; ++c) {
      shortest = std::min(shortest, pass.cells[c].shortest);
      longest = std::max(longest, pass.cells[c].longest);
    }
    detail::LengthTally tally(last - first, shortest, longest, scratch.length_counts);
    GroupSums sums;
    for (std::uint32_t c = routes.group_cells[g]; c < routes.group_cells[g + 1]; ++c) {
      if (cell_begin[c] == cell_begin[c + 1]) continue;
      sums.add(detail::cell_figures(
          std::span(entries.get() + cell_begin[c], cell_begin[c + 1] - cell_begin[c]), scratch,
          tally));
    }
    const auto lengths =
        tally.counting()
            ? tally.figures()
            : detail::length_figures(std::span(entries.get() + first, last - first), scratch);
    summaries.push_back(summary_of(std::move(routes.groups[g]), tile_count(pass.group_tiles[g]),
                                   sums, lengths, profile.clock_hz));
  }
  return summaries;
}

// A matched sample of a tile group: its (phase, epoch) number and its interval.
struct TileEntry {
  std::uint32_t phase_epoch;
  detail::CellEntry interval;
};

std::uint64_t tile_entry_key(const TileEntry& entry) {
  return (std::uint64_t{entry.phase_epoch} << 32) | entry.interval.start;
}

// Grouping by tile: each physical tile's samples (from every tile entry of that number) ordered by
// (phase, epoch) and start, which is how a tile lists them in practice, so that the sort is mostly
// skipped.
std::vector<GroupSummary> summarize_by_tile(const PackedProfile& profile, const Query& query,
                                            const detail::StepRoutes& routes) {
  std::vector<std::uint32_t> order(profile.tiles.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return profile.tiles[a].physical_tile < profile.tiles[b].physical_tile;
  });

  std::vector<GroupSummary> summaries;
  std::vector<TileEntry> matched;
  std::vector<TileEntry> sort_scratch;
  std::vector<detail::CellEntry> intervals;
  detail::CellScratch scratch;
  for (std::size_t first = 0; first < order.size();) {
    const std::uint32_t physical = profile.tiles[order[first]].physical_tile;
    std::size_t last = first;
    matched.clear();
    for (; last < order.size() && profile.tiles[order[last]].physical_tile == physical; ++last) {
      const auto& tile = profile.tiles[order[last]];
      if (tile.samples.empty() || !tile_selected(query, physical)) continue;
      const std::uint32_t base = tile.samples.front().start_cycle;
      for (const PackedSample& sample : tile.samples) {
        const std::uint32_t cell = routes.routes[sample.step].cell;
        if (cell == detail::no_route) continue;
        const Placed placed = place(sample, base);
        if (!running_at(query.at_offset, placed)) continue;
        matched.push_back(
            TileEntry{cell, {static_cast<std::uint32_t>(placed.offset), placed.duration}});
      }
    }
    first = last;
    if (matched.empty()) continue;

    if (!std::is_sorted(matched.begin(), matched.end(), [](const TileEntry& a, const TileEntry& b) {
          return tile_entry_key(a) < tile_entry_key(b);
        })) {
      detail::radix_sort(matched, sort_scratch, tile_entry_key);
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
    detail::LengthTally tally(matched.size(), shortest, longest, scratch.length_counts);
    GroupSums sums;
    for (std::size_t begin = 0; begin < matched.size();) {
      std::size_t end = begin + 1;
      while (end < matched.size() && matched[end].phase_epoch == matched[begin].phase_epoch) ++end;
      sums.add(
          detail::cell_figures(std::span(intervals.data() + begin, end - begin), scratch, tally));
      begin = end;
    }
    const auto lengths =
        tally.counting() ? tally.figures() : detail::length_figures(intervals, scratch);
    summaries.push_back(summary_of(detail::step_group_key(query, physical, profile.steps.front()),
                                   1, sums, lengths, profile.clock_hz));
  }
  return summaries;
}

}  // namespace

QueryReport query(const zel_package::PackedProfile& profile, const Query& query) {
  const bool by_tile = query.group_by == GroupBy::Tile;
  detail::StepRoutes routes = by_tile ? detail::route_by_phase_epoch(profile.steps, query)
                                      : detail::route_by_group(profile.steps, query);
  detail::SampleSelection selection(query.sample_limit);
  FirstPass pass = first_pass(profile, query, routes, !by_tile, selection);

  std::vector<GroupSummary> summaries = by_tile ? summarize_by_tile(profile, query, routes)
                                                : summarize_by_step(profile, query, routes, pass);
  detail::order_and_limit(summaries, query);
  return QueryReport{
      .clock_hz = profile.clock_hz,
      .tile_count = profile.tiles.size(),
      .sample_count = zel_package::sample_count(profile),
      .matched_sample_count = pass.matched,
      .profile_span_cycles = pass.span,
      .profile_span_ms = cycles_to_ms(pass.span, profile.clock_hz),
      .at_offset = query.at_offset,
      .groups = std::move(summaries),
      .samples = selection.take(),
  };
}

}  // namespace zel_profile
