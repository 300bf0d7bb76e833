// Synthetic but realistic profiles, for demos, tests and benchmarks.
//
// Every tile runs `epochs` repetitions of `phases` bulk-synchronous phases. Each phase is an
// exchange step, a compute step (its kernel drawn from a few dozen, or now and then an idle step
// instead) and a synchronization step that lasts until the slowest tile has finished computing.
// Steps carry "block", "layer" and, for compute, "dtype" metadata. Every tile's 32-bit counter
// starts at its own value; some start just before the wrap, so their samples cross it.
//
// The result depends on the options alone: the same seed gives the same profile on every platform.
#pragma once

#include <cstdint>

#include <zel_package/packed.hpp>
#include <zel_package/records.hpp>

namespace zel_generator {

struct GeneratorOptions {
  std::uint32_t tiles = 16;
  std::uint32_t epochs = 2;
  std::uint32_t phases = 8;
  std::uint64_t seed = 1;
  std::uint64_t clock_hz = 1330000000;

  bool operator==(const GeneratorOptions&) const = default;
};

// tiles * epochs * phases * 3 samples, tiles numbered 0 .. tiles - 1 in order.
zel_package::ProfileReport generate_profile(const GeneratorOptions& options);

// The same profile in packed form, built without a record per sample (12 bytes a sample), so that
// profiles of 10^8 samples fit in memory: unpack(generate_packed_profile(o)) == generate_profile(o)
// and generate_packed_profile(o) == pack(generate_profile(o)). Each (epoch, phase) adds up to four
// distinct steps. Both functions throw std::length_error for 2^30 or more epochs x phases.
zel_package::PackedProfile generate_packed_profile(const GeneratorOptions& options);

}  // namespace zel_generator
