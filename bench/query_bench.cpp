// Query benchmarks. Each reports its time per sample and its ratio to the floor: one pass that
// reads every sample's offset, duration, kind, phase, epoch and kernel length, the least any query
// must do.
#include <benchmark/benchmark.h>

#include <cstdint>

#include <zel_profile/query.hpp>

#include "bench_profiles.hpp"

namespace {

using zel_bench::profile_with_tiles;
using zel_profile::GroupBy;
using zel_profile::Query;
using zel_profile::StepKind;

constexpr std::int64_t tile_counts[] = {14, 140, 1472};

void floor_pass(benchmark::State& state) {
  const auto& profile = profile_with_tiles(static_cast<std::uint32_t>(state.range(0)));
  const auto samples = zel_package::sample_count(profile);
  const double begin = zel_bench::thread_seconds();
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (const auto& tile : profile.tiles) {
      const std::uint32_t base = tile.samples.empty() ? 0 : tile.samples.front().start_cycle;
      for (const auto& sample : tile.samples) {
        const std::uint64_t offset = static_cast<std::uint32_t>(sample.start_cycle - base);
        const std::uint32_t duration = sample.end_cycle - sample.start_cycle;
        sum += offset + duration + static_cast<std::uint8_t>(sample.step.kind) + sample.step.phase +
               sample.step.epoch + sample.step.kernel.size();
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  zel_bench::set_per_sample_counters(state, "records", samples, zel_bench::thread_seconds() - begin,
                                     true);
}

void run_query(benchmark::State& state, const Query& query) {
  const auto& profile = profile_with_tiles(static_cast<std::uint32_t>(state.range(0)));
  const auto samples = zel_package::sample_count(profile);
  std::size_t matched = 0;
  const double begin = zel_bench::thread_seconds();
  for (auto _ : state) {
    auto report = zel_profile::query(profile, query);
    matched = report.matched_sample_count;
    benchmark::DoNotOptimize(report);
  }
  zel_bench::set_per_sample_counters(state, "records", samples, zel_bench::thread_seconds() - begin,
                                     false);
  state.counters["matched"] = static_cast<double>(matched);
}

void by_kernel(benchmark::State& state) { run_query(state, Query{}); }

void by_phase(benchmark::State& state) { run_query(state, Query{.group_by = GroupBy::Phase}); }

void by_block_top10(benchmark::State& state) {
  run_query(state,
            Query{.group_by = GroupBy::Metadata, .metadata_key = "block", .sample_limit = 10});
}

// Compute steps whose operation names a tiled kernel variant: about a twelfth of all samples.
void compute_tiled_by_tile(benchmark::State& state) {
  run_query(
      state,
      Query{.group_by = GroupBy::Tile, .kind = StepKind::Compute, .operation_contains = "_tiled"});
}

// The samples running at one moment, about a third of the way into the run.
void at_offset(benchmark::State& state) { run_query(state, Query{.at_offset = 200000}); }

void per_size(benchmark::internal::Benchmark* benchmark) {
  for (const auto tiles : tile_counts) {
    benchmark->Arg(tiles);
  }
  benchmark->Unit(benchmark::kMillisecond);
}

BENCHMARK(floor_pass)->Apply(per_size);
BENCHMARK(by_kernel)->Apply(per_size);
BENCHMARK(by_phase)->Apply(per_size);
BENCHMARK(by_block_top10)->Apply(per_size);
BENCHMARK(compute_tiled_by_tile)->Apply(per_size);
BENCHMARK(at_offset)->Apply(per_size);

}  // namespace
