// Query benchmarks on packed profiles, from 10^4 to 10^7 samples. Each reports its time per sample
// and its ratio to the packed floor: one pass over the packed samples that computes each sample's
// offset and length and reads its step's kind, the least any query must do.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include <zel_generator/generator.hpp>
#include <zel_profile/load_balance.hpp>
#include <zel_profile/query.hpp>
#include <zel_profile/timeline.hpp>

#include "bench_profiles.hpp"

namespace {

using zel_profile::GroupBy;
using zel_profile::Query;
using zel_profile::StepKind;

// 9,996, 99,960, 1,051,008 and 10,510,080 samples.
constexpr std::array<zel_generator::GeneratorOptions, 4> sizes = {{
    {.tiles = 14, .epochs = 7, .phases = 34, .seed = 2026, .clock_hz = 1330000000},
    {.tiles = 140, .epochs = 7, .phases = 34, .seed = 2026, .clock_hz = 1330000000},
    {.tiles = 1472, .epochs = 7, .phases = 34, .seed = 2026, .clock_hz = 1330000000},
    {.tiles = 1472, .epochs = 35, .phases = 68, .seed = 2026, .clock_hz = 1330000000},
}};

const zel_package::PackedProfile& packed_profile(std::int64_t size) {
  static std::map<std::int64_t, std::unique_ptr<zel_package::PackedProfile>> cache;
  auto& slot = cache[size];
  if (!slot) {
    slot = std::make_unique<zel_package::PackedProfile>(
        zel_generator::generate_packed_profile(sizes[static_cast<std::size_t>(size)]));
  }
  return *slot;
}

void packed_floor(benchmark::State& state) {
  const auto& profile = packed_profile(state.range(0));
  std::vector<std::uint8_t> kinds;
  for (const auto& step : profile.steps) kinds.push_back(static_cast<std::uint8_t>(step.kind));
  const double begin = zel_bench::thread_seconds();
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (const auto& tile : profile.tiles) {
      const std::uint32_t base = tile.samples.empty() ? 0 : tile.samples.front().start_cycle;
      for (const auto& sample : tile.samples) {
        const std::uint64_t offset = static_cast<std::uint32_t>(sample.start_cycle - base);
        const std::uint32_t duration = sample.end_cycle - sample.start_cycle;
        sum += offset + duration + kinds[sample.step];
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  zel_bench::set_per_sample_counters(state, "packed", zel_package::sample_count(profile),
                                     zel_bench::thread_seconds() - begin, true);
}

// Single-threaded queries are measured in CPU time of this thread; threaded ones in wall-clock
// time (UseRealTime), since their work is spread over several threads. With `keep_scratch` the
// queries share one QueryScratch, as a caller that keeps one does; without, each query takes its
// memory afresh.
void run_query(benchmark::State& state, const Query& query, bool keep_scratch = false) {
  const auto& profile = packed_profile(state.range(0));
  const zel_profile::Parallelism parallelism{static_cast<std::size_t>(state.range(1))};
  zel_profile::QueryScratch scratch;
  std::size_t matched = 0;
  const double begin = zel_bench::thread_seconds();
  const auto wall_begin = std::chrono::steady_clock::now();
  for (auto _ : state) {
    auto report = keep_scratch ? zel_profile::query(profile, query, parallelism, scratch)
                               : zel_profile::query(profile, query, parallelism);
    matched = report.matched_sample_count;
    benchmark::DoNotOptimize(report);
  }
  const double seconds =
      parallelism.threads == 1
          ? zel_bench::thread_seconds() - begin
          : std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_begin).count();
  zel_bench::set_per_sample_counters(state, "packed", zel_package::sample_count(profile), seconds,
                                     false);
  state.counters["matched"] = static_cast<double>(matched);
}

void packed_by_kernel(benchmark::State& state) { run_query(state, Query{}); }

void packed_by_phase(benchmark::State& state) {
  run_query(state, Query{.group_by = GroupBy::Phase});
}

void packed_by_block_top10(benchmark::State& state) {
  run_query(state,
            Query{.group_by = GroupBy::Metadata, .metadata_key = "block", .sample_limit = 10});
}

// Compute steps whose operation names a tiled kernel variant: about a twelfth of all samples.
void packed_compute_tiled_by_tile(benchmark::State& state) {
  run_query(
      state,
      Query{.group_by = GroupBy::Tile, .kind = StepKind::Compute, .operation_contains = "_tiled"});
}

// Every sample grouped by tile: the tile grouping's worst case.
void packed_by_tile(benchmark::State& state) { run_query(state, Query{.group_by = GroupBy::Tile}); }

// The samples running at one moment, about a third of the way into the run.
void packed_at_offset(benchmark::State& state) { run_query(state, Query{.at_offset = 200000}); }

// Queries that keep their QueryScratch from one iteration to the next.
void scratch_by_kernel(benchmark::State& state) { run_query(state, Query{}, true); }
void scratch_by_phase(benchmark::State& state) {
  run_query(state, Query{.group_by = GroupBy::Phase}, true);
}
void scratch_by_block_top10(benchmark::State& state) {
  run_query(state,
            Query{.group_by = GroupBy::Metadata, .metadata_key = "block", .sample_limit = 10},
            true);
}
void scratch_compute_tiled_by_tile(benchmark::State& state) {
  run_query(
      state,
      Query{.group_by = GroupBy::Tile, .kind = StepKind::Compute, .operation_contains = "_tiled"},
      true);
}
void scratch_by_tile(benchmark::State& state) {
  run_query(state, Query{.group_by = GroupBy::Tile}, true);
}
void scratch_at_offset(benchmark::State& state) {
  run_query(state, Query{.at_offset = 200000}, true);
}

// The figures of the HTML report beside the query: the timeline of the tiles (64 rows, 200 bins,
// by kind) and the load balance of every (phase, epoch), each over every sample, on one thread.
template <typename Figure>
void run_figure(benchmark::State& state, Figure figure) {
  const auto& profile = packed_profile(state.range(0));
  const double begin = zel_bench::thread_seconds();
  for (auto _ : state) {
    auto result = figure(profile);
    benchmark::DoNotOptimize(result);
  }
  zel_bench::set_per_sample_counters(state, "packed", zel_package::sample_count(profile),
                                     zel_bench::thread_seconds() - begin, false);
}

void packed_timeline(benchmark::State& state) {
  run_figure(state, [](const zel_package::PackedProfile& profile) {
    return zel_profile::timeline(profile, Query{}, zel_profile::TimelineShape{});
  });
}

void packed_load_balance(benchmark::State& state) {
  run_figure(state, [](const zel_package::PackedProfile& profile) {
    return zel_profile::load_balance(profile, Query{});
  });
}

void per_size(benchmark::internal::Benchmark* benchmark) {
  for (std::int64_t size = 0; size < static_cast<std::int64_t>(sizes.size()); ++size) {
    benchmark->Args({size, 1});
  }
  benchmark->Unit(benchmark::kMillisecond);
}

// The largest profile on one and on two threads, in wall-clock time for both.
void per_thread_count(benchmark::internal::Benchmark* benchmark) {
  const auto largest = static_cast<std::int64_t>(sizes.size()) - 1;
  benchmark->Args({largest, 1})->Args({largest, 2})->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(packed_floor)->Apply([](benchmark::internal::Benchmark* benchmark) {
  for (std::int64_t size = 0; size < static_cast<std::int64_t>(sizes.size()); ++size) {
    benchmark->Arg(size);
  }
  benchmark->Unit(benchmark::kMillisecond);
});
BENCHMARK(packed_by_kernel)->Apply(per_size);
BENCHMARK(packed_by_phase)->Apply(per_size);
BENCHMARK(packed_by_block_top10)->Apply(per_size);
BENCHMARK(packed_compute_tiled_by_tile)->Apply(per_size);
BENCHMARK(packed_by_tile)->Apply(per_size);
BENCHMARK(packed_at_offset)->Apply(per_size);
BENCHMARK(packed_timeline)->Apply(per_size);
BENCHMARK(packed_load_balance)->Apply(per_size);

// The same queries, single-threaded against two threads, wall-clock time.
BENCHMARK(packed_by_kernel)->Name("threads/packed_by_kernel")->Apply(per_thread_count);
BENCHMARK(packed_by_phase)->Name("threads/packed_by_phase")->Apply(per_thread_count);
BENCHMARK(packed_by_block_top10)->Name("threads/packed_by_block_top10")->Apply(per_thread_count);
BENCHMARK(packed_compute_tiled_by_tile)
    ->Name("threads/packed_compute_tiled_by_tile")
    ->Apply(per_thread_count);
BENCHMARK(packed_by_tile)->Name("threads/packed_by_tile")->Apply(per_thread_count);
BENCHMARK(packed_at_offset)->Name("threads/packed_at_offset")->Apply(per_thread_count);

// The queries of a caller that keeps a QueryScratch, on the largest profile: one thread in CPU
// time, and one against two in wall-clock time.
void largest_one_thread(benchmark::internal::Benchmark* benchmark) {
  const auto largest = static_cast<std::int64_t>(sizes.size()) - 1;
  benchmark->Args({largest, 1})->Unit(benchmark::kMillisecond);
}
BENCHMARK(scratch_by_kernel)->Apply(largest_one_thread);
BENCHMARK(scratch_by_phase)->Apply(largest_one_thread);
BENCHMARK(scratch_by_block_top10)->Apply(largest_one_thread);
BENCHMARK(scratch_compute_tiled_by_tile)->Apply(largest_one_thread);
BENCHMARK(scratch_by_tile)->Apply(largest_one_thread);
BENCHMARK(scratch_at_offset)->Apply(largest_one_thread);
BENCHMARK(scratch_by_kernel)->Name("threads/scratch_by_kernel")->Apply(per_thread_count);
BENCHMARK(scratch_by_phase)->Name("threads/scratch_by_phase")->Apply(per_thread_count);
BENCHMARK(scratch_by_block_top10)->Name("threads/scratch_by_block_top10")->Apply(per_thread_count);

}  // namespace
