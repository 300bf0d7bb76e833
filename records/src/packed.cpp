#include <zel_package/packed.hpp>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <zel_package/step_hash.hpp>

namespace zel_package {

PackedProfile pack(const ProfileReport& report) {
  PackedProfile packed{.clock_hz = report.clock_hz, .steps = {}, .tiles = {}};
  packed.tiles.reserve(report.tiles.size());
  std::unordered_map<const ProfileStep*, std::uint32_t, StepPointerHash, StepPointerEqual> index_of;
  // Tiles run the same steps at the same places of their lists, so a sample's step is first
  // compared with the step at its place on the tile before, which skips the hash for most samples.
  // A step found either way has the same index, so the result does not depend on the guess.
  std::vector<std::uint32_t> previous_tile;
  std::vector<std::uint32_t> this_tile;
  for (const auto& tile : report.tiles) {
    auto& packed_tile = packed.tiles.emplace_back();
    packed_tile.physical_tile = tile.physical_tile;
    packed_tile.samples.reserve(tile.samples.size());
    this_tile.clear();
    for (const auto& sample : tile.samples) {
      const std::size_t place = this_tile.size();
      std::uint32_t index = 0;
      if (place < previous_tile.size() && packed.steps[previous_tile[place]] == sample.step) {
        index = previous_tile[place];
      } else {
        const auto [entry, added] =
            index_of.try_emplace(&sample.step, static_cast<std::uint32_t>(packed.steps.size()));
        if (added) {
          if (packed.steps.size() > UINT32_MAX) {
            throw std::length_error("a packed profile holds at most 2^32 distinct steps");
          }
          packed.steps.push_back(sample.step);
        }
        index = entry->second;
      }
      this_tile.push_back(index);
      packed_tile.samples.push_back(PackedSample{
          .step = index, .start_cycle = sample.start_cycle, .end_cycle = sample.end_cycle});
    }
    std::swap(previous_tile, this_tile);
  }
  return packed;
}

ProfileReport unpack(const PackedProfile& profile) {
  ProfileReport report{.clock_hz = profile.clock_hz, .tiles = {}};
  report.tiles.reserve(profile.tiles.size());
  for (const auto& packed_tile : profile.tiles) {
    auto& tile = report.tiles.emplace_back();
    tile.physical_tile = packed_tile.physical_tile;
    tile.samples.reserve(packed_tile.samples.size());
    for (const auto& sample : packed_tile.samples) {
      if (sample.step >= profile.steps.size()) {
        throw std::invalid_argument("a sample refers to step " + std::to_string(sample.step) +
                                    " of a profile with " + std::to_string(profile.steps.size()) +
                                    " steps");
      }
      tile.samples.push_back(CycleSample{.step = profile.steps[sample.step],
                                         .start_cycle = sample.start_cycle,
                                         .end_cycle = sample.end_cycle});
    }
  }
  return report;
}

namespace {

template <typename Profile>
std::size_t count_samples(const Profile& profile) {
  std::size_t count = 0;
  for (const auto& tile : profile.tiles) count += tile.samples.size();
  return count;
}

}  // namespace

std::size_t sample_count(const PackedProfile& profile) { return count_samples(profile); }
std::size_t sample_count(const ProfileReport& report) { return count_samples(report); }

}  // namespace zel_package
