// A small query report with known values, shared by the output format tests.
#pragma once

#include <zel_profile/model.hpp>

namespace zel_report::testing {

// Two groups and one reported sample; the floats have short and long shortest forms.
inline zel_profile::QueryReport small_report() {
  return {
      .clock_hz = 1330000000,
      .tile_count = 2,
      .sample_count = 5,
      .matched_sample_count = 3,
      .profile_span_cycles = 60,
      .profile_span_ms = 60.0 / 1330000.0,
      .groups = {{.name = "gemm",
                  .dimensions = {{"kernel", "gemm"}},
                  .sample_count = 2,
                  .tile_count = 2,
                  .phase_count = 1,
                  .phase_cycles = 40,
                  .phase_ms = 40.0 / 1330000.0,
                  .work_cycles = 75,
                  .average_active_tiles = 1.875,
                  .mean_cycles = 37.5,
                  .p50_cycles = 35,
                  .p95_cycles = 40,
                  .maximum_cycles = 40,
                  .first_offset = 0,
                  .last_offset = 40},
                 {.name = "relu",
                  .dimensions = {{"kernel", "relu"}},
                  .sample_count = 1,
                  .tile_count = 1,
                  .phase_count = 1,
                  .phase_cycles = 15,
                  .phase_ms = 15.0 / 1330000.0,
                  .work_cycles = 15,
                  .average_active_tiles = 1.0,
                  .mean_cycles = 15.0,
                  .p50_cycles = 15,
                  .p95_cycles = 15,
                  .maximum_cycles = 15,
                  .first_offset = 40,
                  .last_offset = 55}},
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
