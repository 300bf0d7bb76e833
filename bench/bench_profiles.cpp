#include "bench_profiles.hpp"

#include <time.h>

#include <map>
#include <memory>
#include <string>
#include <utility>

#include <zel_generator/generator.hpp>

namespace zel_bench {
namespace {

std::map<std::uint32_t, std::unique_ptr<zel_package::ProfileReport>>& profiles() {
  static std::map<std::uint32_t, std::unique_ptr<zel_package::ProfileReport>> cache;
  return cache;
}

// Seconds per sample of each floor measured so far, by family and first argument.
std::map<std::pair<std::string, std::int64_t>, double>& floors() {
  static std::map<std::pair<std::string, std::int64_t>, double> measured;
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

double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void set_per_sample_counters(benchmark::State& state, std::string_view family, std::size_t samples,
                             double seconds, bool is_floor) {
  const double per_sample =
      seconds / static_cast<double>(state.iterations()) / static_cast<double>(samples);
  const auto key = std::make_pair(std::string(family), state.range(0));
  if (is_floor) {
    floors()[key] = per_sample;
  }
  state.counters["samples"] = static_cast<double>(samples);
  state.counters["ns_per_sample"] = per_sample * 1e9;
  const auto floor = floors().find(key);
  state.counters["x_floor"] = floor != floors().end() ? per_sample / floor->second : 0.0;
}

}  // namespace zel_bench
