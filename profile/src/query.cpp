#include <zel_profile/query.hpp>

#include <algorithm>
#include <utility>
#include <vector>

#include <zel_profile/matching.hpp>
#include <zel_profile/summary.hpp>

#include "checked_arithmetic.hpp"
#include "group_order.hpp"
#include "group_table.hpp"
#include "sample_prefetch.hpp"
#include "sample_selection.hpp"

namespace zel_profile {
namespace {

// How many samples ahead the texts of a sample are requested from memory.
constexpr std::size_t lookahead = 6;

std::vector<GroupSummary> summarize_groups(detail::GroupTable& table, std::uint64_t clock_hz) {
  std::vector<GroupSummary> summaries;
  summaries.reserve(table.groups().size());
  detail::SummaryScratch scratch;
  auto& groups = table.groups();
  while (!groups.empty()) {
    auto& group = groups.front();
    summaries.push_back(group.totals.summarize(std::move(group.name), std::move(group.dimensions),
                                               clock_hz, scratch));
    groups.pop_front();  // releases the group's lists as soon as they are summarised
  }
  return summaries;
}

}  // namespace

QueryReport query(const zel_package::ProfileReport& report, const Query& query) {
  const std::size_t sample_count = zel_package::sample_count(report);

  detail::GroupTable table(query);
  const detail::SamplePrefetch prefetch(query);
  detail::SampleSelection selection(query.sample_limit);
  std::size_t matched_sample_count = 0;
  std::uint64_t span = 0;

  for (const auto& tile : report.tiles) {
    const std::uint32_t base = tile.samples.empty() ? 0 : tile.samples.front().start_cycle;
    const std::size_t count = tile.samples.size();
    for (std::size_t i = 0; i < count; ++i) {
      const auto& sample = tile.samples[i];
      if (i + lookahead < count) {
        prefetch(tile.samples[i + lookahead]);
      }
      // Normalised start: the wrapping 32-bit distance from the tile's base, widened without sign.
      const std::uint64_t offset = static_cast<std::uint32_t>(sample.start_cycle - base);
      const std::uint32_t sample_duration = duration(sample);
      const std::uint64_t end =
          detail::checked_add<std::uint64_t>(offset, sample_duration, "interval end");
      // The span covers every sample, matched or not.
      span = std::max(span, end);
      if (!matches_query(query, tile.physical_tile, sample, offset, sample_duration)) {
        continue;
      }
      matched_sample_count =
          detail::checked_add<std::size_t>(matched_sample_count, 1, "matched sample count");
      auto& group = table.find_or_create(tile.physical_tile, sample, offset);
      group.totals.add(tile.physical_tile, detail::phase_epoch_key(sample.step), offset,
                       sample_duration, end);
      if (selection.wanted()) {
        selection.offer(tile.physical_tile, offset, sample_duration, sample.step);
      }
    }
  }

  return detail::assemble_report(query,
                                 {.clock_hz = report.clock_hz,
                                  .tile_count = report.tiles.size(),
                                  .sample_count = sample_count,
                                  .matched_sample_count = matched_sample_count,
                                  .span_cycles = span},
                                 summarize_groups(table, report.clock_hz), selection.take());
}

}  // namespace zel_profile
