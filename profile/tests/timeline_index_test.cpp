// The timeline read through the index of each tile's samples by time against the plain timeline,
// which reads every sample, on random windows of random profiles whose tiles are sometimes in time
// order (indexed) and sometimes not (read whole); and the index's marks against their contract.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/timeline.hpp>

#include "random_profiles.hpp"
#include "scan/index_parts.hpp"

namespace zel_profile {
namespace {

using detail::IndexParts;

// Every sample before reaching[k] ends by mark k; every sample from starting[k] on starts at or
// after it, every one before it starts before it; the last mark is past every sample.
void expect_marks_keep_their_contract(const zel_package::PackedProfile& profile,
                                      const TimelineIndex& index) {
  for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
    const auto& marks = IndexParts::tiles(index)[t];
    const auto& samples = profile.tiles[t].samples;
    if (marks.starting.empty()) continue;
    ASSERT_EQ(marks.reaching.size(), marks.starting.size());
    ASSERT_EQ(marks.starting.back(), samples.size());
    ASSERT_EQ(marks.reaching.back(), samples.size());
    for (std::size_t k = 0; k < marks.starting.size(); ++k) {
      const std::uint64_t mark = k * IndexParts::mark_cycles(index);
      for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::uint64_t offset =
            static_cast<std::uint32_t>(samples[i].start_cycle - samples.front().start_cycle);
        const std::uint64_t end =
            offset + static_cast<std::uint32_t>(samples[i].end_cycle - samples[i].start_cycle);
        ASSERT_EQ(offset >= mark, i >= marks.starting[k]) << "tile " << t << " mark " << k;
        if (i < marks.reaching[k]) {
          ASSERT_LE(end, mark) << "tile " << t << " mark " << k;
        }
      }
    }
    // Each kind's cycles between two marks: every sample's share of them.
    if (marks.kind_cycles.empty()) continue;
    ASSERT_EQ(marks.kind_cycles.size(), marks.starting.size() * 4);
    std::vector<std::uint64_t> expected(marks.kind_cycles.size(), 0);
    for (const auto& sample : samples) {
      const std::uint64_t offset =
          static_cast<std::uint32_t>(sample.start_cycle - samples.front().start_cycle);
      const std::uint64_t end =
          offset + static_cast<std::uint32_t>(sample.end_cycle - sample.start_cycle);
      const auto kind = static_cast<std::size_t>(profile.steps[sample.step].kind);
      for (std::size_t k = 0; k < marks.starting.size(); ++k) {
        const std::uint64_t mark_cycles = IndexParts::mark_cycles(index);
        const std::uint64_t from = std::max<std::uint64_t>(offset, k * mark_cycles);
        const std::uint64_t to = std::min<std::uint64_t>(end, (k + 1) * mark_cycles);
        if (from < to) expected[k * 4 + kind] += to - from;
      }
    }
    ASSERT_EQ(std::vector<std::uint64_t>(marks.kind_cycles.begin(), marks.kind_cycles.end()),
              expected)
        << "tile " << t;
  }
}

// Aligned bins: at most as many as asked, on multiples of their width, covering the window (its
// end clamped to the span) with less than a bin to spare at either end; wider than a mark, whole
// marks wide.
void expect_aligned(const Timeline& grid, const TimelineShape& shape, std::uint64_t span,
                    std::uint64_t mark_cycles) {
  const std::uint64_t from = shape.from.value_or(0);
  const std::uint64_t to = std::min(shape.to.value_or(span), span);
  if (from >= to || shape.bins == 0) {
    ASSERT_EQ(grid.bins, 0u);
    return;
  }
  const std::uint64_t width = grid.bin_cycles;
  ASSERT_GE(grid.bins, 1u);
  ASSERT_LE(grid.bins, shape.bins) << "[" << from << ", " << to << ") width " << width;
  ASSERT_EQ(grid.first_cycle % width, 0u);
  ASSERT_EQ(grid.end_cycle, grid.first_cycle + grid.bins * width);
  ASSERT_LE(grid.first_cycle, from);
  ASSERT_GT(grid.first_cycle + width, from);
  ASSERT_GE(grid.end_cycle, to);
  ASSERT_LT(grid.end_cycle - width, to);
  if (width > mark_cycles) {
    ASSERT_EQ(width % mark_cycles, 0u);
  }
}

