// The one walk over the samples a query selects. Every view of a packed profile (the query's
// groups, partial results, the timeline, load balance, the trace export) reads the samples
// through it, so a filter added to the selection reaches all of them.
//
// A query is compiled once per profile into a Selection: a verdict per distinct step (kind,
// kernel, operation text, phase and metadata filters), the tile filter and the time test. scan()
// then hands each selected sample of a range of tiles to a consumer as (tile, offset, length,
// step), tiles in list order and each tile's samples in its order; with Query::clip, as its part
// inside the window, so that every view counts only what ran in the window.
//
// Example: the cycles of compute samples on tile 3 that run at some cycle of [1000, 2000).
//   const Selection selection = select(profile, Query{.kind = StepKind::Compute, .tiles = {3},
//                                                     .from_offset = 1000, .to_offset = 2000});
//   std::uint64_t cycles = 0;
//   scan(profile, selection, 0, profile.tiles.size(),
//        [&](const ScannedSample& sample) { cycles += sample.length; });
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>

namespace zel_profile {

// A query's filters compiled for one packed profile; valid for that profile's steps only.
struct Selection {
  std::vector<std::uint8_t> steps;  // by step: 1 when its samples pass the filters on the step
  std::set<std::uint32_t> tiles;    // physical tiles admitted; empty admits every tile
  // The time test. Without it every sample passes, zero-length ones too; with it a sample passes
  // when it shares a cycle with both the window [from, to) and the instant [at_from, at_to):
  // max(from, offset) < min(to, offset + length), and the same for the instant. An absent one is
  // the whole axis, which every sample but a zero-length one shares a cycle with.
  bool timed = false;
  std::uint64_t from = 0;
  std::uint64_t to = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t at_from = 0;
  std::uint64_t at_to = std::numeric_limits<std::uint64_t>::max();

  // With clip, a selected sample is handed on as its part inside [from, to) (see part_of).
  bool clip = false;

