#include "engine_calls.hpp"

#include <span>

#include <zel_profile/query.hpp>

namespace zel_server {
namespace {

// Query scratch kept between requests, one for each query running at once, so that the group
// table's queries reuse pages rather than fault in fresh ones (see zel_profile::QueryScratch).
zel_profile::QueryScratchPool& scratch_pool() {
  static zel_profile::QueryScratchPool pool;
  return pool;
}

}  // namespace

zel_profile::QueryReport run_query(const std::vector<zel_package::PackedProfile>& profiles,
                                   const zel_profile::Query& query) {
  if (profiles.size() != 1) {
    return zel_profile::query(profiles, query, zel_profile::Parallelism{.threads = 0});
  }
  zel_profile::QueryScratch scratch = scratch_pool().take();
  auto report =
      zel_profile::query(profiles.front(), query, zel_profile::Parallelism{.threads = 0}, scratch);
  scratch_pool().give(std::move(scratch));
  return report;
}

std::vector<zel_profile::TimelineIndex> index_timelines(
    const std::vector<zel_package::PackedProfile>& profiles) {
  std::vector<zel_profile::TimelineIndex> indexes;
  for (const auto& profile : profiles) {
    indexes.push_back(zel_profile::index_timeline(profile, zel_profile::Parallelism{.threads = 0}));
  }
  return indexes;
}

zel_profile::ReportedSamples longest_samples(std::span<const zel_package::PackedProfile> profiles,
                                             std::span<const zel_profile::TimelineIndex> indexes,
                                             const zel_profile::Query& query) {
  return zel_profile::longest_samples(profiles, query, indexes, query.sample_limit);
}

zel_profile::Timeline window_timeline(const std::vector<zel_package::PackedProfile>& profiles,
                                      const std::vector<zel_profile::TimelineIndex>& indexes,
                                      const zel_profile::Query& query,
                                      zel_profile::TimelineShape shape, std::uint64_t from,
                                      std::uint64_t to) {
  shape.from = from;
  shape.to = to;
  shape.aligned = true;
  return zel_profile::timeline(std::span(profiles), query, shape, std::span(indexes),
                               zel_profile::Parallelism{.threads = 0});
}

std::vector<std::vector<zel_profile::PhaseBalance>> load_balances(
    const std::vector<zel_package::PackedProfile>& profiles, const zel_profile::Query& query) {
  std::vector<std::vector<zel_profile::PhaseBalance>> balances;
  for (const auto& profile : profiles)
    balances.push_back(zel_profile::load_balance(profile, query));
  return balances;
}

}  // namespace zel_server
