// The parts of matching and grouping that depend on a sample's step alone: the public
// matches_query and group_key use them per sample, the engine once per distinct step.
#pragma once

#include <cstdint>
#include <string_view>

#include <zel_package/records.hpp>
#include <zel_profile/matching.hpp>
#include <zel_profile/model.hpp>

namespace zel_profile::detail {

// True when `step` passes the query's kind, kernel, operation text, phase and metadata filters,
// which are the filters that look at the step only (the tile and point-in-time filters look at the
// sample).
bool step_passes(const Query& query, const zel_package::ProfileStep& step);

// The group key of a sample of `step` on the tile numbered `tile` of chip `chip` (the profile's
// place among those queried together). A chip other than 0 is one of several; chip 0 is one of
// several when `several_chips` says so.
GroupKey step_group_key(const Query& query, std::uint32_t tile,
                        const zel_package::ProfileStep& step, std::uint32_t chip = 0,
                        bool several_chips = false);

}  // namespace zel_profile::detail
