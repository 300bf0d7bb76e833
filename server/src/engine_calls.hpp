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

// The query as `zel-profile query` runs it (every group, no limit).
zel_profile::QueryReport run_query(const std::vector<zel_package::PackedProfile>& profiles,
                                   const zel_profile::Query& query);

// The index of each profile for its timelines, built on every core.
std::vector<zel_profile::TimelineIndex> index_timelines(
    const std::vector<zel_package::PackedProfile>& profiles);

// The window [from, to) (its end clamped to the longest of the profiles' spans) in at most
// `shape.bins` aligned bins (TimelineShape::aligned), with `shape.rows` shared among the
// profiles, each a chip read through its index (one per profile), so any zoom down to a cycle a
// bin is exact.
zel_profile::Timeline window_timeline(const std::vector<zel_package::PackedProfile>& profiles,
                                      const std::vector<zel_profile::TimelineIndex>& indexes,
                                      const zel_profile::Query& query,
                                      zel_profile::TimelineShape shape, std::uint64_t from,
                                      std::uint64_t to);

// The query's `sample_limit` longest matched samples, as the query over the profiles reports them,
// each profile read through its index (one per profile): only the tiles the query admits, and
// with a time test only their samples near it.
zel_profile::ReportedSamples longest_samples(std::span<const zel_package::PackedProfile> profiles,
                                             std::span<const zel_profile::TimelineIndex> indexes,
                                             const zel_profile::Query& query);

// The load balance of each profile.
std::vector<std::vector<zel_profile::PhaseBalance>> load_balances(
    const std::vector<zel_package::PackedProfile>& profiles, const zel_profile::Query& query);

}  // namespace zel_server
