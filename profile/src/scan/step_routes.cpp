#include "scan/step_routes.hpp"

#include <algorithm>
#include <utility>

#include "scan/hash_index.hpp"
#include "scan/step_matching.hpp"

namespace zel_profile::detail {
namespace {

// One number for a step's (phase, epoch): the phase in the high half, the epoch in the low half.
std::uint64_t phase_epoch_key(const zel_package::ProfileStep& step) {
  return (std::uint64_t{step.phase} << 32) | step.epoch;
}

// The distinct (phase, epoch) pairs of the steps that pass, numbered in order of first
// appearance, and each passing step's number.
struct PhaseEpochNumbers {
  std::vector<std::uint32_t> of_step;  // no_route for a step that fails
  std::vector<std::uint64_t> keys;     // by number: phase_epoch_key
};

PhaseEpochNumbers number_phase_epochs(const std::vector<zel_package::ProfileStep>& steps,
                                      const std::vector<std::uint8_t>& passes) {
  PhaseEpochNumbers numbers{.of_step = std::vector<std::uint32_t>(steps.size(), no_route),
                            .keys = {}};
  HashIndex number_of;
  for (std::size_t s = 0; s < steps.size(); ++s) {
    if (passes[s] != 0) {
      const std::uint64_t key = phase_epoch_key(steps[s]);
      const std::uint64_t hash = hash_number(key);
      std::uint32_t number =
          number_of.find(hash, [&](std::uint32_t at) { return numbers.keys[at] == key; });
      if (number == HashIndex::none) {
        number = static_cast<std::uint32_t>(numbers.keys.size());
        number_of.insert(hash, number);
        numbers.keys.push_back(key);
      }
      numbers.of_step[s] = number;
    }
  }
  return numbers;
}

PhaseEpoch phase_epoch_of_key(std::uint64_t key) {
  return {static_cast<std::uint32_t>(key >> 32), static_cast<std::uint32_t>(key)};
}

// The place of each number's pair in ascending order of the pairs.
std::vector<std::uint32_t> ranks_of(const std::vector<std::uint64_t>& keys) {
  std::vector<std::uint32_t> order(keys.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
  std::vector<std::uint32_t> ranks(keys.size());
  for (std::uint32_t place = 0; place < order.size(); ++place) ranks[order[place]] = place;
  return ranks;
}

}  // namespace

StepRoutes route_by_group(const std::vector<zel_package::ProfileStep>& steps, const Query& query,
                          Selection selection, std::uint32_t chip) {
  StepRoutes routes{.selection = std::move(selection)};
  const auto& passes = routes.selection.steps;
  const auto numbers = number_phase_epochs(steps, passes);
  // Renumbered in ascending order of the pairs, so that a group's cells come in that order.
  const auto ranks = ranks_of(numbers.keys);

  routes.routes.resize(steps.size());
  HashIndex group_of;                    // by the hash of the group's name
  std::vector<std::uint64_t> cell_keys;  // (group, phase epoch number) per passing step
  for (std::size_t s = 0; s < steps.size(); ++s) {
    if (passes[s] == 0) continue;
    GroupKey key = step_group_key(query, 0, steps[s], chip);
    const std::uint64_t hash = hash_text(key.name);
    std::uint32_t group =
        group_of.find(hash, [&](std::uint32_t at) { return routes.groups[at].name == key.name; });
    if (group == HashIndex::none) {
      group = static_cast<std::uint32_t>(routes.groups.size());
      group_of.insert(hash, group);
      routes.groups.push_back(std::move(key));
    }
    routes.routes[s].group = group;
    cell_keys.push_back((std::uint64_t{group} << 32) | ranks[numbers.of_step[s]]);
  }

  std::vector<std::uint64_t> cells = cell_keys;
  std::sort(cells.begin(), cells.end());
  cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
  routes.cell_count = static_cast<std::uint32_t>(cells.size());
  std::size_t next_key = 0;
  for (std::size_t s = 0; s < steps.size(); ++s) {
    if (passes[s] == 0) continue;
    const auto at = std::lower_bound(cells.begin(), cells.end(), cell_keys[next_key++]);
    routes.routes[s].cell = static_cast<std::uint32_t>(at - cells.begin());
  }
  std::vector<std::uint64_t> sorted_keys = numbers.keys;
  std::sort(sorted_keys.begin(), sorted_keys.end());
  routes.cell_phase_epochs.reserve(cells.size());
  for (const std::uint64_t cell : cells) {
    routes.cell_phase_epochs.push_back(phase_epoch_of_key(sorted_keys[cell & 0xffffffffu]));
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
                                Selection selection) {
  StepRoutes routes{.selection = std::move(selection)};
  const auto numbers = number_phase_epochs(steps, routes.selection.steps);
  routes.routes.resize(steps.size());
  for (std::size_t s = 0; s < steps.size(); ++s) {
    routes.routes[s].cell = numbers.of_step[s];
  }
  routes.cell_count = static_cast<std::uint32_t>(numbers.keys.size());
  for (const std::uint64_t key : numbers.keys) {
    routes.cell_phase_epochs.push_back(phase_epoch_of_key(key));
  }
  routes.cell_ranks = ranks_of(numbers.keys);
  return routes;
}

}  // namespace zel_profile::detail
