// The load balance per (phase, epoch) and the binned timeline against plain references written in
// this file from their definitions, over many random profiles and queries. The references use
// none of the engine's functions: filters and group names come from the oracle's own reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/load_balance.hpp>
#include <zel_profile/timeline.hpp>

#include "random_profiles.hpp"
#include "reference_query.hpp"

namespace zel_profile {
namespace {

using zel_package::ProfileReport;
using Intervals = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

std::uint64_t offset_of(const zel_package::TileProfile& tile, const zel_package::CycleSample& s) {
  return static_cast<std::uint32_t>(s.start_cycle - tile.samples.front().start_cycle);
}

std::uint64_t length_of(const zel_package::CycleSample& s) {
  return static_cast<std::uint32_t>(s.end_cycle - s.start_cycle);
}

// The number of cycles covered by at least one interval, by sweeping the sorted ends.
std::uint64_t covered(Intervals intervals) {
  std::vector<std::pair<std::uint64_t, int>> events;
  for (const auto& [start, end] : intervals) {
    if (end > start) {
      events.emplace_back(start, +1);
      events.emplace_back(end, -1);
    }
  }
  std::sort(events.begin(), events.end());
  std::uint64_t total = 0;
  int open = 0;
  std::uint64_t since = 0;
  for (const auto& [at, change] : events) {
    if (open > 0) total += at - since;
    open += change;
    since = at;
  }
  return total;
}

// What one tile entry ran in one (phase, epoch).
struct TileRun {
  std::uint32_t physical_tile = 0;
  Intervals all;      // every matched sample
  Intervals working;  // the matched samples of exchange and compute steps
};

std::vector<PhaseBalance> reference_balance(const ProfileReport& profile, const Query& given) {
  // A window's balance counts the cycles inside it, clipped or not.
  Query query = given;
  query.clip = given.clip || given.from_offset || given.to_offset;
  // (phase, epoch) -> tile entry -> what it ran
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::map<std::size_t, TileRun>> runs;
  for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
    const auto& tile = profile.tiles[t];
    for (const auto& sample : tile.samples) {
      const std::uint64_t offset = offset_of(tile, sample);
      if (!reference::passes(query, tile.physical_tile, sample, offset)) continue;
      const auto part =
          reference::counted_part(query, offset, static_cast<std::uint32_t>(length_of(sample)));
      auto& entry = runs[{sample.step.phase, sample.step.epoch}][t];
      entry.physical_tile = tile.physical_tile;
      entry.all.push_back(part);
      const auto kind = sample.step.kind;
      if (kind == zel_package::ProfileStepKind::Exchange ||
          kind == zel_package::ProfileStepKind::Compute) {
        entry.working.push_back(part);
      }
    }
  }
  std::vector<PhaseBalance> balances;
  for (const auto& [phase_epoch, tiles] : runs) {
    PhaseBalance balance{.phase = phase_epoch.first, .epoch = phase_epoch.second};
    Intervals all;
    bool first = true;
    for (const auto& [entry, tile] : tiles) {
      const std::uint64_t busy = covered(tile.working);
      all.insert(all.end(), tile.all.begin(), tile.all.end());
      balance.busy_cycles += busy;
      if (first || busy > balance.maximum_busy_cycles ||
          (busy == balance.maximum_busy_cycles && tile.physical_tile < balance.critical_tile)) {
        balance.maximum_busy_cycles = busy;
        balance.critical_tile = tile.physical_tile;
      }
      first = false;
    }
    balance.tile_count = tiles.size();
    balance.phase_cycles = covered(all);
    balance.mean_busy_cycles = double(balance.busy_cycles) / double(balance.tile_count);
    balance.imbalance = balance.mean_busy_cycles > 0.0
                            ? double(balance.maximum_busy_cycles) / balance.mean_busy_cycles
                            : 0.0;
    balance.lost_cycles = double(balance.maximum_busy_cycles) - balance.mean_busy_cycles;
    balances.push_back(balance);
  }
  return balances;
}

Timeline reference_timeline(const ProfileReport& profile, const Query& query,
                            const TimelineShape& shape) {
  Timeline expected;
  const bool by_group = shape.color_by == TimelineColor::Group;
  expected.categories =
      by_group ? shape.groups
               : std::vector<std::string>{"exchange", "compute", "synchronization", "idle"};
  if (by_group) expected.categories.push_back("(other groups)");
  for (const auto& tile : profile.tiles) {
    for (const auto& sample : tile.samples) {
      expected.span_cycles =
          std::max(expected.span_cycles, offset_of(tile, sample) + length_of(sample));
    }
  }
  expected.first_cycle = shape.from ? *shape.from : 0;
  expected.end_cycle = shape.to ? *shape.to : expected.span_cycles;
  if (expected.end_cycle < expected.first_cycle) expected.end_cycle = expected.first_cycle;
  const std::uint64_t width = expected.end_cycle - expected.first_cycle;
  if (width > 0 && shape.bins > 0) {
    // The narrowest whole width that covers the range in at most `bins` bins.
    const std::uint64_t most = std::min<std::uint64_t>(shape.bins, width);
    expected.bin_cycles = width / most + (width % most != 0);
    expected.bins =
        static_cast<std::size_t>(width / expected.bin_cycles + (width % expected.bin_cycles != 0));
  }
  expected.kind_cycles.assign(expected.bins * 4, 0);
  std::vector<std::size_t> admitted;
  for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
    if (query.tiles.empty() || query.tiles.count(profile.tiles[t].physical_tile)) {
      admitted.push_back(t);
    }
  }
  const std::size_t rows = std::min(shape.rows, admitted.size());
  for (std::size_t r = 0; r < rows; ++r) {
    TimelineRow row;
    const std::size_t first = r * admitted.size() / rows;
    const std::size_t end = (r + 1) * admitted.size() / rows;
    row.first_tile = admitted[first];
    row.end_tile = admitted[end - 1] + 1;
    row.tile_count = end - first;
    row.lowest_tile = UINT32_MAX;
    row.cycles.assign(expected.bins * expected.categories.size(), 0);
    for (std::size_t a = first; a < end; ++a) {
      const auto& tile = profile.tiles[admitted[a]];
      row.lowest_tile = std::min(row.lowest_tile, tile.physical_tile);
      row.highest_tile = std::max(row.highest_tile, tile.physical_tile);
      row.tiles.push_back(tile.physical_tile);
      for (const auto& sample : tile.samples) {
        if (!reference::passes(query, tile.physical_tile, sample, offset_of(tile, sample))) {
          continue;
        }
        const auto [start, end_at] = reference::counted_part(
            query, offset_of(tile, sample), static_cast<std::uint32_t>(length_of(sample)));
        std::size_t category = static_cast<std::size_t>(sample.step.kind);
        if (by_group) {
          const auto name = reference::key_of(query, tile.physical_tile, sample.step).first;
          category =
              std::find(shape.groups.begin(), shape.groups.end(), name) - shape.groups.begin();
        }
        for (std::size_t b = 0; b < expected.bins; ++b) {
          const std::uint64_t bin_start = expected.first_cycle + b * expected.bin_cycles;
          const std::uint64_t bin_end =
              std::min(expected.end_cycle, bin_start + expected.bin_cycles);
          const std::uint64_t from = std::max(start, bin_start);
          const std::uint64_t to = std::min(end_at, bin_end);
          if (to <= from) continue;
          row.cycles[b * expected.categories.size() + category] += to - from;
          expected.kind_cycles[b * 4 + static_cast<std::size_t>(sample.step.kind)] += to - from;
        }
      }
    }
    expected.rows.push_back(std::move(row));
  }
  return expected;
}

