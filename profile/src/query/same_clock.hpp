// Profiles queried together as chips of one machine share a clock rate: a query over several
// refuses profiles whose rates differ, since their cycles would not be the same time.
#pragma once

#include <span>
#include <stdexcept>
#include <string>

#include <zel_package/packed.hpp>

namespace zel_profile::detail {

// Throws std::invalid_argument when two of the profiles have different clock rates.
inline void check_same_clock(std::span<const zel_package::PackedProfile> profiles) {
  for (const auto& profile : profiles) {
    if (profile.clock_hz != profiles.front().clock_hz) {
      throw std::invalid_argument("cannot query profiles with different clock rates together (" +
                                  std::to_string(profiles.front().clock_hz) + " and " +
                                  std::to_string(profile.clock_hz) + " Hz)");
    }
  }
}

}  // namespace zel_profile::detail
