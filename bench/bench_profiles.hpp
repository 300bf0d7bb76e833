// Generated profiles shared by the benchmarks, and the per-sample floor they are measured against.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zel_package/records.hpp>

namespace zel_bench {

// Profiles of 7 epochs of 34 phases (714 samples per tile): 14 tiles (9,996 samples), 140 tiles
// (99,960) or 1472 tiles (1,050,848). Built once per tile count and kept for the whole run.
const zel_package::ProfileReport& profile_with_tiles(std::uint32_t tiles);

// Seconds per sample of the floor pass over the profile with this many tiles, once measured.
void record_floor(std::uint32_t tiles, double seconds_per_sample);
double floor_seconds_per_sample(std::uint32_t tiles);

}  // namespace zel_bench
