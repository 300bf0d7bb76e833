// The matched samples of a profile binned on a grid of tiles by normalised time, for pictures: a
// row per tile (several tiles per row when there are more tiles than rows) and a column per stretch
// of time, holding in each cell the cycles spent per category (step kind, or group).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/query.hpp>

namespace zel_profile {

// What a timeline cell's cycles are counted by.
enum class TimelineColor : std::uint8_t {
  Kind = 0,   // the step kind: categories "exchange", "compute", "synchronization", "idle"
  Group = 1,  // the query's group: the groups named in TimelineShape::groups, then all others
};

// The size of the grid and what it counts.
struct TimelineShape {
  std::size_t rows = 64;   // at most this many rows
  std::size_t bins = 200;  // at most this many columns of time
  TimelineColor color_by = TimelineColor::Kind;
  // For TimelineColor::Group: the group names (under the query's group_by) that get a category of
  // their own, in this order; every other group's samples count in one last category.
  std::vector<std::string> groups;
  // The displayed range of normalised cycles [from, to), which the bins split; a sample counts
  // only its cycles inside it. An absent end is 0, or the profile's span.
  std::optional<std::uint64_t> from;
  std::optional<std::uint64_t> to;
  // Aligned bins: `to` is clamped to the span, and the range widened to whole bins of a width
  // whose multiples are their edges, the least width (among those tried: the range over `bins`,
  // over `bins` - 1, then doubling) for which at most `bins` of them cover it; so that a view
  // moved sideways keeps its bins' edges. Read through an index, a width of more than its marks
  // is a whole number of marks (the longest mark of the profiles'), which each tile's kind cycles
  // between marks add up.
  bool aligned = false;

  bool operator==(const TimelineShape&) const = default;
};

// How many groups get colours of their own in a timeline coloured by group.
inline constexpr std::size_t coloured_group_count = 12;

// The groups a timeline coloured by group gives categories of their own: the report's first
// coloured_group_count, in its order.
inline std::vector<std::string> coloured_groups(const QueryReport& report) {
  std::vector<std::string> names;
  for (std::size_t g = 0; g < std::min(report.groups.size(), coloured_group_count); ++g) {
    names.push_back(report.groups[g].name);
  }
  return names;
}

// One row of the grid: tiles first_tile .. end_tile - 1 of the profile's tile list, among those
// the query's tile filter admits.
struct TimelineRow {
  std::uint32_t chip = 0;            // the profile's place among those drawn together
  std::size_t first_tile = 0;        // position in the profile's tile list
  std::size_t end_tile = 0;          // one past the last position covered
  std::size_t tile_count = 0;        // tiles of the row that the tile filter admits
  std::uint32_t lowest_tile = 0;     // smallest physical tile number in the row
  std::uint32_t highest_tile = 0;    // largest physical tile number in the row
  std::vector<std::uint32_t> tiles;  // the admitted tiles' physical numbers, in list order
  // Matched cycles per bin and category: cycles[bin * categories.size() + category], summed over
  // the row's tiles. Overlapping samples of one tile each count.
  std::vector<std::uint64_t> cycles;

  bool operator==(const TimelineRow&) const = default;
};

// The grid. Time runs over the displayed range [first_cycle, end_cycle), by default
// [0, span_cycles), the profile's span (as in the query report); bin b covers
// [first_cycle + b * bin_cycles, min(first_cycle + (b + 1) * bin_cycles, end_cycle)). A sample adds
// to each bin the cycles its interval shares with it, so over the whole span the cycles of a row's
// cells sum to the work cycles of its matched samples.
struct Timeline {
  std::vector<std::string> categories;
  std::uint64_t span_cycles = 0;
  std::uint64_t first_cycle = 0;  // the displayed range
  std::uint64_t end_cycle = 0;
  std::uint64_t bin_cycles = 0;  // the smallest width that covers the range in the bins asked for
  std::size_t bins = 0;          // 0 for an empty range
  std::vector<TimelineRow> rows;
  // Matched cycles per bin and step kind over every row: kind_cycles[bin * 4 + kind]. Divided by
  // a bin's width it is the average number of tiles busy with that kind during the bin.
  std::vector<std::uint64_t> kind_cycles;
  std::size_t chip_count = 1;  // the profiles (chips) drawn

