// The packed engine's one pass over the samples of a range of tiles when grouping by step. The
// cells are measured a batch of time at a time: a batch holds the cells whose (phase, epoch) falls
// in one range of time numbers (StepRoutes::cell_times). Each batch reads, on every tile, the
// samples from where the last batch stopped up to the first matched sample of a later batch, and
// sorts what it read by cell. Tiles list their samples in order of time, so a sample is read once
// and a batch holds about its share of the samples. A tile that does not (a matched sample of an
// earlier batch comes after one of a later batch) is marked, and the query is made again with that
// tile read whole by every batch, each taking its own samples of it.
#pragma once

#include <cstddef>
#include <cstdint>
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

// A cell's matched samples in a batch.
struct CellCount {
  std::size_t count = 0;
  std::uint32_t shortest = UINT32_MAX;
  std::uint32_t longest = 0;
};

// The tiles on which a group's samples matched, as ranges of numbers. A group meets a tile entry's
// samples one after the other, so it looks at the entry's number once a run.
struct GroupTiles {
  std::size_t last_entry = SIZE_MAX;
  std::vector<TileRange> ranges;

  void meet(std::size_t entry, std::uint32_t physical_tile) {
    if (last_entry == entry) return;
    last_entry = entry;
    add_tile(ranges, physical_tile);
  }
};

// Where a step's matched samples go: their cell and group (no_route when the step fails the
// query's step filters) and the batch of the cell's time.
struct StepTarget {
  std::uint32_t cell = no_route;
  std::uint32_t group = no_route;
  std::uint32_t batch = 0;
};

// The targets of the profile's steps when the cells are measured in `batches` batches of about
// equal ranges of time numbers.
std::vector<StepTarget> step_targets(const StepRoutes& routes, std::uint32_t batches);

// A matched sample as a batch reads it.
struct ArrivedSample {
  std::uint32_t cell;
  CellEntry interval;
};

// What one share of the tiles (a thread's) has read, batch after batch.
struct ShareReading {
  std::vector<std::size_t> next;  // by tile - first tile: the place of the first sample not read
  ScanTotals totals;              // over every sample read
  std::size_t matched = 0;
  bool late = false;  // a matched sample of an earlier batch came after one of a later batch
  std::vector<ArrivedSample> arrived;   // this batch's matched samples, in order of reading
  std::vector<GroupTiles> group_tiles;  // by group: this batch's tiles
  std::vector<CellCount> counts;        // by cell: this batch's, zero for cells it has not
  std::vector<std::uint32_t> touched;   // the cells this batch has counted, in any order
  std::vector<std::size_t> next_place;  // by cell: where the share's next entry of it goes

  // Ready to read tiles first_tile .. end_tile - 1 from their start.
  void start(std::size_t first_tile, std::size_t end_tile, const StepRoutes& routes);
};

// Reads batch `batch` of tiles first_tile .. end_tile - 1 (the share's) into `share.arrived`,
// counting its samples by cell into share.counts and share.touched, and offering each to `longest`
// with its place in match order (`first_order[t]` being that of tile t's first sample). A tile t
// with whole[t - first_tile] set is read whole for the batch's samples; a tile found out of order
// gets it set, and share.late.
void read_batch(const zel_package::PackedProfile& profile, std::size_t first_tile,
                std::size_t end_tile, const StepRoutes& routes,
                const std::vector<StepTarget>& targets, std::uint32_t batch,
                const std::vector<std::uint64_t>& first_order, std::uint8_t* whole,
                ShareReading& share, SampleSelection& longest);

// Writes the share's samples of the batch to their cells' places in `entries`, at
// share.next_place[cell], which advances; then clears the share's batch.
void place_batch(ShareReading& share, CellEntry* entries);

}  // namespace zel_profile::detail
