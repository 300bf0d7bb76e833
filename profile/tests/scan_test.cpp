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
// range and its span; scan_interleaved hands over the same samples in some order.
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

    std::vector<Seen> interleaved;
    scan_interleaved(packed, selection, first, end, see(interleaved));
    const auto by_place = [](const Seen& a, const Seen& b) {
      return std::tie(std::get<0>(a), std::get<1>(a), std::get<2>(a)) <
             std::tie(std::get<0>(b), std::get<1>(b), std::get<2>(b));
    };
    std::stable_sort(interleaved.begin(), interleaved.end(), by_place);
    std::stable_sort(expected.begin(), expected.end(), by_place);
    ASSERT_EQ(interleaved.size(), expected.size()) << "round " << round;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(std::get<1>(interleaved[i]), std::get<1>(expected[i])) << "round " << round;
      ASSERT_EQ(std::get<2>(interleaved[i]), std::get<2>(expected[i])) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace zel_profile