TEST(LoadBalance, MatchesTheReferenceOnRandomProfiles) {
  testing::RandomProfiles random(9157);
  for (int round = 0; round < 3000; ++round) {
    const auto profile = random.profile(round % 10 == 0 ? 300 : 12);
    const auto query = random.query(profile);
    ASSERT_EQ(load_balance(zel_package::pack(profile), query), reference_balance(profile, query))
        << "round " << round;
  }
}

TEST(LoadBalance, CountsEachTileByTheUnionOfItsSamples) {
  // Tile 7 runs two overlapping samples (busy 15, not 20) and tile 3 one of 15 cycles: a tie,
  // which names the smaller tile number. Tile 3's synchronization sample after its work widens
  // the phase but is not busy.
  zel_package::ProfileReport profile{.clock_hz = 1, .tiles = {}};
  profile.tiles.push_back({.physical_tile = 7, .samples = {}});
  profile.tiles.push_back({.physical_tile = 3, .samples = {}});
  zel_package::ProfileStep step{.phase = 2, .epoch = 1, .operation = "op"};
  profile.tiles[0].samples = {{step, 100, 110}, {step, 105, 115}};
  auto waiting = step;
  waiting.kind = zel_package::ProfileStepKind::Synchronization;
  profile.tiles[1].samples = {{step, 0, 15}, {step, 20, 30}, {waiting, 15, 25}};
  profile.tiles[1].samples[1].step.phase = 4;
  const auto balances = load_balance(zel_package::pack(profile), Query{});
  ASSERT_EQ(balances.size(), 2u);
  EXPECT_EQ(balances[0], (PhaseBalance{.phase = 2,
                                       .epoch = 1,
                                       .phase_cycles = 25,
                                       .tile_count = 2,
                                       .busy_cycles = 30,
                                       .maximum_busy_cycles = 15,
                                       .critical_tile = 3,
                                       .mean_busy_cycles = 15.0,
                                       .imbalance = 1.0}));
  EXPECT_EQ(balances[1], (PhaseBalance{.phase = 4,
                                       .epoch = 1,
                                       .phase_cycles = 10,
                                       .tile_count = 1,
                                       .busy_cycles = 10,
                                       .maximum_busy_cycles = 10,
                                       .critical_tile = 3,
                                       .mean_busy_cycles = 10.0,
                                       .imbalance = 1.0}));
}

