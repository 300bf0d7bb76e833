// The packed engine's two passes over the samples of a range of tiles: the first counts what
// matches (and where it goes), the second writes each matched sample into its cell. Also the few
// facts about a sample that every pass computes alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/partial.hpp>

#include "cell_figures.hpp"
#include "sample_selection.hpp"
#include "step_routes.hpp"
#include "tile_ranges.hpp"

namespace zel_profile::detail {

[[noreturn]] inline void step_out_of_range(std::uint32_t step, std::size_t step_count) {
  throw std::invalid_argument("a sample refers to step " + std::to_string(step) +
                              " of a profile with " + std::to_string(step_count) + " steps");
}

inline bool tile_selected(const Query& query, std::uint32_t physical_tile) {
  return query.tiles.empty() || query.tiles.contains(physical_tile);
}

// A sample's place on its tile's axis.
struct Placed {
  std::uint64_t offset;
  std::uint32_t duration;
  std::uint64_t end;
};

inline Placed place(const zel_package::PackedSample& sample, std::uint32_t base) {
  const std::uint64_t offset = static_cast<std::uint32_t>(sample.start_cycle - base);
  const auto duration = static_cast<std::uint32_t>(sample.end_cycle - sample.start_cycle);
  return Placed{offset, duration, offset + duration};
}

inline bool running_at(const std::optional<std::uint64_t>& at, const Placed& placed) {
  // The end is below 2^33, so it needs no saturation.
  return !at || (*at >= placed.offset && *at < placed.end);
}

// A cell's matched samples as pass 1 counts them.
struct CellCount {
  std::size_t count = 0;
  std::uint32_t shortest = UINT32_MAX;
  std::uint32_t longest = 0;
};

// The tiles on which a group's samples matched, as ranges of numbers. Tile entries are met one
// after the other, so a group meets each entry in one run and looks at its number once.
struct GroupTiles {
  std::size_t last_entry = SIZE_MAX;
  std::vector<TileRange> ranges;

  void meet(std::size_t entry, std::uint32_t physical_tile) {
    if (last_entry == entry) return;
    last_entry = entry;
    add_tile(ranges, physical_tile);
  }
};

// What pass 1 learns.
struct FirstPass {
  std::size_t samples = 0;
  std::size_t matched = 0;
  std::uint64_t span = 0;
  std::vector<CellCount> cells;         // by cell, when grouping by step
  std::vector<GroupTiles> group_tiles;  // by group
};

// Pass 1 over tiles first .. end - 1. `count_cells` is false when grouping by tile, where cells are
// counted per tile later.
FirstPass first_pass(const zel_package::PackedProfile& profile, std::size_t first, std::size_t end,
                     const Query& query, const StepRoutes& routes, bool count_cells,
                     SampleSelection& selection);

// Pass 2 for the tiles first_tile .. end_tile - 1: each matched sample written as (start, length)
// at next[cell], which advances.
//
// Tiles are walked a block at a time, a few samples of each tile in turn. Tiles run the same steps
// at about the same positions of their lists, so the entries written one after the other go to a
// few cells rather than to a different cell each time, which keeps the writes in cache. The order
// of entries within a cell does not matter to any figure.
void scatter(const zel_package::PackedProfile& profile, std::size_t first_tile,
             std::size_t end_tile, const Query& query, const StepRoutes& routes,
             std::vector<std::size_t>& next, CellEntry* entries);

// The matched samples of every cell, cells side by side in order.
struct ScatteredCells {
  std::vector<std::size_t> begin;  // by cell, and one past the last
  std::vector<CellCount> counts;   // by cell: totals over every share
  std::unique_ptr<CellEntry[]> entries;
};

}  // namespace zel_profile::detail
