// How evenly the tiles shared the work of each execution of a phase: per (phase, epoch), the
// wall-clock cycles of the phase and how busy its busiest tile was against the average tile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>

namespace zel_profile {

// The balance of one (phase, epoch) over the tiles that ran in it.
//
// Only the samples that pass the query's filters count, as in `query`. A tile is one entry of the
// profile's tile list: each entry has its own time axis, and a profile of several chips may list a
// physical tile number more than once. A tile ran in a (phase, epoch) when at least one of its
// matched samples belongs to it (a sample of length 0 included). Its busy cycles there are the
// length of the union of its working samples' intervals on its axis (steps of kind exchange or
// compute), so overlapping samples of one tile count once, and the cycles it spends waiting
// (synchronization, idle) do not count: a tile that finishes its work early and waits at the
// barrier shows as less busy than the tile the others wait for.
struct PhaseBalance {
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  std::uint64_t phase_cycles = 0;  // length of the union of the matched intervals over all tiles
  std::size_t tile_count = 0;      // tiles that ran in it
  std::uint64_t busy_cycles = 0;   // working cycles, summed over those tiles
  std::uint64_t maximum_busy_cycles = 0;  // of the busiest tile
  std::uint32_t critical_tile = 0;  // the busiest tile's physical number; ties: the smallest number
  double mean_busy_cycles = 0.0;    // busy_cycles / tile_count
  double imbalance = 0.0;  // maximum_busy_cycles / mean_busy_cycles; 0.0 when the mean is 0
  // The cycles lost to imbalance: maximum_busy_cycles - mean_busy_cycles, what the phase would
  // save were every tile as busy as the mean one.
  double lost_cycles = 0.0;
  // The busiest tile's chip, among profiles balanced together; ties: the smallest (chip, number).
  std::uint32_t critical_chip = 0;

  bool operator==(const PhaseBalance&) const = default;
};

// One PhaseBalance per (phase, epoch) with a matched sample, in ascending order of (phase, epoch).
// The query's grouping, ordering and limits play no part. With a window, only the samples' parts
// inside it count, with or without Query::clip: a window's balance is that of the cycles run in it,
// not of whole samples that reach into it from outside. Doubles:
// the mean is the sum converted to double divided by the count converted to double, the imbalance
// the maximum converted to double divided by the mean. Throws std::invalid_argument when a sample
// names a step the profile does not have.
std::vector<PhaseBalance> load_balance(const zel_package::PackedProfile& profile,
                                       const Query& query);

// The balances worst first, as every front end lists them: by lost_cycles, the largest first, then
// by phase_cycles, the largest first, then as given. A ratio (imbalance) would put a phase that
// loses a few cycles of a short mean above one that loses many; the cycles lost say what fixing the
// phase is worth.
std::vector<PhaseBalance> worst_balanced_first(std::vector<PhaseBalance> balances);

// The same over several profiles, each a chip (numbered from 0 in the order given): every chip's
// tiles count in each (phase, epoch), each on its own time axis.
std::vector<PhaseBalance> load_balance(std::span<const zel_package::PackedProfile> profiles,
                                       const Query& query);

}  // namespace zel_profile