  bool admits_tile(std::uint32_t physical_tile) const {
    return tiles.empty() || tiles.contains(physical_tile);
  }
  // `offset + length` does not overflow: offsets are below 2^32 and lengths below 2^32.
  bool admits_time(std::uint64_t offset, std::uint32_t length) const {
    const std::uint64_t end = offset + length;
    return !timed || (std::max(from, offset) < std::min(to, end) &&
                      std::max(at_from, offset) < std::min(at_to, end));
  }
  // The start from which a consumer that keeps starts in 32 bits counts them: a part's start lies
  // below origin() + 2^32, though it may pass 2^32 when the window starts past it.
  std::uint64_t origin() const { return clip ? from : 0; }
};

// The selection of `query` over `profile`: every filter of the query (its grouping, ordering and
// limits play no part). `at_offset = T` is the instant [T, T + 1); with a window as well, a
// sample must share a cycle with each.
Selection select(const zel_package::PackedProfile& profile, const Query& query);

// A selected sample. `tile` is its place in the profile's tile list and `index` its place in
// that tile's samples; `offset` its normalised start (start_cycle minus that of its tile's first
// sample, modulo 2^32); `length` its cycles; `step` its index in the profile's steps.
struct ScannedSample {
  std::size_t tile = 0;
  std::size_t index = 0;
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  std::uint32_t step = 0;
};

// What a scan saw of every sample of its range, selected or not.
struct ScanTotals {
  std::size_t samples = 0;
  std::uint64_t span_cycles = 0;  // the largest offset + length, 0 without samples
};

// What a scan hands on of a sample `selection` admits: the sample itself or, with clip, its part
// inside the window, which is not empty since the sample shares a cycle with the window.
inline ScannedSample part_of(const Selection& selection, ScannedSample sample) {
  if (selection.clip) {
    const std::uint64_t start = std::max(selection.from, sample.offset);
    const std::uint64_t end = std::min(selection.to, sample.offset + sample.length);
    sample.offset = start;
    sample.length = static_cast<std::uint32_t>(end - start);
  }
  return sample;
}

namespace detail {

[[noreturn]] inline void step_out_of_range(std::uint32_t step, std::size_t step_count) {
  throw std::invalid_argument("a sample refers to step " + std::to_string(step) +
                              " of a profile with " + std::to_string(step_count) + " steps");
}

// The sample's offset and length on its tile's axis, whose first sample starts at `base`.
inline ScannedSample place(std::size_t tile, std::size_t index,
                           const zel_package::PackedSample& sample, std::uint32_t base) {
  return ScannedSample{.tile = tile,
                       .index = index,
                       .offset = static_cast<std::uint32_t>(sample.start_cycle - base),
                       .length = static_cast<std::uint32_t>(sample.end_cycle - sample.start_cycle),
                       .step = sample.step};
}

}  // namespace detail

// Hands the samples of tile `tile` (its place in the tile list) from place `first_sample` on that
// `selection` selects to `consume(const ScannedSample&)`, in the tile's order, stopping before the
// first sample whose step `stop(step)` holds for; returns where it stopped (the tile's size when
// it read to the end) and adds what it saw of every sample read, selected or not, to `totals`.
// `stop` is asked only on tiles the selection admits: another tile is read whole. For walks that
// take each tile a part at a time, resuming where they stopped. Throws std::invalid_argument when a
// sample names a step the profile does not have. Needs tile < profile.tiles.size().
//
// Example: the cycles of the selected samples of tile 2 until the first sample of step 9.
//   std::uint64_t cycles = 0;
//   ScanTotals totals;
//   scan_until(profile, selection, 2, 0, [](std::uint32_t step) { return step == 9; },
//              [&](const ScannedSample& sample) { cycles += sample.length; }, totals);
template <typename Stop, typename Consumer>
std::size_t scan_until(const zel_package::PackedProfile& profile, const Selection& selection,
                       std::size_t tile, std::size_t first_sample, const Stop& stop,
                       Consumer&& consume, ScanTotals& totals) {
  const auto& samples = profile.tiles[tile].samples;
  if (first_sample >= samples.size()) return samples.size();
  const std::size_t step_count = profile.steps.size();
  const std::uint8_t* steps = selection.steps.data();
  const std::uint32_t base = samples.front().start_cycle;
  const bool admitted = selection.admits_tile(profile.tiles[tile].physical_tile);
  std::size_t i = first_sample;
  for (; i < samples.size(); ++i) {
    const auto& sample = samples[i];
    if (sample.step >= step_count) detail::step_out_of_range(sample.step, step_count);
    if (admitted && stop(sample.step)) break;
    const ScannedSample placed = detail::place(tile, i, sample, base);
    totals.span_cycles = std::max(totals.span_cycles, placed.offset + placed.length);
    if (admitted && steps[sample.step] != 0 &&
        selection.admits_time(placed.offset, placed.length)) {
      consume(part_of(selection, placed));
    }
  }
  totals.samples += i - first_sample;
  return i;
}

// Hands every sample of tiles first_tile .. end_tile - 1 that `selection` selects to
// `consume(const ScannedSample&)`, tiles in list order, each tile's samples in its order, and
// returns the totals over every sample of the range. Throws std::invalid_argument when a sample
// names a step the profile does not have (the consumer may have seen earlier samples).
// Needs end_tile <= profile.tiles.size().
template <typename Consumer>
ScanTotals scan(const zel_package::PackedProfile& profile, const Selection& selection,
                std::size_t first_tile, std::size_t end_tile, Consumer&& consume) {
  ScanTotals totals;
  for (std::size_t t = first_tile; t < end_tile; ++t) {
    scan_until(
        profile, selection, t, 0, [](std::uint32_t) { return false; }, consume, totals);
  }
  return totals;
}

// Hands the samples first_sample .. end_sample - 1 of tile `tile` (its place in the tile list)
// that `selection` selects to `consume(const ScannedSample&)`, in the tile's order, placed on the
// tile's axis as scan() places them (the tile's first sample sets the base, wherever the range
// starts). For walks that know where in a tile's list their samples lie, such as a timeline of a
// window over an index of the tile's samples by time. Throws std::invalid_argument when a sample of
// the range names a step the profile does not have. Needs tile < profile.tiles.size() and
// first_sample <= end_sample <= that tile's samples.size().
//
// Example: the cycles of the selected samples among the 100 samples from place 500 of tile 7.
//   std::uint64_t cycles = 0;
//   scan_samples(profile, selection, 7, 500, 600,
//                [&](const ScannedSample& sample) { cycles += sample.length; });
template <typename Consumer>
void scan_samples(const zel_package::PackedProfile& profile, const Selection& selection,
                  std::size_t tile, std::size_t first_sample, std::size_t end_sample,
                  Consumer&& consume) {
  const auto& samples = profile.tiles[tile].samples;
  if (first_sample >= end_sample || !selection.admits_tile(profile.tiles[tile].physical_tile)) {
    return;
  }
  const std::size_t step_count = profile.steps.size();
  const std::uint8_t* steps = selection.steps.data();
  const std::uint32_t base = samples.front().start_cycle;
  for (std::size_t i = first_sample; i < end_sample; ++i) {
    const auto& sample = samples[i];
    if (sample.step >= step_count) detail::step_out_of_range(sample.step, step_count);
    const ScannedSample placed = detail::place(tile, i, sample, base);
    if (steps[sample.step] != 0 && selection.admits_time(placed.offset, placed.length)) {
      consume(part_of(selection, placed));
    }
  }
}

}  // namespace zel_profile
