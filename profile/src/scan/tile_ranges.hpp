// Sets of tiles, (chip, physical number) pairs, kept as ascending ranges of consecutive numbers of
// one chip: a group usually runs on a few blocks of consecutive tiles, which this keeps in a few
// entries.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include <zel_profile/partial.hpp>

namespace zel_profile::detail {

// Adds a tile of chip 0; cheapest when tiles come in ascending order.
inline void add_tile(std::vector<TileRange>& ranges, std::uint32_t tile) {
  if (!ranges.empty()) {
    TileRange& last = ranges.back();
    if (tile >= last.first && tile <= last.last) return;
    if (last.last != UINT32_MAX && tile == last.last + 1) {
      last.last = tile;
      return;
    }
  }
  ranges.push_back(TileRange{tile, tile});
}

// Sorts the ranges and joins those of one chip that overlap or adjoin.
inline void normalize_tiles(std::vector<TileRange>& ranges) {
  // True when `a` comes before `b` with a gap, or on an earlier chip.
  const auto apart = [](const TileRange& a, const TileRange& b) {
    return a.chip != b.chip ? a.chip < b.chip : a.last != UINT32_MAX && a.last + 1 < b.first;
  };
  bool normal = true;
  for (std::size_t i = 1; i < ranges.size() && normal; ++i) {
    normal = apart(ranges[i - 1], ranges[i]);
  }
  if (normal) return;
  std::sort(ranges.begin(), ranges.end(), [](const TileRange& a, const TileRange& b) {
    return a.chip != b.chip ? a.chip < b.chip : a.first < b.first;
  });
  std::size_t kept = 0;
  for (std::size_t i = 1; i < ranges.size(); ++i) {
    if (apart(ranges[kept], ranges[i])) {
      ranges[++kept] = ranges[i];
    } else {
      ranges[kept].last = std::max(ranges[kept].last, ranges[i].last);
    }
  }
  ranges.resize(kept + 1);
}

// The number of tiles in normalized ranges.
inline std::size_t tile_count(const std::vector<TileRange>& ranges) {
  std::size_t count = 0;
  for (const TileRange& range : ranges) count += std::size_t{range.last} - range.first + 1;
  return count;
}

}  // namespace zel_profile::detail