  bool operator==(const Timeline&) const = default;
};

// The timeline of the samples that pass the query's filters; the query's grouping decides groups
// for TimelineColor::Group, its ordering and limits play no part. Rows share the admitted tiles in
// list order as evenly as possible: with n tiles in r rows, row i holds tiles [i*n/r, (i+1)*n/r) of
// them. Each sample costs time in proportion to the bins it spans. Throws std::invalid_argument
// when a sample names a step the profile does not have, or a step's kind is not one of the four.
Timeline timeline(const zel_package::PackedProfile& profile, const Query& query,
                  const TimelineShape& shape);

// The timeline of several profiles drawn together, each a chip: chip 0's rows first, then chip
// 1's, and so on, a row never holding two chips' tiles. Each chip's admitted tiles get rows in
// proportion to their number, at least one (so more rows than asked for when the chips are more).
// Time runs over the longest span of them all unless the shape gives the range; groups are named
// as a query over the same profiles names them. One profile alone is drawn as above.
Timeline timeline(std::span<const zel_package::PackedProfile> profiles, const Query& query,
                  const TimelineShape& shape);

namespace detail {
// One tile's marks in a TimelineIndex; see timeline_index.cpp.
struct TileMarks {
  std::vector<std::uint32_t> reaching;
  std::vector<std::uint32_t> starting;
  std::vector<std::uint32_t> kind_cycles;

  bool operator==(const TileMarks&) const = default;
};
struct IndexParts;
}  // namespace detail

// Where each tile's samples lie in time, taken once from a profile so that a timeline of a window
// reads only the samples near it, and the cycles each kind spends between the marks of time it
// keeps, so that bins wider than a mark read only the samples around their edges. Its parts are
// the engine's own.
class TimelineIndex {
 public:
  bool operator==(const TimelineIndex&) const = default;

 private:
  friend struct detail::IndexParts;
  std::uint64_t span_cycles_ = 0;  // the profile's span, every sample counted
  std::uint64_t mark_cycles_ = 1;
  std::vector<detail::TileMarks> tiles_;  // by place in the profile's tile list
};

// The index of `profile`, for about 16 samples a mark on an average tile: one walk over every
// sample, the tiles shared among `parallelism`'s threads. Throws std::invalid_argument when a
// sample names a step the profile does not have.
TimelineIndex index_timeline(const zel_package::PackedProfile& profile, Parallelism parallelism);

// The same timeline as timeline(profile, query, shape), cell for cell, read through `index` (which
// must be index_timeline(profile, ...)): the span is the index's, and each tile's walk starts at
// the mark at or before the displayed range and stops at the mark at or after its end. The rows
// are shared among `parallelism`'s threads.
// Example: a 1600-bin picture of cycles [10^6, 2 * 10^6) that reads about the samples in it.
//   const auto index = index_timeline(profile, {.threads = 0});
//   const auto grid = timeline(profile, Query{}, {.bins = 1600, .from = 1000000, .to = 2000000},
//                              index, {.threads = 0});
Timeline timeline(const zel_package::PackedProfile& profile, const Query& query,
                  const TimelineShape& shape, const TimelineIndex& index, Parallelism parallelism);

// The same for several profiles drawn together as chips, as timeline(profiles, query, shape)
// draws them, each read through its index: indexes[p] must be index_timeline(profiles[p], ...).
// Throws std::invalid_argument when the lists differ in length or an index is of another profile.
Timeline timeline(std::span<const zel_package::PackedProfile> profiles, const Query& query,
                  const TimelineShape& shape, std::span<const TimelineIndex> indexes,
                  Parallelism parallelism);

}  // namespace zel_profile
