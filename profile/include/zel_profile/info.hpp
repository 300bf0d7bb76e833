// What a profile holds, before any query: its size and clock, how many samples run each kind,
// kernel, operation, phase and epoch, and the metadata keys with their values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/query.hpp>

namespace zel_profile {

// A name (a kind, a kernel, an operation, a metadata value) and the samples that carry it.
struct NameCount {
  std::string name;
  std::uint64_t samples = 0;

  bool operator==(const NameCount&) const = default;
};

// A phase or epoch number and the samples of steps with it.
struct NumberCount {
  std::uint32_t number = 0;
  std::uint64_t samples = 0;

  bool operator==(const NumberCount&) const = default;
};

// A metadata key: the samples whose step has it at least once, and its values with the samples
// whose step has that value for it.
struct MetadataKeyInfo {
  std::string key;
  std::uint64_t samples = 0;
  std::vector<NameCount> values;  // most samples first, then by name in byte order

  bool operator==(const MetadataKeyInfo&) const = default;
};

// Tiles, samples, span and clock are those of a query report over the same profiles (a query's
// first lines); the lists count every sample.
struct ProfileInfo {
  std::uint64_t clock_hz = 0;
  std::uint64_t tile_count = 0;
  std::uint64_t sample_count = 0;
  std::uint64_t span_cycles = 0;
  double span_ms = 0.0;
  std::vector<NameCount> kinds;  // the four kinds in their order, each even with 0 samples
  std::vector<std::uint64_t> kind_cycles;  // by kind as `kinds`: the cycles of its samples, summed
  std::vector<NameCount> kernels;          // most samples first, then by name; "" is no kernel
  std::vector<NameCount> operations;       // most samples first, then by name
  std::vector<NumberCount> phases;         // ascending
  std::vector<NumberCount> epochs;         // ascending
  std::vector<MetadataKeyInfo> metadata;   // by key in byte order

  bool operator==(const ProfileInfo&) const = default;
};

// What `profiles` hold, taken as one (as query over several profiles takes them). Throws
// std::invalid_argument when a sample's step index is out of range or the clock rates differ.
ProfileInfo profile_info(std::span<const zel_package::PackedProfile> profiles,
                         Parallelism parallelism = {});

}  // namespace zel_profile
