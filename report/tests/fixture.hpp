// A small query report with known values, shared by the output format tests.
#pragma once

#include <string>

#include <zel_profile/model.hpp>

namespace zel_report::testing {

// The group of a kernel's `samples` samples, one a tile, working `work` cycles in one phase of
// `cycles` cycles from `first`; its median is `p50`, its p95 and maximum `longest`.
inline zel_profile::GroupSummary kernel_group(const std::string& kernel, std::size_t samples,
                                              std::uint64_t cycles, std::uint64_t work,
                                              std::uint32_t p50, std::uint32_t longest,
                                              std::uint64_t first) {
  return {.name = kernel,
          .dimensions = {{"kernel", kernel}},
          .sample_count = samples,
          .tile_count = samples,
          .phase_count = 1,
          .phase_cycles = cycles,
          .phase_ms = static_cast<double>(cycles) / 1330000.0,
          .work_cycles = work,
          .average_active_tiles = static_cast<double>(work) / static_cast<double>(cycles),
          .mean_cycles = static_cast<double>(work) / static_cast<double>(samples),
          .p50_cycles = p50,
          .p95_cycles = longest,
          .maximum_cycles = longest,
          .first_offset = first,
          .last_offset = first + cycles};
}

// Two groups and one reported sample; the floats have short and long shortest forms.
inline zel_profile::QueryReport small_report() {
  return {
      .clock_hz = 1330000000,
      .tile_count = 2,
      .sample_count = 5,
      .matched_sample_count = 3,
      .profile_span_cycles = 60,
      .profile_span_ms = 60.0 / 1330000.0,
      .groups = {kernel_group("gemm", 2, 40, 75, 35, 40, 0),
                 kernel_group("relu", 1, 15, 15, 15, 15, 40)},
      .samples = {{.physical_tile = 0,
                   .offset = 0,
                   .duration = 40,
                   .phase = 0,
                   .epoch = 1,
                   .kind = "compute",
                   .operation = "layer0",
                   .kernel = "gemm",
                   .metadata = {{"block", "0"}, {"dtype", "f16"}}}},
  };
}

}  // namespace zel_report::testing
