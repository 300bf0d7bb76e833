#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/scan.hpp>

#include "random_profiles.hpp"
#include "reference_query.hpp"

namespace zel_profile {
namespace {

// (tile place, offset, length, the step itself) of a selected sample.
using Seen = std::tuple<std::size_t, std::uint64_t, std::uint32_t, zel_package::ProfileStep>;

// Over random profiles, queries and ranges of tiles: scan hands over exactly the samples the
// reference selects, in list order, with their offsets and lengths, and counts every sample of the
// range and its span; scan_until, resumed where it stopped, hands over the same.
TEST(Scan, HandsOverWhatTheReferenceSelects) {
  testing::RandomProfiles random(4242);
  for (int round = 0; round < 2000; ++round) {
    const auto profile = random.profile(round % 10 == 0 ? 300 : 12);
    const auto query = random.query(profile);
    const std::size_t end = random.below(static_cast<std::uint32_t>(profile.tiles.size()) + 1);
    const std::size_t first = random.below(static_cast<std::uint32_t>(end) + 1);

    std::vector<Seen> expected;
    std::size_t samples = 0;
    std::uint64_t span = 0;
    for (std::size_t t = first; t < end; ++t) {
      const auto& tile = profile.tiles[t];
      for (const auto& sample : tile.samples) {
        const std::uint64_t offset =
            static_cast<std::uint32_t>(sample.start_cycle - tile.samples.front().start_cycle);
        const auto length = static_cast<std::uint32_t>(sample.end_cycle - sample.start_cycle);
        ++samples;
        span = std::max(span, offset + length);
        if (reference::passes(query, tile.physical_tile, sample, offset)) {
          // With clip, the part inside the window.
          const auto [start, stop] = reference::counted_part(query, offset, length);
          expected.emplace_back(t, start, static_cast<std::uint32_t>(stop - start), sample.step);
        }
      }
    }

    const auto packed = zel_package::pack(profile);
    const Selection selection = select(packed, query);
    std::vector<Seen> seen;
    const auto see = [&](std::vector<Seen>& into) {
      return [&](const ScannedSample& sample) {
        into.emplace_back(sample.tile, sample.offset, sample.length, packed.steps[sample.step]);
      };
    };
    const ScanTotals totals = scan(packed, selection, first, end, see(seen));
    ASSERT_EQ(seen, expected) << "round " << round;
    ASSERT_EQ(totals.samples, samples) << "round " << round;
    ASSERT_EQ(totals.span_cycles, span) << "round " << round;

    // The same walk resumed: each tile read in runs, each of which stops before the next sample
    // of a random step after its first sample.
    std::vector<Seen> resumed;
    ScanTotals resumed_totals;
    const auto stop_step = static_cast<std::uint32_t>(
        random.below(static_cast<std::uint32_t>(std::max<std::size_t>(packed.steps.size(), 1))));
    for (std::size_t t = first; t < end; ++t) {
      for (std::size_t at = 0; at < packed.tiles[t].samples.size();) {
        std::size_t asked = 0;
        const std::size_t next = scan_until(
            packed, selection, t, at,
            [&](std::uint32_t step) { return asked++ > 0 && step == stop_step; }, see(resumed),
            resumed_totals);
        ASSERT_GT(next, at) << "round " << round;
        at = next;
      }
    }
    ASSERT_EQ(resumed, expected) << "round " << round;
    ASSERT_EQ(resumed_totals.samples, samples) << "round " << round;
    ASSERT_EQ(resumed_totals.span_cycles, span) << "round " << round;
  }
}

}  // namespace
}  // namespace zel_profile
