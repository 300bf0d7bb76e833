// The reported order of the groups, and the one place a QueryReport is put together.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include <zel_profile/model.hpp>
#include <zel_profile/summary.hpp>

#include "query/sample_selection.hpp"

namespace zel_profile::detail {

// Sorts the summaries into reported order (compare_groups under query.sort_by; the order is total,
// so it does not depend on the order they were built in), turned round with query.reverse, and
// keeps the first query.limit. Returns the phase cycles of all of them, before the cut.
inline std::uint64_t order_and_limit(std::vector<GroupSummary>& summaries, const Query& query) {
  std::stable_sort(summaries.begin(), summaries.end(),
                   [&](const GroupSummary& left, const GroupSummary& right) {
                     return compare_groups(query.sort_by, left, right) < 0;
                   });
  std::uint64_t total = 0;
  for (const auto& summary : summaries) total += summary.phase_cycles;
  reverse_and_limit(summaries, query);
  return total;
}

// What a query counted over the whole profile, matched or not.
struct ProfileCounts {
  std::uint64_t clock_hz = 0;
  std::size_t tile_count = 0;
  std::size_t sample_count = 0;
  std::size_t matched_sample_count = 0;
  std::uint64_t span_cycles = 0;
};

// The report of `query`: the counts, the groups in reported order cut to the limit with the
// percent base, the longest
// samples (already in reported order) cut to the sample limit, and the query's time filters.
inline QueryReport assemble_report(const Query& query, const ProfileCounts& counts,
                                   std::vector<GroupSummary> groups, ReportedSamples samples) {
  const std::uint64_t total_phase_cycles = order_and_limit(groups, query);
  if (samples.size() > query.sample_limit) {
    samples = merge_reported(std::move(samples), {}, query.sample_limit);
  }
  return QueryReport{
      .clock_hz = counts.clock_hz,
      .tile_count = counts.tile_count,
      .sample_count = counts.sample_count,
      .matched_sample_count = counts.matched_sample_count,
      .profile_span_cycles = counts.span_cycles,
      .profile_span_ms = cycles_to_ms(counts.span_cycles, counts.clock_hz),
      .at_offset = query.at_offset,
      .from_offset = query.from_offset,
      .to_offset = query.to_offset,
      .total_phase_cycles = total_phase_cycles,
      .groups = std::move(groups),
      .samples = std::move(samples),
  };
}

}  // namespace zel_profile::detail
