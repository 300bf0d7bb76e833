#include <zel_profile/info.hpp>

#include <algorithm>
#include <map>
#include <set>
#include <string_view>

#include <zel_package/step_kinds.hpp>

#include <zel_profile/scan.hpp>

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

}  // namespace

ProfileInfo profile_info(std::span<const zel_package::PackedProfile> profiles,
                         Parallelism parallelism) {
  // The figures a query report gives, from the engine's own definitions of span and tiles.
  const QueryReport totals = query(profiles, Query{.limit = 0}, parallelism);
  ProfileInfo info{.clock_hz = totals.clock_hz,
                   .tile_count = totals.tile_count,
                   .sample_count = totals.sample_count,
                   .span_cycles = totals.profile_span_cycles,
                   .span_ms = totals.profile_span_ms};

  std::vector<std::uint64_t> kinds(zel_package::step_kind_names.size(), 0);
  std::map<std::string, std::uint64_t, std::less<>> kernels;
  std::map<std::string, std::uint64_t, std::less<>> operations;
  std::map<std::uint32_t, std::uint64_t> phases;
  std::map<std::uint32_t, std::uint64_t> epochs;
  std::map<std::string, std::uint64_t, std::less<>> keys;
  std::map<std::string, std::map<std::string, std::uint64_t, std::less<>>, std::less<>> values;
  for (const auto& profile : profiles) {
    // The samples of each step, counted on the scan with a query that selects every sample.
    std::vector<std::uint64_t> counts(profile.steps.size(), 0);
    scan(profile, select(profile, Query{}), 0, profile.tiles.size(),
         [&](const ScannedSample& sample) { ++counts[sample.step]; });
    for (std::size_t s = 0; s < counts.size(); ++s) {
      if (counts[s] == 0) continue;
      const auto& step = profile.steps[s];
      const auto kind = static_cast<std::size_t>(step.kind);
      if (kind < kinds.size()) kinds[kind] += counts[s];
      kernels[step.kernel] += counts[s];
      operations[step.operation] += counts[s];
      phases[step.phase] += counts[s];
      epochs[step.epoch] += counts[s];
      // A key or a (key, value) named twice by one step counts its samples once.
      std::set<std::string_view> seen_keys;
      std::set<std::pair<std::string_view, std::string_view>> seen_values;
      for (const auto& entry : step.metadata) {
        if (seen_keys.insert(entry.name).second) keys[entry.name] += counts[s];
        if (seen_values.insert({entry.name, entry.value}).second) {
          values[entry.name][entry.value] += counts[s];
        }
      }
    }
  }
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    info.kinds.push_back({std::string(zel_package::step_kind_names[k]), kinds[k]});
  }
  info.kernels = ranked(kernels);
  info.operations = ranked(operations);
  info.phases = ascending(phases);
  info.epochs = ascending(epochs);
  for (const auto& [key, samples] : keys) {
    info.metadata.push_back({.key = key, .samples = samples, .values = ranked(values[key])});
  }
  return info;
}

}  // namespace zel_profile
