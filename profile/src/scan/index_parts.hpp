// The parts of a TimelineIndex, for the engine's walks over a window and its tests.
//
// Time is marked every `mark_cycles` cycles from 0; per tile, at mark k (cycle k * mark_cycles):
//   reaching[k]  the first sample from which on some sample ends after the mark: every sample
//                before it ends at or before the mark;
//   starting[k]  the first sample that starts at or after the mark; since the tile's samples start
//                in order, so do all after it.
// Both hold marks 0 .. span_cycles / mark_cycles + 1, the last past every sample. A tile whose
// samples do not start in time order (or that holds 2^32 samples or more) has no marks, and a
// timeline reads all of its samples.
//
// With the marks, the cycles each kind spends between them: kind_cycles[k * 4 + kind] are the
// cycles of the tile's samples of that step kind (in the order of TimelineColor::Kind's
// categories) inside [k * mark_cycles, (k + 1) * mark_cycles), for every mark k. A timeline whose
// bins are wider than a mark adds these up and reads only the samples around each bin's edge. Empty
// when a figure would not fit 32 bits or a step's kind is not one of the four; the samples are
// then read.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include <zel_profile/timeline.hpp>

namespace zel_profile::detail {

struct IndexParts {
  // The profile's span, every sample counted.
  static std::uint64_t span_cycles(const TimelineIndex& index) { return index.span_cycles_; }
  static std::uint64_t mark_cycles(const TimelineIndex& index) { return index.mark_cycles_; }
  // The marks of each tile, by place in the profile's tile list.
  static const std::vector<TileMarks>& tiles(const TimelineIndex& index) { return index.tiles_; }

  static TimelineIndex make(std::uint64_t span_cycles, std::uint64_t mark_cycles,
                            std::vector<TileMarks> tiles) {
    TimelineIndex index;
    index.span_cycles_ = span_cycles;
    index.mark_cycles_ = mark_cycles;
    index.tiles_ = std::move(tiles);
    return index;
  }
};

}  // namespace zel_profile::detail
