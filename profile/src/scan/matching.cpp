#include <zel_profile/matching.hpp>

#include <zel_package/step_kinds.hpp>

#include <algorithm>
#include <limits>
#include <string>

#include "scan/same_bytes.hpp"
#include "scan/step_matching.hpp"

namespace zel_profile {
namespace {

bool carries(const zel_package::ProfileStep& step, const MetadataFilter& filter) {
  for (const auto& entry : step.metadata) {
    if (detail::same_bytes(entry.name, filter.name) &&
        (!filter.value || detail::same_bytes(entry.value, *filter.value))) {
      return true;
    }
  }
  return false;
}

bool running_at(std::uint64_t at, std::uint64_t offset, std::uint32_t sample_duration) {
  if (at < offset) {
    return false;
  }
  constexpr auto largest = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t end = sample_duration > largest - offset ? largest : offset + sample_duration;
  return at < end;
}

// True when the sample shares a cycle with [from, to); its end saturates.
bool runs_within(std::uint64_t from, std::uint64_t to, std::uint64_t offset,
                 std::uint32_t sample_duration) {
  constexpr auto largest = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t end = sample_duration > largest - offset ? largest : offset + sample_duration;
  return std::max(from, offset) < std::min(to, end);
}

bool carries_all(const zel_package::ProfileStep& step, const std::vector<MetadataFilter>& filters) {
  for (const auto& filter : filters) {
    if (!carries(step, filter)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool matches_query(const Query& query, std::uint32_t tile, const zel_package::CycleSample& sample,
                   std::uint64_t offset, std::uint32_t sample_duration) {
  // The sample's own conditions first: they are the cheapest, and no condition has side effects.
  if (!query.tiles.empty() && !query.tiles.contains(tile)) {
    return false;
  }
  if (query.at_offset && !running_at(*query.at_offset, offset, sample_duration)) {
    return false;
  }
  if ((query.from_offset || query.to_offset) &&
      !runs_within(query.from_offset.value_or(0),
                   query.to_offset.value_or(std::numeric_limits<std::uint64_t>::max()), offset,
                   sample_duration)) {
    return false;
  }
  return detail::step_passes(query, sample.step);
}

namespace detail {

bool step_passes(const Query& query, const zel_package::ProfileStep& step) {
  if (query.kind &&
      static_cast<std::uint8_t>(*query.kind) != static_cast<std::uint8_t>(step.kind)) {
    return false;
  }
  if (query.kernel && !same_bytes(*query.kernel, step.kernel)) {
    return false;
  }
  if (query.operation_contains &&
      step.operation.find(*query.operation_contains) == std::string::npos) {
    return false;
  }
  if (!query.phases.empty() && !query.phases.contains(step.phase)) {
    return false;
  }
  return carries_all(step, query.metadata);
}

}  // namespace detail

namespace detail {

GroupKey step_group_key(const Query& query, std::uint32_t tile,
                        const zel_package::ProfileStep& step, std::uint32_t chip,
                        bool several_chips) {
  GroupKey key;
  switch (query.group_by) {
    case GroupBy::Kind:
      key.name = zel_package::step_kind_name(step.kind);
      break;
    case GroupBy::Kernel:
      key.name = step.kernel.empty() ? "(no kernel)" : step.kernel;
      break;
    case GroupBy::Operation:
      key.name = step.operation;
      break;
    case GroupBy::Phase: {
      auto phase = std::to_string(step.phase);
      auto epoch = std::to_string(step.epoch);
      key.name = "phase " + phase + "/" + epoch;
      key.dimensions.emplace("phase", std::move(phase));
      key.dimensions.emplace("epoch", std::move(epoch));
      break;
    }
    case GroupBy::Tile:
      key = tile_group_key(tile, chip, several_chips || chip != 0);
      break;
    case GroupBy::Profile:
      key = profile_group_key(query, chip);
      break;
    case GroupBy::Metadata: {
      const std::string metadata_key = query.metadata_key.value_or(std::string{});
      std::string value = "(missing)";
      for (const auto& entry : step.metadata) {
        if (entry.name == metadata_key) {
          value = entry.value;
          break;
        }
      }
      key.name = value;
      key.dimensions.emplace("metadataKey", metadata_key);
      key.dimensions.emplace("metadataValue", std::move(value));
      break;
    }
  }
  return key;
}

}  // namespace detail

GroupKey profile_group_key(const Query& query, std::uint32_t chip) {
  const auto& names = query.profile_names;
  const std::string number = std::to_string(chip);
  GroupKey key{.name = "chip " + number, .dimensions = {{"chip", number}}};
  if (chip < names.size() && !names[chip].empty()) {
    const std::string& name = names[chip];
    // A name like another chip's ("chip 2" given for chip 0) is made unique the same way.
    const bool like_unnamed =
        name.starts_with("chip ") && name.size() > 5 &&
        std::all_of(name.begin() + 5, name.end(), [](char c) { return c >= '0' && c <= '9'; });
    const bool shared = like_unnamed || std::count(names.begin(), names.end(), name) > 1;
    key.name = shared ? name + " (chip " + number + ")" : name;
  }
  return key;
}

GroupKey tile_group_key(std::uint32_t tile, std::uint32_t chip, bool several_chips) {
  auto number = std::to_string(tile);
  GroupKey key{.name = "tile " + number, .dimensions = {}};
  if (several_chips) {
    auto chip_number = std::to_string(chip);
    key.name = "chip " + chip_number + " " + key.name;
    key.dimensions.emplace("chip", std::move(chip_number));
  }
  key.dimensions.emplace("physicalTile", std::move(number));
  return key;
}

GroupKey group_key(const Query& query, std::uint32_t tile, const zel_package::CycleSample& sample) {
  return detail::step_group_key(query, tile, sample.step);
}

std::string_view kind_name(const zel_package::CycleSample& sample) {
  return zel_package::step_kind_name(sample.step.kind);
}

}  // namespace zel_profile
