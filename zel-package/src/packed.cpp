#include <zel_package/packed.hpp>

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace zel_package {
namespace {

void mix_into(std::size_t& seed, std::size_t value) {
  seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

// Hash and equality of steps by every field, looked at through pointers into the caller's report.
struct StepHash {
  std::size_t operator()(const ProfileStep* step) const {
    const std::hash<std::string> text;
    std::size_t seed = text(step->operation);
    mix_into(seed, text(step->kernel));
    mix_into(seed, step->local_index);
    mix_into(seed, step->phase);
    mix_into(seed, step->epoch);
    mix_into(seed, static_cast<std::size_t>(step->kind));
    for (const auto& entry : step->metadata) {
      mix_into(seed, text(entry.name));
      mix_into(seed, text(entry.value));
    }
    return seed;
  }
};

struct StepEqual {
  bool operator()(const ProfileStep* a, const ProfileStep* b) const { return *a == *b; }
};

}  // namespace

PackedProfile pack(const ProfileReport& report) {
  PackedProfile packed{.clock_hz = report.clock_hz, .steps = {}, .tiles = {}};
  packed.tiles.reserve(report.tiles.size());
  std::unordered_map<const ProfileStep*, std::uint32_t, StepHash, StepEqual> index_of;
  for (const auto& tile : report.tiles) {
    auto& packed_tile = packed.tiles.emplace_back();
    packed_tile.physical_tile = tile.physical_tile;
    packed_tile.samples.reserve(tile.samples.size());
    for (const auto& sample : tile.samples) {
      const auto [entry, added] =
          index_of.try_emplace(&sample.step, static_cast<std::uint32_t>(packed.steps.size()));
      if (added) {
        if (packed.steps.size() > UINT32_MAX) {
          throw std::length_error("a packed profile holds at most 2^32 distinct steps");
        }
        packed.steps.push_back(sample.step);
      }
      packed_tile.samples.push_back(PackedSample{
          .step = entry->second, .start_cycle = sample.start_cycle, .end_cycle = sample.end_cycle});
    }
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

std::size_t sample_count(const PackedProfile& profile) {
  std::size_t count = 0;
  for (const auto& tile : profile.tiles) count += tile.samples.size();
  return count;
}

std::size_t sample_count(const ProfileReport& report) {
  std::size_t count = 0;
  for (const auto& tile : report.tiles) count += tile.samples.size();
  return count;
}

}  // namespace zel_package
