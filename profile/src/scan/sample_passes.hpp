// The packed engine's two scans of the samples of a range of tiles: the first counts what matches
// (and where it goes), the second writes each matched sample into its cell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/partial.hpp>
#include <zel_profile/scan.hpp>

#include "query/cell_figures.hpp"
#include "query/sample_selection.hpp"
#include "scan/step_routes.hpp"
#include "scan/tile_ranges.hpp"

namespace zel_profile::detail {

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
                     const StepRoutes& routes, bool count_cells, SampleSelection& longest);

// Pass 2 for the tiles first_tile .. end_tile - 1: each matched sample written as (start, length)
// at next[cell], which advances. The samples come interleaved (scan_interleaved), so that entries
// written one after the other go to a few cells; their order within a cell matters to no figure.
void scatter(const zel_package::PackedProfile& profile, std::size_t first_tile,
             std::size_t end_tile, const StepRoutes& routes, std::vector<std::size_t>& next,
             CellEntry* entries);

// The matched samples of every cell, cells side by side in order.
struct ScatteredCells {
  std::vector<std::size_t> begin;  // by cell, and one past the last
  std::vector<CellCount> counts;   // by cell: totals over every share
  std::unique_ptr<CellEntry[]> entries;
};

}  // namespace zel_profile::detail
