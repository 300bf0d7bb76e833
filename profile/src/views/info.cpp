#include <zel_profile/info.hpp>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include <zel_package/step_kinds.hpp>

#include <zel_profile/query.hpp>
#include <zel_profile/scan.hpp>
#include <zel_profile/summary.hpp>

#include "scan/run_parallel.hpp"

namespace zel_profile {
namespace {

// Most samples first, then by name in byte order.
std::vector<NameCount> ranked(const std::map<std::string, std::uint64_t, std::less<>>& counts) {
  std::vector<NameCount> list;
  for (const auto& [name, samples] : counts) list.push_back({name, samples});
  std::stable_sort(list.begin(), list.end(), [](const auto& left, const auto& right) {
    return left.samples > right.samples;
  });
  return list;
}

std::vector<NumberCount> ascending(const std::map<std::uint32_t, std::uint64_t>& counts) {
  std::vector<NumberCount> list;
  for (const auto& [number, samples] : counts) list.push_back({number, samples});
  return list;
}

// The samples and cycles of each step of `profile`, counted on the scan with a query that selects
// every sample, shares of the tiles on up to `parallelism` threads each counting into its own
// lists. The tiles, samples and span go to `info`, on each tile's axis as a query measures them.
struct StepCounts {
  explicit StepCounts(std::size_t steps) : samples(steps, 0), cycles(steps, 0) {}
  std::vector<std::uint64_t> samples;
  std::vector<std::uint64_t> cycles;
};

StepCounts count_steps(const zel_package::PackedProfile& profile, Parallelism parallelism,
                       ProfileInfo& info) {
  const Selection every_sample = select(profile, Query{});
  const auto bounds = detail::cut(0, profile.tiles.size(), thread_count(parallelism),
                                  [&](std::size_t t) { return profile.tiles[t].samples.size(); });
  const std::size_t shares = bounds.size() - 1;
  std::vector<StepCounts> share_counts(shares, StepCounts(profile.steps.size()));
  std::vector<ScanTotals> share_totals(shares);
  detail::run_parallel(shares, [&](std::size_t share) {
    auto& counted = share_counts[share];
    share_totals[share] = scan(profile, every_sample, bounds[share], bounds[share + 1],
                               [&](const ScannedSample& sample) {
                                 ++counted.samples[sample.step];
                                 counted.cycles[sample.step] += sample.length;
                               });
  });
  StepCounts counts(profile.steps.size());
  for (std::size_t share = 0; share < shares; ++share) {
    for (std::size_t s = 0; s < counts.samples.size(); ++s) {
      counts.samples[s] += share_counts[share].samples[s];
      counts.cycles[s] += share_counts[share].cycles[s];
    }
    info.sample_count += share_totals[share].samples;
    info.span_cycles = std::max(info.span_cycles, share_totals[share].span_cycles);
  }
  info.tile_count += profile.tiles.size();
  return counts;
}

// The samples per kind, kernel, operation, phase, epoch and metadata key and value, over every
// profile, from their steps' counts.
struct Tally {
  std::vector<std::uint64_t> kinds =
      std::vector<std::uint64_t>(zel_package::step_kind_names.size());
  std::vector<std::uint64_t> kind_cycles = kinds;
  std::map<std::string, std::uint64_t, std::less<>> kernels;
  std::map<std::string, std::uint64_t, std::less<>> operations;
  std::map<std::uint32_t, std::uint64_t> phases;
  std::map<std::uint32_t, std::uint64_t> epochs;
  std::map<std::string, std::uint64_t, std::less<>> keys;
  std::map<std::string, std::map<std::string, std::uint64_t, std::less<>>, std::less<>> values;

  void add(const zel_package::PackedProfile& profile, const StepCounts& counts) {
    for (std::size_t s = 0; s < counts.samples.size(); ++s) {
      const std::uint64_t samples = counts.samples[s];
      if (samples == 0) continue;
      const auto& step = profile.steps[s];
      const auto kind = static_cast<std::size_t>(step.kind);
      if (kind < kinds.size()) {
        kinds[kind] += samples;
        kind_cycles[kind] += counts.cycles[s];
      }
      kernels[step.kernel] += samples;
      operations[step.operation] += samples;
      phases[step.phase] += samples;
      epochs[step.epoch] += samples;
      // A key or a (key, value) named twice by one step counts its samples once.
      std::set<std::string_view> seen_keys;
      std::set<std::pair<std::string_view, std::string_view>> seen_values;
      for (const auto& entry : step.metadata) {
        if (seen_keys.insert(entry.name).second) keys[entry.name] += samples;
        if (seen_values.insert({entry.name, entry.value}).second) {
          values[entry.name][entry.value] += samples;
        }
      }
    }
  }

  void fill(ProfileInfo& info) {
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      info.kinds.push_back({std::string(zel_package::step_kind_names[k]), kinds[k]});
    }
    info.kind_cycles = kind_cycles;
    info.kernels = ranked(kernels);
    info.operations = ranked(operations);
    info.phases = ascending(phases);
    info.epochs = ascending(epochs);
    for (const auto& [key, samples] : keys) {
      info.metadata.push_back({.key = key, .samples = samples, .values = ranked(values[key])});
    }
  }
};

}  // namespace

ProfileInfo profile_info(std::span<const zel_package::PackedProfile> profiles,
                         Parallelism parallelism) {
  ProfileInfo info;
  for (const auto& profile : profiles) {
    if (profile.clock_hz != profiles.front().clock_hz) {
      throw std::invalid_argument("cannot describe profiles with different clock rates together (" +
                                  std::to_string(profiles.front().clock_hz) + " and " +
                                  std::to_string(profile.clock_hz) + " Hz)");
    }
  }
  if (!profiles.empty()) info.clock_hz = profiles.front().clock_hz;
  Tally tally;
  for (const auto& profile : profiles) tally.add(profile, count_steps(profile, parallelism, info));
  info.span_ms = cycles_to_ms(info.span_cycles, info.clock_hz);
  tally.fill(info);
  return info;
}

}  // namespace zel_profile
