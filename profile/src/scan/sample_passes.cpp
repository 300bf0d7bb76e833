#include "scan/sample_passes.hpp"

#include <algorithm>

namespace zel_profile::detail {

std::vector<StepTarget> step_targets(const StepRoutes& routes, std::uint32_t batches) {
  std::vector<StepTarget> targets(routes.routes.size());
  for (std::size_t s = 0; s < targets.size(); ++s) {
    const StepRoute route = routes.routes[s];
    if (route.cell == no_route) continue;
    targets[s] = StepTarget{
        .cell = route.cell,
        .group = route.group,
        .batch = static_cast<std::uint32_t>(std::uint64_t{routes.cell_times[route.cell]} * batches /
                                            std::max<std::uint32_t>(routes.time_count, 1)),
    };
  }
  return targets;
}

void ShareReading::start(std::size_t first_tile, std::size_t end_tile, const StepRoutes& routes) {
  next.assign(end_tile - first_tile, 0);
  totals = {};
  matched = 0;
  late = false;
  arrived.clear();
  group_tiles.assign(routes.groups.size(), GroupTiles{});
  counts.assign(routes.cell_count, CellCount{});
  touched.clear();
  next_place.resize(routes.cell_count);
}

void read_batch(const zel_package::PackedProfile& profile, std::size_t first_tile,
                std::size_t end_tile, const StepRoutes& routes,
                const std::vector<StepTarget>& targets, std::uint32_t batch,
                const std::vector<std::uint64_t>& first_order, std::uint8_t* whole,
                ShareReading& share, SampleSelection& longest) {
  const StepTarget* target_of = targets.data();
  const std::uint64_t origin = routes.selection.origin();
  for (std::size_t t = first_tile; t < end_tile; ++t) {
#if defined(__GNUC__)
    // The next tile's part, which the processor cannot foresee: the walk jumps from tile to tile.
    if (t + 1 < end_tile) {
      const auto& samples = profile.tiles[t + 1].samples;
      const std::size_t from = share.next[t + 1 - first_tile];
      const auto* bytes = reinterpret_cast<const char*>(samples.data() + from);
      const std::size_t size = (samples.size() - from) * sizeof(samples[0]);
      for (std::size_t line = 0; line < std::min<std::size_t>(size, 1024); line += 64) {
        __builtin_prefetch(bytes + line);
      }
    }
#endif
    const std::uint32_t physical = profile.tiles[t].physical_tile;
    // Inlined into both walks below, which are the hot loop of a grouped query.
    const auto take = [&](const ScannedSample& sample) __attribute__((always_inline)) {
      const StepTarget target = target_of[sample.step];
      share.arrived.push_back({target.cell, cell_entry(sample, origin)});
      CellCount& cell = share.counts[target.cell];
      if (cell.count++ == 0) share.touched.push_back(target.cell);
      cell.shortest = std::min(cell.shortest, sample.length);
      cell.longest = std::max(cell.longest, sample.length);
      share.group_tiles[target.group].meet(t, physical);
      if (longest.wanted()) {
        longest.offer(physical, sample.offset, sample.length, sample.step,
                      first_order[t] + sample.index);
      }
    };
    if (whole[t - first_tile] != 0) {
      ScanTotals again;  // the tile's totals count once, in the first batch
      scan_until(
          profile, routes.selection, t, 0, [](std::uint32_t) { return false; },
          [&](const ScannedSample& sample) {
            if (target_of[sample.step].batch == batch) take(sample);
          },
          batch == 0 ? share.totals : again);
      continue;
    }
    std::size_t& next = share.next[t - first_tile];
    next = scan_until(
        profile, routes.selection, t, next,
        [&](std::uint32_t step) { return target_of[step].batch > batch; },
        [&](const ScannedSample& sample) {
          if (target_of[sample.step].batch < batch) {
            share.late = true;
            whole[t - first_tile] = 1;
          }
          take(sample);
        },
        share.totals);
  }
  share.matched += share.arrived.size();
}

void place_batch(ShareReading& share, CellEntry* entries) {
  std::size_t* place = share.next_place.data();
  for (const ArrivedSample& sample : share.arrived) entries[place[sample.cell]++] = sample.interval;
  share.arrived.clear();
  for (const std::uint32_t cell : share.touched) share.counts[cell] = CellCount{};
  share.touched.clear();
  for (GroupTiles& tiles : share.group_tiles) tiles = GroupTiles{};
}

}  // namespace zel_profile::detail
