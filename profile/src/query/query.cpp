// The records entry point: the packed engine over a packed form of the report, so that a query
// has one implementation whichever form the profile comes in. Only what can match is packed: the
// admitted tiles' samples that pass the time test and whose steps pass the step filters, each
// distinct step once. The counts and the span, which cover every sample, are taken on the way.
#include <zel_profile/query.hpp>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include <zel_package/step_hash.hpp>
#include <zel_profile/scan.hpp>
#include <zel_profile/summary.hpp>

#include "scan/step_matching.hpp"

namespace zel_profile {
namespace {

using zel_package::ProfileStep;

// The distinct steps of the samples packed so far, each with the step filters' verdict.
class StepNumbers {
 public:
  StepNumbers(const Query& query, std::vector<ProfileStep>& steps) : query_(query), steps_(steps) {}

  // The number of `step`, which was `guess`'s step if that is equal (no_step: no guess).
  std::uint32_t number(const ProfileStep& step, std::uint32_t guess) {
    if (guess != no_step && steps_[guess] == step) return guess;
    const auto [entry, added] =
        number_of_.try_emplace(&step, static_cast<std::uint32_t>(steps_.size()));
    if (added) {
      if (steps_.size() >= UINT32_MAX) {
        throw std::length_error("a packed profile holds at most 2^32 distinct steps");
      }
      steps_.push_back(step);
      passes_.push_back(detail::step_passes(query_, step) ? 1 : 0);
    }
    return entry->second;
  }

  bool passes(std::uint32_t number) const { return passes_[number] != 0; }

  static constexpr std::uint32_t no_step = UINT32_MAX;

 private:
  const Query& query_;
  std::vector<ProfileStep>& steps_;
  std::vector<std::uint8_t> passes_;
  std::unordered_map<const ProfileStep*, std::uint32_t, zel_package::StepPointerHash,
                     zel_package::StepPointerEqual>
      number_of_;
};

}  // namespace

QueryReport query(const zel_package::ProfileReport& report, const Query& query) {
  zel_package::PackedProfile packed{.clock_hz = report.clock_hz, .steps = {}, .tiles = {}};
  packed.tiles.reserve(report.tiles.size());
  // Only the selection's tile and time tests are used here; its steps are the packed profile's.
  const Selection selection = select(packed, query);
  StepNumbers numbers(query, packed.steps);
  std::size_t samples = 0;
  std::uint64_t span = 0;
  // Tiles run the same steps at the same places of their lists, so a sample's step is first
  // compared with the step at its place on the tile before (no_step where none was numbered).
  std::vector<std::uint32_t> previous_tile;
  std::vector<std::uint32_t> this_tile;
  for (const auto& tile : report.tiles) {
    auto& packed_tile = packed.tiles.emplace_back();
    packed_tile.physical_tile = tile.physical_tile;
    samples += tile.samples.size();
    if (tile.samples.empty()) continue;
    const std::uint32_t base = tile.samples.front().start_cycle;
    const bool admitted = selection.admits_tile(tile.physical_tile);
    this_tile.assign(admitted ? tile.samples.size() : 0, StepNumbers::no_step);
    if (admitted) packed_tile.samples.reserve(tile.samples.size());
    for (std::size_t i = 0; i < tile.samples.size(); ++i) {
      const auto& sample = tile.samples[i];
      const std::uint64_t offset = static_cast<std::uint32_t>(sample.start_cycle - base);
      const std::uint32_t length = sample.end_cycle - sample.start_cycle;
      span = std::max(span, offset + length);
      // The tile's first sample sets its axis, so it is kept whatever it is; the engine tests it
      // again as it tests every sample.
      if (!admitted || (i != 0 && !selection.admits_time(offset, length))) continue;
      if (i != 0 && ((query.kind && kind_of(sample) != *query.kind) ||
                     (!query.phases.empty() && !query.phases.contains(sample.step.phase)))) {
        continue;
      }
      const std::uint32_t number = numbers.number(
          sample.step, i < previous_tile.size() ? previous_tile[i] : StepNumbers::no_step);
      this_tile[i] = number;
      if (i != 0 && !numbers.passes(number)) continue;
      packed_tile.samples.push_back(zel_package::PackedSample{
          .step = number, .start_cycle = sample.start_cycle, .end_cycle = sample.end_cycle});
    }
    std::swap(previous_tile, this_tile);
  }
  QueryReport result = zel_profile::query(packed, query);
  result.sample_count = samples;
  result.profile_span_cycles = span;
  result.profile_span_ms = cycles_to_ms(span, report.clock_hz);
  return result;
}

}  // namespace zel_profile
