#include <zel_profile/load_balance.hpp>

#include <algorithm>
#include <iterator>
#include <map>
#include <span>
#include <utility>

#include <zel_package/step_kinds.hpp>

#include <zel_profile/scan.hpp>
#include <zel_profile/summary.hpp>

#include "query/summary_figures.hpp"
#include "scan/step_routes.hpp"

namespace zel_profile {
namespace {

using zel_package::PackedProfile;

// A matched sample of one tile: the number of its (phase, epoch), its interval, and whether its
// step works (exchange or compute) rather than waits (synchronization or idle).
struct Busy {
  std::uint32_t phase_epoch = 0;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  bool working = false;
};

// What one (phase, epoch) collects while the tiles are read.
struct Collected {
  std::vector<Interval> runs;  // each tile's union, as disjoint runs per tile
  std::size_t tile_count = 0;
  std::uint64_t busy_cycles = 0;
  std::uint64_t maximum_busy_cycles = 0;
  std::uint32_t critical_chip = 0;
  std::uint32_t critical_tile = 0;
};

// Adds a run to a (phase, epoch)'s runs. Tiles mostly run a phase at about the same normalised
// time, so a run usually overlaps the last one kept and joins it: the list, and the sort that
// measures its union, stay short. Joining overlapping runs leaves their union as it was.
void add_run(std::vector<Interval>& runs, std::uint64_t start, std::uint64_t end) {
  if (!runs.empty() && start <= runs.back().second && end >= runs.back().first) {
    runs.back().first = std::min(runs.back().first, start);
    runs.back().second = std::max(runs.back().second, end);
  } else {
    runs.emplace_back(start, end);
  }
}

// Adds one tile's matched samples, sorted by (phase, epoch) and then start, to the collections:
// the union of all of them to the phase's runs, that of the working ones to the tile's busy cycles.
// `working` is room for the working samples of one (phase, epoch).
void collect_tile(std::span<const Busy> samples, std::uint32_t chip, std::uint32_t physical_tile,
                  std::vector<Collected*>& collected, std::vector<Busy>& working) {
  const auto bounds = [](const Busy& sample) { return std::pair(sample.start, sample.end); };
  for (std::size_t begin = 0, end = 0; begin < samples.size(); begin = end) {
    const std::uint32_t number = samples[begin].phase_epoch;
    for (end = begin + 1; end < samples.size() && samples[end].phase_epoch == number;) ++end;
    const auto block = samples.subspan(begin, end - begin);
    Collected& phase = *collected[number];
    detail::union_runs_of_sorted(block, bounds, [&](std::uint64_t start, std::uint64_t stop) {
      add_run(phase.runs, start, stop);
    });
    working.clear();
    std::copy_if(block.begin(), block.end(), std::back_inserter(working),
                 [](const Busy& sample) { return sample.working; });
    const std::uint64_t busy =
        detail::union_length_of_sorted(std::span<const Busy>(working), bounds);
    ++phase.tile_count;
    phase.busy_cycles += busy;
    const bool busiest =
        phase.tile_count == 1 || busy > phase.maximum_busy_cycles ||
        (busy == phase.maximum_busy_cycles &&
         std::pair(chip, physical_tile) < std::pair(phase.critical_chip, phase.critical_tile));
    if (busiest) {
      phase.maximum_busy_cycles = busy;
      phase.critical_chip = chip;
      phase.critical_tile = physical_tile;
    }
  }
}

}  // namespace

std::vector<PhaseBalance> load_balance(const PackedProfile& profile, const Query& query) {
  return load_balance(std::span(&profile, 1), query);
}

std::vector<PhaseBalance> load_balance(std::span<const PackedProfile> profiles,
                                       const Query& query) {
  // A window's balance is always that of the cycles run inside it: whole samples reaching into a
  // short window would count work done outside it, and make imbalance up.
  Query windowed = query;
  windowed.clip = query.clip || query.from_offset || query.to_offset;
  // Every chip's (phase, epoch) pairs, each pair collected in one place for all chips.
  std::map<PhaseEpoch, Collected> by_pair;
  for (std::uint32_t chip = 0; chip < profiles.size(); ++chip) {
    const PackedProfile& profile = profiles[chip];
    // The same selection and (phase, epoch) numbers as a query grouped by tile.
    const detail::StepRoutes routes =
        detail::route_by_phase_epoch(profile.steps, select(profile, windowed));
    std::vector<Collected*> collected(routes.cell_phase_epochs.size());
    for (std::size_t number = 0; number < collected.size(); ++number) {
      collected[number] = &by_pair[routes.cell_phase_epochs[number]];
    }
    // Whether each step works, decided once per step rather than read from the step per sample.
    std::vector<std::uint8_t> working(profile.steps.size());
    for (std::size_t s = 0; s < working.size(); ++s) {
      working[s] = zel_package::is_working(profile.steps[s].kind);
    }
    std::vector<Busy> samples;
    std::vector<Busy> working_samples;
    for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
      samples.clear();
      scan(profile, routes.selection, t, t + 1, [&](const ScannedSample& sample) {
        samples.push_back({routes.routes[sample.step].cell, sample.offset,
                           sample.offset + sample.length, working[sample.step] != 0});
      });
      if (samples.empty()) continue;
      // A tile's samples normally come in time order, one (phase, epoch) after the other; sorting
      // is needed only when they do not.
      const auto before = [](const Busy& left, const Busy& right) {
        return std::pair(left.phase_epoch, left.start) < std::pair(right.phase_epoch, right.start);
      };
      if (!std::is_sorted(samples.begin(), samples.end(), before)) {
        std::sort(samples.begin(), samples.end(), before);
      }
      collect_tile(samples, chip, profile.tiles[t].physical_tile, collected, working_samples);
    }
  }

  // In ascending order of (phase, epoch), as the map keeps them.
  std::vector<PhaseBalance> balances;
  for (auto& [phase_epoch, phase] : by_pair) {
    if (phase.tile_count == 0) continue;
    PhaseBalance balance{.phase = phase_epoch.first,
                         .epoch = phase_epoch.second,
                         .phase_cycles = union_length(phase.runs),
                         .tile_count = phase.tile_count,
                         .busy_cycles = phase.busy_cycles,
                         .maximum_busy_cycles = phase.maximum_busy_cycles,
                         .critical_tile = phase.critical_tile,
                         .critical_chip = phase.critical_chip};
    balance.mean_busy_cycles =
        static_cast<double>(balance.busy_cycles) / static_cast<double>(balance.tile_count);
    balance.imbalance =
        balance.mean_busy_cycles == 0.0
            ? 0.0
            : static_cast<double>(balance.maximum_busy_cycles) / balance.mean_busy_cycles;
    balance.lost_cycles =
        static_cast<double>(balance.maximum_busy_cycles) - balance.mean_busy_cycles;
    balances.push_back(balance);
    std::vector<Interval>().swap(phase.runs);
  }
  return balances;
}

std::vector<PhaseBalance> worst_balanced_first(std::vector<PhaseBalance> balances) {
  std::stable_sort(balances.begin(), balances.end(),
                   [](const PhaseBalance& left, const PhaseBalance& right) {
                     if (left.lost_cycles != right.lost_cycles) {
                       return left.lost_cycles > right.lost_cycles;
                     }
                     return left.phase_cycles > right.phase_cycles;
                   });
  return balances;
}

}  // namespace zel_profile
