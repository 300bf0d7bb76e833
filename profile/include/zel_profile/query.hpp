// The engine's entry operation.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_package/records.hpp>
#include <zel_profile/model.hpp>

namespace zel_profile {

// Runs `query` over `report` and returns a report that owns all its contents.
//
// Time is normalised per tile: a sample's offset is its start_cycle minus the start_cycle of the
// first sample listed for the same tile, modulo 2^32, so counter wraps are absorbed and every tile
// has its own axis. The profile counts and span cover every sample; the matched samples are
// grouped, summarised, ordered by `query.sort_by` and cut to `query.limit`; the
// `query.sample_limit` longest matched samples are reported (ties: smaller tile, then earlier
// offset, then profile order).
//
// Pure and thread-compatible: it reads both inputs, keeps no state and starts no thread, so calls
// on unchanging inputs may run concurrently. It throws only std::bad_alloc, or std::overflow_error
// for a group of more than 2^32 + 1 samples.
QueryReport query(const zel_package::ProfileReport& report, const Query& query);

// The same query over a packed profile: the report equals query(unpack(profile), query) bit for
// bit. Matching and grouping by step are decided once per distinct step, not once per sample.
// Throws std::invalid_argument when a sample's step index is out of range, besides the exceptions
// above.
QueryReport query(const zel_package::PackedProfile& profile, const Query& query);

// How many threads a query may use. 0 means the hardware's concurrency.
struct Parallelism {
  std::size_t threads = 1;

  bool operator==(const Parallelism&) const = default;
};

// The threads a query asked for `parallelism` runs on: one a core for 0, and never more than the
// cores, since more would only take turns (and thousands fail to start). At least 1.
// Example: on 2 cores, thread_count({.threads = 1000}) is 2.
std::size_t thread_count(Parallelism parallelism);

// The same query on up to `parallelism.threads` threads, each computing the partial result of a
// range of tiles (see <zel_profile/partial.hpp>); the report is identical, bit for bit, for every
// number of threads. An exception thrown on any thread reaches the caller, and every thread has
// ended when the call returns.
QueryReport query(const zel_package::PackedProfile& profile, const Query& query,
                  Parallelism parallelism);

// The query over several profiles as one, each profile a chip of its own, numbered from 0 in the
// order given: a tile is a (chip, physical tile) pair, so a group's tile_count counts the pairs
// and tiles of the same number on two chips are two tiles. Grouped by tile, several profiles'
// groups are named "chip N tile T"; grouped by profile, there is one group a chip, named by
// query.profile_names (see profile_group_key). One profile alone is chip 0 with the names of
// query(profile, query). The profiles must have the same clock rate, else it throws
// std::invalid_argument.
QueryReport query(std::span<const zel_package::PackedProfile> profiles, const Query& query,
                  Parallelism parallelism = {});

namespace detail {
struct ScratchParts;
}

// Memory a caller keeps from one query to the next, so that a query over a packed profile reuses
// the pages the last one used instead of having the system hand it fresh ones: on a large profile
// the first touch of fresh pages can cost more than the query's own work. It holds no result, so
// any query may follow any other and the report is the same as without it; it grows to what the
// largest query needed (a few tens of MB at most) and is freed with it. One query at a time may
// use it.
//
// Example: a tool that answers many queries over one profile.
//   zel_profile::QueryScratch scratch;
//   for (const Query& q : queries) print(zel_profile::query(profile, q, {.threads = 0}, scratch));
class QueryScratch {
 public:
  QueryScratch();
  ~QueryScratch();
  QueryScratch(QueryScratch&&) noexcept;
  QueryScratch& operator=(QueryScratch&&) noexcept;

  // What the engine keeps in it; a scratch moved from starts empty again.
  detail::ScratchParts& parts();

 private:
  std::unique_ptr<detail::ScratchParts> parts_;
};

// query(profile, query, parallelism) with the memory of `scratch`.
QueryReport query(const zel_package::PackedProfile& profile, const Query& query,
                  Parallelism parallelism, QueryScratch& scratch);

// Scratch for a program whose queries may run side by side (a server, a Python module): take()
// hands out a kept QueryScratch, or a new one when every kept one is in use, and give() keeps it
// again once its query is done. Thread-safe.
class QueryScratchPool {
 public:
  QueryScratch take();
  void give(QueryScratch scratch);

 private:
  std::mutex mutex_;
  std::vector<QueryScratch> free_;
};

}  // namespace zel_profile
