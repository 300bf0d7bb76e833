// How many samples run each step of a profile.
#pragma once

#include <cstdint>
#include <vector>

#include <zel_package/packed.hpp>

namespace zel_profile {

// counts[s] is the number of samples of `profile` whose step is s. Throws std::invalid_argument
// when a sample's step index is out of range.
std::vector<std::uint64_t> step_sample_counts(const zel_package::PackedProfile& profile);

}  // namespace zel_profile
