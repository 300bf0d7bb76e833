#include "query/sample_selection.hpp"

#include <algorithm>
#include <span>
#include <string>

#include <zel_package/step_kinds.hpp>

#include "query/radix_sort.hpp"

namespace zel_profile::detail {

SampleSelection::SampleSelection(std::size_t limit)
    : limit_(limit),
      // Cut at twice the limit, so that each cut turns half the candidates away; a huge limit is
      // never cut, since no profile holds that many samples.
      capacity_(limit > SIZE_MAX / 4 ? SIZE_MAX : limit + std::max<std::size_t>(limit, 1024)) {}

void SampleSelection::cut() {
  std::nth_element(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(limit_ - 1),
                   kept_.end(), before);
  kept_.resize(limit_);
  last_kept_ = kept_.back();
  cut_ = true;
}

std::vector<ChosenSample> SampleSelection::take() {
  if (kept_.size() > limit_) cut();
  constexpr std::size_t short_list = 256;
  if (!cut_ && in_order_ && kept_.size() >= short_list) {
    // Never cut, the candidates are still in match order: sorted stably by offset and then by
    // length and tile, they are in reported order. Only the digits in which keys differ cost a
    // pass (lengths and tiles use a few of their bytes).
    std::vector<ChosenSample> scratch;
    radix_sort(std::span(kept_), scratch, [](const ChosenSample& c) { return c.offset; });
    radix_sort(std::span(kept_), scratch, [](const ChosenSample& c) { return c.rank; });
  } else {
    std::sort(kept_.begin(), kept_.end(), before);
  }
  cut_ = false;
  in_order_ = true;
  return std::move(kept_);
}

std::vector<ChosenSample> merge_chosen(std::vector<ChosenSample> earlier,
                                       const std::vector<ChosenSample>& later, std::size_t limit) {
  if (later.empty() && earlier.size() <= limit) return earlier;
  std::vector<ChosenSample> merged;
  merged.reserve(std::min(limit, earlier.size() + later.size()));
  std::size_t e = 0;
  std::size_t l = 0;
  while (merged.size() < limit && (e < earlier.size() || l < later.size())) {
    const bool take_earlier =
        l == later.size() || (e < earlier.size() && !key_before(later[l], earlier[e]));
    merged.push_back(take_earlier ? earlier[e++] : later[l++]);
  }
  return merged;
}

ReportedSamples reported_samples(const std::vector<zel_package::ProfileStep>& steps,
                                 const std::vector<ChosenSample>& chosen) {
  constexpr std::uint32_t none = UINT32_MAX;
  std::vector<std::uint32_t> place(chosen.empty() ? 0 : steps.size(), none);
  std::vector<SampleStep> table;
  std::vector<ReportedSample> samples;
  samples.reserve(chosen.size());
  for (const ChosenSample& sample : chosen) {
    std::uint32_t& at = place.at(sample.step);
    if (at == none) {
      const zel_package::ProfileStep& step = steps[sample.step];
      at = static_cast<std::uint32_t>(table.size());
      SampleStep& copy = table.emplace_back(SampleStep{
          .phase = step.phase,
          .epoch = step.epoch,
          .kind = std::string(zel_package::step_kind_name(step.kind)),
          .operation = step.operation,
          .kernel = step.kernel,
          .metadata = {},
      });
      copy.metadata.reserve(step.metadata.size());
      for (const auto& entry : step.metadata) {
        copy.metadata.push_back(MetadataEntry{.name = entry.name, .value = entry.value});
      }
    }
    samples.push_back({.offset = sample.offset,
                       .physical_tile = sample.tile(),
                       .duration = sample.duration(),
                       .step = at});
  }
  return ReportedSamples(std::move(samples), std::move(table));
}

ReportedSamples merge_reported(ReportedSamples earlier, const ReportedSamples& later,
                               std::size_t limit) {
  if (later.empty() && earlier.size() <= limit) return earlier;
  constexpr std::uint32_t none = UINT32_MAX;
  std::vector<std::uint32_t> earlier_place(earlier.steps().size(), none);
  std::vector<std::uint32_t> later_place(later.steps().size(), none);
  std::vector<SampleStep> table;
  std::vector<ReportedSample> merged;
  merged.reserve(std::min(limit, earlier.size() + later.size()));
  const auto take = [&](const ReportedSample& sample, const ReportedSamples& list,
                        std::vector<std::uint32_t>& place) {
    std::uint32_t& at = place[sample.step];
    if (at == none) {
      at = static_cast<std::uint32_t>(table.size());
      table.push_back(list.step_of(sample));
    }
    ReportedSample moved = sample;
    moved.step = at;
    merged.push_back(moved);
  };
  const auto e_samples = earlier.samples();
  const auto l_samples = later.samples();
  std::size_t e = 0;
  std::size_t l = 0;
  const auto key_before = [](const ReportedSample& left, const ReportedSample& right) {
    if (left.duration != right.duration) return left.duration > right.duration;
    if (left.physical_tile != right.physical_tile) return left.physical_tile < right.physical_tile;
    return left.offset < right.offset;
  };
  while (merged.size() < limit && (e < e_samples.size() || l < l_samples.size())) {
    const bool take_earlier =
        l == l_samples.size() || (e < e_samples.size() && !key_before(l_samples[l], e_samples[e]));
    if (take_earlier) {
      take(e_samples[e++], earlier, earlier_place);
    } else {
      take(l_samples[l++], later, later_place);
    }
  }
  return ReportedSamples(std::move(merged), std::move(table));
}

}  // namespace zel_profile::detail
