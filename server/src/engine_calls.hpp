// Every call the explorer makes into the engine, in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/load_balance.hpp>
#include <zel_profile/longest_samples.hpp>
#include <zel_profile/query.hpp>
#include <zel_profile/timeline.hpp>

namespace zel_server {

// One row of a windowed timeline: some tiles of one profile, and their cycles per category and
// bin, cycles[category][bin].
struct WindowRow {
  std::size_t profile = 0;
  std::vector<std::uint32_t> tiles;  // physical tile numbers
  std::vector<std::vector<std::uint64_t>> cycles;
};

// The timeline of the window [from, to) of normalised time: `bins` bins of `bin_cycles` each from
// `from` (the last one may reach past the span, where there are no samples).
struct WindowTimeline {
  std::uint64_t from = 0;
  std::uint64_t to = 0;
  std::uint64_t bin_cycles = 0;
  std::size_t bins = 0;
  std::vector<std::string> categories;
  std::vector<WindowRow> rows;
};

// The query as `zel-profile query` runs it (every group, no limit).
zel_profile::QueryReport run_query(const std::vector<zel_package::PackedProfile>& profiles,
                                   const zel_profile::Query& query);

// The index of each profile for its timelines, built on every core.
std::vector<zel_profile::TimelineIndex> index_timelines(
    const std::vector<zel_package::PackedProfile>& profiles);

// The window [from, to) (clamped to the longest of the profiles' spans, as their `indexes` hold
// them, one per profile) in at most `shape.bins` bins of equal width, aligned to multiples of it,
// with `shape.rows` shared among the profiles: each profile's timeline of that range from the
// engine, read through its index, so any zoom down to a cycle a bin is exact. A width of more than
// the indexes' longest mark is a whole number of those marks (fewer bins), which the engine adds
// up from each tile's kind cycles between marks.
WindowTimeline window_timeline(const std::vector<zel_package::PackedProfile>& profiles,
                               const std::vector<zel_profile::TimelineIndex>& indexes,
                               const zel_profile::Query& query, zel_profile::TimelineShape shape,
                               std::uint64_t from, std::uint64_t to);

// The query's `sample_limit` longest matched samples, as the query over the profiles reports them,
// each profile read through its index (one per profile): only the tiles the query admits, and
// with a time test only their samples near it.
std::vector<zel_profile::SampleRecord> longest_samples(
    std::span<const zel_package::PackedProfile> profiles,
    std::span<const zel_profile::TimelineIndex> indexes, const zel_profile::Query& query);

// The load balance of each profile.
std::vector<std::vector<zel_profile::PhaseBalance>> load_balances(
    const std::vector<zel_package::PackedProfile>& profiles, const zel_profile::Query& query);

}  // namespace zel_server
