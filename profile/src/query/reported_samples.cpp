#include <zel_profile/reported_samples.hpp>

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zel_profile {
namespace {

std::size_t hash_step(const SampleStep& step) {
  std::size_t hash = std::hash<std::uint64_t>{}((std::uint64_t{step.phase} << 32) | step.epoch);
  const auto add = [&hash](std::string_view text) {
    hash = hash * 1099511628211u ^ std::hash<std::string_view>{}(text);
  };
  add(step.kind);
  add(step.operation);
  add(step.kernel);
  for (const MetadataEntry& entry : step.metadata) {
    add(entry.name);
    add(entry.value);
  }
  return hash;
}

}  // namespace

SampleRecord sample_record(const ReportedSample& sample, const SampleStep& step) {
  return SampleRecord{.physical_tile = sample.physical_tile,
                      .offset = sample.offset,
                      .duration = sample.duration,
                      .phase = step.phase,
                      .epoch = step.epoch,
                      .kind = step.kind,
                      .operation = step.operation,
                      .kernel = step.kernel,
                      .metadata = step.metadata};
}

SampleStep sample_step(const SampleRecord& record) {
  return SampleStep{.phase = record.phase,
                    .epoch = record.epoch,
                    .kind = record.kind,
                    .operation = record.operation,
                    .kernel = record.kernel,
                    .metadata = record.metadata};
}

ReportedSamples::ReportedSamples(const std::vector<SampleRecord>& records) {
  // Steps by hash, each hash's steps by their places in the table.
  std::unordered_multimap<std::size_t, std::uint32_t> places;
  samples_.reserve(records.size());
  for (const SampleRecord& record : records) {
    SampleStep step = sample_step(record);
    const std::size_t hash = hash_step(step);
    std::uint32_t place = static_cast<std::uint32_t>(steps_.size());
    const auto [first, last] = places.equal_range(hash);
    for (auto it = first; it != last; ++it) {
      if (steps_[it->second] == step) {
        place = it->second;
        break;
      }
    }
    if (place == steps_.size()) {
      places.emplace(hash, place);
      steps_.push_back(std::move(step));
    }
    samples_.push_back({.offset = record.offset,
                        .physical_tile = record.physical_tile,
                        .duration = record.duration,
                        .step = place});
  }
}

ReportedSamples::ReportedSamples(std::vector<ReportedSample> samples, std::vector<SampleStep> steps)
    : samples_(std::move(samples)), steps_(std::move(steps)) {
  for (const ReportedSample& sample : samples_) {
    if (sample.step >= steps_.size()) {
      throw std::invalid_argument("a reported sample's step is not in its list's steps");
    }
  }
}

const SampleRecord ReportedSamples::at(std::size_t i) const {
  if (i >= samples_.size()) {
    throw std::out_of_range("reported sample " + std::to_string(i) + " of " +
                            std::to_string(samples_.size()));
  }
  return (*this)[i];
}

std::vector<SampleRecord> ReportedSamples::records() const {
  std::vector<SampleRecord> records;
  records.reserve(samples_.size());
  for (std::size_t i = 0; i < samples_.size(); ++i) records.push_back((*this)[i]);
  return records;
}

void ReportedSamples::push_back(const SampleRecord& record) {
  SampleStep step = sample_step(record);
  std::size_t place = 0;
  while (place < steps_.size() && !(steps_[place] == step)) ++place;
  if (place == steps_.size()) steps_.push_back(std::move(step));
  samples_.push_back({.offset = record.offset,
                      .physical_tile = record.physical_tile,
                      .duration = record.duration,
                      .step = static_cast<std::uint32_t>(place)});
}

bool operator==(const ReportedSamples& left, const ReportedSamples& right) {
  if (left.samples_.size() != right.samples_.size()) return false;
  for (std::size_t i = 0; i < left.samples_.size(); ++i) {
    const ReportedSample& l = left.samples_[i];
    const ReportedSample& r = right.samples_[i];
    if (l.offset != r.offset || l.physical_tile != r.physical_tile || l.duration != r.duration ||
        !(left.steps_[l.step] == right.steps_[r.step])) {
      return false;
    }
  }
  return true;
}

}  // namespace zel_profile
