// The names of the step kinds as stored profiles spell them.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include <zel_package/records.hpp>

namespace zel_package::storage_detail {

// Indexed by the kind's value.
inline constexpr std::array<std::string_view, 4> step_kind_names = {"exchange", "compute",
                                                                    "synchronization", "idle"};

inline std::string_view step_kind_name(ProfileStepKind kind) {
  return step_kind_names[static_cast<std::size_t>(kind)];
}

inline std::optional<ProfileStepKind> step_kind_from_name(std::string_view name) {
  for (std::size_t i = 0; i < step_kind_names.size(); ++i) {
    if (step_kind_names[i] == name) return static_cast<ProfileStepKind>(i);
  }
  return std::nullopt;
}

}  // namespace zel_package::storage_detail
