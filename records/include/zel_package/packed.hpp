// A compact, read-only form of a profile for large profiles.
//
// A profile runs the same few thousand steps on every tile many times, so a PackedProfile stores
// each step once and a sample as 12 bytes: the index of its step and its two raw counter readings.
// It holds exactly the information of a ProfileReport: unpack(pack(report)) == report for every
// report, and the query engine gives the same report for both forms.
#pragma once

#include <cstdint>
#include <vector>

#include <zel_package/records.hpp>

namespace zel_package {

// One timed occurrence of a step on one tile, the step given by its index.
struct PackedSample {
  std::uint32_t step = 0;         // index into PackedProfile::steps
  std::uint32_t start_cycle = 0;  // raw counter reading when the step began
  std::uint32_t end_cycle = 0;    // raw counter reading when the step ended (may have wrapped)

  bool operator==(const PackedSample&) const = default;
};

// Everything captured on one tile, in profile order; the first sample sets the tile's time base.
struct PackedTile {
  std::uint32_t physical_tile = 0;
  std::vector<PackedSample> samples;

  bool operator==(const PackedTile&) const = default;
};

// One whole profile. Every sample's `step` is below `steps.size()`: pack() and the readers
// guarantee it, and the functions that take a PackedProfile throw std::invalid_argument when a
// hand-built one breaks it.
struct PackedProfile {
  std::uint64_t clock_hz = 0;
  std::vector<ProfileStep> steps;  // pack() stores each distinct step once, in order of first use
  std::vector<PackedTile> tiles;

  bool operator==(const PackedProfile&) const = default;
};

// The packed form of `report`: equal steps are stored once, in the order of their first use (tile
// by tile, sample by sample); tiles and samples keep their order.
PackedProfile pack(const ProfileReport& report);

// The records form: every sample gets its own copy of its step. Throws std::invalid_argument when
// a sample's step index is out of range.
ProfileReport unpack(const PackedProfile& profile);

// The number of samples over all tiles.
std::size_t sample_count(const PackedProfile& profile);
std::size_t sample_count(const ProfileReport& report);

}  // namespace zel_package
