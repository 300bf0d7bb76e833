// The longest matched samples of a query, read through the profiles' timeline indexes: what a
// query reports in its `samples`, without walking the samples the query's tile filter and time test
// rule out. For a tile's samples at a cycle (a hover), which a full query would answer by walking
// every sample of every tile.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/timeline.hpp>

namespace zel_profile {

// The `limit` longest samples that `query` matches in `profiles` (several are chips, numbered in
// the order given), in the order a query reports them: exactly
//   query(profiles, with_limit, parallelism).samples
// where `with_limit` is `query` with `sample_limit = limit`, for every parallelism. The query's
// grouping, ordering, group limit and its own sample_limit play no part.
//
// Only the tiles the query's tile filter admits are read. When the query has a time test
// (`at_offset`, `from_offset` or `to_offset`), only the samples of such a tile between the marks
// around the instant and window are read, through the tile's marks in indexes[p], which must be
// index_timeline(profiles[p], ...); a tile without marks (its samples do not start in time order)
// is read whole, and so is every admitted tile when there is no time test. A limit of 0 reads
// nothing.
//
// Throws std::invalid_argument when the lists differ in length, an index is of another profile,
// the profiles' clock rates differ (as the query does), or a sample it reads names a step its
// profile does not have. Pure and thread-compatible, on the calling thread.
//
// Example: the 3 longest samples running on tile 700 at cycle 5000, as a hover asks.
//   const auto index = index_timeline(profile, {.threads = 0});
//   const auto samples = longest_samples(std::span(&profile, 1),
//                                        Query{.tiles = {700}, .at_offset = 5000},
//                                        std::span(&index, 1), 3);
ReportedSamples longest_samples(std::span<const zel_package::PackedProfile> profiles,
                                const Query& query, std::span<const TimelineIndex> indexes,
                                std::size_t limit);

}  // namespace zel_profile
