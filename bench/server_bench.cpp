// The explorer's handlers over a generated profile of 1472 tiles and 10,500,000 samples: the
// timeline at 1600 bins over windows from the whole span down to a few thousand cycles, the whole
// profile's query (against the engine's query alone, the tool's query time), the load balance, and
// the index of the samples by time that the explorer builds at start-up for its timelines.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>
#include <zel_generator/generator.hpp>
#include <zel_profile/query.hpp>
#include <zel_profile/timeline.hpp>
#include <zel_server/api.hpp>

namespace {

const zel_generator::GeneratorOptions large{
    .tiles = 1472, .epochs = 35, .phases = 68, .seed = 2026, .clock_hz = 1330000000};

const zel_server::Explorer& explorer() {
  static const zel_server::Explorer made(
      {{"large.json", zel_generator::generate_packed_profile(large)}});
  return made;
}

std::uint64_t span() {
  static const std::uint64_t cycles =
      nlohmann::json::parse(explorer().info()).at("span_cycles").get<std::uint64_t>();
  return cycles;
}

// Argument: the window is the span divided by this, centred.
void BM_ServerTimeline(benchmark::State& state) {
  const std::uint64_t width =
      std::max<std::uint64_t>(1, span() / static_cast<std::uint64_t>(state.range(0)));
  const std::uint64_t from = span() / 2 - width / 2;
  const zel_server::Parameters parameters{{"from", std::to_string(from)},
                                          {"to", std::to_string(from + width)},
                                          {"bins", "1600"},
                                          {"rows", "64"}};
  std::size_t bytes = 0;
  for (auto _ : state) {
    const auto answer = explorer().get("/api/timeline", parameters);
    if (answer.status != 200) state.SkipWithError(answer.body.c_str());
    bytes = answer.body.size();
    benchmark::DoNotOptimize(answer);
  }
  state.counters["window_cycles"] = static_cast<double>(width);
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ServerTimeline)
    ->Arg(1)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ServerQueryWholeProfile(benchmark::State& state) {
  for (auto _ : state) {
    const auto answer = explorer().get("/api/query", {{"group-by", "kernel"}});
    benchmark::DoNotOptimize(answer);
  }
}
BENCHMARK(BM_ServerQueryWholeProfile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The tool's query time: the engine alone, on every core, as `zel-profile query --timing` counts
// it.
void BM_EngineQueryWholeProfile(benchmark::State& state) {
  static const auto profile = zel_generator::generate_packed_profile(large);
  const std::vector<zel_package::PackedProfile> profiles{profile};
  for (auto _ : state) {
    auto report = zel_profile::query(profiles, {.group_by = zel_profile::GroupBy::Kernel},
                                     zel_profile::Parallelism{.threads = 0});
    benchmark::DoNotOptimize(report);
  }
}
BENCHMARK(BM_EngineQueryWholeProfile)->Unit(benchmark::kMillisecond)->UseRealTime();

// A hover: the samples of one tile at one cycle, read through the index.
void BM_ServerSamplesAtACycle(benchmark::State& state) {
  const zel_server::Parameters parameters{
      {"tile", "700"}, {"at", std::to_string(span() / 2)}, {"limit", "3"}};
  std::string body;
  for (auto _ : state) {
    auto answer = explorer().get("/api/samples", parameters);
    if (answer.status != 200) state.SkipWithError(answer.body.c_str());
    body = std::move(answer.body);
  }
  // The samples found, so that the figure is of a hover that shows some.
  state.counters["samples"] = static_cast<double>(nlohmann::json::parse(body).at("samples").size());
}
BENCHMARK(BM_ServerSamplesAtACycle)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ServerLoadBalance(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(explorer().get("/api/load-balance", {}));
}
BENCHMARK(BM_ServerLoadBalance)->Unit(benchmark::kMillisecond)->UseRealTime();

// The index a timeline reads a window through, built once at start-up on every core.
void BM_ServerTimelineIndex(benchmark::State& state) {
  static const auto profile = zel_generator::generate_packed_profile(large);
  for (auto _ : state) {
    auto index = zel_profile::index_timeline(profile, zel_profile::Parallelism{.threads = 0});
    benchmark::DoNotOptimize(index);
  }
}
BENCHMARK(BM_ServerTimelineIndex)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
