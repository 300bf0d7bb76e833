#include "scan/sample_passes.hpp"

#include <algorithm>

namespace zel_profile::detail {

FirstPass first_pass(const zel_package::PackedProfile& profile, std::size_t first, std::size_t end,
                     const StepRoutes& routes, bool count_cells, SampleSelection& longest) {
  FirstPass pass;
  if (count_cells) {
    pass.cells.assign(routes.cell_count, CellCount{});
    pass.group_tiles.resize(routes.groups.size());
  }
  const StepRoute* route_of = routes.routes.data();
  const ScanTotals totals =
      scan(profile, routes.selection, first, end, [&](const ScannedSample& sample) {
        ++pass.matched;
        if (count_cells) {
          const StepRoute route = route_of[sample.step];
          CellCount& cell = pass.cells[route.cell];
          ++cell.count;
          cell.shortest = std::min(cell.shortest, sample.length);
          cell.longest = std::max(cell.longest, sample.length);
          pass.group_tiles[route.group].meet(sample.tile, profile.tiles[sample.tile].physical_tile);
        }
        if (longest.wanted()) {
          longest.offer(profile.tiles[sample.tile].physical_tile, sample.offset, sample.length,
                        sample.step);
        }
      });
  pass.samples = totals.samples;
  pass.span = totals.span_cycles;
  return pass;
}

void scatter(const zel_package::PackedProfile& profile, std::size_t first_tile,
             std::size_t end_tile, const StepRoutes& routes, std::vector<std::size_t>& next,
             CellEntry* entries) {
  const StepRoute* route_of = routes.routes.data();
  std::size_t* place = next.data();
  const std::uint64_t origin = routes.selection.origin();
  scan_interleaved(profile, routes.selection, first_tile, end_tile,
                   [&](const ScannedSample& sample) {
                     entries[place[route_of[sample.step].cell]++] = cell_entry(sample, origin);
                   });
}

}  // namespace zel_profile::detail
