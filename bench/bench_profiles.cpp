#include "bench_profiles.hpp"

#include <map>
#include <memory>

#include <zel_generator/generator.hpp>

namespace zel_bench {
namespace {

std::map<std::uint32_t, std::unique_ptr<zel_package::ProfileReport>>& profiles() {
  static std::map<std::uint32_t, std::unique_ptr<zel_package::ProfileReport>> cache;
  return cache;
}

std::map<std::uint32_t, double>& floors() {
  static std::map<std::uint32_t, double> measured;
  return measured;
}

}  // namespace

const zel_package::ProfileReport& profile_with_tiles(std::uint32_t tiles) {
  auto& slot = profiles()[tiles];
  if (!slot) {
    slot = std::make_unique<zel_package::ProfileReport>(zel_generator::generate_profile(
        {.tiles = tiles, .epochs = 7, .phases = 34, .seed = 2026, .clock_hz = 1330000000}));
  }
  return *slot;
}

void record_floor(std::uint32_t tiles, double seconds_per_sample) {
  floors()[tiles] = seconds_per_sample;
}

double floor_seconds_per_sample(std::uint32_t tiles) {
  const auto found = floors().find(tiles);
  return found == floors().end() ? 0.0 : found->second;
}

}  // namespace zel_bench
