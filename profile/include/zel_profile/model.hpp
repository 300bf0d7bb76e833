// The query engine's vocabulary: what a caller asks for (Query), what it gets back (QueryReport)
// and the running totals of one group while a query runs (Accumulator).
//
// Every record is a plain aggregate whose defaults are the documented ones, so a caller starts from
// `Query{}` (no filter, grouped by kernel, ordered by phase cycles) and sets what it needs:
//   Query{.group_by = GroupBy::Metadata, .metadata_key = "block"}
//
// Times are normalised cycles: counts since the start of the first listed sample of the same tile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <zel_package/records.hpp>
#include <zel_profile/reported_samples.hpp>

namespace zel_profile {

// The query-side twin of zel_package::ProfileStepKind, value for value.
enum class StepKind : std::uint8_t {
  Exchange = 0,
  Compute = 1,
  Synchronization = 2,
  Idle = 3,
};

// The dimension by which matched samples are grouped.
enum class GroupBy : std::uint8_t {
  Kind = 0,       // step kind
  Kernel = 1,     // kernel name, "(no kernel)" for none
  Operation = 2,  // operation name
  Phase = 3,      // (phase, epoch)
  Tile = 4,       // physical tile; of several profiles, (profile, physical tile)
  Metadata = 5,   // value of the metadata entry named by Query::metadata_key
  Profile = 6,    // the profile (chip) a sample comes from, named by Query::profile_names
};

// The order of the reported groups. The numeric keys report the larger value first, Name the
// smaller name first; ties are broken by first offset, then by name.
enum class SortBy : std::uint8_t {
  PhaseCycles = 0,
  WorkCycles = 1,
  MaximumCycles = 2,
  Samples = 3,
  Name = 4,
};

// One metadata condition: the step carries an entry named `name` whose value equals `value`,
// or has any value when `value` is absent.
struct MetadataFilter {
  std::string name;
  std::optional<std::string> value;

  bool operator==(const MetadataFilter&) const = default;
};

// What to select, how to group it and how much to report. Absent or empty filters admit everything.
struct Query {
  GroupBy group_by = GroupBy::Kernel;
  SortBy sort_by = SortBy::PhaseCycles;
  std::optional<StepKind> kind;       // only steps of this kind
  std::optional<std::string> kernel;  // only steps whose kernel equals it ("" = no kernel)
  std::optional<std::string> operation_contains;  // only operations containing it (case-sensitive)
  std::set<std::uint32_t> tiles;                  // physical tiles; empty means every tile
  std::set<std::uint32_t> phases;           // phase numbers in any epoch; empty means every phase
  std::vector<MetadataFilter> metadata;     // every filter must hold
  std::optional<std::string> metadata_key;  // grouping key for GroupBy::Metadata ("" if absent)
  std::optional<std::uint64_t> at_offset;   // only samples running at this normalised time
  // Only samples running at some cycle of the window [from_offset, to_offset), on the same axis as
  // at_offset: max(from, offset) < min(to, offset + duration), an absent end open. So the window
  // [T, T + 1) selects what at_offset T selects, and a zero-length sample is never selected.
  std::optional<std::uint64_t> from_offset;
  std::optional<std::uint64_t> to_offset;
  // Each selected sample counts only its part inside the window: its interval intersected with
  // [from_offset, to_offset), an absent end open. Work cycles, lengths, phase cycles, first and
  // last offsets and the reported samples are then those of the parts. Needs a window (validate).
  bool clip = false;
  std::optional<std::size_t> limit;  // at most this many groups, after ordering
  // The groups in the opposite order, smallest first (ties too); the limit then keeps the smallest.
  bool reverse = false;
  std::size_t sample_limit = 0;  // how many of the longest samples to report
  // The names of the profiles queried together, in the order given (a tool gives their files):
  // the group names under GroupBy::Profile. See profile_group_key in <zel_profile/matching.hpp>.
  std::vector<std::string> profile_names;

  bool operator==(const Query&) const = default;
};

// The statistics of one group of matched samples.
struct GroupSummary {
  std::string name;  // unique within one report
  std::map<std::string, std::string> dimensions;
  std::size_t sample_count = 0;
  std::size_t tile_count = 0;
  std::size_t phase_count = 0;     // distinct (phase, epoch) pairs
  std::uint64_t phase_cycles = 0;  // wall-clock cycles, the union of intervals per (phase, epoch)
  double phase_ms = 0.0;
  std::uint64_t work_cycles = 0;      // sum of sample durations
  double average_active_tiles = 0.0;  // work_cycles / phase_cycles
  double mean_cycles = 0.0;
  std::uint32_t p50_cycles = 0;  // nearest-rank, lower index
  std::uint32_t p95_cycles = 0;
  std::uint32_t maximum_cycles = 0;
  std::uint64_t first_offset = 0;  // earliest normalised start
  std::uint64_t last_offset = 0;   // latest normalised end

  bool operator==(const GroupSummary&) const = default;
};

// The result of one query; it owns all its contents.
struct QueryReport {
  std::uint64_t clock_hz = 0;
  std::size_t tile_count = 0;    // tiles without samples included
  std::size_t sample_count = 0;  // every sample, matched or not
  std::size_t matched_sample_count = 0;
  std::uint64_t profile_span_cycles = 0;  // longest per-tile extent from its first sample's start
  double profile_span_ms = 0.0;
  std::optional<std::uint64_t> at_offset;
  std::optional<std::uint64_t> from_offset;  // the query's window, as given
  std::optional<std::uint64_t> to_offset;
  // The phase cycles of every group before the limit cut them: the base of a group's share ("%").
  std::uint64_t total_phase_cycles = 0;
  std::vector<GroupSummary> groups;
  ReportedSamples samples;  // longest first

  bool operator==(const QueryReport&) const = default;
};

// A half-open interval [first, second) of normalised cycles.
using Interval = std::pair<std::uint64_t, std::uint64_t>;

// One execution of one phase: (phase, epoch).
using PhaseEpoch = std::pair<std::uint32_t, std::uint32_t>;

// The running totals of one group while a query runs.
struct Accumulator {
  std::map<std::string, std::string> dimensions;  // of the group's first matched sample
  std::vector<std::uint32_t> durations;           // one per matched sample, in match order
  std::set<std::uint32_t> tiles;
  std::map<PhaseEpoch, std::vector<Interval>> phases;  // intervals occupied, per (phase, epoch)
  std::uint64_t work_cycles = 0;
  std::uint64_t first_offset = 0;
  std::uint64_t last_offset = 0;

  bool operator==(const Accumulator&) const = default;
};

// The query-side kind of a sample's step.
StepKind kind_of(const zel_package::CycleSample& sample);

// A sample's length in cycles: end minus start modulo 2^32, so a wrap inside the sample is
// absorbed.
std::uint32_t duration(const zel_package::CycleSample& sample);

}  // namespace zel_profile
