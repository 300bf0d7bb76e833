#include "query/sample_selection.hpp"

#include <algorithm>
#include <string>

#include <zel_package/step_kinds.hpp>

namespace zel_profile::detail {

SampleSelection::SampleSelection(std::size_t limit) : limit_(limit) {
  // A generous limit should not reserve memory for samples that may never come.
  heap_.reserve(std::min<std::size_t>(limit, 4096));
}

bool SampleSelection::reported_before(const Candidate& left, const Candidate& right) {
  if (left.duration != right.duration) {
    return left.duration > right.duration;
  }
  if (left.tile != right.tile) {
    return left.tile < right.tile;
  }
  if (left.offset != right.offset) {
    return left.offset < right.offset;
  }
  return left.match_order < right.match_order;
}

void SampleSelection::offer(std::uint32_t tile, std::uint64_t offset, std::uint32_t duration,
                            const zel_package::ProfileStep& step) {
  const Candidate candidate{.tile = tile,
                            .offset = offset,
                            .duration = duration,
                            .match_order = offered_++,
                            .step = &step};
  if (heap_.size() < limit_) {
    heap_.push_back(candidate);
    std::push_heap(heap_.begin(), heap_.end(), reported_before);
  } else if (reported_before(candidate, heap_.front())) {
    std::pop_heap(heap_.begin(), heap_.end(), reported_before);
    heap_.back() = candidate;
    std::push_heap(heap_.begin(), heap_.end(), reported_before);
  }
}

std::vector<SampleRecord> SampleSelection::take() {
  std::sort_heap(heap_.begin(), heap_.end(), reported_before);
  std::vector<SampleRecord> records;
  records.reserve(heap_.size());
  for (const auto& candidate : heap_) {
    records.push_back(sample_record(candidate));
  }
  heap_.clear();
  return records;
}

SampleRecord SampleSelection::sample_record(const Candidate& candidate) {
  const auto& step = *candidate.step;
  SampleRecord record{
      .physical_tile = candidate.tile,
      .offset = candidate.offset,
      .duration = candidate.duration,
      .phase = step.phase,
      .epoch = step.epoch,
      .kind = std::string(zel_package::step_kind_name(step.kind)),
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

std::vector<SampleRecord> merge_reported(std::vector<SampleRecord> earlier,
                                         std::vector<SampleRecord> later, std::size_t limit) {
  std::vector<SampleRecord> merged;
  merged.reserve(std::min(limit, earlier.size() + later.size()));
  std::size_t e = 0;
  std::size_t l = 0;
  while (merged.size() < limit && (e < earlier.size() || l < later.size())) {
    const bool take_earlier =
        l == later.size() || (e < earlier.size() && !sample_reported_before(later[l], earlier[e]));
    merged.push_back(std::move(take_earlier ? earlier[e++] : later[l++]));
  }
  return merged;
}

}  // namespace zel_profile::detail
