// The oracle: a query written out step by step from the definitions, with the most obvious data
// structures and none of the engine's functions (not its matching, naming, summaries, ordering or
// millisecond conversion), so that a fault in any of them shows as a difference.
#include "reference_query.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace zel_profile::reference {
namespace {

using zel_package::CycleSample;
using zel_package::ProfileStep;

std::uint32_t length_of(const CycleSample& sample) {
  return static_cast<std::uint32_t>(sample.end_cycle - sample.start_cycle);
}

std::string kind_text(const ProfileStep& step) {
  switch (static_cast<int>(step.kind)) {
    case 0:
      return "exchange";
    case 1:
      return "compute";
    case 2:
      return "synchronization";
    case 3:
      return "idle";
  }
  return "unknown";
}

bool has_entry(const ProfileStep& step, const MetadataFilter& filter) {
  return std::any_of(step.metadata.begin(), step.metadata.end(), [&](const auto& entry) {
    return entry.name == filter.name && (!filter.value || entry.value == *filter.value);
  });
}

}  // namespace

bool passes(const Query& query, std::uint32_t tile, const CycleSample& sample,
            std::uint64_t offset) {
  const ProfileStep& step = sample.step;
  if (query.kind && static_cast<int>(*query.kind) != static_cast<int>(step.kind)) return false;
  if (query.kernel && *query.kernel != step.kernel) return false;
  if (query.operation_contains &&
      step.operation.find(*query.operation_contains) == std::string::npos) {
    return false;
  }
  if (!query.tiles.empty() && query.tiles.count(tile) == 0) return false;
  if (!query.phases.empty() && query.phases.count(step.phase) == 0) return false;
  if (query.at_offset) {
    // offset + length, saturating: it cannot pass 2^33 here, so plain addition is exact.
    const std::uint64_t end = offset + length_of(sample);
    if (*query.at_offset < offset || *query.at_offset >= end) return false;
  }
  if (query.from_offset || query.to_offset) {
    // The sample's first cycle inside the window must come before the window's end and its own.
    const std::uint64_t end = offset + length_of(sample);
    std::uint64_t first = offset;
    if (query.from_offset && *query.from_offset > first) first = *query.from_offset;
    if (first >= end) return false;
    if (query.to_offset && first >= *query.to_offset) return false;
  }
  for (const auto& filter : query.metadata) {
    if (!has_entry(step, filter)) return false;
  }
  return true;
}

