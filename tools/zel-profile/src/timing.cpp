#include "timing.hpp"

#include <sys/resource.h>

#include <cstdio>
#include <ctime>

namespace zel_cli {
namespace {

double process_cpu_seconds() {
  timespec now{};
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now) != 0) {
    return 0.0;
  }
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

std::string stage_line(const char* stage, const Elapsed& elapsed) {
  char line[128];
  std::snprintf(line, sizeof line, "zel-profile: timing: %s %.3f s wall, %.3f s cpu\n", stage,
                elapsed.wall_seconds, elapsed.cpu_seconds);
  return line;
}

ClockReading read_clocks() {
  return {.wall = std::chrono::steady_clock::now(), .cpu_seconds = process_cpu_seconds()};
}

Elapsed elapsed_since(const ClockReading& start) {
  const ClockReading now = read_clocks();
  return {.wall_seconds = std::chrono::duration<double>(now.wall - start.wall).count(),
          .cpu_seconds = now.cpu_seconds - start.cpu_seconds};
}

std::uint64_t peak_memory_mb() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0 || usage.ru_maxrss < 0) {
    return 0;
  }
  // Linux gives ru_maxrss in KiB.
  return (static_cast<std::uint64_t>(usage.ru_maxrss) + 512) / 1024;
}

std::string format_timing(const QueryTiming& timing) {
  return stage_line("load", timing.load) + stage_line("query", timing.query) +
         "zel-profile: timing: peak memory " + std::to_string(timing.peak_memory_mb) + " MB\n";
}

}  // namespace zel_cli
