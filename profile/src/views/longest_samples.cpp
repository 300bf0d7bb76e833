// The longest matched samples of a query, each admitted tile read between the marks of its index
// around the query's time test.
#include <zel_profile/longest_samples.hpp>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include <zel_profile/scan.hpp>

#include "query/same_clock.hpp"
#include "query/sample_selection.hpp"
#include "scan/index_parts.hpp"
#include "scan/marked_range.hpp"

namespace zel_profile {

ReportedSamples longest_samples(std::span<const zel_package::PackedProfile> profiles,
                                const Query& query, std::span<const TimelineIndex> indexes,
                                std::size_t limit) {
  if (indexes.size() != profiles.size()) {
    throw std::invalid_argument("the samples need one index a profile");
  }
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    if (detail::IndexParts::tiles(indexes[p]).size() != profiles[p].tiles.size()) {
      throw std::invalid_argument("the samples' index is not of this profile");
    }
  }
  detail::check_same_clock(profiles);
  // A selection a chip, merged in order: on equal keys the earlier chip's sample comes first, as
  // the query's merge of its chips keeps it.
  if (limit == 0) return {};
  ReportedSamples longest;
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    detail::SampleSelection chosen(limit);
    const zel_package::PackedProfile& profile = profiles[p];
    const Selection selection = select(profile, query);
    const std::uint64_t low = std::max(selection.from, selection.at_from);
    const std::uint64_t high = std::min(selection.to, selection.at_to);
    for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
      const std::uint32_t physical_tile = profile.tiles[t].physical_tile;
      if (!selection.admits_tile(physical_tile)) continue;
      // A sample passes the time test only when it ends after both the window's and the
      // instant's first cycle and starts before both their ends.
      const std::size_t sample_count = profile.tiles[t].samples.size();
      const detail::SampleRange range =
          selection.timed ? detail::marked_range(indexes[p], t, sample_count, low, high)
                          : detail::SampleRange{0, sample_count};
      scan_samples(profile, selection, t, range.first, range.end, [&](const ScannedSample& sample) {
        chosen.offer(physical_tile, sample.offset, sample.length, sample.step);
      });
    }
    longest = detail::merge_reported(std::move(longest),
                                     detail::reported_samples(profile.steps, chosen.take()), limit);
  }
  return longest;
}

}  // namespace zel_profile
