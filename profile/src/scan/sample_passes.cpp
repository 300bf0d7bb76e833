#include "scan/sample_passes.hpp"

#include <algorithm>

namespace zel_profile::detail {

FirstPass first_pass(const zel_package::PackedProfile& profile, std::size_t first, std::size_t end,
                     const StepRoutes& routes, bool count_cells, const Slices& slices,
                     SlicePlaces& places, SampleSelection& longest) {
  FirstPass pass;
  if (count_cells) {
    pass.cells.assign(routes.cell_count, CellCount{});
    pass.group_tiles.resize(routes.groups.size());
  }
  const bool sliced = count_cells && slices.count != 0;
  const std::size_t row = slices.count + 1;
  if (sliced) {
    places.starts.assign((end - first) * row, 0);
    places.unordered.assign(end - first, 0);
  }
  // The tile whose places are being found, and the first slice whose start it has not met yet.
  std::size_t current = SIZE_MAX;
  std::uint32_t next_slice = 0;
  const auto close_tile = [&] {
    if (current == SIZE_MAX) return;
    std::uint32_t* starts = places.starts.data() + (current - first) * row;
    const auto size = static_cast<std::uint32_t>(profile.tiles[current].samples.size());
    std::fill(starts + next_slice, starts + row, size);
  };
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
          if (sliced) {
            if (sample.tile != current) {
              close_tile();
              current = sample.tile;
              next_slice = 0;
            }
            const std::uint32_t slice = slices.slice_of_cell[route.cell];
            if (slice >= next_slice) {
              std::uint32_t* starts = places.starts.data() + (current - first) * row;
              std::fill(starts + next_slice, starts + slice + 1,
                        static_cast<std::uint32_t>(sample.index));
              next_slice = slice + 1;
            } else if (slice + 1 < next_slice) {
              places.unordered[current - first] = 1;
            }
          }
        }
        if (longest.wanted()) {
          longest.offer(profile.tiles[sample.tile].physical_tile, sample.offset, sample.length,
                        sample.step);
        }
      });
  if (sliced) close_tile();
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

namespace zel_profile::detail {

void scatter_slices(const zel_package::PackedProfile& profile, std::size_t first_tile,
                    std::size_t end_tile, const StepRoutes& routes, const Slices& slices,
                    const SlicePlaces& places, std::uint32_t first_slice, std::uint32_t end_slice,
                    std::vector<std::size_t>& next, CellEntry* entries) {
  const StepRoute* route_of = routes.routes.data();
  const std::uint32_t* slice_of_cell = slices.slice_of_cell.data();
  std::size_t* place = next.data();
  const std::uint64_t origin = routes.selection.origin();
  const std::size_t row = slices.count + 1;
  for (std::size_t t = first_tile; t < end_tile; ++t) {
    const std::uint32_t* starts = places.starts.data() + (t - first_tile) * row;
    if (places.unordered[t - first_tile] != 0) {
      scan_samples(profile, routes.selection, t, 0, profile.tiles[t].samples.size(),
                   [&](const ScannedSample& sample) {
                     const std::uint32_t cell = route_of[sample.step].cell;
                     const std::uint32_t slice = slice_of_cell[cell];
                     if (slice >= first_slice && slice < end_slice) {
                       entries[place[cell]++] = cell_entry(sample, origin);
                     }
                   });
      continue;
    }
    scan_samples(profile, routes.selection, t, starts[first_slice], starts[end_slice],
                 [&](const ScannedSample& sample) {
                   entries[place[route_of[sample.step].cell]++] = cell_entry(sample, origin);
                 });
  }
}

}  // namespace zel_profile::detail
