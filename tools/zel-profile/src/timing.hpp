// How long the stages of a command took and how much memory the process needed, as
// `zel-profile query --timing` prints them.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace zel_cli {

// The wall-clock and processor time of one stage. Processor time counts every thread of the
// process, so it exceeds wall-clock time when the stage runs on several cores.
struct Elapsed {
  double wall_seconds = 0.0;
  double cpu_seconds = 0.0;

  bool operator==(const Elapsed&) const = default;
};

// Both clocks at one moment.
struct ClockReading {
  std::chrono::steady_clock::time_point wall;
  double cpu_seconds = 0.0;  // processor time of the whole process so far
};

ClockReading read_clocks();

// The time from `start` until now.
Elapsed elapsed_since(const ClockReading& start);

// The most resident memory the process has used so far, in MB of 2^20 bytes, rounded to the
// nearest MB.
std::uint64_t peak_memory_mb();

// The figures of one query run.
struct QueryTiming {
  Elapsed load;   // reading and checking the stored profile
  Elapsed query;  // running the query, not printing its report
  std::uint64_t peak_memory_mb = 0;

  bool operator==(const QueryTiming&) const = default;
};

// One stage's line, "zel-profile: timing: STAGE W s wall, C s cpu", ending in a newline.
std::string stage_line(const char* stage, const Elapsed& elapsed);

// One line per figure, seconds with three decimals, for people and scripts alike:
//   zel-profile: timing: load 0.412 s wall, 0.801 s cpu
//   zel-profile: timing: query 0.095 s wall, 0.095 s cpu
//   zel-profile: timing: peak memory 612 MB
std::string format_timing(const QueryTiming& timing);

}  // namespace zel_cli
