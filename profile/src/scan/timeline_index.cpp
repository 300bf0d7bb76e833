// Marks in time over each tile's samples, so that a timeline of a window starts and stops each
// tile's walk near the window.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_package/step_kinds.hpp>

#include <zel_profile/scan.hpp>
#include <zel_profile/timeline.hpp>

#include "scan/index_parts.hpp"
#include "scan/run_parallel.hpp"

namespace zel_profile {
namespace {

using detail::TileMarks;

// Samples an average tile has between two marks.
constexpr std::uint64_t samples_a_mark = 16;

constexpr std::size_t kind_count = zel_package::step_kind_names.size();
constexpr std::uint8_t no_kind = UINT8_MAX;

// Adds each sample's cycles, by kind, to the mark intervals it shares cycles with. Samples come in
// time order, so the mark of a sample's start is found by stepping from the last one.
class MarkCycles {
 public:
  MarkCycles(std::uint64_t mark_cycles, std::size_t mark_count)
      : mark_cycles_(mark_cycles), cycles_(mark_count * kind_count, 0) {}

  // Adds [start, end) under `kind`; `start` is at or after the last sample's.
  void add(std::uint64_t start, std::uint64_t end, std::size_t kind) {
    while (start >= start_mark_end_) {
      ++start_mark_;
      start_mark_end_ += mark_cycles_;
    }
    std::size_t mark = start_mark_;
    std::uint64_t mark_end = start_mark_end_;
    for (std::uint64_t from = start; from < end; ++mark, mark_end += mark_cycles_) {
      const std::uint64_t to = std::min(end, mark_end);
      std::uint32_t& cell = cycles_[mark * kind_count + kind];
      narrow_ = narrow_ && to - from <= std::numeric_limits<std::uint32_t>::max() - cell;
      cell += static_cast<std::uint32_t>(to - from);
      from = to;
    }
  }
  // The cycles, or none when one of them did not fit.
  std::vector<std::uint32_t> take() {
    return narrow_ ? std::move(cycles_) : std::vector<std::uint32_t>{};
  }

 private:
  std::uint64_t mark_cycles_;
  std::size_t start_mark_ = 0;
  std::uint64_t start_mark_end_ = mark_cycles_;
  bool narrow_ = true;
  std::vector<std::uint32_t> cycles_;
};

// The marks of tile `tile`, or none when its samples do not start in order. `kind_of` gives each
// step's kind, or `no_kind`.
TileMarks mark_tile(const zel_package::PackedProfile& profile, const Selection& every,
                    const std::vector<std::uint8_t>& kind_of, std::size_t tile,
                    std::uint64_t mark_cycles, std::size_t mark_count) {
  const std::size_t sample_count = profile.tiles[tile].samples.size();
  if (sample_count >= std::numeric_limits<std::uint32_t>::max()) return {};
  TileMarks marks;
  marks.reaching.reserve(mark_count);
  marks.starting.reserve(mark_count);
  MarkCycles kind_cycles(mark_cycles, mark_count);
  bool in_order = true;
  bool known_kinds = true;
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
    const std::uint8_t kind = kind_of[sample.step];
    known_kinds = known_kinds && kind != no_kind;
    if (in_order && known_kinds) {
      kind_cycles.add(sample.offset, sample.offset + sample.length, kind);
    }
    ++place;
  });
  if (!in_order) return {};
  marks.starting.resize(mark_count, place);
  marks.reaching.resize(mark_count, place);
  if (known_kinds) marks.kind_cycles = kind_cycles.take();
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
  const std::uint64_t span_cycles = parts == 0 ? 0 : *std::max_element(spans.begin(), spans.end());
  const std::uint64_t samples = zel_package::sample_count(profile);
  const std::uint64_t marks_a_tile = std::max<std::uint64_t>(
      1, samples / std::max<std::size_t>(1, profile.tiles.size()) / samples_a_mark);
  const std::uint64_t mark_cycles =
      std::max<std::uint64_t>(1, span_cycles / marks_a_tile + (span_cycles % marks_a_tile != 0));
  // Marks 0 .. span / mark_cycles + 1: the last is past the end of every sample.
  const std::size_t mark_count = static_cast<std::size_t>(span_cycles / mark_cycles + 2);
  std::vector<std::uint8_t> kind_of(profile.steps.size(), no_kind);
  for (std::size_t s = 0; s < profile.steps.size(); ++s) {
    if (zel_package::is_step_kind(profile.steps[s].kind)) {
      kind_of[s] = static_cast<std::uint8_t>(profile.steps[s].kind);
    }
  }
  std::vector<TileMarks> tiles(profile.tiles.size());
  detail::run_parallel(parts, [&](std::size_t part) {
    for (std::size_t t = bounds[part]; t < bounds[part + 1]; ++t) {
      tiles[t] = mark_tile(profile, every, kind_of, t, mark_cycles, mark_count);
    }
  });
  return detail::IndexParts::make(span_cycles, mark_cycles, std::move(tiles));
}

}  // namespace zel_profile
