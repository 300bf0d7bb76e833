#include "reference_query.hpp"

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include <zel_profile/matching.hpp>
#include <zel_profile/summary.hpp>

#include "checked_arithmetic.hpp"

namespace zel_profile::reference {
namespace {

// A matched sample kept for possible individual reporting; it refers to the caller's sample.
struct Candidate {
  std::uint32_t tile = 0;
  std::uint64_t offset = 0;
  std::uint32_t duration = 0;
  std::reference_wrapper<const zel_package::CycleSample> sample;
};

std::uint32_t tile_base(const zel_package::TileProfile& tile) {
  return tile.samples.empty() ? 0 : tile.samples.front().start_cycle;
}

// Normalised start: the wrapping 32-bit distance from the tile's base, widened without sign.
std::uint64_t offset_from(std::uint32_t base, const zel_package::CycleSample& sample) {
  return static_cast<std::uint32_t>(sample.start_cycle - base);
}

std::size_t count_samples(const zel_package::ProfileReport& report) {
  std::size_t count = 0;
  for (const auto& tile : report.tiles) {
    count = detail::checked_add(count, tile.samples.size(), "sample count");
  }
  return count;
}

std::uint64_t profile_span(const zel_package::ProfileReport& report) {
  std::uint64_t span = 0;
  for (const auto& tile : report.tiles) {
    const std::uint32_t base = tile_base(tile);
    for (const auto& sample : tile.samples) {
      const std::uint64_t end = detail::checked_add<std::uint64_t>(
          offset_from(base, sample), duration(sample), "interval end");
      span = std::max(span, end);
    }
  }
  return span;
}

void accumulate(Accumulator& group, std::uint32_t tile, const zel_package::CycleSample& sample,
                std::uint64_t offset, std::uint32_t sample_duration) {
  group.durations.push_back(sample_duration);
  group.tiles.insert(tile);
  const std::uint64_t end =
      detail::checked_add<std::uint64_t>(offset, sample_duration, "interval end");
  group.phases[PhaseEpoch{sample.step.phase, sample.step.epoch}].emplace_back(offset, end);
  group.work_cycles =
      detail::checked_add<std::uint64_t>(group.work_cycles, sample_duration, "work cycles");
  group.first_offset = std::min(group.first_offset, offset);
  group.last_offset = std::max(group.last_offset, end);
}

SampleRecord sample_record(Candidate candidate) {
  const auto& step = candidate.sample.get().step;
  SampleRecord record{
      .physical_tile = candidate.tile,
      .offset = candidate.offset,
      .duration = candidate.duration,
      .phase = step.phase,
      .epoch = step.epoch,
      .kind = std::string(kind_name(candidate.sample.get())),
      .operation = step.operation,
      .kernel = step.kernel,
      .metadata = {},
  };
  record.metadata.reserve(step.metadata.size());
  for (const auto& entry : step.metadata) {
    record.metadata.push_back(MetadataEntry{.name = entry.name, .value = entry.value});
  }
  return record;
}

}  // namespace

QueryReport query(const zel_package::ProfileReport& report, const Query& query) {
  const std::size_t sample_count = count_samples(report);
  const std::uint64_t span = profile_span(report);

  std::unordered_map<std::string, Accumulator> groups;
  std::vector<Candidate> candidates;
  std::size_t matched_sample_count = 0;

  for (const auto& tile : report.tiles) {
    const std::uint32_t base = tile_base(tile);
    for (const auto& sample : tile.samples) {
      const std::uint64_t offset = offset_from(base, sample);
      const std::uint32_t sample_duration = duration(sample);
      if (!matches_query(query, tile.physical_tile, sample, offset, sample_duration)) {
        continue;
      }
      matched_sample_count =
          detail::checked_add<std::size_t>(matched_sample_count, 1, "matched sample count");
      GroupKey key = group_key(query, tile.physical_tile, sample);
      auto found = groups.find(key.name);
      if (found == groups.end()) {
        Accumulator created{.dimensions = std::move(key.dimensions), .first_offset = offset};
        found = groups.emplace(std::move(key.name), std::move(created)).first;
      }
      accumulate(found->second, tile.physical_tile, sample, offset, sample_duration);
      if (query.sample_limit > 0) {
        candidates.push_back(Candidate{.tile = tile.physical_tile,
                                       .offset = offset,
                                       .duration = sample_duration,
                                       .sample = std::cref(sample)});
      }
    }
  }

  std::vector<GroupSummary> summaries;
  summaries.reserve(groups.size());
  while (!groups.empty()) {
    auto node = groups.extract(groups.begin());
    summaries.push_back(summarize_group(std::move(node.key()), std::move(node.mapped()), report));
  }
  std::stable_sort(summaries.begin(), summaries.end(),
                   [&](const GroupSummary& left, const GroupSummary& right) {
                     return compare_groups(query.sort_by, left, right) < 0;
                   });
  if (query.limit && *query.limit < summaries.size()) {
    summaries.resize(*query.limit);
  }

  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& left, const Candidate& right) {
                     if (left.duration != right.duration) {
                       return left.duration > right.duration;
                     }
                     if (left.tile != right.tile) {
                       return left.tile < right.tile;
                     }
                     return left.offset < right.offset;
                   });
  const std::size_t reported = std::min(query.sample_limit, candidates.size());
  std::vector<SampleRecord> samples;
  samples.reserve(reported);
  for (std::size_t i = 0; i < reported; ++i) {
    samples.push_back(sample_record(candidates[i]));
  }

  return QueryReport{
      .clock_hz = report.clock_hz,
      .tile_count = report.tiles.size(),
      .sample_count = sample_count,
      .matched_sample_count = matched_sample_count,
      .profile_span_cycles = span,
      .profile_span_ms = cycles_to_ms(span, report.clock_hz),
      .at_offset = query.at_offset,
      .groups = std::move(summaries),
      .samples = std::move(samples),
  };
}

}  // namespace zel_profile::reference
