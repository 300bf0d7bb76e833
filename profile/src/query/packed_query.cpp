// Queries over packed profiles, on as many threads as asked for: one profile's report directly,
// several profiles' partial results merged in the order given.
#include <zel_profile/query.hpp>

#include <algorithm>
#include <cstdint>
#include <thread>

#include <zel_profile/partial.hpp>

#include "query/packed_partial.hpp"
#include "query/same_clock.hpp"

namespace zel_profile {

using zel_package::PackedProfile;

std::size_t thread_count(Parallelism parallelism) {
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  return parallelism.threads == 0 ? cores : std::min(parallelism.threads, cores);
}

QueryReport query(const PackedProfile& profile, const Query& query) {
  return zel_profile::query(std::span(&profile, 1), query, Parallelism{});
}

QueryReport query(const PackedProfile& profile, const Query& query, Parallelism parallelism) {
  return zel_profile::query(std::span(&profile, 1), query, parallelism);
}

QueryReport query(std::span<const PackedProfile> profiles, const Query& query,
                  Parallelism parallelism) {
  detail::check_same_clock(profiles);
  const std::size_t threads = thread_count(parallelism);

  if (profiles.size() == 1) {
    const auto& profile = profiles.front();
    return detail::query_whole(profile, query, detail::route_steps(profile, query), threads);
  }
  // Each profile's partial result, its threads sharing its tiles, merged in the order given: each
  // profile is a chip, numbered in that order, so its tiles count apart from the others'.
  std::vector<PartialQuery> partials;
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    const auto& profile = profiles[p];
    const auto chip = static_cast<std::uint32_t>(p);
    partials.push_back(detail::partial_over(profile, query,
                                            detail::route_steps(profile, query, chip), 0,
                                            profile.tiles.size(), threads, chip));
  }
  return finish(merge_in_order(std::move(partials), query), query);
}

}  // namespace zel_profile
