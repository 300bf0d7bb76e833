// Queries over packed profiles: the partial results of consecutive ranges of tiles, on as many
// threads as asked for, merged in tile order and finished into the report.
#include <zel_profile/query.hpp>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <zel_profile/partial.hpp>

#include "packed_partial.hpp"

namespace zel_profile {
namespace {

using zel_package::PackedProfile;

// A range of one profile's tiles.
struct Piece {
  std::size_t profile = 0;
  std::size_t first_tile = 0;
  std::size_t end_tile = 0;
};

// The tiles of all profiles, listed one after the other, cut into at most `parts` consecutive
// runs of pieces with about the same number of samples each (a tile counts at least one, so that
// tiles without samples are shared out too).
std::vector<std::vector<Piece>> share_out(std::span<const PackedProfile> profiles,
                                          std::size_t parts) {
  std::size_t total = 0;
  for (const auto& profile : profiles) {
    for (const auto& tile : profile.tiles) total += std::max<std::size_t>(tile.samples.size(), 1);
  }
  std::vector<std::vector<Piece>> shares(1);
  std::size_t done = 0;
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    const auto& tiles = profiles[p].tiles;
    std::size_t first = 0;
    for (std::size_t t = 0; t < tiles.size(); ++t) {
      done += std::max<std::size_t>(tiles[t].samples.size(), 1);
      // The share ends once it holds its part of all samples.
      if (shares.size() < parts && done * parts >= total * shares.size()) {
        shares.back().push_back({p, first, t + 1});
        shares.emplace_back();
        first = t + 1;
      }
    }
    if (first < tiles.size() || tiles.empty()) shares.back().push_back({p, first, tiles.size()});
  }
  while (shares.size() > 1 && shares.back().empty()) shares.pop_back();
  return shares;
}

PartialQuery partial_of_share(std::span<const PackedProfile> profiles,
                              const std::vector<detail::StepRoutes>& routes,
                              const std::vector<Piece>& share, const Query& query) {
  PartialQuery result;
  bool first = true;
  for (const Piece& piece : share) {
    PartialQuery partial = detail::partial_over(
        profiles[piece.profile], query, routes[piece.profile], piece.first_tile, piece.end_tile);
    result = first ? std::move(partial) : merge(std::move(result), std::move(partial), query);
    first = false;
  }
  return result;
}

}  // namespace

QueryReport query(const PackedProfile& profile, const Query& query) {
  return zel_profile::query(std::span(&profile, 1), query, Parallelism{});
}

QueryReport query(const PackedProfile& profile, const Query& query, Parallelism parallelism) {
  return zel_profile::query(std::span(&profile, 1), query, parallelism);
}

QueryReport query(std::span<const PackedProfile> profiles, const Query& query,
                  Parallelism parallelism) {
  for (const auto& profile : profiles) {
    if (profile.clock_hz != profiles.front().clock_hz) {
      throw std::invalid_argument("cannot query profiles with different clock rates together (" +
                                  std::to_string(profiles.front().clock_hz) + " and " +
                                  std::to_string(profile.clock_hz) + " Hz)");
    }
  }
  std::size_t threads = parallelism.threads;
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());

  // The decisions per step are made once per profile and shared by every thread.
  std::vector<detail::StepRoutes> routes;
  routes.reserve(profiles.size());
  for (const auto& profile : profiles) routes.push_back(detail::route_steps(profile, query));

  if (threads == 1 && profiles.size() == 1) {
    // One pass sees every tile: no partial is needed.
    return detail::query_whole(profiles.front(), query, routes.front());
  }
  const auto shares = share_out(profiles, threads);
  std::vector<PartialQuery> partials(shares.size());
  if (shares.size() == 1) {
    partials[0] = partial_of_share(profiles, routes, shares[0], query);
  } else {
    std::vector<std::exception_ptr> errors(shares.size());
    {
      // Joined when the block ends, also when starting a thread fails part way.
      std::vector<std::jthread> workers;
      workers.reserve(shares.size() - 1);
      const auto work = [&](std::size_t s) {
        try {
          partials[s] = partial_of_share(profiles, routes, shares[s], query);
        } catch (...) {
          errors[s] = std::current_exception();
        }
      };
      for (std::size_t s = 1; s < shares.size(); ++s) workers.emplace_back(work, s);
      work(0);
    }
    for (const auto& error : errors) {
      if (error) std::rethrow_exception(error);
    }
  }

  PartialQuery all = std::move(partials[0]);
  for (std::size_t s = 1; s < partials.size(); ++s) {
    all = merge(std::move(all), std::move(partials[s]), query);
  }
  if (profiles.empty()) all.clock_hz = 0;
  return finish(std::move(all), query);
}

}  // namespace zel_profile
