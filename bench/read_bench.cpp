// Reading the stored format: the profile of 1472 tiles (about 10^6 samples) written to JSON once,
// then read back from memory, in bytes and samples per second.
#include <benchmark/benchmark.h>

#include <string>

#include <zel_package/storage.hpp>

#include "bench_profiles.hpp"

namespace {

void read_stored_profile(benchmark::State& state) {
  const auto& profile = zel_bench::profile_with_tiles(static_cast<std::uint32_t>(state.range(0)));
  const std::string json = zel_package::write_profile(profile);
  const auto samples = zel_bench::sample_count(profile);
  for (auto _ : state) {
    auto read = zel_package::read_profile(json);
    benchmark::DoNotOptimize(read);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(json.size()));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples));
  state.counters["file_MB"] = static_cast<double>(json.size()) / 1e6;
}

BENCHMARK(read_stored_profile)->Arg(1472)->Unit(benchmark::kMillisecond);

}  // namespace
