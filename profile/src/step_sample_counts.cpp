#include "step_sample_counts.hpp"

#include <stdexcept>

namespace zel_profile {

std::vector<std::uint64_t> step_sample_counts(const zel_package::PackedProfile& profile) {
  std::vector<std::uint64_t> counts(profile.steps.size(), 0);
  for (const auto& tile : profile.tiles) {
    for (const auto& sample : tile.samples) {
      if (sample.step >= counts.size()) {
        throw std::invalid_argument("a sample names step " + std::to_string(sample.step) +
                                    ", but the profile has " + std::to_string(counts.size()));
      }
      ++counts[sample.step];
    }
  }
  return counts;
}

}  // namespace zel_profile
