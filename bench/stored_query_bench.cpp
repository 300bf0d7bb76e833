// The default query (every sample, grouped by kernel, one thread) on a stored profile read into the
// packed form, timed by the CPU time of the benchmark's thread (steadier than the wall clock on a
// shared machine; the query runs on the caller's thread): the C++ side of the comparison with the
// Python module's zel_profile.query on the same file (bench/python_query.py). The file is named by
// the environment variable ZEL_PROFILE_BENCH_FILE; without it the benchmark reports an error and
// runs nothing.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include <zel_package/packed.hpp>
#include <zel_profile/query.hpp>
#include <zel_storage/storage.hpp>

namespace {

void stored_profile_default_query(benchmark::State& state) {
  const char* path = std::getenv("ZEL_PROFILE_BENCH_FILE");
  if (path == nullptr) {
    state.SkipWithError("set ZEL_PROFILE_BENCH_FILE to a stored profile");
    return;
  }
  const auto profile = zel_storage::read_packed_profile_file(path);
  for (auto _ : state) {
    auto report = zel_profile::query(profile, zel_profile::Query{}, zel_profile::Parallelism{1});
    benchmark::DoNotOptimize(report);
  }
  const auto samples = static_cast<double>(zel_package::sample_count(profile));
  state.counters["samples"] = samples;
  state.counters["ns_per_sample"] = benchmark::Counter(
      samples * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(stored_profile_default_query)->Unit(benchmark::kMillisecond);

}  // namespace
