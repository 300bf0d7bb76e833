// In-memory records of one captured execution profile of a many-tile processor.
//
// A profile lists, for every physical tile, the timed occurrences of the program steps that the
// tile executed. Start and end are raw readings of the tile's 32-bit cycle counter, which wraps
// from 2^32 - 1 to 0 and is not aligned between tiles. Lists keep the order in which they were
// delivered: the query engine takes each tile's first listed sample as that tile's time base.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel_package {

// The kind of a program step; one byte.
enum class ProfileStepKind : std::uint8_t {
  Exchange = 0,
  Compute = 1,
  Synchronization = 2,
  Idle = 3,
};

// One semantic annotation of a step. Names need not be unique within a step.
struct ProfileMetadata {
  std::string name;
  std::string value;

  bool operator==(const ProfileMetadata&) const = default;
};

// The static description of a program step.
struct ProfileStep {
  std::uint32_t local_index = 0;  // the package's own numbering; the query engine ignores it
  std::uint32_t phase = 0;        // bulk-synchronous phase number
  std::uint32_t epoch = 0;        // repetition of that phase; (phase, epoch) is one execution
  std::string operation;          // free text, matched by substring
  ProfileStepKind kind = ProfileStepKind::Exchange;
  std::string kernel;  // empty when the step runs no kernel
  std::vector<ProfileMetadata> metadata;

  bool operator==(const ProfileStep&) const = default;
};

// One timed occurrence of a step on one tile. Every sample carries its own copy of its step.
struct CycleSample {
  ProfileStep step;
  std::uint32_t start_cycle = 0;  // raw counter reading when the step began
  std::uint32_t end_cycle = 0;    // raw counter reading when the step ended (may have wrapped)

  bool operator==(const CycleSample&) const = default;
};

// Everything captured on one tile.
struct TileProfile {
  std::uint32_t physical_tile = 0;
  std::vector<CycleSample> samples;  // the first one sets the tile's time base

  bool operator==(const TileProfile&) const = default;
};

// One whole profile.
struct ProfileReport {
  std::uint64_t clock_hz = 0;  // tile clock rate; 0 when unavailable (milliseconds then read 0.0)
  std::vector<TileProfile> tiles;

  bool operator==(const ProfileReport&) const = default;
};

}  // namespace zel_package