TEST(LoadBalance, TheWorstAreThoseThatLoseTheMostCycles) {
  // A phase at 1.318 losing 360 cycles comes after one at 1.282 losing 1,040; equal losses put the
  // longer phase first, then keep the given order.
  const auto balance = [](std::uint32_t phase, std::uint64_t phase_cycles, double lost) {
    return PhaseBalance{.phase = phase, .phase_cycles = phase_cycles, .lost_cycles = lost};
  };
  const std::vector<PhaseBalance> ranked =
      worst_balanced_first({balance(0, 10, 360.0), balance(1, 10, 1040.0), balance(2, 5, 0.0),
                            balance(3, 9, 0.0), balance(4, 9, 0.0), balance(5, 10, 360.5)});
  std::vector<std::uint32_t> phases;
  for (const PhaseBalance& phase : ranked) phases.push_back(phase.phase);
  EXPECT_EQ(phases, (std::vector<std::uint32_t>{1, 5, 0, 3, 4, 2}));
}

TEST(Timeline, MatchesTheReferenceOnRandomProfiles) {
  testing::RandomProfiles random(31337);
  for (int round = 0; round < 3000; ++round) {
    const auto profile = random.profile(round % 10 == 0 ? 300 : 12);
    const auto query = random.query(profile);
    TimelineShape shape{.rows = 1 + static_cast<std::size_t>(random.below(6)),
                        .bins = static_cast<std::size_t>(random.below(40)),
                        .color_by = static_cast<TimelineColor>(random.below(2)),
                        .groups = {}};
    // Some of the query's groups by name, and a name no group has.
    for (const auto& tile : profile.tiles) {
      for (const auto& sample : tile.samples) {
        const auto name = reference::key_of(query, tile.physical_tile, sample.step).first;
        if (random.chance(20) &&
            std::find(shape.groups.begin(), shape.groups.end(), name) == shape.groups.end()) {
          shape.groups.push_back(name);
        }
      }
    }
    if (random.chance(20)) shape.groups.push_back("no such group");
    // Sometimes a displayed range: inside the span, past it, or empty.
    if (random.chance(30)) shape.from = random.below(3000);
    if (random.chance(30)) shape.to = random.below(6000);
    ASSERT_EQ(timeline(zel_package::pack(profile), query, shape),
              reference_timeline(profile, query, shape))
        << "round " << round;
  }
}

TEST(Timeline, SeveralChipsAddUpToTheirTiles) {
  // A profile's tiles cut into two chips: the timeline and the load balance count the same cycles
  // as over the one profile, each chip's rows apart, and the critical tile names its chip.
  testing::RandomProfiles random(2026);
  for (int round = 0; round < 1000; ++round) {
    const auto whole = zel_package::pack(random.profile(12));
    Query query = random.query({});
    query.group_by = GroupBy::Kernel;
    const std::size_t cut = random.below(static_cast<std::uint32_t>(whole.tiles.size()) + 1);
    std::vector<zel_package::PackedProfile> chips(
        2, {.clock_hz = whole.clock_hz, .steps = whole.steps, .tiles = {}});
    chips[0].tiles.assign(whole.tiles.begin(), whole.tiles.begin() + cut);
    chips[1].tiles.assign(whole.tiles.begin() + cut, whole.tiles.end());
    const TimelineShape shape{.rows = 1 + static_cast<std::size_t>(random.below(6)),
                              .bins = static_cast<std::size_t>(random.below(40))};

    const Timeline one = timeline(whole, query, shape);
    const Timeline two = timeline(chips, query, shape);
    ASSERT_EQ(two.chip_count, 2u);
    EXPECT_EQ(two.span_cycles, one.span_cycles) << "round " << round;
    EXPECT_EQ(two.bins, one.bins) << "round " << round;
    EXPECT_EQ(two.kind_cycles, one.kind_cycles) << "round " << round;
    std::size_t tiles = 0;
    for (std::size_t r = 0; r < two.rows.size(); ++r) {
      const TimelineRow& row = two.rows[r];
      tiles += row.tile_count;
      if (r > 0) {
        EXPECT_LE(two.rows[r - 1].chip, row.chip) << "round " << round;
      }
      EXPECT_LE(row.end_tile, chips[row.chip].tiles.size()) << "round " << round;
    }
    std::size_t admitted = 0;
    for (const TimelineRow& row : one.rows) admitted += row.tile_count;
    EXPECT_EQ(tiles, admitted) << "round " << round;

    auto balanced = load_balance(chips, query);
    auto expected = load_balance(whole, query);
    ASSERT_EQ(balanced.size(), expected.size()) << "round " << round;
    for (std::size_t p = 0; p < balanced.size(); ++p) {
      const auto& chip_tiles = chips[balanced[p].critical_chip].tiles;
      // The critical tile is one of its chip's; ties between chips may name either.
      EXPECT_TRUE(std::any_of(
          chip_tiles.begin(), chip_tiles.end(),
          [&](const auto& tile) { return tile.physical_tile == balanced[p].critical_tile; }))
          << "round " << round;
      balanced[p].critical_chip = 0;
      balanced[p].critical_tile = expected[p].critical_tile = 0;
    }
    EXPECT_EQ(balanced, expected) << "round " << round;
  }
}

}  // namespace
}  // namespace zel_profile
