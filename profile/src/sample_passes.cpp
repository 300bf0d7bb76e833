#include "sample_passes.hpp"

#include <algorithm>

namespace zel_profile::detail {
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

}  // namespace

// Pass 1 over tiles first .. end - 1. `count_cells` is false when grouping by tile, where cells are
// counted per tile later.
FirstPass first_pass(const PackedProfile& profile, std::size_t first, std::size_t end,
                     const Query& query, const StepRoutes& routes, bool count_cells,
                     SampleSelection& selection) {
  FirstPass pass;
  const std::size_t step_count = profile.steps.size();
  if (count_cells) {
    pass.cells.assign(routes.cell_count, CellCount{});
    pass.group_tiles.resize(routes.groups.size());
  }
  const auto& route_of = routes.routes;
  for (std::size_t t = first; t < end; ++t) {
    const auto& tile = profile.tiles[t];
    pass.samples += tile.samples.size();
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
      const StepRoute route = route_of[sample.step];
      if (route.cell == no_route || !running_at(query.at_offset, placed)) continue;
      ++pass.matched;
      if (count_cells) {
        CellCount& cell = pass.cells[route.cell];
        ++cell.count;
        cell.shortest = std::min(cell.shortest, placed.duration);
        cell.longest = std::max(cell.longest, placed.duration);
        pass.group_tiles[route.group].meet(t, tile.physical_tile);
      }
      if (selection.wanted()) {
        selection.offer(tile.physical_tile, placed.offset, placed.duration,
                        profile.steps[sample.step]);
      }
    }
  }
  return pass;
}

// Pass 2 for the tiles first_tile .. end_tile - 1: each matched sample written as (start, length)
// at next[cell], which advances.
//
// Tiles are walked a block at a time, a few samples of each tile in turn. Tiles run the same steps
// at about the same positions of their lists, so the entries written one after the other go to a
// few cells rather than to a different cell each time, which keeps the writes in cache. The order
// of entries within a cell does not matter to any figure.
void scatter(const PackedProfile& profile, std::size_t first_tile, std::size_t end_tile,
             const Query& query, const StepRoutes& routes, std::vector<std::size_t>& next,
             CellEntry* entries) {
  const auto& route_of = routes.routes;
  for (std::size_t block = first_tile; block < end_tile; block += scatter_tiles) {
    const std::size_t block_end = std::min(end_tile, block + scatter_tiles);
    std::size_t longest = 0;
    for (std::size_t t = block; t < block_end; ++t) {
      const auto& tile = profile.tiles[t];
      if (tile_selected(query, tile.physical_tile)) {
        longest = std::max(longest, tile.samples.size());
      }
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
          if (cell == no_route) continue;
          const Placed placed = place(sample, base);
          if (!running_at(query.at_offset, placed)) continue;
          entries[next[cell]++] =
              CellEntry{static_cast<std::uint32_t>(placed.offset), placed.duration};
        }
      }
    }
  }
}

}  // namespace zel_profile::detail
