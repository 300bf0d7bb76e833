// The words for the step kinds, in one place for the stored format, the engine's group names and
// sample records, and the tool's options.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include <zel_package/records.hpp>

namespace zel_package {

// Indexed by the kind's value.
inline constexpr std::array<std::string_view, 4> step_kind_names = {"exchange", "compute",
                                                                    "synchronization", "idle"};

// True for the four defined kinds; a caller can build a ProfileStepKind of any byte.
constexpr bool is_step_kind(ProfileStepKind kind) {
  return static_cast<std::size_t>(kind) < step_kind_names.size();
}

// "exchange", "compute", "synchronization" or "idle"; "unknown" for a byte outside the four.
constexpr std::string_view step_kind_name(ProfileStepKind kind) {
  return is_step_kind(kind) ? step_kind_names[static_cast<std::size_t>(kind)] : "unknown";
}

// Working versus waiting, the one definition every view uses: a tile works while it runs an
// exchange or a compute step, and waits while it runs a synchronization or an idle step. Load
// balance counts working cycles as busy; the timeline and utilisation stack the two apart.
//
// Example: is_working(ProfileStepKind::Compute) is true, is_working(ProfileStepKind::Idle) false.
constexpr bool is_working(ProfileStepKind kind) {
  return kind == ProfileStepKind::Exchange || kind == ProfileStepKind::Compute;
}

// The kind a word names, if it is one of the four.
constexpr std::optional<ProfileStepKind> step_kind_from_name(std::string_view name) {
  for (std::size_t i = 0; i < step_kind_names.size(); ++i) {
    if (step_kind_names[i] == name) return static_cast<ProfileStepKind>(i);
  }
  return std::nullopt;
}

}  // namespace zel_package
