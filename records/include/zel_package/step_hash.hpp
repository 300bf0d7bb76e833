// Hash and equality of steps by every field, looked at through pointers, for tables that give each
// distinct step of a report one number (packing a report, and the records entry point's packing
// of what can match).
//
// The steps come from a caller or a file, so the hash is keyed (keyed_hash.hpp): no report can make
// its steps collide. Example:
//
//   std::unordered_map<const ProfileStep*, std::uint32_t, StepPointerHash, StepPointerEqual>
//   numbers;
#pragma once

#include <cstddef>
#include <cstdint>

#include <zel_package/keyed_hash.hpp>
#include <zel_package/records.hpp>

namespace zel_package {

struct StepPointerHash {
  std::size_t operator()(const ProfileStep* step) const {
    KeyedHasher hasher;
    hasher.add(step->operation);
    hasher.add(step->kernel);
    hasher.add((std::uint64_t{step->local_index} << 32) | step->phase);
    hasher.add((std::uint64_t{step->epoch} << 8) | static_cast<std::uint64_t>(step->kind));
    hasher.add(std::uint64_t{step->metadata.size()});
    for (const auto& entry : step->metadata) {
      hasher.add(entry.name);
      hasher.add(entry.value);
    }
    return static_cast<std::size_t>(hasher.finish());
  }
};

struct StepPointerEqual {
  bool operator()(const ProfileStep* a, const ProfileStep* b) const { return *a == *b; }
};

}  // namespace zel_package
