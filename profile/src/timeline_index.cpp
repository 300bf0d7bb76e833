// Marks in time over each tile's samples, so that a timeline of a window starts and stops each
// tile's walk near the window.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include <zel_profile/scan.hpp>
#include <zel_profile/timeline.hpp>

#include "run_parallel.hpp"

namespace zel_profile {
namespace {

// Samples an average tile has between two marks.
constexpr std::uint64_t samples_a_mark = 16;

// The marks of tile `tile`, or none when its samples do not start in order.
TileMarks mark_tile(const zel_package::PackedProfile& profile, const Selection& every,
                    std::size_t tile, std::uint64_t mark_cycles, std::size_t mark_count) {
  const std::size_t sample_count = profile.tiles[tile].samples.size();
  if (sample_count >= std::numeric_limits<std::uint32_t>::max()) return {};
  TileMarks marks;
  marks.reaching.reserve(mark_count);
  marks.starting.reserve(mark_count);
  bool in_order = true;
  std::uint64_t last_offset = 0;
  std::uint64_t reach = 0;  // the latest end of the samples so far
  std::uint32_t place = 0;
  scan(profile, every, tile, tile + 1, [&](const ScannedSample& sample) {
    in_order = in_order && sample.offset >= last_offset;
    last_offset = sample.offset;
    while (marks.starting.size() < mark_count &&
           marks.starting.size() * mark_cycles <= sample.offset) {
      marks.starting.push_back(place);
    }
    reach = std::max(reach, sample.offset + sample.length);
    while (marks.reaching.size() < mark_count && marks.reaching.size() * mark_cycles < reach) {
      marks.reaching.push_back(place);
    }
    ++place;
  });
  if (!in_order) return {};
  marks.starting.resize(mark_count, place);
  marks.reaching.resize(mark_count, place);
  return marks;
}

}  // namespace

TimelineIndex index_timeline(const zel_package::PackedProfile& profile, Parallelism parallelism) {
  // Every sample, selected or not.
  const Selection every{.steps = std::vector<std::uint8_t>(profile.steps.size(), 1)};
  const auto bounds = detail::cut(0, profile.tiles.size(), thread_count(parallelism),
                                  [&](std::size_t t) { return profile.tiles[t].samples.size(); });
  const std::size_t parts = bounds.size() - 1;
  std::vector<std::uint64_t> spans(parts, 0);
  detail::run_parallel(parts, [&](std::size_t part) {
    spans[part] = scan(profile, every, bounds[part], bounds[part + 1], [](const ScannedSample&) {
                  }).span_cycles;
  });
  TimelineIndex index;
  index.span_cycles = parts == 0 ? 0 : *std::max_element(spans.begin(), spans.end());
  std::uint64_t samples = 0;
  for (const auto& tile : profile.tiles) samples += tile.samples.size();
  const std::uint64_t marks_a_tile = std::max<std::uint64_t>(
      1, samples / std::max<std::size_t>(1, profile.tiles.size()) / samples_a_mark);
  index.mark_cycles = std::max<std::uint64_t>(
      1, index.span_cycles / marks_a_tile + (index.span_cycles % marks_a_tile != 0));
  // Marks 0 .. span / mark_cycles + 1: the last is past the end of every sample.
  const std::size_t mark_count =
      static_cast<std::size_t>(index.span_cycles / index.mark_cycles + 2);
  index.tiles.resize(profile.tiles.size());
  detail::run_parallel(parts, [&](std::size_t part) {
    for (std::size_t t = bounds[part]; t < bounds[part + 1]; ++t) {
      index.tiles[t] = mark_tile(profile, every, t, index.mark_cycles, mark_count);
    }
  });
  return index;
}

}  // namespace zel_profile
