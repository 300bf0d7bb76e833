// Builds a small two-tile profile in memory, queries it and prints what matched.
#include <cstdio>

#include <zel_profile/query.hpp>

int main() {
  using zel_package::ProfileStepKind;
  auto step = [](std::uint32_t phase, ProfileStepKind kind, const char* kernel) {
    return zel_package::ProfileStep{.phase = phase,
                                    .operation = "layer" + std::to_string(phase),
                                    .kind = kind,
                                    .kernel = kernel,
                                    .metadata = {{"block", std::to_string(phase)}}};
  };
  const zel_package::ProfileReport profile{
      .clock_hz = 1330000000,
      .tiles = {
          {.physical_tile = 0,
           .samples = {{step(0, ProfileStepKind::Exchange, ""), 4294967291u, 5},
                       {step(0, ProfileStepKind::Compute, "gemm"), 5, 45},
                       {step(1, ProfileStepKind::Compute, "relu"), 45, 60}}},
          {.physical_tile = 1,
           .samples = {{step(0, ProfileStepKind::Compute, "gemm"), 1000, 1035},
                       {step(1, ProfileStepKind::Compute, "relu"), 1035, 1049}}},
      }};

  const auto report = zel_profile::query(
      profile, zel_profile::Query{.kind = zel_profile::StepKind::Compute, .sample_limit = 3});

  std::printf("%zu of %zu samples matched over %zu tiles; span %llu cycles (%.6f ms)\n",
              report.matched_sample_count, report.sample_count, report.tile_count,
              static_cast<unsigned long long>(report.profile_span_cycles), report.profile_span_ms);
  for (const auto& group : report.groups) {
    std::printf("  %-8s samples %zu  phase cycles %llu  work cycles %llu  active tiles %.3f\n",
                group.name.c_str(), group.sample_count,
                static_cast<unsigned long long>(group.phase_cycles),
                static_cast<unsigned long long>(group.work_cycles), group.average_active_tiles);
  }
  for (const auto& sample : report.samples) {
    std::printf("  longest: tile %u offset %llu duration %u %s\n", sample.physical_tile,
                static_cast<unsigned long long>(sample.offset), sample.duration,
                sample.operation.c_str());
  }
}