// "chip 12" and the like: the name an unnamed chip gets.
bool chip_like(const std::string& name) {
  if (name.size() <= 5 || name.compare(0, 5, "chip ") != 0) return false;
  for (std::size_t i = 5; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

std::pair<std::string, std::map<std::string, std::string>> key_of(const Query& query,
                                                                  std::uint32_t tile,
                                                                  const ProfileStep& step,
                                                                  std::uint32_t chip,
                                                                  std::size_t chips) {
  const std::string chip_text = std::to_string(chip);
  switch (query.group_by) {
    case GroupBy::Kind:
      return {kind_text(step), {}};
    case GroupBy::Kernel:
      return {step.kernel.empty() ? "(no kernel)" : step.kernel, {}};
    case GroupBy::Operation:
      return {step.operation, {}};
    case GroupBy::Phase:
      return {"phase " + std::to_string(step.phase) + "/" + std::to_string(step.epoch),
              {{"phase", std::to_string(step.phase)}, {"epoch", std::to_string(step.epoch)}}};
    case GroupBy::Tile:
      if (chips > 1) {
        return {"chip " + chip_text + " tile " + std::to_string(tile),
                {{"chip", chip_text}, {"physicalTile", std::to_string(tile)}}};
      }
      return {"tile " + std::to_string(tile), {{"physicalTile", std::to_string(tile)}}};
    case GroupBy::Profile: {
      const auto& names = query.profile_names;
      std::string name = "chip " + chip_text;
      if (chip < names.size() && !names[chip].empty()) {
        name = names[chip];
        std::size_t same = 0;
        for (const auto& other : names) same += other == name ? 1 : 0;
        if (same > 1 || chip_like(name)) name += " (chip " + chip_text + ")";
      }
      return {name, {{"chip", chip_text}}};
    }
    case GroupBy::Metadata: {
      const std::string name = query.metadata_key.value_or("");
      std::string value = "(missing)";
      for (const auto& entry : step.metadata) {
        if (entry.name == name) {
          value = entry.value;
          break;
        }
      }
      return {value, {{"metadataKey", name}, {"metadataValue", value}}};
    }
  }
  return {"", {}};
}

namespace {

double to_ms(std::uint64_t cycles, std::uint64_t clock_hz) {
  return clock_hz == 0 ? 0.0 : static_cast<double>(cycles) * 1000.0 / static_cast<double>(clock_hz);
}

// Cycles covered by at least one interval: sort by start, join overlapping or touching ones.
std::uint64_t covered(std::vector<Interval> intervals) {
  std::sort(intervals.begin(), intervals.end());
  std::uint64_t total = 0;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  bool open = false;
  for (const auto& [next_start, next_end] : intervals) {
    if (open && next_start <= end) {
      end = std::max(end, next_end);
      continue;
    }
    if (open) total += end - start;
    start = next_start;
    end = next_end;
    open = true;
  }
  return open ? total + (end - start) : 0;
}

struct Group {
  std::map<std::string, std::string> dimensions;
  std::vector<std::uint32_t> lengths;
  std::set<std::pair<std::uint32_t, std::uint32_t>> tiles;  // (chip, physical tile)
  std::map<PhaseEpoch, std::vector<Interval>> phases;
  std::uint64_t work = 0;
  std::uint64_t first = 0;
  std::uint64_t last = 0;
};

GroupSummary summary_of(const std::string& name, Group group, std::uint64_t clock_hz) {
  std::sort(group.lengths.begin(), group.lengths.end());
  std::uint64_t phase_cycles = 0;
  for (const auto& [phase_epoch, intervals] : group.phases) phase_cycles += covered(intervals);
  const std::size_t n = group.lengths.size();
  const auto nearest_rank = [&](std::size_t percent) {
    return n == 0 ? 0u : group.lengths[(n - 1) * percent / 100];
  };
  return GroupSummary{
      .name = name,
      .dimensions = group.dimensions,
      .sample_count = n,
      .tile_count = group.tiles.size(),
      .phase_count = group.phases.size(),
      .phase_cycles = phase_cycles,
      .phase_ms = to_ms(phase_cycles, clock_hz),
      .work_cycles = group.work,
      .average_active_tiles =
          phase_cycles == 0 ? 0.0
                            : static_cast<double>(group.work) / static_cast<double>(phase_cycles),
      .mean_cycles = n == 0 ? 0.0 : static_cast<double>(group.work) / static_cast<double>(n),
      .p50_cycles = nearest_rank(50),
      .p95_cycles = nearest_rank(95),
      .maximum_cycles = n == 0 ? 0u : group.lengths.back(),
      .first_offset = group.first,
      .last_offset = group.last,
  };
}

// True when `left` is reported before `right`.
bool group_before(SortBy sort_by, const GroupSummary& left, const GroupSummary& right) {
  const auto by_number = [](auto l, auto r) {
    return l != r ? std::optional<bool>(l > r) : std::nullopt;
  };
  std::optional<bool> decided;
  switch (sort_by) {
    case SortBy::PhaseCycles:
      decided = by_number(left.phase_cycles, right.phase_cycles);
      break;
    case SortBy::WorkCycles:
      decided = by_number(left.work_cycles, right.work_cycles);
      break;
    case SortBy::MaximumCycles:
      decided = by_number(left.maximum_cycles, right.maximum_cycles);
      break;
    case SortBy::Samples:
      decided = by_number(left.sample_count, right.sample_count);
      break;
    case SortBy::Name:
      if (left.name != right.name) decided = left.name < right.name;
      break;
  }
  if (decided) return *decided;
  if (left.first_offset != right.first_offset) return left.first_offset < right.first_offset;
  return left.name < right.name;
}

struct Candidate {
  std::uint32_t tile = 0;
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  const ProfileStep* step = nullptr;
};

}  // namespace

QueryReport query(const zel_package::ProfileReport& report, const Query& query) {
  return reference::query(std::span(&report, 1), query);
}

QueryReport query(std::span<const zel_package::ProfileReport> chips, const Query& query) {
  std::size_t tile_count = 0;
  std::size_t sample_count = 0;
  std::uint64_t span = 0;
  std::size_t matched = 0;
  std::map<std::string, Group> groups;
  std::vector<Candidate> candidates;

  for (std::uint32_t chip = 0; chip < chips.size(); ++chip) {
    tile_count += chips[chip].tiles.size();
    for (const auto& tile : chips[chip].tiles) {
      sample_count += tile.samples.size();
      const std::uint32_t base = tile.samples.empty() ? 0 : tile.samples.front().start_cycle;
      for (const auto& sample : tile.samples) {
        const std::uint64_t offset = static_cast<std::uint32_t>(sample.start_cycle - base);
        const std::uint32_t length = length_of(sample);
        span = std::max(span, offset + length);
        if (!passes(query, tile.physical_tile, sample, offset)) continue;
        ++matched;
        auto [name, dimensions] =
            key_of(query, tile.physical_tile, sample.step, chip, chips.size());
        auto [found, created] = groups.try_emplace(name);
        Group& group = found->second;
        if (created) {
          group.dimensions = std::move(dimensions);
          group.first = offset;
        }
        group.lengths.push_back(length);
        group.tiles.insert({chip, tile.physical_tile});
        group.phases[{sample.step.phase, sample.step.epoch}].push_back({offset, offset + length});
        group.work += length;
        group.first = std::min(group.first, offset);
        group.last = std::max(group.last, offset + length);
        candidates.push_back({tile.physical_tile, offset, length, &sample.step});
      }
    }
  }
  const std::uint64_t clock_hz = chips.empty() ? 0 : chips.front().clock_hz;

  std::vector<GroupSummary> summaries;
  for (auto& [name, group] : groups) {
    summaries.push_back(summary_of(name, std::move(group), clock_hz));
  }
  std::stable_sort(summaries.begin(), summaries.end(),
                   [&](const auto& l, const auto& r) { return group_before(query.sort_by, l, r); });
  if (query.reverse) summaries = {summaries.rbegin(), summaries.rend()};
  std::uint64_t total_phase_cycles = 0;
  for (const auto& summary : summaries) total_phase_cycles += summary.phase_cycles;
  if (query.limit && *query.limit < summaries.size()) summaries.resize(*query.limit);

  std::stable_sort(candidates.begin(), candidates.end(), [](const auto& l, const auto& r) {
    if (l.length != r.length) return l.length > r.length;
    if (l.tile != r.tile) return l.tile < r.tile;
    return l.offset < r.offset;
  });
  std::vector<SampleRecord> samples;
  for (std::size_t i = 0; i < std::min(query.sample_limit, candidates.size()); ++i) {
    const Candidate& chosen = candidates[i];
    SampleRecord record{.physical_tile = chosen.tile,
                        .offset = chosen.offset,
                        .duration = chosen.length,
                        .phase = chosen.step->phase,
                        .epoch = chosen.step->epoch,
                        .kind = kind_text(*chosen.step),
                        .operation = chosen.step->operation,
                        .kernel = chosen.step->kernel,
                        .metadata = {}};
    for (const auto& entry : chosen.step->metadata) {
      record.metadata.push_back({entry.name, entry.value});
    }
    samples.push_back(std::move(record));
  }

  return QueryReport{
      .clock_hz = clock_hz,
      .tile_count = tile_count,
      .sample_count = sample_count,
      .matched_sample_count = matched,
      .profile_span_cycles = span,
      .profile_span_ms = to_ms(span, clock_hz),
      .at_offset = query.at_offset,
      .from_offset = query.from_offset,
      .to_offset = query.to_offset,
      .total_phase_cycles = total_phase_cycles,
      .groups = std::move(summaries),
      .samples = std::move(samples),
  };
}

}  // namespace zel_profile::reference
