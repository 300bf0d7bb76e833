// The packed engine's partial result over a range of a profile's tiles, with the decisions per
// step made once and shared by every range of the same profile.
#pragma once

#include <cstddef>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/partial.hpp>

#include "step_routes.hpp"

namespace zel_profile::detail {

// The routes of the profile's steps under the query.
StepRoutes route_steps(const zel_package::PackedProfile& profile, const Query& query);

// The partial result over tiles first_tile .. end_tile - 1 (end_tile <= the number of tiles).
PartialQuery partial_over(const zel_package::PackedProfile& profile, const Query& query,
                          const StepRoutes& routes, std::size_t first_tile, std::size_t end_tile);

// The whole report of a query over all of the profile's tiles in one pass, without partials.
QueryReport query_whole(const zel_package::PackedProfile& profile, const Query& query,
                        const StepRoutes& routes);

}  // namespace zel_profile::detail
