// Generated profiles shared by the benchmarks, and the per-sample floor they are measured against.
#pragma once

#include <cstddef>
#include <cstdint>

#include <string_view>

#include <benchmark/benchmark.h>
#include <zel_package/records.hpp>

namespace zel_bench {

// Profiles of 7 epochs of 34 phases (714 samples per tile): 14 tiles (9,996 samples), 140 tiles
// (99,960) or 1472 tiles (1,050,848). Built once per tile count and kept for the whole run.
const zel_package::ProfileReport& profile_with_tiles(std::uint32_t tiles);

// CPU time of this thread: on a shared machine it varies far less than wall-clock time.
double thread_seconds();

// Reports the time per sample of a run of `seconds` over `samples` samples, and its ratio to the
// floor measured on the same profile: the floor of `family` (records or packed) for the
// benchmark's first argument. A floor benchmark passes is_floor and records its own figure.
void set_per_sample_counters(benchmark::State& state, std::string_view family, std::size_t samples,
                             double seconds, bool is_floor);

}  // namespace zel_bench
