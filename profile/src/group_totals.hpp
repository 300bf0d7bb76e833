// The running totals of one group inside a query: the same information as an Accumulator, kept in
// one flat list that takes a sample in constant time, and summarised with the same arithmetic.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <zel_package/records.hpp>
#include <zel_profile/model.hpp>

#include "hash_index.hpp"

namespace zel_profile::detail {

// One matched sample as a group keeps it: its interval and the (phase, epoch) it belongs to.
// Offsets and durations are below 2^32, so 32 bits hold each.
struct Occupancy {
  std::uint32_t start = 0;
  std::uint32_t length = 0;
  std::uint32_t phase_slot = 0;  // index into the group's distinct (phase, epoch) pairs
};

// One number for a step's (phase, epoch): the phase in the high half, the epoch in the low half.
inline std::uint64_t phase_epoch_key(const zel_package::ProfileStep& step) {
  return (std::uint64_t{step.phase} << 32) | step.epoch;
}

// Lists that summaries reuse from one group to the next.
struct SummaryScratch {
  std::vector<std::uint32_t> durations;
  std::vector<Occupancy> occupancy_buffer;
};

class GroupTotals {
 public:
  explicit GroupTotals(std::uint64_t first_offset);

  // Adds one matched sample on `tile` occupying (offset, end), end = offset + sample_duration, in
  // the (phase, epoch) named by `phase_key`; `offset` is below 2^32.
  void add(std::uint32_t tile, std::uint64_t phase_key, std::uint64_t offset,
           std::uint32_t sample_duration, std::uint64_t end);

  // The finished summary. Consumes the totals.
  GroupSummary summarize(std::string name, std::map<std::string, std::string> dimensions,
                         std::uint64_t clock_hz, SummaryScratch& scratch);

 private:
  std::uint32_t phase_slot(std::uint64_t phase_key);

  std::vector<Occupancy> samples_;
  // Tile numbers as they arrive, a run of one tile stored once; made unique when summarising.
  std::vector<std::uint32_t> tiles_;
  // The distinct (phase, epoch) pairs, in order of first appearance, and an index to find them
  // once there are more than a few.
  std::vector<std::uint64_t> phase_keys_;
  HashIndex phase_index_;
  std::uint32_t last_slot_ = 0;
  std::uint64_t work_cycles_ = 0;
  std::uint64_t first_offset_ = 0;
  std::uint64_t last_offset_ = 0;
};

}  // namespace zel_profile::detail
