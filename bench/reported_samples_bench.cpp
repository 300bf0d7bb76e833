// The reported samples of a query on one thread: choosing the longest (all of them, or ten) and
// writing them as JSON, on the generated profile of the tool's measurement (1,472 tiles, 3 epochs
// of 68 phases, seed 7: 900,864 samples). Times are the thread's CPU time, given per sample.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include <zel_generator/generator.hpp>
#include <zel_profile/query.hpp>
#include <zel_report/formats.hpp>

#include "bench_profiles.hpp"

namespace {

const zel_package::PackedProfile& profile() {
  static const auto packed = zel_generator::generate_packed_profile(
      {.tiles = 1472, .epochs = 3, .phases = 68, .seed = 7, .clock_hz = 1330000000});
  return packed;
}

void per_sample(benchmark::State& state, double seconds) {
  const auto samples = zel_package::sample_count(profile());
  state.counters["ns_per_sample"] =
      seconds * 1e9 / (static_cast<double>(samples) * static_cast<double>(state.iterations()));
}

// The query with `limit` longest samples, every sample matched, grouped by kernel.
void run_longest(benchmark::State& state, std::size_t limit) {
  const zel_profile::Query query{.sample_limit = limit};
  const double begin = zel_bench::thread_seconds();
  for (auto _ : state) {
    auto report = zel_profile::query(profile(), query, zel_profile::Parallelism{1});
    benchmark::DoNotOptimize(report);
  }
  per_sample(state, zel_bench::thread_seconds() - begin);
}

void samples_query_all(benchmark::State& state) { run_longest(state, 1000000); }
void samples_query_top10(benchmark::State& state) { run_longest(state, 10); }
void samples_query_none(benchmark::State& state) { run_longest(state, 0); }

// The report of every sample as the tool's JSON.
void samples_json_all(benchmark::State& state) {
  const auto report =
      zel_profile::query(profile(), {.sample_limit = 1000000}, zel_profile::Parallelism{1});
  std::size_t bytes = 0;
  const double begin = zel_bench::thread_seconds();
  for (auto _ : state) {
    const std::string text = zel_report::format_report(report, zel_report::ReportFormat::Json);
    bytes = text.size();
  }
  per_sample(state, zel_bench::thread_seconds() - begin);
  state.counters["bytes"] = static_cast<double>(bytes);
}

BENCHMARK(samples_query_none)->Unit(benchmark::kMillisecond);
BENCHMARK(samples_query_top10)->Unit(benchmark::kMillisecond);
BENCHMARK(samples_query_all)->Unit(benchmark::kMillisecond);
BENCHMARK(samples_json_all)->Unit(benchmark::kMillisecond);

}  // namespace
