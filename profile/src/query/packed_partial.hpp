// The packed engine's partial result over a range of a profile's tiles, with the decisions per
// step made once and shared by every range of the same profile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/partial.hpp>

#include "query/cell_figures.hpp"
#include "scan/sample_passes.hpp"
#include "scan/step_routes.hpp"

namespace zel_profile::detail {

// How many samples a batch of time holds, about, when grouping by step (sample_passes.hpp): the
// cells are measured in enough batches for each to hold about `entries` of the tiles' samples.
struct BatchLimits {
  std::size_t entries = std::size_t{1} << 19;
};

// Memory kept from one query to the next (the inside of QueryScratch): the cell entries of a
// batch, what each share of the tiles reads, the summed counts by cell, and each thread's scratch
// for measuring cells. Grown when a query needs more, never shrunk.
struct ScratchParts {
  std::unique_ptr<CellEntry[]> entries;
  std::size_t entry_capacity = 0;
  std::vector<ShareReading> readings;
  std::vector<CellCount> counts;
  std::vector<CellScratch> cells;

  CellEntry* entries_for(std::size_t count) {
    if (count > entry_capacity) {
      entries.reset();
      entries.reset(new CellEntry[count]);
      entry_capacity = count;
    }
    return entries.get();
  }
};

// The routes of the profile's steps under the query, the profile being chip `chip` of those
// queried together.
StepRoutes route_steps(const zel_package::PackedProfile& profile, const Query& query,
                       std::uint32_t chip = 0);

// The partial result over tiles first_tile .. end_tile - 1 (end_tile <= the number of tiles) of
// chip `chip`, on up to `threads` threads (at least 1); `routes` are route_steps' for that chip.
PartialQuery partial_over(const zel_package::PackedProfile& profile, const Query& query,
                          const StepRoutes& routes, std::size_t first_tile, std::size_t end_tile,
                          std::size_t threads, std::uint32_t chip, ScratchParts& scratch,
                          const BatchLimits& limits = {});

// The whole report of a query over all of the profile's tiles, on up to `threads` threads (at
// least 1), without partials: the threads share the passes over the tiles and then the groups.
QueryReport query_whole(const zel_package::PackedProfile& profile, const Query& query,
                        const StepRoutes& routes, std::size_t threads, ScratchParts& scratch,
                        const BatchLimits& limits = {});

}  // namespace zel_profile::detail