TEST(TimelineIndex, GivesThePlainTimelineOnRandomWindows) {
  testing::RandomProfiles random(2026);
  std::size_t indexed_tiles = 0;
  std::size_t whole_tiles = 0;
  std::size_t summed_tiles = 0;  // tiles a timeline took from the marks' kind cycles
  for (int round = 0; round < 1500; ++round) {
    auto profile = random.profile(round % 10 == 0 ? 400 : 40);
    const bool in_order = random.chance(70);
    for (auto& tile : profile.tiles) {
      if (in_order) testing::put_in_time_order(tile);
    }
    const auto packed = zel_package::pack(profile);
    const auto index = index_timeline(packed, {.threads = 1 + static_cast<std::size_t>(round % 3)});
    const auto& tile_marks = IndexParts::tiles(index);
    ASSERT_EQ(tile_marks.size(), packed.tiles.size());
    ASSERT_NO_FATAL_FAILURE(expect_marks_keep_their_contract(packed, index)) << "round " << round;
    for (const auto& marks : tile_marks) ++(marks.starting.empty() ? whole_tiles : indexed_tiles);

    auto query = random.query(profile);
    // Often the whole kinds (or every sample) of some tiles, which bins wider than a mark take
    // from the marks' kind cycles.
    const bool by_kinds = random.chance(40);
    if (by_kinds) {
      query =
          Query{.kind = random.chance(50) ? std::nullopt
                                          : std::optional(static_cast<StepKind>(random.below(4))),
                .tiles = random.chance(30) ? query.tiles : std::set<std::uint32_t>{}};
    }
    TimelineShape shape{.rows = 1 + static_cast<std::size_t>(random.below(6)),
                        .bins = static_cast<std::size_t>(random.chance(50) ? 1 + random.below(8)
                                                                           : random.below(60)),
                        .color_by = static_cast<TimelineColor>(random.below(2)),
                        .groups = {}};
    if (by_kinds) shape.color_by = TimelineColor::Kind;
    if (shape.color_by == TimelineColor::Group) shape.groups = {"gemm_f16", "layer1/conv"};
    const std::uint64_t span = timeline(packed, Query{}, {.bins = 0}).span_cycles;
    ASSERT_EQ(IndexParts::span_cycles(index), span);
    for (int window = 0; window < 6; ++window) {
      // The whole span, most of it, a window anywhere in it (down to a cycle), or one reaching
      // past it.
      shape.from.reset();
      shape.to.reset();
      if (window > 0) {
        const std::uint64_t from =
            span == 0
                ? 0
                : random.below(static_cast<std::uint32_t>(std::min<std::uint64_t>(span, 1u << 31)));
        shape.from = from;
        shape.to = from + (window % 2 == 0 ? 1 + random.below(20) : 1 + random.below(5000));
        if (window == 5) shape.to = span + random.below(100);
        if (window == 3) {
          // Most of the span, its ends anywhere.
          const auto quarter =
              static_cast<std::uint32_t>(std::min<std::uint64_t>(span / 4, 1u << 30));
          shape.from = random.below(quarter + 1);
          shape.to = span - random.below(quarter + 1);
        }
      }
      shape.aligned = random.chance(40);
      const Timeline indexed = timeline(packed, query, shape, index,
                                        {.threads = 1 + static_cast<std::size_t>(window % 2)});
      if (shape.aligned) {
        // Aligned bins of the marks' width or whole marks; the same cells as the plain timeline
        // of the range and bins they came to.
        const Timeline plain = timeline(packed, query, shape);
        ASSERT_NO_FATAL_FAILURE(expect_aligned(plain, shape, span, 1));
        ASSERT_NO_FATAL_FAILURE(
            expect_aligned(indexed, shape, span, IndexParts::mark_cycles(index)));
        if (indexed.bins > 0) {
          ASSERT_EQ(indexed, timeline(packed, query,
                                      {.rows = shape.rows,
                                       .bins = indexed.bins,
                                       .color_by = shape.color_by,
                                       .groups = shape.groups,
                                       .from = indexed.first_cycle,
                                       .to = indexed.end_cycle}))
              << "round " << round << " window " << window;
        }
      } else {
        ASSERT_EQ(indexed, timeline(packed, query, shape))
            << "round " << round << " window " << window;
      }
      if (by_kinds && indexed.bins > 0 && indexed.bin_cycles >= IndexParts::mark_cycles(index)) {
        for (const auto& marks : tile_marks) summed_tiles += !marks.kind_cycles.empty();
      }
    }
    shape.aligned = false;
    // The tiles cut into two chips, each read through its own index.
    std::vector<zel_package::PackedProfile> chips(
        2, zel_package::PackedProfile{
               .clock_hz = packed.clock_hz, .steps = packed.steps, .tiles = {}});
    const std::size_t cut = random.below(static_cast<std::uint32_t>(packed.tiles.size() + 1));
    for (std::size_t t = 0; t < packed.tiles.size(); ++t) {
      chips[t < cut ? 0 : 1].tiles.push_back(packed.tiles[t]);
    }
    const std::vector<TimelineIndex> indexes{index_timeline(chips[0], {.threads = 1}),
                                             index_timeline(chips[1], {.threads = 2})};
    ASSERT_EQ(timeline(std::span<const zel_package::PackedProfile>(chips), query, shape,
                       std::span<const TimelineIndex>(indexes), {.threads = 2}),
              timeline(std::span<const zel_package::PackedProfile>(chips), query, shape))
        << "round " << round << ", two chips cut at " << cut;
  }
  // Both ways of reading a tile were taken, often.
  EXPECT_GT(indexed_tiles, 1000u);
  EXPECT_GT(whole_tiles, 500u);
  EXPECT_GT(summed_tiles, 300u);
}

}  // namespace
}  // namespace zel_profile
