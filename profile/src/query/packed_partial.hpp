// The packed engine's partial result over a range of a profile's tiles, with the decisions per
// step made once and shared by every range of the same profile.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/partial.hpp>

#include "scan/step_routes.hpp"

namespace zel_profile::detail {

// The routes of the profile's steps under the query, the profile being chip `chip` of those
// queried together.
StepRoutes route_steps(const zel_package::PackedProfile& profile, const Query& query,
                       std::uint32_t chip = 0);

// The partial result over tiles first_tile .. end_tile - 1 (end_tile <= the number of tiles) of
// chip `chip`, on up to `threads` threads (at least 1); `routes` are route_steps' for that chip.
PartialQuery partial_over(const zel_package::PackedProfile& profile, const Query& query,
                          const StepRoutes& routes, std::size_t first_tile, std::size_t end_tile,
                          std::size_t threads, std::uint32_t chip = 0);

// The whole report of a query over all of the profile's tiles, on up to `threads` threads (at
// least 1), without partials: the threads share the passes over the tiles and then the groups.
QueryReport query_whole(const zel_package::PackedProfile& profile, const Query& query,
                        const StepRoutes& routes, std::size_t threads);

}  // namespace zel_profile::detail
