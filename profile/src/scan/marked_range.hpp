// Where in a tile's list the samples near a stretch of time lie, by the tile's marks in a timeline
// index: the one reading of the marks that every walk over a window shares.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include <zel_profile/timeline.hpp>

#include "scan/index_parts.hpp"

namespace zel_profile::detail {

// The samples first .. end - 1 of a tile.
struct SampleRange {
  std::size_t first = 0;
  std::size_t end = 0;
};

// The samples of tile `tile` (its place in the profile's tile list, whose samples number
// `sample_count`) outside which none both ends after cycle `low` and starts before cycle `high`:
// from the mark at or before `low` (every sample before it ends by that mark) to the mark at or
// after `high` (every sample from it on starts at or after that mark). A tile without marks is
// read whole. Needs an index of the profile.
inline SampleRange marked_range(const TimelineIndex& index, std::size_t tile,
                                std::size_t sample_count, std::uint64_t low, std::uint64_t high) {
  const TileMarks& marks = IndexParts::tiles(index)[tile];
  if (marks.starting.empty()) return {0, sample_count};
  const std::uint64_t mark_cycles = IndexParts::mark_cycles(index);
  const std::uint64_t last_mark = marks.starting.size() - 1;
  const std::uint64_t before = std::min(low / mark_cycles, last_mark);
  const std::uint64_t after = std::min(high / mark_cycles + (high % mark_cycles != 0), last_mark);
  return {marks.reaching[before], marks.starting[after]};
}

}  // namespace zel_profile::detail
