// A query's result over part of a profile's tiles, in a form that merges exactly with the result
// over the tiles that follow. Computing partials over consecutive ranges of tiles (on several
// threads, processes or machines), merging them in tile order and finishing the merged partial
// gives the same report, bit for bit, as querying all the tiles at once.
//
// A partial keeps what the statistics need and no more, so its size grows with distinct values
// rather than with samples: per group and (phase, epoch) the union of the samples' intervals as
// disjoint runs, the tiles as ranges of numbers, and the lengths as counts per distinct length.
// A group that no other partial can add to keeps only its finished figures instead (see
// PartialGroup::finished), so a partial grouped by tile is small and merging it cheap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/query.hpp>

namespace zel_profile {

// A run of consecutive physical tile numbers, first and last included, of one chip: the profile's
// place, from 0, among the profiles queried together.
struct TileRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint32_t chip = 0;

  bool operator==(const TileRange&) const = default;
};

// Part of the union of a group's intervals in one (phase, epoch).
struct PhaseRun {
  PhaseEpoch phase_epoch;
  Interval interval;

  bool operator==(const PhaseRun&) const = default;
};

// How many matched samples of a group had this length.
struct LengthCount {
  std::uint32_t length = 0;
  std::uint64_t count = 0;

  bool operator==(const LengthCount&) const = default;
};

// The figures of a group that needs no more merging, in place of its runs and lengths.
struct FinishedFigures {
  std::size_t phase_count = 0;     // (phase, epoch) pairs with a run
  std::uint64_t phase_cycles = 0;  // the runs' summed lengths
  std::size_t sample_count = 0;    // the lengths' summed counts
  std::uint32_t p50 = 0;
  std::uint32_t p95 = 0;
  std::uint32_t maximum = 0;

  bool operator==(const FinishedFigures&) const = default;
};

// One group's totals over part of a profile.
struct PartialGroup {
  std::string name;
  std::map<std::string, std::string> dimensions;
  std::vector<TileRange> tiles;  // ascending by (chip, first); of one chip apart, not adjacent
  // Ascending by (phase, epoch), then by start; the runs of one (phase, epoch) neither overlap nor
  // touch, so each is part of the union of that (phase, epoch)'s intervals.
  std::vector<PhaseRun> runs;
  std::uint64_t work_cycles = 0;
  std::uint64_t first_offset = 0;
  std::uint64_t last_offset = 0;
  std::vector<LengthCount> lengths;  // ascending by length, counts above 0
  // Set when the group holds all of its samples: a physical tile's group (grouped by tile) in a
  // partial over all of a profile's tiles, since no other profile, a chip of its own, has that
  // tile. Its runs and lengths are then empty, these figures standing in for them, and meeting a
  // group of the same name in another partial is an error.
  std::optional<FinishedFigures> finished;

  bool operator==(const PartialGroup&) const = default;
};

// A query's result over a range of tiles of one or more chips (profiles queried together). The
// chips first_chip .. last_chip are those of the partials merged into it; a partial over one
// profile's tiles has the chip it was made for.
struct PartialQuery {
  std::uint64_t clock_hz = 0;
  std::size_t tile_count = 0;
  std::size_t sample_count = 0;
  std::size_t matched_sample_count = 0;
  std::uint64_t profile_span_cycles = 0;
  std::vector<PartialGroup> groups;  // ascending by name
  ReportedSamples samples;  // the longest matched samples, in reported order, at most the query's
                            // sample_limit
  std::uint64_t query_fingerprint = 0;  // query_fingerprint() of the query that made it
  std::uint32_t first_chip = 0;
  std::uint32_t last_chip = 0;

  bool operator==(const PartialQuery&) const = default;
};

// The partial result of `query` over the tiles first_tile .. end_tile - 1 of `profile` (end_tile
// is cut to the number of tiles), the profile being chip `chip` of those queried together: its
// tiles count apart from other chips' tiles of the same number. Throws std::invalid_argument when a
// sample's step index is out of range, std::bad_alloc, or std::overflow_error as query does.
// Example: the partials of files a and b queried as one are partial_query(a, q, 0, n, 0) and
// partial_query(b, q, 0, m, 1), merged in that order.
PartialQuery partial_query(const zel_package::PackedProfile& profile, const Query& query,
                           std::size_t first_tile, std::size_t end_tile, std::uint32_t chip = 0);

// The partial result of `query` over all of `profile`'s tiles, chip `chip` of those queried
// together, on up to `parallelism`'s threads (0: every core); the same partial for any number.
// Grouped by tile, its groups are finished (PartialGroup::finished). Throws as the other.
// Example: partial_query(profile, query, Parallelism{.threads = 0}, 3) for the fourth file.
PartialQuery partial_query(const zel_package::PackedProfile& profile, const Query& query,
                           Parallelism parallelism, std::uint32_t chip = 0);

// The partial over `left`'s tiles followed by `right`'s; both must come from the same query. Equal
// samples are reported in tile order, so `left` must cover the earlier tiles, and so the earlier
// chips: `left`'s last chip must not come after `right`'s first unless one of them has no tiles.
// Throws std::invalid_argument when the two have different clock rates (a partial without tiles
// takes the other's), come in the wrong order of chips, or when either was made by another query
// (see query_fingerprint), or when a group of one is finished and the other has a group of that
// name (the same profile merged twice, or two profiles given the same chip).
PartialQuery merge(PartialQuery left, PartialQuery right, const Query& query);

// The partials merged in the order given, each after those before it. Throws as merge, and
// std::invalid_argument "no partial results to merge" for none.
PartialQuery merge_in_order(std::vector<PartialQuery> partials, const Query& query);

// The report of a partial that covers all the tiles of the profiles queried. When it covers more
// than one chip, chip 0's tile groups are named as one of several ("chip 0 tile 4"). Throws
// std::invalid_argument when the partial was made by another query.
QueryReport finish(PartialQuery partial, const Query& query);

}  // namespace zel_profile
