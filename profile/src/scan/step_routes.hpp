// What a query decides once per distinct step of a packed profile beyond its selection: where a
// matched sample of the step is counted.
//
// A cell is one (group, (phase, epoch)) pair: the union of the intervals of a cell is the unit of
// phase cycles. For every grouping but Tile the group, and so the cell, follows from the step
// alone. Cells are numbered group by group, so the cells of one group are consecutive.
#pragma once

#include <cstdint>
#include <vector>

#include <zel_package/records.hpp>
#include <zel_profile/matching.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/scan.hpp>

namespace zel_profile::detail {

inline constexpr std::uint32_t no_route = UINT32_MAX;

struct StepRoute {
  std::uint32_t cell = no_route;   // no_route: the step fails the query's step filters
  std::uint32_t group = no_route;  // the cell's group; no_route when grouping by tile
};

struct StepRoutes {
  Selection selection;                     // what the routes were made from
  std::vector<StepRoute> routes;           // one per step
  std::vector<GroupKey> groups;            // by group number; empty when grouping by tile
  std::vector<std::uint32_t> group_cells;  // group g owns cells group_cells[g] .. group_cells[g+1]
  std::vector<PhaseEpoch> cell_phase_epochs;  // by cell
  // When grouping by tile: the place of each cell's (phase, epoch) in ascending order of the pairs.
  std::vector<std::uint32_t> cell_ranks;
  std::uint32_t cell_count = 0;
};

// Routes for groupings by kind, kernel, operation, phase, metadata or profile: cell = (group,
// phase epoch), numbered in ascending order of group number, then of (phase, epoch). `chip` is the
// profile's place among those queried together.
StepRoutes route_by_group(const std::vector<zel_package::ProfileStep>& steps, const Query& query,
                          Selection selection, std::uint32_t chip = 0);

// Routes for grouping by tile, whose group depends on the sample's tile: the cell is the number of
// the step's (phase, epoch) alone, numbered in order of first appearance among the steps, and the
// caller keeps the groups apart. A profile's steps are listed in order of first use, so this
// follows time on every tile and keeps a tile's samples in ascending order of their cells.
StepRoutes route_by_phase_epoch(const std::vector<zel_package::ProfileStep>& steps,
                                Selection selection);

}  // namespace zel_profile::detail
