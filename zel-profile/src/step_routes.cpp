#include "step_routes.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "group_totals.hpp"
#include "step_matching.hpp"

namespace zel_profile::detail {
namespace {

// Numbers the distinct (phase, epoch) pairs of the steps that pass, in order of first appearance.
// A profile's steps are listed in order of first use, so this follows time on every tile and keeps
// a tile's samples in ascending order of their pair's number.
std::vector<std::uint32_t> number_phase_epochs(const std::vector<zel_package::ProfileStep>& steps,
                                               const std::vector<bool>& passes) {
  std::vector<std::uint32_t> numbers(steps.size(), no_route);
  std::unordered_map<std::uint64_t, std::uint32_t> number_of;
  for (std::size_t s = 0; s < steps.size(); ++s) {
    if (passes[s]) {
      const auto [entry, added] = number_of.try_emplace(
          phase_epoch_key(steps[s]), static_cast<std::uint32_t>(number_of.size()));
      numbers[s] = entry->second;
    }
  }
  return numbers;
}

std::vector<bool> passing_steps(const std::vector<zel_package::ProfileStep>& steps,
                                const Query& query) {
  std::vector<bool> passes(steps.size());
  for (std::size_t s = 0; s < steps.size(); ++s) {
    passes[s] = step_passes(query, steps[s]);
  }
  return passes;
}

}  // namespace

StepRoutes route_by_group(const std::vector<zel_package::ProfileStep>& steps, const Query& query) {
  const auto passes = passing_steps(steps, query);
  const auto phase_epochs = number_phase_epochs(steps, passes);

  StepRoutes routes;
  routes.routes.resize(steps.size());
  std::unordered_map<std::string, std::uint32_t> group_of;
  std::vector<std::uint64_t> cell_keys;  // (group, phase epoch number) per passing step
  for (std::size_t s = 0; s < steps.size(); ++s) {
    if (!passes[s]) continue;
    GroupKey key = step_group_key(query, 0, steps[s]);
    auto found = group_of.find(key.name);
    if (found == group_of.end()) {
      found = group_of.emplace(key.name, static_cast<std::uint32_t>(routes.groups.size())).first;
      routes.groups.push_back(std::move(key));
    }
    routes.routes[s].group = found->second;
    cell_keys.push_back((std::uint64_t{found->second} << 32) | phase_epochs[s]);
  }

  std::vector<std::uint64_t> cells = cell_keys;
  std::sort(cells.begin(), cells.end());
  cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
  routes.cell_count = static_cast<std::uint32_t>(cells.size());
  std::size_t next_key = 0;
  for (std::size_t s = 0; s < steps.size(); ++s) {
    if (!passes[s]) continue;
    const auto at = std::lower_bound(cells.begin(), cells.end(), cell_keys[next_key++]);
    routes.routes[s].cell = static_cast<std::uint32_t>(at - cells.begin());
  }
  routes.group_cells.assign(routes.groups.size() + 1, 0);
  for (const std::uint64_t cell : cells) {
    ++routes.group_cells[(cell >> 32) + 1];
  }
  for (std::size_t g = 1; g < routes.group_cells.size(); ++g) {
    routes.group_cells[g] += routes.group_cells[g - 1];
  }
  return routes;
}

StepRoutes route_by_phase_epoch(const std::vector<zel_package::ProfileStep>& steps,
                                const Query& query) {
  const auto passes = passing_steps(steps, query);
  const auto phase_epochs = number_phase_epochs(steps, passes);
  StepRoutes routes;
  routes.routes.resize(steps.size());
  for (std::size_t s = 0; s < steps.size(); ++s) {
    routes.routes[s].cell = phase_epochs[s];
    routes.cell_count =
        passes[s] ? std::max(routes.cell_count, phase_epochs[s] + 1) : routes.cell_count;
  }
  return routes;
}

}  // namespace zel_profile::detail
