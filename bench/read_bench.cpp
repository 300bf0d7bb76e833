// Reading the stored format, from memory, in bytes and samples per second:
// - read_stored_profile: into records, the profile of 1472 tiles (about 10^6 samples);
// - read_packed_stored_profile: into the packed form, the same profile and one of 10^7 samples
//   (1472 tiles, 35 epochs of 68 phases). This reader uses two threads, so it is timed by the
//   wall clock (UseRealTime), not by the CPU time of the benchmark's thread.
// Each profile is generated and written to JSON once, before its first timing.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include <zel_generator/generator.hpp>
#include <zel_package/storage.hpp>

#include "bench_profiles.hpp"

namespace {

// Bytes the allocator has handed out and not yet been given back, large blocks included.
std::size_t heap_bytes_in_use() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

void read_stored_profile(benchmark::State& state) {
  const auto& profile = zel_bench::profile_with_tiles(static_cast<std::uint32_t>(state.range(0)));
  const std::string json = zel_package::write_profile(profile);
  const auto samples = zel_package::sample_count(profile);
  for (auto _ : state) {
    auto read = zel_package::read_profile(json);
    benchmark::DoNotOptimize(read);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(json.size()));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples));
  state.counters["file_MB"] = static_cast<double>(json.size()) / 1e6;
}

BENCHMARK(read_stored_profile)->Arg(1472)->Unit(benchmark::kMillisecond);

// The stored text of a generated profile, and its sample count; made once per set of options.
const std::pair<std::string, std::size_t>& stored_text(std::uint32_t epochs, std::uint32_t phases) {
  static std::map<std::pair<std::uint32_t, std::uint32_t>, std::pair<std::string, std::size_t>>
      texts;
  auto& slot = texts[{epochs, phases}];
  if (slot.first.empty()) {
    const auto profile = zel_generator::generate_packed_profile(
        {.tiles = 1472, .epochs = epochs, .phases = phases, .seed = 2026, .clock_hz = 1330000000});
    slot = {zel_package::write_profile(profile), zel_package::sample_count(profile)};
  }
  return slot;
}

void read_packed_stored_profile(benchmark::State& state) {
  const auto& [json, samples] = stored_text(static_cast<std::uint32_t>(state.range(0)),
                                            static_cast<std::uint32_t>(state.range(1)));
  std::size_t resident = 0;
  for (auto _ : state) {
    const std::size_t before = heap_bytes_in_use();
    auto read = zel_package::read_packed_profile(json);
    resident = heap_bytes_in_use() - before;
    benchmark::DoNotOptimize(read);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(json.size()));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples));
  state.counters["file_MB"] = static_cast<double>(json.size()) / 1e6;
  state.counters["samples"] = static_cast<double>(samples);
  // The memory the loaded profile holds, as the allocator counts it: samples, tiles and steps.
  state.counters["bytes_per_sample"] = static_cast<double>(resident) / static_cast<double>(samples);
}

// Arguments: epochs and phases of the 1472-tile profile.
BENCHMARK(read_packed_stored_profile)
    ->ArgNames({"epochs", "phases"})
    ->Args({7, 34})
    ->Args({35, 68})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
